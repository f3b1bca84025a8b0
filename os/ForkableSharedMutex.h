#pragma once

#include <shared_mutex>

namespace os {

// A read-write lock that a forked child can start afresh with. A read-write
// lock knows its writer by thread id, which the child's one thread does not
// share, so the child cannot release a lock held across fork(); nor may a
// live lock be destroyed or built over. The child leaves the old lock as it
// is, never to be used again, and takes a new one.
class ForkableSharedMutex {
public:
    ForkableSharedMutex() = default;
    ~ForkableSharedMutex() { delete mutex_; }
    ForkableSharedMutex(const ForkableSharedMutex&) = delete;
    ForkableSharedMutex& operator=(const ForkableSharedMutex&) = delete;

    void lock() { mutex_->lock(); }
    void unlock() { mutex_->unlock(); }
    void lock_shared() { mutex_->lock_shared(); }
    void unlock_shared() { mutex_->unlock_shared(); }

    // In the child of fork() only, where no other thread exists.
    void RenewInChild() { mutex_ = new std::shared_mutex(); }

private:
    std::shared_mutex* mutex_ = new std::shared_mutex();
};

}  // namespace os
