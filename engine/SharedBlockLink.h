#pragma once

#include "protocol/SharedBlock.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <sys/types.h>

namespace engine {

// The shared block as one engine copy uses it: opened once, the traffic
// counters, and the update string that tells which programs must read their
// rules again, with the last write of it this copy has taken into account.
class SharedBlockLink {
public:
    explicit SharedBlockLink(std::string path) : path_(std::move(path)) {}

    // False while the block cannot be opened (looked at again next time).
    bool Open() { return IsOpen() || OpenNow(); }
    bool IsOpen() const { return open_.load(std::memory_order_acquire); }

    // Whatever the update string names now is taken as seen.
    void TakeCurrentAsSeen() { seen_ = block_.Sequence(); }
    // Nothing was written since the last look: one load, the common case.
    bool Unchanged() const
    {
        const uint32_t sequence = block_.Sequence();
        return block_.HasExtension() && sequence == seen_.load(std::memory_order_acquire);
    }
    // What the last write means for the program (exeName), under the
    // engine's reload lock: kBusy while a write is under way (look again
    // later), else its sequence, to be passed to Seen once it was acted on.
    enum class Update { kBusy, kNone, kDue };
    Update Look(std::string_view exeName, const std::function<uint32_t()>& ticks, uint32_t& sequence) const;
    void Seen(uint32_t sequence) { seen_.store(sequence, std::memory_order_release); }

    void AddTraffic(bool received, unsigned byteCount);
    // The update string, or nothing when the relay that wrote it has stopped.
    void CopyUpdateString(char* buffer, const std::function<uint32_t()>& ticks) const;
    void Acknowledge(pid_t pid);

    void LockForFork() { mutex_.lock(); }
    void UnlockAfterFork() { mutex_.unlock(); }

private:
    bool OpenNow();

    std::string path_;
    std::mutex mutex_;
    std::atomic<bool> open_ {false};
    protocol::SharedBlock block_;
    std::atomic<uint32_t> seen_ {0};
};

}  // namespace engine
