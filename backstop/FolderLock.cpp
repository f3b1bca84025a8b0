#include "backstop/FolderLock.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace backstop {

namespace {

void OnAlarm(int) {}

}  // namespace

FolderLock::FolderLock(const std::string& folder, Mode mode, unsigned timeoutSeconds)
{
    fd_ = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd_ < 0) {
        error_ = "cannot open " + folder + ": " + std::strerror(errno);
        return;
    }
    const int operation = mode == Mode::kExclusive ? LOCK_EX : LOCK_SH;
    if (::flock(fd_, operation | LOCK_NB) == 0) {
        held_ = true;
        return;
    }
    // Waited for in the kernel's queue, not by trying again and again; an
    // alarm ends the wait (no restart: the wait returns EINTR), as may any
    // other signal, after which the wait goes on for what is left of it.
    struct sigaction wake {}, previous {};
    wake.sa_handler = OnAlarm;
    ::sigaction(SIGALRM, &wake, &previous);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(timeoutSeconds);
    int result = -1;
    errno = EINTR;
    for (auto left = deadline - std::chrono::steady_clock::now(); left > left.zero();
         left = deadline - std::chrono::steady_clock::now()) {
        ::alarm(static_cast<unsigned>(std::chrono::ceil<std::chrono::seconds>(left).count()));
        result = ::flock(fd_, operation);
        if (result == 0 || errno != EINTR)
            break;
    }
    const int saved = errno;
    ::alarm(0);
    ::sigaction(SIGALRM, &previous, nullptr);
    held_ = result == 0;
    if (!held_)
        error_ = folder + (saved == EINTR ? std::string(" stayed locked by another zel-backstop")
                                          : std::string(": ") + std::strerror(saved));
}

FolderLock::~FolderLock()
{
    if (fd_ >= 0)
        ::close(fd_); // the lock goes with the descriptor
}

}  // namespace backstop
