#include "alert/RendezvousListener.h"

#include "os/hooksafe/Retry.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace alert {

RendezvousListener::RendezvousListener(int fd, std::string socketPath, std::string lockPath)
    : fd_(fd), socketPath_(std::move(socketPath)), lockPath_(std::move(lockPath))
{
    ::fcntl(fd_, F_SETFD, FD_CLOEXEC);
    ::fcntl(fd_, F_SETFL, ::fcntl(fd_, F_GETFL) | O_NONBLOCK);
    // The socket file as the engine bound it: a question that gave up on us
    // may have put another program's in its place, which is not ours to remove.
    struct stat st {};
    if (::lstat(socketPath_.c_str(), &st) == 0)
        socketId_ = st.st_ino;
}

RendezvousListener::~RendezvousListener()
{
    if (fd_ >= 0)
        ::close(fd_);
}

int RendezvousListener::Accept()
{
    for (;;) {
        const int fd = os::RetryOnInterrupt([this] { return ::accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC); });
        if (fd < 0 && errno == ECONNABORTED)
            continue;
        if (fd < 0)
            return -1;
        ucred peer {};
        socklen_t size = sizeof peer;
        if (::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &size) == 0 && peer.uid == ::getuid())
            return fd;
        ::close(fd);
    }
}

RendezvousListener::Retire RendezvousListener::TryRetire(std::vector<int>& late)
{
    const int lock = ::open(lockPath_.c_str(), O_RDWR | O_CLOEXEC | O_NOFOLLOW);
    struct stat st {};
    if (lock >= 0 && (::fstat(lock, &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != ::getuid())) {
        ::close(lock);
        return Retire::kBusy;
    }
    if (lock >= 0 && ::flock(lock, LOCK_EX | LOCK_NB) != 0) {
        ::close(lock);
        return Retire::kBusy;
    }
    // A question connects only while it holds the lock, and a connection is
    // queued before its connect returns: what is not queued now never comes.
    for (int fd; (fd = Accept()) >= 0;)
        late.push_back(fd);
    if (late.empty()) {
        struct stat now {};
        if (::lstat(socketPath_.c_str(), &now) == 0 && now.st_ino == socketId_)
            ::unlink(socketPath_.c_str());
        ::close(fd_);
        fd_ = -1;
    }
    if (lock >= 0) {
        ::flock(lock, LOCK_UN);
        ::close(lock);
    }
    return late.empty() ? Retire::kDone : Retire::kLateQuestions;
}

bool RendezvousListener::Detach()
{
    const pid_t child = ::fork();
    if (child < 0)
        return false;
    if (child > 0)
        ::_exit(0);
    ::setsid();
    return true;
}

}  // namespace alert
