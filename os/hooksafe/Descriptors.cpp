#include "os/hooksafe/Descriptors.h"

#include "os/hooksafe/DirectCalls.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

namespace os {

namespace {

std::atomic<DescriptorGuardFn> g_keep {nullptr};
std::atomic<DescriptorGuardFn> g_release {nullptr};

int CheckRegular(int fd)
{
    if (fd < 0)
        return -1;
    struct stat st {};
    if (direct::Fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        direct::Close(fd);
        errno = EINVAL;
        return -1;
    }
    return fd;
}

int Flags(int flags, bool followLinks)
{
    // O_NONBLOCK: opening a FIFO must not wait for a writer; it changes
    // nothing for the regular files that are let through.
    return flags | O_CLOEXEC | O_NONBLOCK | O_NOCTTY | (followLinks ? 0 : O_NOFOLLOW);
}

}  // namespace

int OpenRegularFile(const char* path, int flags, mode_t mode, bool followLinks)
{
    return CheckRegular(direct::OpenAt(AT_FDCWD, path, Flags(flags, followLinks), mode));
}

int OpenRegularFileAt(int folder, const char* name, int flags, mode_t mode, bool followLinks)
{
    return CheckRegular(direct::OpenAt(folder, name, Flags(flags, followLinks), mode));
}

bool IsTransientError(int error) { return error == EMFILE || error == ENFILE || error == ENOMEM || error == EAGAIN; }

int MoveDescriptorHigh(int fd)
{
    constexpr int kFloor = 900;
    if (fd < 0)
        return fd;
    int moved = fd < kFloor ? direct::Fcntl(fd, F_DUPFD_CLOEXEC, kFloor) : -1;
    if (moved < 0 && fd < kFloor) {
        // A low descriptor limit: as high as it allows, some room left below it.
        rlimit limit {};
        if (direct::GetLimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY
            && static_cast<long>(limit.rlim_cur) - 64 > fd)
            moved = direct::Fcntl(fd, F_DUPFD_CLOEXEC, static_cast<int>(limit.rlim_cur) - 64);
    }
    if (moved < 0) {
        direct::Fcntl(fd, F_SETFD, FD_CLOEXEC);
        return fd;
    }
    direct::Close(fd);
    return moved;
}

bool KeptDescriptor::Adopt(int fd)
{
    struct stat st {};
    if (fd >= 0 && direct::Fstat(fd, &st) != 0)
        st = {};
    return Adopt(fd, st);
}

bool KeptDescriptor::Adopt(int fd, const struct stat& st)
{
    Close();
    if (fd < 0)
        return false;
    fd = MoveDescriptorHigh(fd);
    device_ = st.st_dev;
    inode_ = st.st_ino;
    fd_.store(fd, std::memory_order_release);
    if (DescriptorGuardFn keep = g_keep.load(std::memory_order_acquire))
        keep(&fd_);
    return true;
}

bool KeptDescriptor::StillOurs() const
{
    const int fd = Get();
    struct stat st {};
    return fd >= 0 && direct::Fstat(fd, &st) == 0 && st.st_dev == device_ && st.st_ino == inode_;
}

void KeptDescriptor::Forget()
{
    if (Get() < 0)
        return;
    if (DescriptorGuardFn release = g_release.load(std::memory_order_acquire))
        release(&fd_);
    fd_.store(-1, std::memory_order_release);
}

void KeptDescriptor::Close()
{
    const int fd = Get();
    if (fd < 0)
        return;
    // A number closed and reused behind our back is the program's now.
    const bool ours = StillOurs();
    Forget();
    if (ours)
        direct::Close(fd);
}

void SetDescriptorGuard(DescriptorGuardFn keep, DescriptorGuardFn release)
{
    g_release.store(release, std::memory_order_release);
    g_keep.store(keep, std::memory_order_release);
}

}  // namespace os
