#include "platform/ToolStart.h"

#include "platform/ToolTranslation.h"
#include "platform/Version.h"

namespace platform {

std::optional<int> StartTool(const ToolStart& start)
{
    UseToolTranslation("zel-tools", start.translationsFromEnvironment);
    if (start.argc > 1 && IsHelpOption(start.argv[1]))
        return start.usage(stdout);
    if (start.argc > 1 && IsVersionOption(start.argv[1]))
        return PrintVersion(start.name);
    return std::nullopt;
}

}  // namespace platform
