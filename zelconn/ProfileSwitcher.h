#pragma once

#include <atomic>
#include <chrono>
#include <string>
#include <thread>

namespace zelconn {

// Puts in force the profile of the network the computer is on (or the one
// chosen by hand), on a thread of its own: the kernel's route and neighbour
// notices and NetworkManager's tell of a change; the network is looked at
// again once they have been quiet for kSettle, and the profiles and the
// choice once a second. A switch writes the settings (protocol::profiles::
// Apply), is told in the day's error log, and makes Fd readable: the loop
// then has every engine read its rules again.
class ProfileSwitcher {
public:
    static constexpr std::chrono::milliseconds kSettle {150};
    // However busy the notices, the network is looked at within this.
    static constexpr std::chrono::milliseconds kMostDelay {600};
    static constexpr std::chrono::milliseconds kLookEvery {1000};

    ProfileSwitcher();
    ~ProfileSwitcher();
    ProfileSwitcher(const ProfileSwitcher&) = delete;
    ProfileSwitcher& operator=(const ProfileSwitcher&) = delete;

    // Readable after a switch, until TakeSwitch.
    int Fd() const { return switched_; }
    bool TakeSwitch();
    void Stop();

private:
    void Run();
    // Puts the profile due in force when it is not; true on a switch.
    bool Evaluate(const std::string& network);

    std::thread thread_;
    int wake_ = -1;     // eventfd: stop
    int switched_ = -1; // eventfd: a switch happened
    std::atomic<bool> stop_ {false};
    bool first_ = true;
    std::string inForce_; // the name and text of the profile put in force; empty: none
};

}  // namespace zelconn
