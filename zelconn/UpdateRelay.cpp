#include "zelconn/UpdateRelay.h"

#include "protocol/SharedBlock.h"

#include <algorithm>

namespace zelconn {

std::vector<std::string> SplitNames(const std::string& list)
{
    std::vector<std::string> names;
    size_t start = 0;
    while (start < list.size()) {
        const size_t end = std::min(list.find(' ', start), list.size());
        if (end > start)
            names.push_back(list.substr(start, end - start));
        start = end + 1;
    }
    return names;
}

void UpdateRelay::Enqueue(const std::string& name)
{
    if (name.empty() || name.size() + 1 > kStringLimit)
        return;
    if (std::find(pending_.begin(), pending_.end(), name) == pending_.end())
        pending_.push_back(name);
}

void UpdateRelay::Observe(const std::string& publishedList, bool ruleFileChanged)
{
    const std::vector<std::string> now = SplitNames(publishedList);
    if (firstLook_ || ruleFileChanged) {
        for (const auto& name : now)
            Enqueue(name);
    } else if (publishedList != lastList_) {
        const std::vector<std::string> before = SplitNames(lastList_);
        for (const auto& name : now)
            if (std::find(before.begin(), before.end(), name) == before.end())
                Enqueue(name);
    }
    firstLook_ = false;
    lastList_ = publishedList;
}

std::string UpdateRelay::Names() const
{
    std::string names;
    for (const Entry& entry : entries_)
        names += " " + entry.name;
    return names;
}

bool UpdateRelay::Step(const std::vector<Carrier>& hosts, const std::vector<uint32_t>& acknowledged, uint32_t nextSequence,
                       Update& update)
{
    bool changed = everyoneDue_;
    if (everyoneDue_) {
        // The floor past every engine's last look: each reads its rules again.
        floor_ = nextSequence;
        everyoneDue_ = false;
    }
    for (Entry& entry : entries_) {
        for (uint32_t pid : acknowledged)
            entry.waiting.erase(static_cast<pid_t>(pid));
        for (const Carrier& host : hosts)
            if (!host.alive)
                entry.waiting.erase(host.pid);
    }
    const auto taken = std::remove_if(entries_.begin(), entries_.end(), [](const Entry& e) { return e.waiting.empty(); });
    if (taken != entries_.end()) {
        entries_.erase(taken, entries_.end());
        changed = true;
    }

    if (!pending_.empty()) {
        // A name published again is a new change: it moves to the end.
        for (const std::string& name : pending_) {
            entries_.erase(std::remove_if(entries_.begin(), entries_.end(), [&](const Entry& e) { return e.name == name; }),
                           entries_.end());
            entries_.push_back({name, nextSequence, {}});
        }
        pending_.clear();
        // Room for the newest: the oldest names go, and the floor tells the
        // engines that had not taken them to reload.
        while (Names().size() > kStringLimit) {
            if (protocol::SequenceAfter(entries_.front().sequence, floor_))
                floor_ = entries_.front().sequence;
            entries_.erase(entries_.begin());
        }
        // The engines that will reload for the new names: those whose name the
        // string contains there. A name without any is nobody's business.
        const std::string names = Names();
        for (size_t word = 0; word < entries_.size(); ++word) {
            Entry& entry = entries_[word];
            if (entry.sequence != nextSequence)
                continue;
            for (const Carrier& host : hosts)
                if (host.alive && protocol::SharedBlock::NamesWord(names, host.exeName, word))
                    entry.waiting.insert(host.pid);
        }
        entries_.erase(std::remove_if(entries_.begin(), entries_.end(), [](const Entry& e) { return e.waiting.empty(); }),
                       entries_.end());
        changed = true;
    }
    if (!changed)
        return false;
    update.names = Names();
    update.wordSequences.clear();
    for (const Entry& entry : entries_)
        update.wordSequences.push_back(entry.sequence);
    update.floor = floor_;
    return true;
}

}  // namespace zelconn
