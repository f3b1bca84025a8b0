#include "platform/Presence.h"

#include "platform/Clock.h"
#include "platform/Paths.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

namespace platform::presence {

bool IsHeldByOther(int fd)
{
    struct flock query {};
    query.l_type = F_RDLCK;
    query.l_whence = SEEK_SET;
    if (::fcntl(fd, F_OFD_GETLK, &query) != 0)
        return false;
    return query.l_type != F_UNLCK;
}

int HoldLockFile(const std::string& path)
{
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0)
        return -1;
    struct flock lock {};
    lock.l_type = F_WRLCK;
    lock.l_whence = SEEK_SET;
    if (::fcntl(fd, F_OFD_SETLK, &lock) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

bool IsLockFileHeld(const std::string& path)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    const bool held = IsHeldByOther(fd);
    ::close(fd);
    return held;
}

std::string ControlPanelLockPath() { return RuntimeDir() + "/zel.lock"; }

int HoldControlPanelLock(const std::string& lockPath) { return HoldLockFile(lockPath); }

bool IsControlPanelRunning(const std::string& lockPath) { return IsLockFileHeld(lockPath); }

ControlPanelWatch::ControlPanelWatch(std::string lockPath, int freshnessMs)
    : lockPath_(std::move(lockPath)), freshnessMs_(freshnessMs)
{
}

ControlPanelWatch::~ControlPanelWatch()
{
    if (fd_ >= 0)
        ::close(fd_);
}

int ControlPanelWatch::Revalidate()
{
    const long long now = CoarseMilliseconds();
    if (fd_ >= 0 && now - checkedAt_.load() < 1000)
        return fd_;
    checkedAt_ = now;
    struct stat onDisk {}, held {};
    const bool exists = ::stat(lockPath_.c_str(), &onDisk) == 0;
    if (fd_ >= 0 && exists && ::fstat(fd_, &held) == 0 && held.st_ino == onDisk.st_ino && held.st_dev == onDisk.st_dev)
        return fd_;
    if (fd_ >= 0)
        ::close(fd_);
    fd_ = exists ? ::open(lockPath_.c_str(), O_RDONLY | O_CLOEXEC) : -1;
    return fd_;
}

bool ControlPanelWatch::IsRunning()
{
    const long long now = CoarseMilliseconds();
    if (freshnessMs_ > 0 && now - answeredAt_.load(std::memory_order_relaxed) < freshnessMs_)
        return answer_.load(std::memory_order_relaxed);
    bool running;
    {
        std::shared_lock lock(mutex_);
        // The common case: a descriptor checked less than a second ago.
        if (fd_ >= 0 && now - checkedAt_.load() < 1000) {
            running = IsHeldByOther(fd_);
            Remember(running, now);
            return running;
        }
    }
    std::unique_lock lock(mutex_);
    const int fd = Revalidate();
    running = fd >= 0 && IsHeldByOther(fd);
    Remember(running, now);
    return running;
}

void ControlPanelWatch::UnlockAfterFork(bool inChild)
{
    // A read-write lock knows its writer by thread id, which the child's one
    // thread does not share: the child starts with a fresh lock instead.
    if (inChild)
        new (&mutex_) std::shared_mutex();
    else
        mutex_.unlock();
}

void ControlPanelWatch::Remember(bool running, long long now)
{
    answer_.store(running, std::memory_order_relaxed);
    answeredAt_.store(now, std::memory_order_relaxed);
}

}  // namespace platform::presence
