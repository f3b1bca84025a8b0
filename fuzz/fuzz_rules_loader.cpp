// Any bytes as a rules file: the loader must neither crash nor read outside
// the document, whatever it keeps must be a usable table, and reading piece
// by piece must keep exactly what reading the whole document keeps.
#include "engine/RuleTable.h"
#include "engine/RulesReader.h"
#include "rules/AddressRange.h"

#include <arpa/inet.h>
#include <cstddef>
#include <cstdio>
#include <cstdint>
#include <cstring>
#include <pugixml.hpp>
#include <string>
#include <string_view>
#include <vector>

namespace {

bool SameTable(const engine::RuleTable& a, const engine::RuleTable& b)
{
    if (a.defaultIncoming != b.defaultIncoming || a.defaultOutgoing != b.defaultOutgoing
        || a.entries.size() != b.entries.size())
        return false;
    for (size_t i = 0; i < a.entries.size(); ++i) {
        const engine::RuleEntry& x = a.entries[i];
        const engine::RuleEntry& y = b.entries[i];
        if (x.permission != y.permission || x.direction != y.direction || x.port != y.port
            || x.addresses != y.addresses || x.host.has_value() != y.host.has_value()
            || (x.host && x.host->text != y.host->text))
            return false;
    }
    return true;
}

// The first-match walk over every entry, as the rule order defines it: the
// table's indexed decision must give the same answer.
int Reference(const engine::RuleTable& table, int direction, int port, std::string_view address,
              const engine::HostKey* name)
{
    const auto peer = rules::ParseAddress(address);
    const engine::HostKey unknown(nullptr);
    for (const engine::RuleEntry& entry : table.entries) {
        if (entry.direction != direction || (entry.port != port && entry.port != 0))
            continue;
        bool matches;
        if (entry.host)
            matches = (name ? *name : unknown).Matches(*entry.host);
        else
            matches = !entry.addresses || (peer && entry.addresses->Covers(*peer));
        if (matches)
            return entry.permission;
    }
    return direction != engine::kIncoming ? table.defaultOutgoing : table.defaultIncoming;
}

// An address as the hook writes a peer.
std::string Text(rules::AddressFamily family, rules::Address128 value)
{
    char text[INET6_ADDRSTRLEN];
    if (family == rules::AddressFamily::kIpv4) {
        const auto v = static_cast<uint32_t>(value.low);
        std::snprintf(text, sizeof text, "%u.%u.%u.%u", v >> 24, (v >> 16) & 255, (v >> 8) & 255, v & 255);
        return text;
    }
    unsigned char bytes[16];
    for (int i = 0; i < 8; ++i) {
        bytes[i] = static_cast<unsigned char>(value.high >> (56 - 8 * i));
        bytes[8 + i] = static_cast<unsigned char>(value.low >> (56 - 8 * i));
    }
    return ::inet_ntop(AF_INET6, bytes, text, sizeof text) ? text : "";
}

// Peers of both families, at and beside the ends of the entries' ranges,
// where an indexed decision could differ from the walk.
std::vector<std::string> Peers(const engine::RuleTable& table)
{
    std::vector<std::string> peers = {"10.0.0.1", "192.168.1.7", "::1", "fd00::7", "2001:db8::1", "::ffff:10.0.0.1",
                                      "no address", ""};
    for (size_t i = 0; i < table.entries.size() && i < 8; ++i) {
        const auto& range = table.entries[i].addresses;
        if (!range)
            continue;
        const bool ipv4 = range->family == rules::AddressFamily::kIpv4;
        for (const rules::Address128 end : {range->first, range->last}) {
            peers.push_back(Text(range->family, end));
            // The neighbours, the 64 bits' carry included; IPv4 within its 32.
            const rules::Address128 next {end.high + (end.low == UINT64_MAX), end.low + 1};
            const rules::Address128 before {end.high - (end.low == 0), end.low - 1};
            if (!ipv4 || end.low < UINT32_MAX)
                peers.push_back(Text(range->family, next));
            if (!ipv4 || end.low > 0)
                peers.push_back(Text(range->family, before));
        }
    }
    return peers;
}

void CheckDecisions(const engine::RuleTable& table)
{
    std::vector<int> ports = {0, 22, 80, 443};
    for (size_t i = 0; i < table.entries.size() && i < 8; ++i)
        ports.push_back(table.entries[i].port);
    const engine::HostKey named("www.example.org"), other("a.b");
    const std::vector<std::string> peers = Peers(table);
    for (const int direction : {0, 1})
        for (const int port : ports)
            for (const std::string& address : peers)
                for (const engine::HostKey* name : {static_cast<const engine::HostKey*>(nullptr), &named, &other})
                    if (table.MatchRules(direction, port, address, name) != Reference(table, direction, port, address, name))
                        __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    for (const char* program : {"TOOL.EXE", "ANY", ""}) {
        engine::RuleTable table;
        const int loaded = table.LoadRulesFromText(text, program);
        engine::RuleTable whole;
        if (whole.LoadRulesFromDocument(text, program) != loaded || !SameTable(table, whole))
            __builtin_trap();

        // What the piecewise reader accepts, the document parser accepts too.
        size_t offset = 0;
        engine::RuleTable streamed;
        const auto result = engine::ReadRulesStream(
            [&](char* buffer, size_t room) -> ssize_t {
                // Small pieces, so that tags and texts cross their ends.
                const size_t count = std::min({room, text.size() - offset, size_t {7}});
                std::memcpy(buffer, text.data() + offset, count);
                offset += count;
                return static_cast<ssize_t>(count);
            },
            streamed, program);
        if (result.outcome == engine::StreamOutcome::kRead) {
            pugi::xml_document document;
            if (!document.load_buffer(text.data(), text.size()) || !SameTable(streamed, whole))
                __builtin_trap();
        }

        CheckDecisions(table);
        if (table.defaultIncoming < 0 || table.defaultIncoming > 2 || table.defaultOutgoing < 0
            || table.defaultOutgoing > 2)
            __builtin_trap();
    }
    return 0;
}
