#include "engine/SharedBlockLink.h"

namespace engine {

bool SharedBlockLink::OpenNow()
{
    std::lock_guard lock(mutex_);
    if (!block_) {
        block_ = protocol::SharedBlock::Open(path_);
        if (!block_)
            return false;
        open_.store(true, std::memory_order_release);
    }
    return true;
}

SharedBlockLink::Update SharedBlockLink::Look(std::string_view exeName, const std::function<uint32_t()>& ticks,
                                              uint32_t& sequence) const
{
    protocol::SharedBlock::UpdateView view;
    if (!block_.ReadUpdate(view))
        return Update::kBusy; // a write is under way: the next decision looks again
    if (view.extended && view.sequence == seen_.load(std::memory_order_relaxed))
        return Update::kBusy; // another thread took this write meanwhile
    sequence = view.sequence;
    return protocol::SharedBlock::IsDue(view, exeName, seen_.load(), ticks()) ? Update::kDue : Update::kNone;
}

void SharedBlockLink::AddTraffic(bool received, unsigned byteCount)
{
    if (IsOpen())
        block_.AddTraffic(received, byteCount);
}

void SharedBlockLink::CopyUpdateString(char* buffer, const std::function<uint32_t()>& ticks) const
{
    if (!buffer || !IsOpen())
        return;
    protocol::SharedBlock::UpdateView view;
    // A string left behind by an interceptor that ended names nothing any more.
    if (block_.ReadUpdate(view) && protocol::SharedBlock::RelayStopped(view, ticks()))
        buffer[0] = '\0';
    else
        block_.CopyUpdateString(buffer);
}

void SharedBlockLink::Acknowledge(pid_t pid)
{
    if (IsOpen())
        block_.PostAcknowledgement(static_cast<uint32_t>(pid));
}

}  // namespace engine
