#pragma once

#include <string>
#include <vector>

namespace alert {

// The listening socket of the alert program that serves a desktop: the
// engine that started it bound the socket in the runtime folder and passed it
// on; every later question connects to it. Plain system calls, no toolkit, so
// that the engine tests' stand-in serves the same way.
class RendezvousListener {
public:
    enum class Retire {
        kDone,          // nobody can reach us any more: the program may end
        kBusy,          // the lock is taken (a question is connecting): try again soon
        kLateQuestions, // questions connected meanwhile: they are in late
    };

    // Takes the listening descriptor; the paths are the socket's and the
    // lock's that questions take while they connect.
    RendezvousListener(int fd, std::string socketPath, std::string lockPath);
    ~RendezvousListener();
    RendezvousListener(const RendezvousListener&) = delete;
    RendezvousListener& operator=(const RendezvousListener&) = delete;

    int Descriptor() const { return fd_; }
    // The next connected question, or -1 when none waits. Connections of
    // another user are closed unread.
    int Accept();
    // Ends serving when no question waits: under the lock the questions take
    // while connecting, so none connects to a program that is leaving.
    Retire TryRetire(std::vector<int>& late);

    // Leaves the process that started us (it is the asking program's child)
    // and goes on in a session of our own, so that the asking program's end,
    // its terminal or its process group never end the questions of the
    // others. Call before any thread starts; false when it could not.
    static bool Detach();

private:
    int fd_;
    std::string socketPath_;
    std::string lockPath_;
    unsigned long socketId_ = 0;
};

}  // namespace alert
