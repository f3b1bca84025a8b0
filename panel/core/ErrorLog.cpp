#include "panel/core/ErrorLog.h"

#include "os/hooksafe/Descriptors.h"
#include "os/hooksafe/Retry.h"
#include "protocol/LogFiles.h"
#include "text/Strings.h"

#include <cerrno>
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
    path_ = protocol::ErrorLogFileName(folder, now);
    fd_ = os::OpenRegularFile(path_.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
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
    const std::string line = protocol::ErrorLogLine(procName, description, std::time(nullptr));
    if (fd_ >= 0)
        Append(line);
    else if (pending_.size() < kMaxPending)
        pending_.push_back(line);
}

void ErrorLog::Append(const std::string& line)
{
    // One write per line: lines of two copies never mix. A failing write has
    // nowhere to be reported.
    os::RetryOnInterrupt([this, &line] { return ::write(fd_, line.data(), line.size()); });
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

}  // namespace panel
