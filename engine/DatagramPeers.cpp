#include "engine/DatagramPeers.h"

#include <cstdio>

namespace engine {

namespace {

// "text:port" of a peer that is no address into buffer; false when it does not fit.
bool FormatTextKey(char* buffer, size_t size, const Connection& peer)
{
    const int n = std::snprintf(buffer, size, "%s:%d", peer.addressText, static_cast<int>(peer.remotePort));
    return n >= 0 && static_cast<size_t>(n) < size;
}

template <typename Map, typename Key>
void Permit(Map& map, const Key& key, uint32_t generation)
{
    const auto [peer, fresh] = map.try_emplace(key, generation);
    // A decision that began before a later one permitted the peer leaves it as that one did.
    if (!fresh && static_cast<int32_t>(generation - peer->second) > 0)
        peer->second = generation;
}

}  // namespace

DatagramPeers::Known DatagramPeers::Find(const Connection& peer, uint32_t generation) const
{
    if (peer.address) {
        std::lock_guard lock(mutex_);
        return Look(byAddress_, KeyOf(*peer.address, peer.remotePort), generation);
    }
    char key[128];
    if (!FormatTextKey(key, sizeof key, peer))
        return Known::kNone;
    std::lock_guard lock(mutex_);
    return Look(byText_, std::string_view(key), generation);
}

void DatagramPeers::Add(const Connection& peer, uint32_t generation)
{
    if (peer.address) {
        std::lock_guard lock(mutex_);
        Permit(byAddress_, KeyOf(*peer.address, peer.remotePort), generation);
        return;
    }
    char key[128];
    if (!FormatTextKey(key, sizeof key, peer))
        return;
    std::lock_guard lock(mutex_);
    Permit(byText_, std::string(key), generation);
}

void DatagramPeers::Forget(const Connection& peer)
{
    char key[128];
    if (!peer.address && !FormatTextKey(key, sizeof key, peer))
        return;
    std::lock_guard lock(mutex_);
    if (peer.address)
        byAddress_.erase(KeyOf(*peer.address, peer.remotePort));
    else if (const auto found = byText_.find(std::string_view(key)); found != byText_.end())
        byText_.erase(found);
}

DatagramPeers::Known DatagramPeers::Find(std::string_view key, uint32_t generation) const
{
    const size_t colon = key.rfind(':');
    if (colon == std::string_view::npos)
        return Known::kNone;
    unsigned port = 0;
    for (const char c : key.substr(colon + 1)) {
        if (c < '0' || c > '9' || port > 65535)
            return Known::kNone;
        port = port * 10 + static_cast<unsigned>(c - '0');
    }
    if (const auto address = rules::ParseAddress(key.substr(0, colon))) {
        std::lock_guard lock(mutex_);
        return Look(byAddress_, KeyOf(*address, port), generation);
    }
    std::lock_guard lock(mutex_);
    return Look(byText_, key, generation);
}

}  // namespace engine
