#pragma once

// Waits on events instead of sleeping: a descriptor turning readable, a
// folder changing, a process ending. Every wait is bounded in time and
// returns as soon as what it waits for has happened.
#include <chrono>
#include <functional>
#include <string>

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

// Looks at done() again each time something in folder is made, written,
// renamed or removed, until it holds or limit has passed: true when it held.
// A folder not there yet is waited for in the one above it.
inline bool WaitForFile(const std::string& folder, const std::function<bool()>& done,
                        std::chrono::milliseconds limit = std::chrono::seconds(10))
{
    constexpr uint32_t kChanges = IN_CREATE | IN_MODIFY | IN_CLOSE_WRITE | IN_MOVED_TO | IN_MOVED_FROM | IN_DELETE
        | IN_ATTRIB | IN_DELETE_SELF;
    const auto deadline = std::chrono::steady_clock::now() + limit;
    const int watch = ::inotify_init1(IN_CLOEXEC | IN_NONBLOCK);
    if (watch < 0)
        return done();
    const std::string above = folder.substr(0, folder.find_last_of('/') + 1);
    // Watched before each look, so that no change falls between the two.
    const auto watchFolder = [&] { return ::inotify_add_watch(watch, folder.c_str(), kChanges) >= 0; };
    bool watching = watchFolder() || (!above.empty() && ::inotify_add_watch(watch, above.c_str(), kChanges) >= 0);
    bool held = done();
    while (!held && watching && WaitReadable(watch, std::chrono::milliseconds(MillisecondsLeft(deadline)))) {
        char events[4096];
        while (::read(watch, events, sizeof events) > 0) {
        }
        watchFolder();
        held = done();
    }
    ::close(watch);
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
