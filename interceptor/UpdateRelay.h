#pragma once

#include <chrono>
#include <cstdint>
#include <set>
#include <string>
#include <sys/types.h>
#include <vector>

// Hands the control panel's list of changed programs to the running engines
// through the block's update string, so that every engine of a named program
// reloads once per change: a name stays in the string only until each running
// engine it names has acknowledged, or has ended. Lists longer than the
// string holds go out in turns; nothing is dropped.
class UpdateRelay {
public:
    using Clock = std::chrono::steady_clock;
    static constexpr size_t kStringLimit = 511;

    struct Host {
        pid_t pid;
        std::string exeName;
        bool alive;
    };

    explicit UpdateRelay(std::chrono::milliseconds patience = std::chrono::seconds(10)) : patience_(patience) {}

    // The panel's list as published now; ruleFileChanged: the rules were saved
    // since the last look, so every name on the list is due again.
    void Observe(const std::string& publishedList, bool ruleFileChanged);
    // Runs the turns; returns the update string the block must hold now.
    std::string Step(const std::vector<Host>& hosts, const std::vector<uint32_t>& acknowledged, Clock::time_point now);

    bool Idle() const { return current_.empty() && queue_.empty(); }
    const std::vector<std::string>& Queue() const { return queue_; }

private:
    void Enqueue(const std::string& name);

    std::chrono::milliseconds patience_;
    std::string lastList_;
    bool firstLook_ = true;
    std::vector<std::string> queue_;
    std::string current_;        // the string published for the current turn
    std::set<pid_t> waitingFor_; // engines that have not reloaded yet
    Clock::time_point turnStart_ {};
};

std::vector<std::string> SplitNames(const std::string& list);
