#include "rules/HostPatterns.h"

#include "rules/hooksafe/Names.h"
#include "text/Strings.h"

namespace rules {

std::optional<std::string> NormalizeHostPattern(std::string_view text)
{
    text = text::TrimBlanks(text);
    if (text == "?" || text == "*")
        return std::string(text);
    std::string prefix;
    if (text.size() > 2 && text.substr(0, 2) == "*.") {
        prefix = "*.";
        text.remove_prefix(2);
    }
    if (text.find('*') != std::string_view::npos)
        return std::nullopt;
    char out[kMaxHostName + 1];
    const size_t length = NormalizeHostName(text.data(), text.size(), out, sizeof out);
    if (length == 0)
        return std::nullopt;
    return prefix + std::string(out, length);
}

}  // namespace rules
