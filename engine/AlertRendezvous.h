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

struct Channel {
    int fd = -1;
    Mode mode = Mode::kOwn;
    pid_t child = -1;    // the program this call started, reaped before the call returns
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
