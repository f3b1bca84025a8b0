#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>

namespace logstore {
class Database;
}

namespace zelconn {

// Keeps the log index (logstore::LogIndex, the user's database) up to date
// with the day files of the log folder: new lines as the engines append
// them, a day's rows dropped when its file goes, everything read again when
// the database is missing or made anew. The index's one writer.
//
// The work runs on a thread of its own at a lower priority, in bounded
// passes at most a few times a second: reading a busy day or dropping a day
// of a million rows takes seconds, which zelconn's loop (the relay's beat,
// the panel's traffic) must never wait for.
class IndexFeeder {
public:
    // Lines read per pass; between passes the feeder looks for news and
    // whether it is to stop.
    static constexpr std::int64_t kPassLines = 20000;
    // The least time from a pass to the next while the files only grow:
    // the engines' writes come in one by one and are read in batches.
    static constexpr std::chrono::milliseconds kPassGap {250};

    IndexFeeder() = default;
    ~IndexFeeder();
    IndexFeeder(const IndexFeeder&) = delete;
    IndexFeeder& operator=(const IndexFeeder&) = delete;

    // Follows the log folder (empty: none; the feeder then rests). Cheap
    // when the folder is the one followed: the loop calls it every second.
    void Follow(const std::string& folder);
    // Ends the thread; a pass under way is cut short (its transaction rolls
    // back, nothing half-written).
    void Stop();

    // Until a pass that began after the call has read everything there was
    // (or the time is up): for tests and for a caller that needs the index
    // current. false when the time was up.
    bool WaitCaughtUp(std::chrono::milliseconds limit);
    // The last failure, in one line; empty when the last pass went well.
    std::string LastError() const;

private:
    void Run();
    void Wake();

    std::thread thread_;
    int wake_ = -1; // an eventfd: the folder changed, a wait began, or stop
    std::atomic<bool> stop_ {false};
    mutable std::mutex mutex_;
    std::condition_variable caughtUp_;
    std::string folder_;
    std::uint64_t asked_ = 0; // waits begun
    std::uint64_t done_ = 0;  // waits answered: a whole pass began after them
    std::string error_;
    logstore::Database* writing_ = nullptr; // the thread's connection, to interrupt a long pass
};

}  // namespace zelconn
