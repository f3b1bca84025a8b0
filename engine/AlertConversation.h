#pragma once

#include "engine/AlertLauncher.h"

#include <csignal>
#include <functional>
#include <string>
#include <sys/socket.h>
#include <sys/types.h>

namespace engine::launch {

// The signals to hold back while waiting: those whose handler asks for the
// interrupted call to be restarted. The kernel would run such a handler and
// go on waiting; holding them back for at most one check interval does the
// same, while any other handler interrupts the wait at once.
sigset_t RestartingSignals();
// Sleeps, as the wait does: false when a signal interrupted it.
bool Pause(int milliseconds, const sigset_t& mask);

// The question as the alert program reads it, in the words of protocol/AlertWords.h.
std::string Request(const AlertTexts& texts);
// One line of the alert's: false for anything but an answer.
bool ParseAnswer(const std::string& line, AlertResult& result);

// The alert program that speaks on the channel, as the kernel vouches for it.
class Speaker {
public:
    Speaker() = default;
    ~Speaker();
    Speaker(const Speaker&) = delete;
    Speaker& operator=(const Speaker&) = delete;
    // From the credentials of its first message: false when that came from
    // another user's process.
    bool Identify(const ucred& credentials);
    pid_t Pid() const { return pid_; }
    void End() const;

private:
    pid_t pid_ = 0;
    int pidfd_ = -1;
};

enum class Ending {
    kAnswered,
    kInterrupted,
    kWithdrawn,
    kSilent,      // spoke, then fell silent: stopped or hung
    kMute,        // never spoke within kFirstWordLimitMs
    kClosedEarly, // closed the channel before its first word
    kClosed,      // closed it later, or failed
};

struct Conversation {
    Ending ending = Ending::kClosed;
    bool heard = false;
};

// Sends the request and waits for the answer on fd, telling the alert of
// presses pressRequest asks for; withdrawFd readable takes the question back.
// The program this call started is reaped as soon as it ends, answer or not.
Conversation Converse(int fd, const std::string& request, const std::function<int()>& pressRequest,
                      const sigset_t& waitMask, int withdrawFd, StartedChild& child, Speaker& speaker,
                      AlertResult& result);

}  // namespace engine::launch
