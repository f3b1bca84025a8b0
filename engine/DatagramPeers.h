#pragma once

#include "engine/Connection.h"

#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <string_view>
#include <tuple>

namespace engine {

// The datagram peers this process was permitted to send to, each with the
// verdict generation it was last permitted in: their answers may come in
// whatever the rules say, while that generation lasts. A peer is its parsed
// address and port, as the rules see it; a peer that is no address, its text
// and port.
class DatagramPeers {
public:
    enum class Known { kNone, kFormer, kCurrent };
    // Whether the connection's peer was permitted in generation, or only in an earlier one.
    Known Find(const Connection& peer, uint32_t generation) const;
    // Permitted by a decision that began in generation (a later generation's permission is kept).
    void Add(const Connection& peer, uint32_t generation);
    void Forget(const Connection& peer);
    // The same as Find for "address:port" (tests and the hook's own checks).
    Known Find(std::string_view key, uint32_t generation) const;

    void LockForFork() { mutex_.lock(); }
    void UnlockAfterFork() { mutex_.unlock(); }

private:
    struct AddressKey {
        uint8_t family;
        uint64_t high;
        uint64_t low;
        unsigned port;
        auto operator<=>(const AddressKey&) const = default;
    };
    static AddressKey KeyOf(const rules::PeerAddress& address, unsigned port)
    {
        return {static_cast<uint8_t>(address.family), address.value.high, address.value.low, port};
    }
    template <typename Map, typename Key>
    static Known Look(const Map& map, const Key& key, uint32_t generation)
    {
        const auto found = map.find(key);
        return found == map.end() ? Known::kNone : found->second == generation ? Known::kCurrent : Known::kFormer;
    }

    mutable std::mutex mutex_;
    std::map<AddressKey, uint32_t> byAddress_;
    std::map<std::string, uint32_t, std::less<>> byText_; // "text:port"
};

}  // namespace engine
