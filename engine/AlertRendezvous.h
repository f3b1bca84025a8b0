#pragma once

#include <csignal>
#include <string>
#include <sys/types.h>

namespace engine {

// The alert program: ZEL_ALERT_PROGRAM, else zel-alert beside this library.
std::string AlertProgramPath();

// Where the questions of every program on this desktop meet the one alert
// program that shows them: a socket in the runtime folder, named after the
// display, and the lock that orders finding it, starting it and its end.
// Empty when the runtime folder cannot hold them.
struct AlertRendezvous {
    std::string socketPath;
    std::string lockPath;
    std::string program; // the alert program started when none serves yet
};
AlertRendezvous FindAlertRendezvous();

namespace launch {

enum class Mode {
    kOwn,     // an alert program for this question alone, our child
    kStarted, // the serving alert program, started by this question
    kJoined,  // the serving alert program another question started
};

// A program this call started. Known by a process descriptor where the
// kernel gives one, it is reaped the moment it ends, while the question is
// still open, and signalled and waited for as itself: never as a process
// that took its number after the carrier reaped it. Without a descriptor (a
// kernel before 5.4) it is reaped by its number when the question ends.
class StartedChild {
public:
    StartedChild() = default;
    explicit StartedChild(pid_t pid);
    ~StartedChild();
    StartedChild(StartedChild&& other) noexcept;
    StartedChild& operator=(StartedChild&& other) noexcept;

    bool Running() const { return pid_ > 0; }
    pid_t Pid() const { return pid_; }
    // Readable once it has ended; -1 when there is no descriptor to watch.
    int EndFd() const { return pidfd_; }
    // Reaped if it has ended (EndFd readable); nothing else happens to it.
    void ReapIfEnded();
    // Given up to graceMs to end by itself, then ended; reaped either way.
    void End(int graceMs);

private:
    void Forget();
    pid_t pid_ = -1;
    int pidfd_ = -1;
};

struct Channel {
    int fd = -1;
    Mode mode = Mode::kOwn;
    StartedChild child;  // the program this call started, reaped before the call returns
    ino_t socketId = 0;  // the rendezvous socket met, to give up one that stays mute
};

// The channel to the alert program that takes this question: under the
// rendezvous lock, the serving one (met or started), else one for this
// question alone. fd -1: no alert program could be reached or started;
// interrupted: a signal ended the wait for the lock.
Channel OpenChannel(const AlertRendezvous& rendezvous, const sigset_t& mask, bool& interrupted);
// The rendezvous socket of an alert program that never spoke is removed, so
// that the next question starts a working one: only when it is still the
// socket this question met.
void GiveUpRendezvous(const AlertRendezvous& rendezvous, ino_t socketId, const sigset_t& mask);

}  // namespace launch

}  // namespace engine
