// Any bytes as a downloaded host list: reading neither crashes nor reads
// outside the text, and what it gives holds together: every name in its
// normal form, no entry beyond the bounds, no entry for this machine.
#include "rules/HostListParser.h"
#include "rules/hooksafe/Names.h"

#include <cstddef>
#include <cstdint>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const rules::HostList list = rules::ParseHostList(text);
    const auto& counts = list.counts;
    if (counts.names + counts.namesAndBelow != list.names.size() || counts.addresses != list.addresses.size()
        || counts.Entries() > rules::kMaxHostListEntries)
        __builtin_trap();
    if (list.firstInvalidKept > counts.invalid || list.firstInvalidKept > list.firstInvalid.size())
        __builtin_trap();
    size_t pooled = 0;
    for (const auto& name : list.names) {
        const std::string_view written = list.Name(name);
        if (name.offset + name.length > list.pool.size() || written.empty())
            __builtin_trap();
        // A name is its own normal form: no markup, no control byte, no address.
        char again[rules::kMaxHostName + 1];
        if (rules::NormalizeHostName(written.data(), written.size(), again, sizeof again) != written.size()
            || written != std::string_view(again, written.size()))
            __builtin_trap();
        if (name.below && written.find('.') == std::string_view::npos)
            __builtin_trap();
        if (written == "localhost")
            __builtin_trap();
        pooled += name.length;
    }
    if (pooled != list.pool.size())
        __builtin_trap();
    for (const auto& range : list.addresses) {
        if (range.last < range.first)
            __builtin_trap();
        // Never this machine: 127.0.0.1 and ::1 are not a list's to refuse.
        const rules::PeerAddress loopback4 {rules::AddressFamily::kIpv4, {0, 0x7f000001}};
        const rules::PeerAddress loopback6 {rules::AddressFamily::kIpv6, {0, 1}};
        if (range.Covers(loopback4) || range.Covers(loopback6))
            __builtin_trap();
    }
    for (size_t i = 1; i < list.firstInvalidKept; ++i)
        if (list.firstInvalid[i] <= list.firstInvalid[i - 1] || list.firstInvalid[i] > counts.lines)
            __builtin_trap();
    return 0;
}
