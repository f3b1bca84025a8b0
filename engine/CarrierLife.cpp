#include "engine/CarrierLife.h"

#include "engine/SettingsCache.h"
#include "platform/Constants.h"
#include "platform/Descriptors.h"
#include "platform/LogFiles.h"
#include "platform/Registry.h"
#include "platform/Settings.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <pwd.h>

namespace engine {

void CarrierLife::LogEvent(TrafficLog& log, const char* tag, std::time_t now)
{
    if (log.Folder().empty())
        return;
    log.AppendLogRecord(platform::CarrierEventBody(tag, carrier_.exePathForLog), now);
    if (std::strcmp(tag, platform::kApplicationStartTag) == 0)
        startedBy_ = Pid();
}

void CarrierLife::LogStart(TrafficLog& log, std::time_t now)
{
    if (!started_.exchange(true))
        LogEvent(log, platform::kApplicationStartTag, now);
}

void CarrierLife::LogEnd(TrafficLog& log, std::time_t now)
{
    if (started_.load() && startedBy_.load() == Pid())
        LogEvent(log, platform::kApplicationEndTag, now);
}

void CarrierLife::PrepareForCredentialChange(std::time_t now)
{
    if (errorLogFd_ >= 0)
        return;
    using platform::registry::RootKey;
    const platform::registry::Value errorLogs(RootKey::LocalMachine, platform::registry::kSettingsKey,
                                              platform::settings::kErrLogs);
    const auto folder = ReadPathSetting(errorLogs);
    if (folder && !folder->empty())
        errorLogFd_ = platform::OpenRegularFile(platform::ErrorLogFileName(*folder, now).c_str(),
                                                O_WRONLY | O_CREAT | O_APPEND, 0644, false);
}

void CarrierLife::CredentialsChanged(const std::string& rulesPath, std::time_t now)
{
    const int fd = platform::OpenRegularFile(rulesPath.c_str(), O_RDONLY);
    if (fd >= 0)
        ::close(fd);
    else if ((errno == EACCES || errno == EPERM) && errorLogFd_ >= 0) {
        const passwd* user = ::getpwuid(::geteuid());
        const std::string description = carrier_.exePath + " (process " + std::to_string(Pid()) + ") now runs as "
            + (user && user->pw_name ? std::string(user->pw_name) : "user " + std::to_string(::geteuid()))
            + " and cannot read the rules file " + rulesPath
            + "; it keeps deciding by the rules it started with until it is restarted";
        const std::string line = platform::ErrorLogLine("qrbruler : LoadRules", description, now);
        [[maybe_unused]] const ssize_t written = ::write(errorLogFd_, line.data(), line.size());
    }
    if (errorLogFd_ >= 0)
        ::close(errorLogFd_);
    errorLogFd_ = -1;
}

}  // namespace engine
