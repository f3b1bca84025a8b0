#pragma once

#include "engine/Connection.h"
#include "os/ForkableSharedMutex.h"
#include "rules/hooksafe/HostListView.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <sys/types.h>
#include <ctime>

namespace engine {

// The user's subscribed host lists as one program applies them: the
// compiled file mapped once and looked at again, at most every checkMs, for
// a newer one (the file is only ever replaced by a rename, so the mapping in
// use stays whole). Decisions read the view under a shared lock; a new file
// is checked outside it and swapped in under the exclusive one. A list only
// ever refuses: a file that is missing, damaged or not the user's own lists
// nothing, and the rules decide as they would without lists.
class HostListGate {
public:
    HostListGate(std::string path, int checkMs, const std::function<uint32_t()>& tickCount)
        : path_(std::move(path)), checkMs_(checkMs), tickCount_(tickCount)
    {
    }

    // Reads the file again when it was replaced since the last look, no
    // more often than checkMs; force: whatever the time (a rules reload).
    void Refresh(bool force);
    // Whether a list refuses the connection: its peer's names (outgoing) or
    // its address. title gets the first such list's name; matchedName the
    // index of the name it listed (-1: the address).
    bool Refuses(const Connection& connection, char (&title)[rules::kMaxHostListTitle + 1], int& matchedName) const;

    void LockForFork() { refreshMutex_.lock(); }
    void UnlockAfterFork(bool inChild)
    {
        if (inChild)
            viewMutex_.RenewInChild();
        refreshMutex_.unlock();
    }

private:
    struct Stamp {
        dev_t device = 0;
        ino_t inode = 0;
        off_t size = 0;
        std::time_t modified = 0;
        long modifiedNs = 0;
        bool operator==(const Stamp&) const = default;
    };

    std::string path_;
    int checkMs_;
    const std::function<uint32_t()>& tickCount_;
    std::mutex refreshMutex_;
    std::atomic<bool> looked_ {false};
    std::atomic<uint32_t> lookedAt_ {0};
    Stamp stamp_;
    mutable os::ForkableSharedMutex viewMutex_;
    rules::HostListView view_;
    std::atomic<bool> empty_ {true};
};

}  // namespace engine
