#pragma once

// Waits on events instead of sleeping: a descriptor turning readable, a
// folder changing, a process ending. Every wait is bounded in time and
// returns as soon as what it waits for has happened.
#include <chrono>
#include <functional>
#include <string>
#include <vector>

#include <cerrno>
#include <cstdint>
#include <poll.h>
#include <sys/inotify.h>
#include <sys/syscall.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

namespace testing_support {

// Milliseconds left until deadline, never below zero.
inline int MillisecondsLeft(std::chrono::steady_clock::time_point deadline)
{
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    return left.count() > 0 ? static_cast<int>(left.count()) + 1 : 0;
}

// True when fd turns readable (or hung up) within limit.
inline bool WaitReadable(int fd, std::chrono::milliseconds limit)
{
    const auto deadline = std::chrono::steady_clock::now() + limit;
    for (;;) {
        pollfd waiting {fd, POLLIN, 0};
        const int ready = ::poll(&waiting, 1, MillisecondsLeft(deadline));
        if (ready > 0)
            return true;
        if (ready == 0 || errno != EINTR)
            return false;
    }
}

// Changes to files and folders as one descriptor that turns readable when
// one comes: made, written, renamed or removed in a folder watched, or a file
// watched opened or closed. A path not there yet is watched in the folder
// above it, and again itself once it is there. For WaitUntil's wake, or
// WaitForFile below.
class Changes {
public:
    static constexpr uint32_t kFolder = IN_CREATE | IN_MODIFY | IN_CLOSE_WRITE | IN_MOVED_TO | IN_MOVED_FROM
        | IN_DELETE | IN_ATTRIB | IN_DELETE_SELF;
    static constexpr uint32_t kOpened = IN_OPEN | IN_CLOSE_NOWRITE | IN_CLOSE_WRITE;

    Changes() : fd_(::inotify_init1(IN_CLOEXEC | IN_NONBLOCK)) {}
    ~Changes()
    {
        if (fd_ >= 0)
            ::close(fd_);
    }
    Changes(const Changes&) = delete;
    Changes& operator=(const Changes&) = delete;

    // False when neither path nor the folder above it can be watched.
    bool Watch(const std::string& path, uint32_t events = kFolder)
    {
        watched_.push_back({path, events});
        return Add(watched_.back());
    }
    int Descriptor() const { return fd_; }
    // Takes what has come, so that the descriptor waits for the next change;
    // paths that have come to be are watched themselves from now on.
    void Drain()
    {
        char events[4096];
        while (fd_ >= 0 && ::read(fd_, events, sizeof events) > 0) {
        }
        for (const Watched& watched : watched_)
            Add(watched);
    }

private:
    struct Watched {
        std::string path;
        uint32_t events;
    };
    bool Add(const Watched& watched) const
    {
        if (fd_ < 0)
            return false;
        if (::inotify_add_watch(fd_, watched.path.c_str(), watched.events) >= 0)
            return true;
        const std::string above = watched.path.substr(0, watched.path.find_last_of('/') + 1);
        return !above.empty() && ::inotify_add_watch(fd_, above.c_str(), kFolder) >= 0;
    }

    int fd_;
    std::vector<Watched> watched_;
};

// Looks at done() again each time something in folder is made, written,
// renamed or removed, until it holds or limit has passed: true when it held.
inline bool WaitForFile(const std::string& folder, const std::function<bool()>& done,
                        std::chrono::milliseconds limit = std::chrono::seconds(10))
{
    const auto deadline = std::chrono::steady_clock::now() + limit;
    Changes changes;
    // Watched before each look, so that no change falls between the two.
    if (!changes.Watch(folder))
        return done();
    bool held = done();
    while (!held && WaitReadable(changes.Descriptor(), std::chrono::milliseconds(MillisecondsLeft(deadline)))) {
        changes.Drain();
        held = done();
    }
    return held || done();
}

// A descriptor that turns readable when the process ends (-1 when it is
// gone already or the kernel has no pidfd).
inline int ProcessDescriptor(pid_t pid) { return static_cast<int>(::syscall(SYS_pidfd_open, pid, 0)); }

// True when the process has ended (exited, killed or a zombie) within limit.
inline bool WaitProcessEnd(pid_t pid, std::chrono::milliseconds limit)
{
    const int process = ProcessDescriptor(pid);
    if (process < 0)
        return errno == ESRCH;
    const bool ended = WaitReadable(process, limit);
    ::close(process);
    return ended;
}

// Waits for a child of this process to end and reaps it: true with its
// status when it ended within limit.
inline bool WaitChild(pid_t child, int& status, std::chrono::milliseconds limit)
{
    const int process = ProcessDescriptor(child);
    bool reaped = ::waitpid(child, &status, WNOHANG) == child;
    if (!reaped && process >= 0 && WaitReadable(process, limit))
        reaped = ::waitpid(child, &status, WNOHANG) == child;
    if (process >= 0)
        ::close(process);
    return reaped;
}

}  // namespace testing_support
