#pragma once

#include "backstop/PinnedRules.h"
#include "backstop/UserSettings.h"

#include <chrono>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace backstop {

// Keeps a backstop's compiled rules and Block All as the user's settings
// say: reads and compiles them (as the user, see UserSettings) when the
// kernel tells of a change in the settings key's folder or the rules file's
// folder (the panel replaces both by rename), or in the folder of a file an
// entry is bound to (its identity or contents changed), and every few
// seconds in case it could not tell. A rules file that cannot be read, does not parse or is
// over a bound leaves the rules in force (one read but refused is not read
// again until it changes); one that is gone leaves every program asked, as
// the engine does. What it does is said on standard output, the service's
// journal, once per change.
class RulesFollower {
public:
    // After a change is seen, the settings are read this much later, so that
    // a write of several steps is read once.
    static constexpr std::chrono::milliseconds kSettle {10};
    // Read this often whatever the kernel tells...
    static constexpr std::chrono::seconds kLookEvery {2};
    // ...and at most this often, however busy the folders are.
    static constexpr std::chrono::milliseconds kLookAtMost {50};

    // lockFolder: the folder whose lock keeps writers of the maps apart;
    // empty when the caller holds it.
    RulesFollower(std::string pinFolder, UserSettings settings, std::string lockFolder);
    ~RulesFollower();
    RulesFollower(const RulesFollower&) = delete;
    RulesFollower& operator=(const RulesFollower&) = delete;

    // Reads the settings now and puts what changed into the kernel; false
    // (error says why) when they could not be read or put.
    bool Refresh(std::string& error);
    // What to wait on (-1: nothing), and when Step is due at the latest.
    int Fd() const { return notify_; }
    std::chrono::steady_clock::time_point Due() const { return due_; }
    // After the wait: takes what the kernel told, and refreshes when due.
    void Step(std::chrono::steady_clock::time_point now);

private:
    void Watch(const std::string& keyFolder, const std::string& rulesFolder);
    // What no rules file means: every program asked, as the engine does; for
    // the services, the shipped "permit and record".
    CompiledRules NoFile() const;
    // Says text once: again only after something else was said on topic.
    void Say(const std::string& topic, const std::string& text);

    PinnedRules rules_;
    UserSettings settings_;
    std::string lockFolder_;
    int notify_ = -1;
    std::map<std::string, int> watches_; // folder → watch
    std::vector<std::string> boundFolders_; // of the files bound entries name: a change there compiles again
    std::chrono::steady_clock::time_point due_ {};
    std::chrono::steady_clock::time_point lookedAt_ {};

    // What is in force, as far as this follower put it.
    bool blockAllKnown_ = false;
    bool blockAll_ = false;
    enum class Source { kNone, kNoFile, kFile } source_ = Source::kNone;
    std::string path_;
    UserSettings::Stamp stamp_;
    uint64_t textHash_ = 0;
    std::vector<CompiledRules::Bound> bound_; // the bound files in force: a change of them is written though the text is the same
    bool unsettled_ = false; // the rules in force doubt a bound file that had just changed: compiled settled, they are written
    std::optional<std::chrono::steady_clock::time_point> recheckAt_;
    std::map<std::string, std::string> said_;
};

}  // namespace backstop
