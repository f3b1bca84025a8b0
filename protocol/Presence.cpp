#include "protocol/Presence.h"

#include "os/Clock.h"
#include "os/Files.h"
#include "os/Paths.h"
#include "text/Strings.h"

#include <cerrno>
#include <mutex>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace protocol::presence {

std::string ControlPanelLockPath() { return os::RuntimePath("zel.lock"); }

std::string InterceptorLockPath() { return os::RuntimePath("zelconn.lock"); }

pid_t InterceptorPid()
{
    const std::string path = InterceptorLockPath();
    if (path.empty() || !IsLockFileHeld(path))
        return 0;
    const auto text = os::ReadFile(path, 64, false);
    const auto pid = static_cast<pid_t>(text::ParseDecimal(text.value_or("")));
    return pid > 0 ? pid : 0;
}

int HoldControlPanelLock(const std::string& lockPath) { return lockPath.empty() ? -1 : HoldLockFile(lockPath); }

bool IsControlPanelRunning(const std::string& lockPath) { return !lockPath.empty() && IsLockFileHeld(lockPath); }

ControlPanelWatch::ControlPanelWatch(std::string lockPath, int freshnessMs)
    : lockPath_(std::move(lockPath)), freshnessMs_(freshnessMs)
{
}

int ControlPanelWatch::Revalidate()
{
    const long long now = os::CoarseMilliseconds();
    if (fd_.IsOpen() && now - checkedAt_.load() < 1000)
        return fd_.Get();
    checkedAt_ = now;
    if (fd_.IsOpen() && !fd_.StillOurs())
        fd_.Forget(); // closed and reused behind our back: not ours to close
    if (lockPath_.empty())
        return -1;
    struct stat onDisk {}, held {};
    if (::stat(lockPath_.c_str(), &onDisk) != 0) {
        // Out of sight now (privileges dropped): the descriptor we have still answers.
        if (errno == EACCES && fd_.IsOpen())
            return fd_.Get();
        fd_.Close();
        return -1;
    }
    if (fd_.IsOpen() && ::fstat(fd_.Get(), &held) == 0 && held.st_ino == onDisk.st_ino && held.st_dev == onDisk.st_dev)
        return fd_.Get();
    const int fd = os::OpenRegularFile(lockPath_.c_str(), O_RDONLY, 0, false);
    if (fd >= 0)
        fd_.Adopt(fd);
    else if (!os::IsTransientError(errno))
        fd_.Close();
    // No descriptor left for a moment: the one we had, if any, answers.
    return fd_.Get();
}

bool ControlPanelWatch::IsRunning()
{
    const long long now = os::CoarseMilliseconds();
    if (freshnessMs_ > 0 && now - answeredAt_.load(std::memory_order_relaxed) < freshnessMs_)
        return answer_.load(std::memory_order_relaxed);
    bool running;
    {
        std::shared_lock lock(mutex_);
        // The common case: a descriptor checked less than a second ago.
        if (fd_.IsOpen() && now - checkedAt_.load() < 1000) {
            running = os::IsHeldByOther(fd_.Get());
            Remember(running, now);
            return running;
        }
    }
    std::unique_lock lock(mutex_);
    const int fd = Revalidate();
    running = fd >= 0 && os::IsHeldByOther(fd);
    Remember(running, now);
    return running;
}

void ControlPanelWatch::UnlockAfterFork(bool inChild)
{
    if (inChild)
        mutex_.RenewInChild();
    else
        mutex_.unlock();
}

void ControlPanelWatch::Remember(bool running, long long now)
{
    answer_.store(running, std::memory_order_relaxed);
    answeredAt_.store(now, std::memory_order_relaxed);
}

}  // namespace protocol::presence
