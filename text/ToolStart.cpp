#include "text/ToolStart.h"

#include "text/ToolTranslation.h"
#include "text/hooksafe/Version.h"

namespace text {

std::optional<int> StartTool(const ToolStart& start)
{
    UseToolTranslation("zel-tools", start.translationsFromEnvironment);
    if (start.argc > 1 && IsHelpOption(start.argv[1]))
        return start.usage(stdout);
    if (start.argc > 1 && IsVersionOption(start.argv[1]))
        return PrintVersion(start.name);
    return std::nullopt;
}

}  // namespace text
