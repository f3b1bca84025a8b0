// Any text as an address or an IP item of a rule: only the given bytes are
// read, whatever is accepted has the documented form, and the forms older
// engines read keep the meaning they had there.
#include "engine/RuleTable.h"
#include "rules/AddressRange.h"
#include "text/Strings.h"

#include <arpa/inet.h>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>

namespace {

__extension__ typedef unsigned __int128 Wide;

Wide WideOf(const rules::Address128& value) { return (static_cast<Wide>(value.high) << 64) | value.low; }

void Check(bool holds)
{
    if (!holds)
        __builtin_trap();
}

void CheckIpv4(std::string_view text)
{
    const auto value = engine::ParseIpv4(text);
    if (!value)
        return;
    int dots = 0;
    for (char c : text) {
        if (c == '.')
            ++dots;
        else
            Check(c >= '0' && c <= '9');
    }
    Check(dots == 3 && text.size() <= 19);
    // The same address as an item, and as a peer.
    const auto range = rules::ParseAddressRange(text);
    Check(range && range->family == rules::AddressFamily::kIpv4 && range->first == range->last
          && range->first.low == *value && range->first.high == 0);
    Check(rules::IsIpv4Item(text));
}

void CheckItem(std::string_view text)
{
    const auto range = rules::ParseAddressRange(text);
    // What older engines read means here what it meant there: first and
    // last as ParseIpv4 reads them on either side of the first '-'.
    if (rules::IsIpv4Item(text)) {
        Check(range.has_value() && range->family == rules::AddressFamily::kIpv4);
        const size_t dash = text.find('-');
        const auto first = rules::ParseIpv4(text::TrimBlanks(text.substr(0, dash)));
        const auto last = dash == std::string_view::npos ? first : rules::ParseIpv4(text::TrimBlanks(text.substr(dash + 1)));
        Check(first && last && range->first.low == *first && range->last.low == *last);
    }
    if (!range)
        return;
    if (range->family == rules::AddressFamily::kIpv4)
        Check(range->first.high == 0 && range->last.high == 0 && range->first.low <= UINT32_MAX
              && range->last.low <= UINT32_MAX);
    else
        Check(range->family == rules::AddressFamily::kIpv6);
    // A prefix is an aligned block of a power of two addresses.
    if (text.find('/') != std::string_view::npos) {
        const Wide first = WideOf(range->first), span = WideOf(range->last) - first;
        Check(WideOf(range->first) <= WideOf(range->last) && (span & (span + 1)) == 0 && (first & span) == 0);
    }
    // An IPv6 address comes back as the C library writes it.
    if (range->family == rules::AddressFamily::kIpv6 && range->first == range->last) {
        unsigned char bytes[16];
        for (int i = 0; i < 8; ++i) {
            bytes[i] = static_cast<unsigned char>(range->first.high >> (56 - 8 * i));
            bytes[8 + i] = static_cast<unsigned char>(range->first.low >> (56 - 8 * i));
        }
        char written[INET6_ADDRSTRLEN];
        Check(::inet_ntop(AF_INET6, bytes, written, sizeof written) != nullptr);
        const auto again = rules::ParseAddress(written);
        Check(again && again->value == range->first);
    }
    // A peer at either end is covered, whichever way the engine finds it.
    for (const rules::Address128& end : {range->first, range->last}) {
        const rules::PeerAddress peer {range->family, end};
        Check(range->Covers(peer) == (range->first <= range->last));
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    // A copy of exactly the input's size, so that any read past it is caught.
    std::unique_ptr<char[]> copy(new char[size ? size : 1]);
    std::memcpy(copy.get(), data, size);
    const std::string_view text(copy.get(), size);
    CheckIpv4(text);
    CheckItem(text);
    if (const auto peer = rules::ParseAddress(text); peer && peer->family == rules::AddressFamily::kIpv4)
        Check(peer->value.high == 0 && peer->value.low <= UINT32_MAX);
    // The engine takes an item (up to a zero byte, as the file's text ends
    // there) exactly when the parser does.
    engine::RuleTable table;
    const std::string nulTerminated(text);
    Check(table.AddEntry(80, 1, 1, nulTerminated.c_str())
          == rules::ParseAddressRange(nulTerminated.c_str()).has_value());
    return 0;
}
