#pragma once

#include "zelconn/JournalSocket.h"
#include "zelconn/LogFollower.h"

#include <chrono>
#include <cstdint>
#include <ctime>
#include <string>

namespace zelconn {

// Hands every record of the day's traffic log to the systemd journal, as
// structured fields (JournalEntry), while the option "JournalRecords" is on.
// The engines write the daily file as ever; this follows it from outside
// the programs, so it costs them nothing, and the file stays the record of
// truth. Nothing is lost while the journal is slow or away (the file is
// read on from where it was), nothing is sent twice, and what the file held
// before the option was switched on is not sent.
class JournalForwarder {
public:
    explicit JournalForwarder(std::string socketPath = JournalSocket::DefaultPath()) : socket_(std::move(socketPath)) {}

    // On: follows the log folder's daily files from now on (a new folder
    // too); off: stops.
    void Configure(bool on, const std::string& logFolder, std::time_t now);
    bool On() const { return follower_.Following(); }

    // Sends what the log gained, at most a turn's worth (kTurnRecords);
    // true when more is waiting to be sent at once.
    bool Forward(std::time_t now);

    // To wait on: readable when a daily file was made or replaced; writable
    // when the journal can take more after it was full (else -1).
    int WatchFd() const { return follower_.Fd(); }
    int BlockedFd() const { return pendingState_ == JournalSocket::Sent::kBusy ? socket_.Fd() : -1; }

    struct Counts {
        uint64_t sent = 0;
        uint64_t notRecords = 0; // lines that are not records (a cut-off line, a foreign one)
        uint64_t refused = 0;    // entries the journal would never take
    };
    const Counts& Totals() const { return counts_; }

    static constexpr int kTurnRecords = 2000;
    // While on, Forward is called at least this often: the log's growth is
    // looked at on a timer, so that the programs writing it pay nothing.
    static constexpr std::chrono::milliseconds kLookEvery {100};
    // A journal that is away is looked for again after this long.
    static constexpr std::chrono::seconds kAbsentRetry {1};

private:
    // Sends the pending entry; false when it has to wait.
    bool SendPending(std::chrono::steady_clock::time_point now);

    LogFollower follower_;
    JournalSocket socket_;
    std::string pending_; // formatted, not yet taken by the journal
    bool hasPending_ = false;
    JournalSocket::Sent pendingState_ = JournalSocket::Sent::kSent;
    std::chrono::steady_clock::time_point retryAt_ {};
    Counts counts_;
};

}  // namespace zelconn
