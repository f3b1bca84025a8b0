#pragma once

#include "engine/HeldAnswers.h"
#include "engine/RuleTable.h"

#include <atomic>
#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <string_view>

namespace engine {

// The user's answers that outlive one question, as this process holds them:
// for all of a direction's traffic, for one host, until the program quits,
// and those sent to the control panel to store, held until the rules it
// writes for them are loaded (a timed one answers nothing past its end).
// Remembered values: 1 Allow, 2 Block, 0 none.
class AnswerMemory {
public:
    int ForDirection(int direction) const;
    void RememberForDirection(int direction, int remembered);
    // An outgoing answer applied to one host (normalised name).
    int ForHost(std::string_view hostName) const;
    void RememberForHost(std::string_view hostName, int remembered);

    // What the held answers say to a question (kAsk: none); until (when
    // given) gets the deciding answer's end (0: none). now() is read only
    // when some answer is held.
    template <typename Clock>
    int Held(int direction, unsigned port, const std::optional<rules::PeerAddress>& peer, const char* const* names,
             unsigned nameCount, Clock&& now, int64_t* until = nullptr) const
    {
        std::lock_guard lock(mutex_);
        return untilQuit_.Empty() && sent_.Empty()
            ? kAsk
            : HeldLocked(direction, static_cast<int>(port), peer, names, nameCount, now(), until);
    }
    // untilQuit: kept for the process's life; else held until a reload.
    void Hold(HeldAnswer answer, bool untilQuit);

    // The rules were loaded again: they hold what the panel stored.
    void ForgetStored();

    // Whether a peer (direction, protocol, port and peer as one text) is
    // listed for review for the first time by this process: a busy program
    // lists each once. Past kMostListed nothing more is listed.
    bool FirstListing(std::string_view peer);

    void LockForFork() { mutex_.lock(); }
    void UnlockAfterFork() { mutex_.unlock(); }

private:
    int HeldLocked(int direction, int port, const std::optional<rules::PeerAddress>& peer, const char* const* names,
                   unsigned nameCount, int64_t now, int64_t* until) const;

    std::atomic<int> incoming_ {0};
    std::atomic<int> outgoing_ {0};
    mutable std::mutex mutex_;
    // Bounded, as a program may meet many hosts.
    std::map<std::string, int, std::less<>> hosts_;
    static constexpr size_t kMostHosts = 256;
    HeldAnswers untilQuit_;
    HeldAnswers sent_;
    std::set<std::string, std::less<>> listed_;
    static constexpr size_t kMostListed = 256;
};

}  // namespace engine
