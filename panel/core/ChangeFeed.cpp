#include "panel/core/ChangeFeed.h"

#include <algorithm>

namespace panel {

struct ChangeFeed::Subscription::Listeners {
    uint64_t next = 1;
    std::vector<std::pair<uint64_t, Listener>> all;
};

ChangeFeed::Subscription& ChangeFeed::Subscription::operator=(Subscription&& other) noexcept
{
    if (this != &other) {
        Cancel();
        listeners_ = std::move(other.listeners_);
        id_ = std::exchange(other.id_, 0);
    }
    return *this;
}

void ChangeFeed::Subscription::Cancel()
{
    if (const std::shared_ptr<Listeners> listeners = listeners_.lock())
        std::erase_if(listeners->all, [this](const auto& entry) { return entry.first == id_; });
    listeners_.reset();
    id_ = 0;
}

ChangeFeed::ChangeFeed() : listeners_(std::make_shared<Subscription::Listeners>()) {}

ChangeFeed::Subscription ChangeFeed::Subscribe(Listener listener)
{
    Subscription subscription;
    subscription.listeners_ = listeners_;
    subscription.id_ = listeners_->next++;
    listeners_->all.emplace_back(subscription.id_, std::move(listener));
    return subscription;
}

void ChangeFeed::Announce(const Change& change) const
{
    // A listener may subscribe or cancel while it hears: those heard are the
    // ones subscribed when the change was announced, and still subscribed.
    std::vector<uint64_t> ids;
    for (const auto& entry : listeners_->all)
        ids.push_back(entry.first);
    for (const uint64_t id : ids) {
        const auto found = std::find_if(listeners_->all.begin(), listeners_->all.end(),
                                        [id](const auto& entry) { return entry.first == id; });
        if (found != listeners_->all.end()) {
            const Listener listener = found->second; // a copy: the list may change while it runs
            listener(change);
        }
    }
}

}  // namespace panel
