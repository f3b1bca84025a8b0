#include "panel/core/SettingValues.h"

#include "panel/core/ErrorLog.h"
#include "text/Strings.h"

#include <cerrno>
#include <charconv>

namespace panel {

std::string GetString(RootKey root, std::string_view subKey, std::string_view valueName)
{
    std::string text;
    errno = 0;
    if (protocol::registry::QueryStatus(root, subKey, valueName, text) == protocol::registry::Value::Status::kUnreadable) {
        WriteErrLogErrno("GeneralMdl : GetString", "cannot read \"" + std::string(valueName) + "\"", errno ? errno : EIO);
        return {};
    }
    return text;
}

bool SaveString(RootKey root, std::string_view subKey, std::string_view valueName, std::string_view text)
{
    errno = 0;
    if (protocol::registry::SetString(root, subKey, valueName, text))
        return true;
    WriteErrLogErrno("GeneralMdl : SaveString", "cannot write \"" + std::string(valueName) + "\"", errno ? errno : EIO);
    return false;
}

bool DeleteValue(RootKey root, std::string_view subKey, std::string_view valueName)
{
    errno = 0;
    if (protocol::registry::DeleteValue(root, subKey, valueName))
        return true;
    WriteErrLogErrno("GeneralMdl : DeleteValue", "cannot delete \"" + std::string(valueName) + "\"", errno ? errno : EIO);
    return false;
}

std::optional<bool> TextToBoolean(std::string_view text)
{
    text = text::TrimBlanks(text);
    if (text::EqualsNoCase(text, "True"))
        return true;
    if (text::EqualsNoCase(text, "False"))
        return false;
    if (const auto number = TextToInteger(text))
        return *number != 0;
    return std::nullopt;
}

std::optional<int32_t> TextToInteger(std::string_view text)
{
    text = text::TrimBlanks(text);
    if (!text.empty() && text.front() == '+')
        text.remove_prefix(1);
    int32_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || error != std::errc() || end != text.data() + text.size())
        return std::nullopt;
    return value;
}

}  // namespace panel
