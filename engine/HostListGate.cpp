#include "engine/HostListGate.h"

#include <cerrno>
#include <cstring>
#include <shared_mutex>
#include <sys/stat.h>

namespace engine {

void HostListGate::Refresh(bool force)
{
    const uint32_t now = tickCount_();
    if (!force && looked_.load(std::memory_order_acquire)
        && now - lookedAt_.load(std::memory_order_relaxed) < static_cast<uint32_t>(checkMs_))
        return;
    // One thread looks; the others decide by the view in use meanwhile.
    std::unique_lock refresh(refreshMutex_, std::try_to_lock);
    if (!refresh.owns_lock())
        return;
    lookedAt_.store(now, std::memory_order_relaxed);
    looked_.store(true, std::memory_order_release);
    const int keptErrno = errno; // inside the program's own call
    struct stat info {};
    Stamp stamp;
    if (::lstat(path_.c_str(), &info) == 0)
        stamp = {info.st_dev, info.st_ino, info.st_size, info.st_mtim.tv_sec, info.st_mtim.tv_nsec};
    errno = keptErrno;
    if (stamp == stamp_)
        return;
    stamp_ = stamp;
    // Checked and mapped outside the decisions' lock; the old view is unmapped
    // after the swap, when no decision can still be reading it.
    rules::HostListView fresh;
    if (stamp.inode != 0)
        fresh.Load(path_.c_str());
    {
        std::unique_lock swap(viewMutex_);
        view_.Swap(fresh);
        empty_.store(view_.Empty() || (view_.NameCount() == 0 && view_.Ipv4Count() == 0 && view_.Ipv6Count() == 0),
                     std::memory_order_release);
    }
}

bool HostListGate::Refuses(const Connection& connection, char (&title)[rules::kMaxHostListTitle + 1],
                           int& matchedName) const
{
    if (empty_.load(std::memory_order_acquire))
        return false;
    std::shared_lock read(viewMutex_);
    uint64_t bits = 0;
    matchedName = -1;
    for (unsigned i = 0; i < connection.nameCount && !connection.Incoming(); ++i) {
        const char* name = connection.names[i];
        if (name && (bits = view_.Name(name, std::strlen(name))) != 0) {
            matchedName = static_cast<int>(i);
            break;
        }
    }
    if (bits == 0 && connection.address)
        bits = connection.address->family == rules::AddressFamily::kIpv4
            ? view_.Ipv4(static_cast<uint32_t>(connection.address->value.low))
            : view_.Ipv6(connection.address->value.high, connection.address->value.low);
    if (bits == 0)
        return false;
    // The list of the lowest bit among those that refuse: the same one every time.
    const unsigned bit = static_cast<unsigned>(__builtin_ctzll(bits));
    title[0] = '\0';
    for (size_t i = 0; i < view_.ListCount(); ++i) {
        const rules::HostListFileList* list = view_.List(i);
        if (list && list->bit == bit) {
            const size_t length = std::min<size_t>(list->length, rules::kMaxHostListTitle);
            std::memcpy(title, list->title, length);
            title[length] = '\0';
            break;
        }
    }
    return true;
}

}  // namespace engine
