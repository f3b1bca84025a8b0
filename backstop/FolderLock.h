#pragma once

#include <string>

namespace backstop {

// An advisory lock (flock) on a folder, held while this object lives and
// released by the kernel however the holder ends, a SIGKILL included: a
// command killed midway never blocks the next one.
class FolderLock {
public:
    enum class Mode { kShared, kExclusive };

    // Waits at most timeoutSeconds for the lock.
    FolderLock(const std::string& folder, Mode mode, unsigned timeoutSeconds);
    ~FolderLock();
    FolderLock(const FolderLock&) = delete;
    FolderLock& operator=(const FolderLock&) = delete;

    explicit operator bool() const { return held_; }
    // Why the lock is not held: the folder cannot be opened, or it stayed
    // locked for the whole wait.
    const std::string& Error() const { return error_; }

private:
    int fd_ = -1;
    bool held_ = false;
    std::string error_;
};

}  // namespace backstop
