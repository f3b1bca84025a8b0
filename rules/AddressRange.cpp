#include "rules/AddressRange.h"

#include "text/Strings.h"

#include <arpa/inet.h>
#include <cstring>

namespace rules {

namespace {

constexpr uint64_t kAllBits = ~0ull;

// An IPv4 address in four decimal parts of 1 to 3 digits, each up to 255.
std::optional<uint32_t> ParseStrictIpv4(std::string_view text)
{
    uint32_t value = 0;
    size_t i = 0;
    for (int part = 0; part < 4; ++part) {
        if (part > 0) {
            if (i >= text.size() || text[i] != '.')
                return std::nullopt;
            ++i;
        }
        uint32_t number = 0;
        size_t digits = 0;
        for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
            if (++digits > 3)
                return std::nullopt;
            number = number * 10 + static_cast<uint32_t>(text[i] - '0');
        }
        if (digits == 0 || number > 255)
            return std::nullopt;
        value = (value << 8) | number;
    }
    if (i != text.size())
        return std::nullopt;
    return value;
}

// An IPv6 address as the C library reads one (no zone, no blanks).
std::optional<Address128> ParseIpv6(std::string_view text)
{
    char copy[INET6_ADDRSTRLEN + 1];
    if (text.empty() || text.size() >= sizeof copy || text.find('\0') != std::string_view::npos)
        return std::nullopt;
    std::memcpy(copy, text.data(), text.size());
    copy[text.size()] = '\0';
    unsigned char bytes[16];
    if (::inet_pton(AF_INET6, copy, bytes) != 1)
        return std::nullopt;
    Address128 value;
    for (int i = 0; i < 8; ++i) {
        value.high = (value.high << 8) | bytes[i];
        value.low = (value.low << 8) | bytes[8 + i];
    }
    return value;
}

// ::ffff:0:0/96 holds the IPv4 addresses mapped into IPv6.
bool IsMapped(const Address128& value) { return value.high == 0 && (value.low >> 32) == 0xffff; }

PeerAddress Ipv4(uint32_t value) { return {AddressFamily::kIpv4, {0, value}}; }

// The digits of a prefix length up to max.
std::optional<unsigned> ParseLength(std::string_view text, unsigned max)
{
    if (text.empty() || text.size() > 3 || text.find_first_not_of("0123456789") != std::string_view::npos)
        return std::nullopt;
    const auto value = static_cast<unsigned>(text::ParseDecimal(text));
    if (value > max)
        return std::nullopt;
    return value;
}

AddressRange Ipv4Prefix(uint32_t address, unsigned length)
{
    const uint32_t mask = length == 0 ? 0 : ~0u << (32 - length);
    return {AddressFamily::kIpv4, {0, address & mask}, {0, (address & mask) | ~mask}};
}

std::optional<AddressRange> ParsePrefix(std::string_view address, std::string_view lengthText)
{
    if (const auto ipv4 = ParseStrictIpv4(address)) {
        const auto length = ParseLength(lengthText, 32);
        return length ? std::optional(Ipv4Prefix(*ipv4, *length)) : std::nullopt;
    }
    const auto ipv6 = ParseIpv6(address);
    const auto length = ParseLength(lengthText, 128);
    if (!ipv6 || !length)
        return std::nullopt;
    if (IsMapped(*ipv6) && *length >= 96)
        return Ipv4Prefix(static_cast<uint32_t>(ipv6->low), *length - 96);
    const uint64_t highMask = *length == 0 ? 0 : *length >= 64 ? kAllBits : kAllBits << (64 - *length);
    const uint64_t lowMask = *length <= 64 ? 0 : kAllBits << (128 - *length);
    const Address128 first {ipv6->high & highMask, ipv6->low & lowMask};
    return AddressRange {AddressFamily::kIpv6, first, {first.high | ~highMask, first.low | ~lowMask}};
}

}  // namespace

std::optional<uint32_t> ParseIpv4(std::string_view text)
{
    uint32_t value = 0;
    int parts = 0;
    size_t i = 0;
    while (parts < 4) {
        uint32_t part = 0;
        size_t digits = 0;
        while (i < text.size() && text[i] >= '0' && text[i] <= '9') {
            if (++digits > 4)
                return std::nullopt;
            part = part * 10 + static_cast<uint32_t>(text[i] - '0');
            ++i;
        }
        if (digits == 0)
            return std::nullopt;
        value = (value << 8) + part; // a part above 255 carries into the next, mod 2^32
        ++parts;
        if (parts < 4) {
            if (i >= text.size() || text[i] != '.')
                return std::nullopt;
            ++i;
        }
    }
    if (i != text.size())
        return std::nullopt;
    return value;
}

std::optional<PeerAddress> ParseAddress(std::string_view text)
{
    text = text::TrimBlanks(text);
    if (const auto ipv4 = ParseIpv4(text))
        return Ipv4(*ipv4);
    const auto ipv6 = ParseIpv6(text);
    if (!ipv6)
        return std::nullopt;
    if (IsMapped(*ipv6))
        return Ipv4(static_cast<uint32_t>(ipv6->low));
    return PeerAddress {AddressFamily::kIpv6, *ipv6};
}

std::optional<AddressRange> ParseAddressRange(std::string_view text)
{
    text = text::TrimBlanks(text);
    if (const size_t slash = text.find('/'); slash != std::string_view::npos)
        return ParsePrefix(text::TrimBlanks(text.substr(0, slash)), text::TrimBlanks(text.substr(slash + 1)));
    const size_t dash = text.find('-');
    const auto first = ParseAddress(text.substr(0, dash));
    const auto last = dash == std::string_view::npos ? first : ParseAddress(text.substr(dash + 1));
    if (!first || !last || first->family != last->family)
        return std::nullopt;
    return AddressRange {first->family, first->value, last->value};
}

bool IsIpv4Item(std::string_view text)
{
    const size_t dash = text.find('-');
    return ParseIpv4(text::TrimBlanks(text.substr(0, dash)))
        && (dash == std::string_view::npos || ParseIpv4(text::TrimBlanks(text.substr(dash + 1))));
}

}  // namespace rules
