#include "settings/GeneralMdl.h"

#include "platform/Descriptors.h"
#include "platform/LogFiles.h"
#include "platform/Text.h"

#include <cerrno>
#include <charconv>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace panel {

namespace {

// Start-up problems kept for an error log that is not open yet: enough for
// every setting failing, not a flood.
constexpr size_t kMaxPending = 200;

}  // namespace

bool ErrorLog::Open(const std::string& folder, std::time_t now)
{
    Close();
    if (folder.empty())
        return false;
    path_ = platform::ErrorLogFileName(folder, now);
    fd_ = platform::OpenRegularFile(path_.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
    if (fd_ < 0)
        return false;
    ::fcntl(fd_, F_SETFL, O_WRONLY | O_APPEND);
    for (const std::string& line : pending_)
        Append(line);
    pending_.clear();
    return true;
}

void ErrorLog::Close()
{
    if (fd_ >= 0)
        ::close(fd_);
    fd_ = -1;
}

void ErrorLog::Write(std::string_view procName, std::string_view description)
{
    if (debugPrint_ && messageBox_)
        messageBox_(std::string(procName) + " : " + std::string(description));
    const std::string line = platform::ErrorLogLine(procName, description, std::time(nullptr));
    if (fd_ >= 0)
        Append(line);
    else if (pending_.size() < kMaxPending)
        pending_.push_back(line);
}

void ErrorLog::Append(const std::string& line)
{
    // One write per line: lines of two copies never mix. A failing write has
    // nowhere to be reported.
    ssize_t written;
    do {
        written = ::write(fd_, line.data(), line.size());
    } while (written < 0 && errno == EINTR);
}

ErrorLog& TheErrorLog()
{
    static ErrorLog log;
    return log;
}

void WriteErrLog(std::string_view procName, std::string_view description)
{
    TheErrorLog().Write(procName, description);
}

void WriteErrLogErrno(std::string_view procName, std::string_view what, int error)
{
    WriteErrLog(procName, std::string(what) + ": " + std::strerror(error));
}

std::string GetString(RootKey root, std::string_view subKey, std::string_view valueName)
{
    std::string text;
    errno = 0;
    if (platform::registry::QueryStatus(root, subKey, valueName, text) == platform::registry::Value::Status::kUnreadable) {
        WriteErrLogErrno("GeneralMdl : GetString", "cannot read \"" + std::string(valueName) + "\"", errno ? errno : EIO);
        return {};
    }
    return text;
}

bool SaveString(RootKey root, std::string_view subKey, std::string_view valueName, std::string_view text)
{
    errno = 0;
    if (platform::registry::SetString(root, subKey, valueName, text))
        return true;
    WriteErrLogErrno("GeneralMdl : SaveString", "cannot write \"" + std::string(valueName) + "\"", errno ? errno : EIO);
    return false;
}

bool DeleteValue(RootKey root, std::string_view subKey, std::string_view valueName)
{
    errno = 0;
    if (platform::registry::DeleteValue(root, subKey, valueName))
        return true;
    WriteErrLogErrno("GeneralMdl : DeleteValue", "cannot delete \"" + std::string(valueName) + "\"", errno ? errno : EIO);
    return false;
}

std::optional<bool> TextToBoolean(std::string_view text)
{
    text = platform::TrimBlanks(text);
    if (platform::EqualsNoCase(text, "True"))
        return true;
    if (platform::EqualsNoCase(text, "False"))
        return false;
    if (const auto number = TextToInteger(text))
        return *number != 0;
    return std::nullopt;
}

std::optional<int32_t> TextToInteger(std::string_view text)
{
    text = platform::TrimBlanks(text);
    if (!text.empty() && text.front() == '+')
        text.remove_prefix(1);
    int32_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || error != std::errc() || end != text.data() + text.size())
        return std::nullopt;
    return value;
}

}  // namespace panel
