#pragma once

#include <atomic>
#include <mutex>
#include <new>
#include <shared_mutex>
#include <string>

// Whether the control panel runs. The running panel holds a write lock on a
// file in the runtime folder for its whole life, so the question costs one
// lock query instead of a walk over every process.
namespace platform::presence {

// A lock file held for a process's whole life says that the process runs.
// Open file description locks: queried without being taken, and released
// when the last descriptor of the holder closes, also when it crashes.
// HoldLockFile returns the descriptor to keep open, or -1 when another
// process holds the lock (or the file cannot be made).
int HoldLockFile(const std::string& path);
bool IsLockFileHeld(const std::string& path);
bool IsHeldByOther(int fd);

std::string ControlPanelLockPath();

// Takes the lock for the calling process; returns the descriptor to keep
// open, or -1 when another control panel holds it (or it cannot be made).
int HoldControlPanelLock(const std::string& lockPath);

// One question, no state kept: opens, asks and closes.
bool IsControlPanelRunning(const std::string& lockPath);

// The same question asked again and again: the lock file stays open and is
// looked up afresh about once a second, in case it was made anew; an answer
// younger than freshnessMs is given again without asking. Thread-safe.
class ControlPanelWatch {
public:
    explicit ControlPanelWatch(std::string lockPath, int freshnessMs = 0);
    ~ControlPanelWatch();
    ControlPanelWatch(const ControlPanelWatch&) = delete;
    ControlPanelWatch& operator=(const ControlPanelWatch&) = delete;

    bool IsRunning();

    // Held across fork(), as for every lock a host's child could inherit.
    void LockForFork() { mutex_.lock(); }
    void UnlockAfterFork(bool inChild);

private:
    int Revalidate();
    void Remember(bool running, long long now);

    std::string lockPath_;
    std::shared_mutex mutex_;
    int fd_ = -1;
    std::atomic<long long> checkedAt_ {0}; // coarse monotonic milliseconds
    int freshnessMs_;
    std::atomic<bool> answer_ {false};
    std::atomic<long long> answeredAt_ {-1000000};
};

}  // namespace platform::presence
