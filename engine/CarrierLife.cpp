#include "engine/CarrierLife.h"

#include "engine/SettingsCache.h"
#include "os/FileDigest.h"
#include "os/Paths.h"
#include "os/hooksafe/Descriptors.h"
#include "protocol/LogFiles.h"
#include "protocol/PanelMessages.h"
#include "protocol/Registry.h"
#include "protocol/SettingNames.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <pwd.h>

namespace engine {

void CarrierLife::LogEvent(protocol::TrafficLog& log, const char* tag, std::time_t now)
{
    if (log.Folder().empty())
        return;
    log.AppendLogRecord(protocol::CarrierEventBody(tag, carrier_.exePathForLog), now);
    if (std::strcmp(tag, protocol::kApplicationStartTag) == 0)
        startedBy_ = Pid();
}

void CarrierLife::LogStart(protocol::TrafficLog& log, std::time_t now)
{
    if (!started_.exchange(true))
        LogEvent(log, protocol::kApplicationStartTag, now);
}

void CarrierLife::LogEnd(protocol::TrafficLog& log, std::time_t now)
{
    if (started_.load() && startedBy_.load() == Pid())
        LogEvent(log, protocol::kApplicationEndTag, now);
}

int CarrierLife::OpenErrorLog(std::time_t now)
{
    using protocol::registry::RootKey;
    const protocol::registry::Value errorLogs(RootKey::LocalMachine, protocol::registry::kSettingsKey,
                                              protocol::settings::kErrLogs);
    const auto folder = ReadPathSetting(errorLogs);
    if (!folder || folder->empty())
        return -1;
    return os::OpenRegularFile(protocol::ErrorLogFileName(*folder, now).c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644,
                               false);
}

void CarrierLife::PrepareForCredentialChange(std::time_t now)
{
    if (errorLogFd_ < 0)
        errorLogFd_ = OpenErrorLog(now);
}

void CarrierLife::CredentialsChanged(const std::string& rulesPath, std::time_t now)
{
    const int fd = os::OpenRegularFile(rulesPath.c_str(), O_RDONLY);
    if (fd >= 0)
        ::close(fd);
    else if ((errno == EACCES || errno == EPERM) && errorLogFd_ >= 0) {
        const passwd* user = ::getpwuid(::geteuid());
        const std::string description = carrier_.exePath + " (process " + std::to_string(Pid()) + ") now runs as "
            + (user && user->pw_name ? std::string(user->pw_name) : "user " + std::to_string(::geteuid()))
            + " and cannot read the rules file " + rulesPath
            + "; it keeps deciding by the rules it started with until it is restarted";
        const std::string line = protocol::ErrorLogLine("qrbruler : LoadRules", description, now);
        [[maybe_unused]] const ssize_t written = ::write(errorLogFd_, line.data(), line.size());
    }
    if (errorLogFd_ >= 0)
        ::close(errorLogFd_);
    errorLogFd_ = -1;
}

void CarrierLife::RuntimeFolderRefused(std::time_t now)
{
    // Every refused connection says "runtime" in its record; the error log
    // says which folder and what to do about it, where the panel shows it.
    if (runtimeRefusalTold_.exchange(true))
        return;
    const int fd = OpenErrorLog(now);
    if (fd < 0)
        return;
    // Empty when the folder was mended since the engine looked at it.
    const std::string problem = os::RuntimeDirProblem();
    const std::string description = carrier_.exePath + " (process " + std::to_string(Pid()) + "): "
        + (problem.empty() ? "the runtime folder could not be used when the program started" : problem);
    const std::string line = protocol::ErrorLogLine("qrbruler : RuntimeFolder", description, now);
    [[maybe_unused]] const ssize_t written = ::write(fd, line.data(), line.size());
    ::close(fd);
}

const std::string& CarrierDigest::Of(void* context)
{
    // A file that could not be read (no descriptor left) is read again the
    // next time; until then the entry asks.
    auto* digest = static_cast<CarrierDigest*>(context);
    if (!digest->carrier_.interpreterPath.empty()) {
        if (digest->digest_.empty() && !digest->carrier_.scriptFile.empty())
            digest->digest_ = os::FileDigestText(digest->carrier_.scriptFile);
    } else if (digest->digest_.empty()) {
        digest->digest_ = os::FileDigestText(digest->exePath_.empty()
                                                 ? digest->procRoot_ + "/" + std::to_string(digest->life_.Pid()) + "/exe"
                                                 : digest->exePath_);
    }
    return digest->digest_;
}

}  // namespace engine
