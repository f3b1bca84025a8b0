#pragma once

#include "engine/Connection.h"
#include "engine/RuleTable.h"
#include "os/ForkableSharedMutex.h"

#include <atomic>
#include <cstdint>
#include <ctime>
#include <functional>
#include <mutex>
#include <shared_mutex>
#include <string>

namespace engine {

// The rules in force for one program: the first load, a reload, and a file
// that could not be read whole read again once it changed. Decisions read
// the table under a shared lock; a load builds the new table outside it and
// swaps it in under the exclusive lock, so no decision ever sees a
// half-filled table and none waits for the parse.
class RulesHolder {
public:
    // verdictGeneration: begins anew with every load (after the swap: a
    // decision that sees the new generation sees the new table). now: the
    // engine's wall clock, for the ends of answers for a time.
    RulesHolder(std::atomic<uint32_t>& verdictGeneration, int retryMs, const std::function<std::time_t()>& now)
        : verdictGeneration_(verdictGeneration), retryMs_(retryMs), now_(now)
    {
    }

    // Guards loading and reloading; the engine's first use, which loads, too.
    std::mutex& ReloadLock() { return reloadMutex_; }

    // Under ReloadLock: reads the file at path into a new table (replace) or
    // the current one extended. A file that cannot be read whole leaves the
    // rules in force as they are (keepOnFailure), and is read again once it
    // has changed. profile: the profile in force, taken into the new table.
    void LoadLocked(const std::string& path, const ProgramIdentity& program, bool replace, bool keepOnFailure,
                    const protocol::profiles::Profile* profile = nullptr);
    // Whether the last reading failed and its retry time has come.
    bool RetryDue() const { return loadFailed_.load(std::memory_order_relaxed) && RetryTimeCame(); }
    // Under ReloadLock, when RetryDue: whether the file must be read again
    // (it changed since, it could not be read at all, or its path is not
    // known yet); if not, the next look is put off.
    bool MustReadAgain(bool pathKnown, const std::string& path);

    // f(const RuleTable&) under the shared lock.
    template <typename Read>
    auto Reading(Read&& read) const
    {
        std::shared_lock lock(tableMutex_);
        return read(table_);
    }
    // What the rules in force, then the user's answers for a time (their end
    // compared with the clock under the same lock), say of a connection
    // (kAsk: neither); byEntry: an entry decided, byAnswer: an answer did,
    // answerEnd its end; matchedName: the index of the name a host entry matched.
    int Match(const Connection& connection, int* matchedName, bool& byEntry, bool& byAnswer,
              int64_t& answerEnd) const;
    RuleTable Snapshot() const { return Reading([](const RuleTable& table) { return table; }); }
    int Loads() const { return reloads_.load(); }
    // Whether the table in force came with a profile: one load before
    // a record takes the table's lock for the profile's name.
    bool ProfileInForce() const { return profileInForce_.load(std::memory_order_acquire); }
    // Whether the program's own entry leaves the host lists out: read
    // without the table's lock by every decision.
    bool IgnoresLists() const { return ignoresLists_.load(std::memory_order_acquire); }

    void LockForFork() { reloadMutex_.lock(); }
    // In the child, readers of the parent's other threads may have held the table lock.
    void UnlockAfterFork(bool inChild)
    {
        if (inChild)
            tableMutex_.RenewInChild();
        reloadMutex_.unlock();
    }

private:
    bool RetryTimeCame() const;

    std::atomic<uint32_t>& verdictGeneration_;
    int retryMs_;
    const std::function<std::time_t()>& now_;
    std::mutex reloadMutex_;
    mutable os::ForkableSharedMutex tableMutex_;
    RuleTable table_;
    std::atomic<int> reloads_ {0};
    std::atomic<bool> profileInForce_ {false};
    std::atomic<bool> ignoresLists_ {false};
    // How the last reading went and which version of the file it read.
    LoadStatus loadStatus_ = LoadStatus::kMissing;
    FileStamp loadedStamp_;
    std::atomic<bool> loadFailed_ {false};
    std::atomic<long long> retryAt_ {0};
};

}  // namespace engine
