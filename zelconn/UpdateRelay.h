#pragma once

#include <cstdint>
#include <set>
#include <string>
#include <sys/types.h>
#include <vector>

namespace zelconn {

// Hands the control panel's list of changed programs to the running engines
// through the block's update string. A name stays in the string until every
// running engine it names has acknowledged or ended, however long that takes,
// and it carries the sequence of the write that published it, so that an
// engine idle for a long time still reloads once for the change, and an
// engine that has taken it never reloads for it again. When the string is
// full, the oldest names make room and the block's floor tells the engines
// that have not seen them to reload.
class UpdateRelay {
public:
    static constexpr size_t kStringLimit = 511;

    struct Carrier {
        pid_t pid;
        std::string exeName;
        bool alive;
    };

    // What the block's update string must hold.
    struct Update {
        std::string names;
        std::vector<uint32_t> wordSequences;
        uint32_t floor = 0;
    };

    // The panel's list as published now; ruleFileChanged: the rules were saved
    // since the last look, so every name on the list is due again. At the
    // first look every listed name is due: engines may have missed it.
    void Observe(const std::string& publishedList, bool ruleFileChanged);

    // Takes the acknowledgements (collected just before, so that they belong
    // to what was published so far) and the hosts into account and publishes
    // the names observed since. Returns true when the string must be written,
    // with what to write in update; nextSequence is the sequence that write
    // will have.
    bool Step(const std::vector<Carrier>& hosts, const std::vector<uint32_t>& acknowledged, uint32_t nextSequence,
              Update& update);

    // Every running engine is to read its rules again (a profile came into
    // or out of force): the next Step raises the floor past them all.
    void EveryoneDue() { everyoneDue_ = true; }

    bool Idle() const { return entries_.empty() && pending_.empty() && !everyoneDue_; }
    std::string Names() const;

private:
    struct Entry {
        std::string name;
        uint32_t sequence = 0;
        std::set<pid_t> waiting; // engines that have not acknowledged since
    };

    void Enqueue(const std::string& name);

    std::string lastList_;
    bool firstLook_ = true;
    std::vector<std::string> pending_;
    std::vector<Entry> entries_; // in string order, oldest first
    uint32_t floor_ = 0;
    bool everyoneDue_ = false;
};

std::vector<std::string> SplitNames(const std::string& list);

}  // namespace zelconn
