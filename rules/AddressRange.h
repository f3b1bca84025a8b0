#pragma once

#include <compare>
#include <cstdint>
#include <optional>
#include <string_view>

// Remote addresses as rules name them and as peers come: IPv4 and IPv6, one
// address, a range "first-last" or a prefix "address/length". One reading
// for the engine, the rule editor, the log views and the kernel backstop's
// compiler, so that none of them takes an item for something else.
namespace rules {

enum class AddressFamily : uint8_t { kIpv4 = 4, kIpv6 = 6 };

// An address as a number of 128 bits: an IPv6 address as it is, an IPv4
// address in the low 32 bits (its family says which).
struct Address128 {
    uint64_t high = 0;
    uint64_t low = 0;
    auto operator<=>(const Address128&) const = default;
};

struct PeerAddress {
    AddressFamily family = AddressFamily::kIpv4;
    Address128 value;
    bool operator==(const PeerAddress&) const = default;
};

// The addresses from first to last of one family, both ends included;
// first above last covers nothing (a range written backwards, as the
// panel's range that tells older readers not to permit covers nothing).
struct AddressRange {
    AddressFamily family = AddressFamily::kIpv4;
    Address128 first;
    Address128 last;
    bool operator==(const AddressRange&) const = default;

    bool Covers(const PeerAddress& peer) const
    {
        return peer.family == family && first <= peer.value && peer.value <= last;
    }
};

// A dotted IPv4 address as the engine has always read one: four decimal
// parts of 1 to 4 digits, a·2^24 + b·2^16 + c·2^8 + d (mod 2^32, so that a
// part above 255 carries into the next); nullopt for any other text.
std::optional<uint32_t> ParseIpv4(std::string_view text);

// One address, blanks around it aside: dotted IPv4 (as ParseIpv4 reads it)
// or IPv6 in any of its written forms; an IPv4 address mapped into IPv6
// ("::ffff:10.0.0.1") is that IPv4 address, as the hook gives it.
std::optional<PeerAddress> ParseAddress(std::string_view text);

// An IP item of a rule, blanks around it and its parts aside:
//   "a"       one address;
//   "a-b"     from a to b, both of one family (IPv4-mapped ends are IPv4);
//   "a/n"     the prefix of length n (0-32 for IPv4, 0-128 for IPv6) that
//             holds a, whatever a's bits past the prefix are; a mapped
//             address with n of 96 or more is the IPv4 prefix of n - 96.
// The address of a prefix is strict: IPv4 in four parts of 0 to 255. nullopt
// for anything else.
std::optional<AddressRange> ParseAddressRange(std::string_view text);

// Whether an item is an IPv4 address or an IPv4 range "a-b" as ParseIpv4
// reads them: the only forms engines that predate IPv6 and prefixes in rules
// read. Such an engine adds no entry for any other item of IPS.
bool IsIpv4Item(std::string_view text);

}  // namespace rules
