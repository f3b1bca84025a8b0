#pragma once

#include "zelconn/UpdateRelay.h"

#include <chrono>
#include <map>
#include <string>
#include <sys/types.h>
#include <vector>

namespace zelconn {

// The running hosts, kept up to date by the kernel's notices on the
// registry folder rather than by reading it over and over: a registration
// made, rewritten or removed, and a carrier's end (its registration's last
// descriptor closes, and with it the lock) each name the one file to look
// at again. A full reading stays as a safety net, at long intervals and
// whenever the kernel dropped notices.
class CarrierTracker {
public:
    CarrierTracker();
    ~CarrierTracker();
    CarrierTracker(const CarrierTracker&) = delete;
    CarrierTracker& operator=(const CarrierTracker&) = delete;

    // The descriptor to wait on (readable when something changed); -1
    // without notices, and then Refresh reads the folder each time.
    int Fd() const { return fd_; }

    // Takes the waiting notices into account (or reads the whole folder when
    // due or when notices were lost). True when the hosts changed.
    bool Refresh(std::chrono::steady_clock::time_point now);
    // Also watches a folder (the control panel's window, the rules file's);
    // a notice there is told by TakeWatchedChange.
    void WatchFolder(const std::string& folder);
    bool TakeWatchedChange();

    const std::vector<UpdateRelay::Carrier>& Hosts() const { return list_; }
    // Hosts that ended since the last call, to report and forget.
    std::vector<pid_t> TakeEnded();

    static constexpr std::chrono::seconds kFullReading {10};

private:
    bool WatchCarriers();
    void ReadAll();
    void Look(pid_t pid, bool mayHaveEnded);
    void Rebuild();

    int fd_ = -1;
    int hostsWatch_ = -1;
    std::string folder_;
    std::map<int, std::string> watchedFolders_; // watch descriptor -> folder
    bool watchedChanged_ = false;
    std::map<pid_t, UpdateRelay::Carrier> hosts_;
    std::vector<UpdateRelay::Carrier> list_;
    std::vector<pid_t> ended_;
    std::chrono::steady_clock::time_point nextFullReading_ {};
};

}  // namespace zelconn
