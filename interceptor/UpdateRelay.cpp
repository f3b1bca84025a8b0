#include "UpdateRelay.h"

#include <algorithm>
#include <cstring>

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
    if (std::find(queue_.begin(), queue_.end(), name) == queue_.end())
        queue_.push_back(name);
}

void UpdateRelay::Observe(const std::string& publishedList, bool ruleFileChanged)
{
    if (firstLook_) {
        // What was listed before we looked was taken by engines loading since.
        firstLook_ = false;
        lastList_ = publishedList;
        return;
    }
    const std::vector<std::string> now = SplitNames(publishedList);
    if (ruleFileChanged) {
        for (const auto& name : now)
            Enqueue(name);
    } else if (publishedList != lastList_) {
        const std::vector<std::string> before = SplitNames(lastList_);
        for (const auto& name : now)
            if (std::find(before.begin(), before.end(), name) == before.end())
                Enqueue(name);
    }
    lastList_ = publishedList;
}

std::string UpdateRelay::Step(const std::vector<Host>& hosts, const std::vector<uint32_t>& acknowledged,
                              Clock::time_point now)
{
    if (!current_.empty()) {
        for (uint32_t pid : acknowledged)
            waitingFor_.erase(static_cast<pid_t>(pid));
        for (const Host& host : hosts)
            if (!host.alive)
                waitingFor_.erase(host.pid);
        if (waitingFor_.empty() || now - turnStart_ >= patience_) {
            current_.clear();
            waitingFor_.clear();
        }
    }
    while (current_.empty() && !queue_.empty()) {
        // As many whole names as the string holds.
        std::string next;
        size_t taken = 0;
        while (taken < queue_.size() && next.size() + 1 + queue_[taken].size() <= kStringLimit)
            next += " " + queue_[taken++];
        queue_.erase(queue_.begin(), queue_.begin() + static_cast<long>(taken));
        // The engines that will reload: those whose name the string contains.
        for (const Host& host : hosts)
            if (host.alive && !host.exeName.empty() && std::strstr(next.c_str(), host.exeName.c_str()))
                waitingFor_.insert(host.pid);
        if (!waitingFor_.empty()) {
            current_ = next;
            turnStart_ = now;
        }
    }
    return current_;
}
