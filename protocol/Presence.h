#pragma once

#include "os/ForkableSharedMutex.h"
#include "os/hooksafe/Descriptors.h"
#include "os/hooksafe/LockFiles.h"

#include <atomic>
#include <string>
#include <sys/types.h>

// Whether the control panel runs. The running panel holds a write lock on a
// file in the runtime folder for its whole life, so the question costs one
// lock query instead of a walk over every process.
namespace protocol::presence {

using os::IsHeldByOther;

inline int HoldLockFile(const std::string& path) { return os::HoldLockFile(path.c_str()); }
inline bool IsLockFileHeld(const std::string& path) { return os::IsLockFileHeld(path.c_str()); }

// Empty when the runtime folder is not safe to use.
std::string ControlPanelLockPath();

// The interceptor's process (zelconn) is one per runtime folder: it holds a
// lock on this file, which also names its process id. Empty as above.
std::string InterceptorLockPath();
// The pid of the running interceptor process, or 0.
pid_t InterceptorPid();

// Takes the lock for the calling process; returns the descriptor to keep
// open, or -1 when another control panel holds it (or it cannot be made).
int HoldControlPanelLock(const std::string& lockPath);

// One question, no state kept: opens, asks and closes.
bool IsControlPanelRunning(const std::string& lockPath);

// The same question asked again and again: the lock file stays open and is
// looked up afresh about once a second, in case it was made anew; an answer
// younger than freshnessMs is given again without asking. A lock file that
// cannot be looked up any more (the process dropped its privileges) keeps
// the descriptor it has. Thread-safe.
class ControlPanelWatch {
public:
    explicit ControlPanelWatch(std::string lockPath, int freshnessMs = 0);
    ~ControlPanelWatch() { fd_.Close(); }
    ControlPanelWatch(const ControlPanelWatch&) = delete;
    ControlPanelWatch& operator=(const ControlPanelWatch&) = delete;

    bool IsRunning();

    // Held across fork(), as for every lock a carrier's child could inherit.
    void LockForFork() { mutex_.lock(); }
    void UnlockAfterFork(bool inChild);

private:
    int Revalidate();
    void Remember(bool running, long long now);

    std::string lockPath_;
    os::ForkableSharedMutex mutex_;
    os::KeptDescriptor fd_;
    std::atomic<long long> checkedAt_ {0}; // coarse monotonic milliseconds
    int freshnessMs_;
    std::atomic<bool> answer_ {false};
    std::atomic<long long> answeredAt_ {-1000000};
};

}  // namespace protocol::presence
