#pragma once

#include <string>

namespace logstore {

// One writer of the user's database at a time: an advisory lock (flock) on a
// file in the runtime folder, held for the writer's life and released by the
// kernel however the writer ends. Readers take no lock.
class WriterLock {
public:
    // The lock file: tessary.db.lock in the runtime folder; empty when the
    // runtime folder is not safe to use.
    static std::string DefaultPath();

    // Takes the lock at path without waiting. Refused, with a reason, when
    // another writer holds it or the file is not a private one of this user.
    static WriterLock Take(const std::string& path);

    WriterLock() = default;
    ~WriterLock();
    WriterLock(WriterLock&& other) noexcept;
    WriterLock& operator=(WriterLock&& other) noexcept;
    WriterLock(const WriterLock&) = delete;
    WriterLock& operator=(const WriterLock&) = delete;

    explicit operator bool() const { return fd_ >= 0; }
    const std::string& Error() const { return error_; }
    void Release();

private:
    int fd_ = -1;
    std::string error_;
};

}  // namespace logstore
