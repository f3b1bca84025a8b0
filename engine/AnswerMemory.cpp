#include "engine/AnswerMemory.h"

namespace engine {

int AnswerMemory::ForDirection(int direction) const
{
    return direction == kIncoming ? incoming_.load() : outgoing_.load();
}

void AnswerMemory::RememberForDirection(int direction, int remembered)
{
    (direction == kIncoming ? incoming_ : outgoing_) = remembered;
}

int AnswerMemory::ForHost(std::string_view hostName) const
{
    std::lock_guard lock(mutex_);
    const auto found = hosts_.find(hostName);
    return found == hosts_.end() ? 0 : found->second;
}

void AnswerMemory::RememberForHost(std::string_view hostName, int remembered)
{
    std::lock_guard lock(mutex_);
    if (hosts_.size() >= kMostHosts)
        hosts_.clear();
    hosts_.insert_or_assign(std::string(hostName), remembered);
}

int AnswerMemory::HeldLocked(int direction, int port, const std::optional<rules::PeerAddress>& peer,
                             const char* const* names, unsigned nameCount, int64_t now, int64_t* until) const
{
    const int held = untilQuit_.Match(direction, port, peer, names, nameCount, now, until);
    return held != kAsk ? held : sent_.Match(direction, port, peer, names, nameCount, now, until);
}

void AnswerMemory::Hold(HeldAnswer answer, bool untilQuit)
{
    std::lock_guard lock(mutex_);
    (untilQuit ? untilQuit_ : sent_).Add(std::move(answer));
}

void AnswerMemory::ForgetStored()
{
    incoming_ = 0;
    outgoing_ = 0;
    std::lock_guard lock(mutex_);
    hosts_.clear();
    sent_.Clear();
}

bool AnswerMemory::FirstListing(std::string_view peer)
{
    std::lock_guard lock(mutex_);
    return listed_.size() < kMostListed && listed_.emplace(peer).second;
}

}  // namespace engine
