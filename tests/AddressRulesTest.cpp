// Rules by address: the IP items of both families and their forms, and the
// engine's decisions by them, which must be those of the first-match walk
// over the entries in rule order.
#include "engine/RuleTable.h"

#include "rules/AddressRange.h"
#include "tests/Sandbox.h"

#include <gtest/gtest.h>
#include <random>
#include <string>
#include <vector>

using engine::RuleTable;
using rules::Address128;
using rules::AddressFamily;
using testing_support::RulesDocument;

namespace {

constexpr uint64_t kAll = ~0ull;

// An IPv4 value as the ranges hold it.
Address128 V4(uint32_t value) { return {0, value}; }

std::string Rules(const std::string& rules)
{
    return RulesDocument("<APPLICATION><EXENAME>TOOL</EXENAME><INDEF>ASK</INDEF><OUTDEF>ASK</OUTDEF><RULES>" + rules
                         + "</RULES></APPLICATION>");
}

std::string Rule(const std::string& permission, int port, const std::string& items,
                 const std::string& element = "IPS", const std::string& direction = "OUTGOING")
{
    return "<RULE><DIRECTION>" + direction + "</DIRECTION><PERMISSION>" + permission + "</PERMISSION><STATE>1</STATE>"
           "<PORTS><PORT><NUMBER>" + std::to_string(port) + "</NUMBER>"
        + (items.empty() ? "" : "<" + element + ">" + items + "</" + element + ">") + "</PORT></PORTS></RULE>";
}

std::string Ip(const std::string& item) { return "<IP>" + item + "</IP>"; }

}  // namespace

TEST(AddressItems, EachFormReadsAsTheAddressesItCovers)
{
    struct Case {
        const char* text;
        AddressFamily family;
        Address128 first, last;
    } cases[] = {
        {"10.0.0.1", AddressFamily::kIpv4, V4(0x0a000001), V4(0x0a000001)},
        {" 10.0.0.1 - 10.0.0.9 ", AddressFamily::kIpv4, V4(0x0a000001), V4(0x0a000009)},
        {"1.0.0.256", AddressFamily::kIpv4, V4(0x01000100), V4(0x01000100)}, // as engines have always read it
        {"10.0.0.0/8", AddressFamily::kIpv4, V4(0x0a000000), V4(0x0affffff)},
        {"10.1.2.3/8", AddressFamily::kIpv4, V4(0x0a000000), V4(0x0affffff)}, // the prefix that holds it
        {"10.0.0.7/32", AddressFamily::kIpv4, V4(0x0a000007), V4(0x0a000007)},
        {"0.0.0.0/0", AddressFamily::kIpv4, V4(0), V4(0xffffffff)},
        {"192.168.1.0 / 24", AddressFamily::kIpv4, V4(0xc0a80100), V4(0xc0a801ff)},
        {"2001:db8::1", AddressFamily::kIpv6, {0x20010db800000000, 1}, {0x20010db800000000, 1}},
        {"2001:DB8::1", AddressFamily::kIpv6, {0x20010db800000000, 1}, {0x20010db800000000, 1}},
        {"fd00::1-fd00::ff", AddressFamily::kIpv6, {0xfd00000000000000, 1}, {0xfd00000000000000, 0xff}},
        {"2001:db8::/32", AddressFamily::kIpv6, {0x20010db800000000, 0}, {0x20010db8ffffffff, kAll}},
        {"2001:db8::1/64", AddressFamily::kIpv6, {0x20010db800000000, 0}, {0x20010db800000000, kAll}},
        {"2001:db8::/65", AddressFamily::kIpv6, {0x20010db800000000, 0}, {0x20010db800000000, kAll >> 1}},
        {"fd00::1/128", AddressFamily::kIpv6, {0xfd00000000000000, 1}, {0xfd00000000000000, 1}},
        {"::/0", AddressFamily::kIpv6, {0, 0}, {kAll, kAll}},
        {"2001:db8::9-2001:db8::1", AddressFamily::kIpv6, {0x20010db800000000, 9}, {0x20010db800000000, 1}},
        // IPv4 mapped into IPv6 is IPv4, as peers are.
        {"::ffff:10.0.0.1", AddressFamily::kIpv4, V4(0x0a000001), V4(0x0a000001)},
        {"::ffff:a00:1", AddressFamily::kIpv4, V4(0x0a000001), V4(0x0a000001)},
        {"::ffff:10.0.0.1-10.0.0.9", AddressFamily::kIpv4, V4(0x0a000001), V4(0x0a000009)},
        {"::ffff:10.0.0.0/104", AddressFamily::kIpv4, V4(0x0a000000), V4(0x0affffff)},
        {"::ffff:0:0/96", AddressFamily::kIpv4, V4(0), V4(0xffffffff)},
        {"::ffff:0:0/95", AddressFamily::kIpv6, {0, 0xfffe00000000}, {0, 0xffffffffffff}},
    };
    for (const Case& c : cases) {
        const auto range = rules::ParseAddressRange(c.text);
        ASSERT_TRUE(range) << c.text;
        EXPECT_EQ(*range, (rules::AddressRange {c.family, c.first, c.last})) << c.text;
    }
}

TEST(AddressItems, MalformedItemsAreNone)
{
    for (const char* text : {"", " ", "10.0.0.0/33", "10.0.0.0/", "/8", "10.0.0.0/-1", "10.0.0.0/+8", "10.0.0.0/8a",
                             "10.0.0.0/8/8", "10.0.0.256/8", "1.2.3/8", "0010.0.0.0/8", "10.0.0.0/8-10.0.0.9",
                             "10.0.0.1-fd00::1", "fd00::1-10.0.0.1", "2001:db8::/129", "2001:db8::/1000", "fd00:::1",
                             "fd00::1::2", "fd00::g", "fd00::1%lo", "[fd00::1]", "fd00::1/", "fd00::1-", "-fd00::1",
                             "10.0.0.1-", "1:2:3:4:5:6:7:8:9", "::ffff:10.0.0.256", "example.org", "fd00::1 fd00::2"})
        EXPECT_FALSE(rules::ParseAddressRange(text).has_value()) << '"' << text << '"';
}

TEST(AddressItems, OnlyIpv4AddressesAndRangesAreReadByOlderEngines)
{
    const struct {
        const char* text;
        bool older;
    } cases[] = {
        {"10.0.0.1", true},           {" 10.0.0.1 - 10.0.0.9 ", true}, {"1.0.0.256", true},
        {"255.255.255.255-0.0.0.0", true}, {"10.0.0.0/8", false},   {"2001:db8::1", false},
        {"::ffff:10.0.0.1", false},   {"fd00::1-fd00::9", false},      {"10.0.0.1-::ffff:10.0.0.9", false},
        {"example.org", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(rules::IsIpv4Item(c.text), c.older) << c.text;
}

TEST(AddressItems, PeersOfEitherFamilyAndMappedOnesAsIpv4)
{
    EXPECT_EQ(rules::ParseAddress("10.0.0.5"), (rules::PeerAddress {AddressFamily::kIpv4, V4(0x0a000005)}));
    EXPECT_EQ(rules::ParseAddress("::ffff:10.0.0.5"), (rules::PeerAddress {AddressFamily::kIpv4, V4(0x0a000005)}));
    EXPECT_EQ(rules::ParseAddress("fd00::2"),
              (rules::PeerAddress {AddressFamily::kIpv6, {0xfd00000000000000, 2}}));
    for (const char* text : {"", "fd00::2/128", "fd00::1-fd00::2", "localhost", "10.0.0.5:80"})
        EXPECT_FALSE(rules::ParseAddress(text).has_value()) << text;
}

TEST(AddressRules, EveryFormDecidesItsPeersInRuleOrder)
{
    // Rules of both families, of one port and of every port, so that the
    // first match wins across the families' lists and the ports'.
    const RuleTable table = [] {
        RuleTable loaded;
        loaded.LoadRulesFromText(
            Rules(Rule("DENY", 443, Ip("fd00::2"))
                  + Rule("PERMIT", 443, Ip("fd00::/64") + Ip("10.0.0.0/8"))
                  + Rule("DENY", 0, Ip("2001:db8::/32") + Ip("192.168.1.10-192.168.1.20"))
                  + Rule("PERMIT", 80, Ip("2001:db8::1-2001:db8::ff") + Ip("::ffff:192.168.1.0/120"))
                  + Rule("DENY", 80, Ip("::/0"))
                  + Rule("PERMIT", 0, Ip("0.0.0.0/0"), "IPS", "INCOMING")
                  + Rule("DENY", 22, "")),
            "TOOL");
        return loaded;
    }();
    ASSERT_EQ(table.entries.size(), 10u);
    const struct {
        int direction, port;
        const char* peer;
        int expected;
    } cases[] = {
        {1, 443, "fd00::2", engine::kDeny},        // the address before its prefix
        {1, 443, "fd00::3", engine::kPermit},      // the prefix
        {1, 443, "fd00:0:0:1::3", engine::kAsk},   // past the prefix: the default
        {1, 443, "10.200.0.1", engine::kPermit},   // the IPv4 prefix
        {1, 443, "::ffff:10.200.0.1", engine::kPermit}, // the same peer mapped into IPv6
        {1, 443, "11.0.0.1", engine::kAsk},
        {1, 443, "2001:db8:1::1", engine::kDeny},  // every port's prefix
        {1, 80, "2001:db8::1", engine::kDeny},     // every port's prefix comes first
        {1, 80, "2001:db9::1", engine::kDeny},     // ::/0, after the range that does not hold it
        {1, 80, "192.168.1.5", engine::kPermit},   // a mapped prefix is IPv4
        {1, 80, "192.168.1.15", engine::kDeny},    // every port's range comes first
        {1, 80, "192.168.2.1", engine::kAsk},      // ::/0 holds no IPv4 address
        {1, 22, "fd00::2", engine::kDeny},         // an entry of every address
        {1, 22, "10.0.0.1", engine::kDeny},
        {1, 22, "no address", engine::kDeny},      // only entries of every address match it
        {1, 443, "no address", engine::kAsk},
        {0, 443, "fd00::2", engine::kAsk},         // incoming: its own rules
        {0, 443, "10.0.0.1", engine::kPermit},
    };
    for (const auto& c : cases)
        EXPECT_EQ(table.MatchRules(c.direction, c.port, c.peer), c.expected)
            << (c.direction ? "outgoing " : "incoming ") << c.port << " " << c.peer;
}

TEST(AddressRules, AddressesElementIsReadLikeIpsWholeOrPieceByPiece)
{
    const std::string document =
        Rules(Rule("DENY", 443, Ip("2001:db8::/32") + Ip("10.0.0.1"), "ADDRESSES") + Rule("PERMIT", 443, ""));
    RuleTable streamed, whole;
    streamed.LoadRulesFromText(document, "TOOL");
    whole.LoadRulesFromDocument(document, "TOOL");
    ASSERT_EQ(streamed.entries.size(), 3u);
    ASSERT_EQ(whole.entries.size(), 3u);
    for (size_t i = 0; i < 3; ++i)
        EXPECT_EQ(streamed.entries[i].addresses, whole.entries[i].addresses) << i;
    EXPECT_EQ(streamed.MatchRules(1, 443, "2001:db8::5"), engine::kDeny);
    EXPECT_EQ(streamed.MatchRules(1, 443, "10.0.0.1"), engine::kDeny);
    // Only its items: not every address, as an older engine takes it.
    EXPECT_EQ(streamed.MatchRules(1, 443, "10.0.0.2"), engine::kPermit);
}

TEST(AddressRules, IndexedDecisionEqualsTheWalkOverTheEntries)
{
    // Entries of every form on a few ports, in random order, against peers
    // at and beside their ends: the index must find what the walk finds.
    std::mt19937 random(27);
    const auto pick = [&](int n) { return static_cast<int>(random() % static_cast<unsigned>(n)); };
    const auto v4 = [&] { return "10.0.0." + std::to_string(pick(64)); };
    const auto v6 = [&] {
        char text[32];
        std::snprintf(text, sizeof text, "fd00::%x", static_cast<unsigned>(pick(64)));
        return std::string(text);
    };
    int compared = 0;
    for (int round = 0; round < 200; ++round) {
        RuleTable table;
        const int count = pick(40);
        for (int i = 0; i < count; ++i) {
            const std::string items[] = {v4(), v4() + "-" + v4(), "10.0.0." + std::to_string(pick(64)) + "/" + std::to_string(26 + pick(7)),
                                         v6(), v6() + "-" + v6(), v6() + "/" + std::to_string(122 + pick(7)),
                                         "::ffff:" + v4(), "::/0", "0.0.0.0/0"};
            const int shape = pick(11);
            const int ports[] = {0, 80, 443};
            const int port = ports[pick(3)];
            if (shape == 10)
                table.AddEntry(port, pick(2), pick(3), nullptr);
            else
                table.AddEntry(port, pick(2), pick(3), items[std::min(shape, 8)].c_str());
        }
        std::vector<std::string> peers = {"no address", v4(), v6(), "::ffff:" + v4()};
        for (int i = 0; i < 8; ++i)
            peers.push_back(i % 2 ? v4() : v6());
        for (const std::string& peer : peers) {
            const auto address = rules::ParseAddress(peer);
            for (const int direction : {0, 1}) {
                for (const int port : {0, 80, 443, 8080}) {
                    int walked = direction ? table.defaultOutgoing : table.defaultIncoming;
                    for (const engine::RuleEntry& entry : table.entries) {
                        if (entry.direction != direction || (entry.port != port && entry.port != 0))
                            continue;
                        if (!entry.addresses || (address && entry.addresses->Covers(*address))) {
                            walked = entry.permission;
                            break;
                        }
                    }
                    ASSERT_EQ(table.MatchRules(direction, port, peer), walked)
                        << "round " << round << " " << peer << " port " << port;
                    ++compared;
                }
            }
        }
    }
    EXPECT_EQ(compared, 200 * 12 * 2 * 4);
}
