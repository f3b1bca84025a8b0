// Rules by host name: the patterns, the rules file's HOSTS, matching in the
// first-match walk, and what an engine that reads only NUMBER and IPS makes
// of a file written with hosts.
#include "engine/HostPattern.h"
#include "engine/RuleTable.h"

#include "protocol/LogFiles.h"
#include "rules/HostListParser.h"
#include "rules/RulesFormat.h"
#include "rules/hooksafe/Names.h"
#include "tests/Sandbox.h"
#include "text/Strings.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

using engine::HostKey;
using engine::HostPattern;
using engine::RuleTable;

namespace {

std::string Normal(std::string_view name)
{
    char out[rules::kMaxHostName + 1];
    const size_t length = rules::NormalizeHostName(name.data(), name.size(), out, sizeof out);
    return std::string(out, length);
}

bool Matches(std::string_view pattern, const char* name)
{
    const auto parsed = HostPattern::Parse(pattern);
    EXPECT_TRUE(parsed) << pattern;
    const std::string normal = name ? Normal(name) : std::string();
    return parsed && HostKey(normal.c_str()).Matches(*parsed);
}

std::string HostPort(std::string_view number, std::string_view hosts, std::string_view ips = {})
{
    std::string xml = "<PORT><NUMBER>" + std::string(number) + "</NUMBER>";
    if (!ips.empty())
        xml += "<IPS>" + std::string(ips) + "</IPS>";
    return xml + "<HOSTS>" + std::string(hosts) + "</HOSTS></PORT>";
}

std::string Document(std::string_view direction, std::string_view permission, std::string_view ports,
                     std::string_view outDef = "DENY")
{
    return testing_support::RulesDocument(
        "<APPLICATION><EXENAME>CURL</EXENAME><ISSERVICE>0</ISSERVICE><INDEF>DENY</INDEF><OUTDEF>" + std::string(outDef)
        + "</OUTDEF><RULES><RULE><RULENAME>r</RULENAME><DIRECTION>" + std::string(direction) + "</DIRECTION><PERMISSION>"
        + std::string(permission) + "</PERMISSION><STATE>1</STATE><ENABLE>1</ENABLE><PORTS>" + std::string(ports)
        + "</PORTS></RULE></RULES></APPLICATION>");
}

int Decide(const RuleTable& table, int port, const char* address, const char* name)
{
    const std::string normal = name ? Normal(name) : std::string();
    const HostKey key(normal.c_str());
    return table.MatchRules(engine::kOutgoing, port, address, &key);
}

// A list's entries as "name", "||name" (and below) and "ip:" + the range's
// numbers; the expected addresses are written as text and read the same way.
std::string RangeText(const rules::AddressRange& range)
{
    return "ip:" + std::to_string(static_cast<int>(range.family)) + ":" + std::to_string(range.first.high) + ":"
        + std::to_string(range.first.low) + "-" + std::to_string(range.last.high) + ":" + std::to_string(range.last.low);
}

std::string ListEntries(const rules::HostList& list)
{
    std::string out;
    for (const auto& name : list.names)
        out += (out.empty() ? "" : " ") + std::string(name.below ? "||" : "") + std::string(list.Name(name));
    for (const auto& range : list.addresses)
        out += (out.empty() ? "" : " ") + RangeText(range);
    return out;
}

std::string ExpectedEntries(std::string_view words)
{
    std::string out;
    for (const auto word : text::Words(words, 100)) {
        const auto range = word.substr(0, 3) == "ip:" ? rules::ParseAddressRange(word.substr(3)) : std::nullopt;
        out += (out.empty() ? "" : " ") + (range ? RangeText(*range) : std::string(word));
    }
    return out;
}

// The counts that are not zero, as "name=2 invalid=1".
std::string ListCounts(const rules::HostList& list)
{
    const auto& c = list.counts;
    const std::pair<const char*, size_t> counts[] = {
        {"name", c.names}, {"below", c.namesAndBelow}, {"ip", c.addresses}, {"comment", c.comments},
        {"adblock", c.skippedAdBlock}, {"local", c.skippedLocal}, {"nonascii", c.skippedNonAscii},
        {"long", c.skippedLong}, {"invalid", c.invalid},
    };
    std::string out;
    for (const auto& [word, count] : counts)
        if (count)
            out += (out.empty() ? "" : " ") + std::string(word) + "=" + std::to_string(count);
    return out;
}

// "0.0.0.0 n<i>.x n<i+1>.x ..." lines of at most 1 KB holding names from..to.
std::string HostsLines(size_t from, size_t to)
{
    std::string text;
    std::string line = "0.0.0.0";
    for (size_t i = from; i < to; ++i) {
        const std::string name = " n" + std::to_string(i) + ".x";
        if (line.size() + name.size() > rules::kMaxHostListLine) {
            text += line + "\n";
            line = "0.0.0.0";
        }
        line += name;
    }
    return text + line + "\n";
}

}  // namespace

TEST(HostNames, NormalFormIsLowerCaseWithoutTheTrailingDotAndOnlyHostCharacters)
{
    const struct {
        const char* name;
        const char* normal; // "" for no host name
    } cases[] = {
        {"API.Example.ORG.", "api.example.org"},
        {"xn--bcher-kva.example", "xn--bcher-kva.example"},
        {"_dmarc.example.org", "_dmarc.example.org"},
        {"localhost", "localhost"},
        {"10.0.0.1", ""},            // an address is no name
        {"example..org", ""},        // empty label
        {".example.org", ""},
        {"ex ample.org", ""},
        {"bücher.example", ""},      // Unicode travels as punycode
        {"a<b>.org", ""},
        {"", ""},
        {".", ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(Normal(c.name), c.normal) << c.name;
    EXPECT_EQ(Normal(std::string(63, 'a') + ".org"), std::string(63, 'a') + ".org");
    EXPECT_EQ(Normal(std::string(64, 'a') + ".org"), "");
    std::string longest;
    while (longest.size() + 2 <= rules::kMaxHostName)
        longest += longest.empty() ? "a" : ".a";
    EXPECT_EQ(Normal(longest), longest);
    EXPECT_EQ(Normal(longest + ".b"), "");
}

TEST(HostPatterns, NamesDomainsAnyAndUnknown)
{
    const struct {
        const char* pattern;
        const char* name; // nullptr: the program did not look the peer up
        bool matches;
    } cases[] = {
        {"api.example.org", "api.example.org", true},
        {"api.example.org", "API.EXAMPLE.ORG.", true},
        {"API.Example.Org.", "api.example.org", true},
        {"api.example.org", "example.org", false},
        {"api.example.org", "xapi.example.org", false},
        {"*.example.org", "api.example.org", true},
        {"*.example.org", "a.b.example.org", true},
        {"*.example.org", "example.org", false},      // the domain itself is its own entry
        {"*.example.org", "badexample.org", false},   // on a label boundary only
        {"*.example.org", "example.org.evil.net", false},
        {"*.org", "example.org", true},
        {"*", "example.org", true},
        {"*", nullptr, false},
        {"?", nullptr, true},
        {"?", "example.org", false},
        {"api.example.org", nullptr, false},
        {"*.example.org", nullptr, false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(Matches(c.pattern, c.name), c.matches) << c.pattern << " / " << (c.name ? c.name : "(unknown)");
    for (const char* bad : {"", "*.", "a.*.b", "*a.b", "**", "*.*", "10.0.0.1", "a b", "<x>", "?.org"})
        EXPECT_FALSE(HostPattern::Parse(bad)) << bad;
}

TEST(HostRules, FirstMatchWalkWithNamesAndAddresses)
{
    // DENY ads.example.net, PERMIT *.example.org on 443 (written as the panel
    // writes a permitting port: with an address range that covers nothing).
    const std::string ports = HostPort("0", "<HOST>ads.example.net</HOST>");
    RuleTable table;
    table.LoadRulesFromText(Document("OUTGOING", "DENY", ports, "ASK"), "CURL");
    RuleTable permit;
    permit.LoadRulesFromText(Document("OUTGOING", "PERMIT",
                                      HostPort("443", "<HOST>*.example.org</HOST><HOST>example.org</HOST>",
                                               "<IP>255.255.255.255-0.0.0.0</IP>")),
                             "CURL");
    EXPECT_TRUE(table.HasHostEntries());
    EXPECT_EQ(Decide(table, 80, "127.0.0.2", "ads.example.net"), engine::kDeny);
    EXPECT_EQ(Decide(table, 80, "127.0.0.2", "news.example.net"), engine::kAsk);
    EXPECT_EQ(Decide(table, 80, "127.0.0.2", nullptr), engine::kAsk); // the literal address: the documented miss
    EXPECT_EQ(Decide(permit, 443, "127.0.0.3", "www.example.org"), engine::kPermit);
    EXPECT_EQ(Decide(permit, 443, "127.0.0.3", "Example.Org."), engine::kPermit);
    EXPECT_EQ(Decide(permit, 443, "127.0.0.3", "example.net"), engine::kDeny);
    EXPECT_EQ(Decide(permit, 80, "127.0.0.3", "www.example.org"), engine::kDeny); // another port
    EXPECT_EQ(Decide(permit, 443, "255.255.255.255", nullptr), engine::kDeny);
    // Two names that share one address are told apart by name.
    EXPECT_NE(Decide(table, 80, "127.0.0.5", "ads.example.net"), Decide(table, 80, "127.0.0.5", "www.example.net"));

    // Order holds between address and host entries, and "*" and "?".
    RuleTable mixed;
    ASSERT_TRUE(mixed.AddEntry(443, engine::kOutgoing, engine::kDeny, "10.0.0.9"));
    ASSERT_TRUE(mixed.AddHostEntry(443, engine::kOutgoing, engine::kPermit, "*.example.org"));
    ASSERT_TRUE(mixed.AddHostEntry(0, engine::kOutgoing, engine::kDeny, "www.example.org"));
    ASSERT_TRUE(mixed.AddEntry(0, engine::kOutgoing, engine::kPermit, "10.0.0.0-10.0.0.255"));
    ASSERT_TRUE(mixed.AddHostEntry(0, engine::kOutgoing, engine::kAsk, "?"));
    ASSERT_TRUE(mixed.AddHostEntry(0, engine::kOutgoing, engine::kDeny, "*"));
    EXPECT_EQ(Decide(mixed, 443, "10.0.0.9", "www.example.org"), engine::kDeny);   // the address entry comes first
    EXPECT_EQ(Decide(mixed, 443, "10.0.0.8", "www.example.org"), engine::kPermit); // then the domain
    EXPECT_EQ(Decide(mixed, 80, "10.0.0.8", "www.example.org"), engine::kDeny);    // the name, before the range
    EXPECT_EQ(Decide(mixed, 80, "10.0.0.8", "mail.example.org"), engine::kPermit); // the range
    EXPECT_EQ(Decide(mixed, 80, "192.168.0.1", nullptr), engine::kAsk);            // no name: "?"
    EXPECT_EQ(Decide(mixed, 80, "192.168.0.1", "other.example"), engine::kDeny);   // any name: "*"

    // Incoming rules have no names: their ports read as without HOSTS.
    RuleTable incoming;
    incoming.LoadRulesFromText(Document("INCOMING", "PERMIT", HostPort("22", "<HOST>admin.example.org</HOST>")), "CURL");
    EXPECT_FALSE(incoming.HasHostEntries());
    EXPECT_EQ(incoming.MatchRules(engine::kIncoming, 22, "10.0.0.1"), engine::kPermit);

    // Patterns that are none add nothing; the others of the port stay.
    RuleTable bad;
    bad.LoadRulesFromText(Document("OUTGOING", "PERMIT", HostPort("0", "<HOST>a.*.b</HOST><HOST>ok.example</HOST>")), "CURL");
    ASSERT_EQ(bad.entries.size(), 1u);
    EXPECT_EQ(Decide(bad, 80, "10.0.0.1", "ok.example"), engine::kPermit);
}

// A peer known by several names (a shared address): a host entry covers it
// when any of the names matches, the first entry in the rules' order
// decides, and the order in which the names were learnt never matters.
TEST(HostRules, SeveralNamesOfOnePeerFirstEntryInRuleOrderDecides)
{
    RuleTable table;
    ASSERT_TRUE(table.AddHostEntry(443, engine::kOutgoing, engine::kDeny, "ads.example.org"));
    ASSERT_TRUE(table.AddHostEntry(443, engine::kOutgoing, engine::kPermit, "*.example.org"));
    ASSERT_TRUE(table.AddHostEntry(0, engine::kOutgoing, engine::kAsk, "*"));
    ASSERT_TRUE(table.AddHostEntry(0, engine::kOutgoing, engine::kPermit, "?"));
    table.defaultOutgoing = engine::kDeny;
    struct Case {
        std::vector<const char*> names; // the most recently learnt first
        int port;
        int verdict;
        const char* decidedBy; // nullptr: no host entry decided
    };
    const Case cases[] = {
        {{"www.example.org", "ads.example.org"}, 443, engine::kDeny, "ads.example.org"},
        {{"ads.example.org", "www.example.org"}, 443, engine::kDeny, "ads.example.org"},
        {{"cdn.example.net", "www.example.org"}, 443, engine::kPermit, "www.example.org"},
        {{"www.example.org", "cdn.example.net"}, 443, engine::kPermit, "www.example.org"},
        {{"cdn.example.net", "other.example"}, 443, engine::kAsk, "cdn.example.net"}, // "*": any known name
        {{"www.example.org", "ads.example.org"}, 80, engine::kAsk, "www.example.org"},
        {{}, 443, engine::kPermit, nullptr},                                          // "?": no name at all
    };
    for (const Case& c : cases) {
        std::vector<HostKey> keys;
        keys.reserve(c.names.size());
        for (const char* name : c.names)
            keys.emplace_back(name);
        int matched = -2;
        EXPECT_EQ(table.MatchRules(engine::kOutgoing, c.port, "10.0.0.1", keys, &matched), c.verdict)
            << c.names.size() << " names on port " << c.port;
        if (c.decidedBy)
            EXPECT_TRUE(matched >= 0 && std::string(c.names[static_cast<size_t>(matched)]) == c.decidedBy);
        else
            EXPECT_EQ(matched, -1);
    }
    // "?" covers a peer none of whose names is known, not one with a name.
    RuleTable unknownOnly;
    ASSERT_TRUE(unknownOnly.AddHostEntry(0, engine::kOutgoing, engine::kPermit, "?"));
    unknownOnly.defaultOutgoing = engine::kDeny;
    const HostKey two[] = {HostKey(nullptr), HostKey("www.example.org")};
    int matched = 0;
    EXPECT_EQ(unknownOnly.MatchRules(engine::kOutgoing, 80, "10.0.0.1", two, &matched), engine::kDeny);
    EXPECT_EQ(matched, -1);
}

TEST(HostRules, AnEngineThatReadsOnlyNumberAndIpsNeverPermitsMore)
{
    // Such an engine is this one with the names unknown and HOSTS unread:
    // a permitting port's address range covers nothing, a denying port
    // without IPS covers every address.
    const std::string permitting = Document("OUTGOING", "PERMIT",
        HostPort("443", "<HOST>*.example.org</HOST>", "<IP>" + std::string(rules::rules_format::kNoAddress) + "</IP>"));
    const std::string denying = Document("OUTGOING", "DENY", HostPort("0", "<HOST>ads.example.net</HOST>"), "PERMIT");
    for (const std::string& document : {permitting, denying}) {
        std::string old = document;
        for (size_t at; (at = old.find("<HOSTS>")) != std::string::npos;)
            old.erase(at, old.find("</HOSTS>") + 8 - at);
        RuleTable before, now;
        before.LoadRulesFromText(old, "CURL");
        now.LoadRulesFromText(document, "CURL");
        for (const char* name : {"www.example.org", "ads.example.net", "other.example"}) {
            const int oldVerdict = before.MatchRules(engine::kOutgoing, 443, "127.0.0.2");
            const int newVerdict = Decide(now, 443, "127.0.0.2", name);
            EXPECT_FALSE(oldVerdict == engine::kPermit && newVerdict != engine::kPermit) << name;
        }
    }
}

TEST(HostRules, RecordCarriesTheNameAfterTheDocumentedFields)
{
    const std::string head = protocol::ConnectionRecordHead("/usr/bin/curl", "CURL");
    protocol::RecordText body;
    protocol::FormatConnectionBody({&head, 1, 1, "127.0.0.2", 0, 443, 1, false, "www.example.org"}, body);
    const std::string line = "<DATE>08.12.2026</DATE><TIME>10:00:00</TIME>" + std::string(body.View());
    EXPECT_NE(line.find("</SERVICE><HOST>www.example.org</HOST>"), std::string::npos);
    const auto entry = protocol::ParseLogLine(line);
    ASSERT_TRUE(entry);
    EXPECT_EQ(entry->host, "www.example.org");
    EXPECT_EQ(entry->remotePort, "443");
    protocol::RecordText unnamed;
    protocol::FormatConnectionBody({&head, 1, 1, "127.0.0.2", 0, 443, 1, false, nullptr}, unnamed);
    EXPECT_EQ(std::string(unnamed.View()).find("<HOST>"), std::string::npos);
}

TEST(HostLists, EachFormatItsSkipsAndCountsAndHostileLinesNeverEntries)
{
    const std::string longLine(100 * 1024, 'a');
    const struct {
        std::string text;
        const char* entries;
        const char* counts;
    } cases[] = {
        // Hosts files, CRLF, a comment after the names, several names a line.
        {"0.0.0.0 ads.example.com\r\n127.0.0.1\tA.org B.ORG. # trackers\n:: v6.example\n::1 x.example",
         "ads.example.com a.org b.org v6.example x.example", "name=5"},
        // The hosts file's own lines are passed over, not refused.
        {"127.0.0.1 localhost\n::1 localhost ip6-localhost ip6-loopback\n255.255.255.255 broadcasthost\n"
         "fe80::1%lo0 localhost\n0.0.0.0 0.0.0.0\n0.0.0.0 me.localhost",
         "", "local=6"},
        // A hosts line to a real address, or with one bad name, adds nothing.
        {"192.0.2.1 nas.example\n0.0.0.0 good.example bad..example\nname.example other.example",
         "", "invalid=3"},
        {"\xEF\xBB\xBF" "first.example\n\n  \t\r\nSub.Example.ORG.\n# c\n! c\nsecond.example # c", "first.example sub.example.org second.example",
         "name=3 comment=4"},
        // AdBlock: "||name^" only; options, exceptions, page filters, paths, expressions and headers counted.
        {"||ads.example^\n||a.example^$third-party\n@@||good.example^\nexample.com##.banner\n##.ad\n"
         "example.com#@#.ad\n||x.example/path^\n||x.example\n/banner[0-9]/\n|https://x.example\n"
         "[Adblock Plus 2.0]\n&ad_type=\nexample.com/ads/\nexample.com^",
         "||ads.example", "below=1 adblock=13"},
        {"*.tracker.example\n*.com\n||org^\n*.a*.b.example\n*.\n||192.0.2.9^\n||1.2.3^", "||tracker.example ip:192.0.2.9",
         "below=1 ip=1 adblock=2 invalid=3"},
        // Addresses and prefixes, strict; this machine's passed over, whole regions refused.
        {"203.0.113.7\n198.51.100.0/24\n2001:db8::1\n2001:db8::/32\n::ffff:192.0.2.1\n127.0.0.1\n0.0.0.0/8\n::1\n"
         "0.0.0.0/0\n::/0\n10.0.0.300\n1.2.3\n10.0.0.1/33\n2001:db8::/8",
         "ip:203.0.113.7 ip:198.51.100.0/24 ip:2001:db8::1 ip:2001:db8::/32 ip:192.0.2.1", "ip=5 local=3 invalid=6"},
        // International names travel as punycode.
        {"b\xC3\xBC" "cher.example\n0.0.0.0 xn--bcher-kva.example\n# caf\xC3\xA9", "xn--bcher-kva.example",
         "name=1 comment=1 nonascii=1"},
        // Hostile lines: control bytes, markup, a 100 KB line. None is an entry.
        {std::string("evil.example\0.x\n0.0.0.0 ok.example\0\n", 36) + "0.0.0.0 a</HOST>b.example\n<HOST>x.example</HOST>\n"
         "x.example\x01" "\n||a.example^<x>\nx.example##<script>\nx\ry.example\n" + longLine + "\n0.0.0.0 " + longLine,
         "", "long=2 invalid=8"},
    };
    for (const auto& c : cases) {
        const auto list = rules::ParseHostList(c.text);
        EXPECT_EQ(ListEntries(list), ExpectedEntries(c.entries)) << c.text.substr(0, 200);
        EXPECT_EQ(ListCounts(list), c.counts) << c.text.substr(0, 200);
        EXPECT_EQ(list.stop, rules::HostListStop::kNone);
    }

    // Lines up to 1 KB are read (a CR aside), longer ones skipped; the first invalid lines are named.
    const std::string full = HostsLines(0, 1000).substr(0, HostsLines(0, 1000).find('\n'));
    ASSERT_LE(full.size(), rules::kMaxHostListLine);
    const std::string edge = full + std::string(rules::kMaxHostListLine - full.size(), ' ');
    auto list = rules::ParseHostList(edge + "\r\n" + edge + "x\na..b\n.a\na b\n1.2\nb..\nx<\n<");
    EXPECT_EQ(ListCounts(list), "name=" + std::to_string(list.names.size()) + " long=1 invalid=7");
    EXPECT_GT(list.names.size(), 80u);
    EXPECT_EQ(std::vector<size_t>(list.firstInvalid.begin(), list.firstInvalid.end()),
              (std::vector<size_t> {3, 4, 5, 6, 7}));

    // At 2,000,000 entries reading stops before the line that would pass them: it adds nothing.
    list = rules::ParseHostList(HostsLines(0, rules::kMaxHostListEntries + 50) + "more.example\n");
    EXPECT_EQ(list.stop, rules::HostListStop::kTooManyEntries);
    EXPECT_LT(list.counts.Entries(), rules::kMaxHostListEntries);
    EXPECT_GT(list.counts.Entries(), rules::kMaxHostListEntries - 100);
    EXPECT_EQ(list.names.size(), list.counts.names);
    EXPECT_EQ(list.stopLine, list.counts.lines + 1);
    EXPECT_EQ(list.Name(list.names.back()), "n" + std::to_string(list.names.size() - 1) + ".x");

    // At 64 MB reading stops before the line that crosses it.
    std::string large = "first.example\n";
    const std::string comment = "#" + std::string(1022, 'c') + "\n";
    while (large.size() + comment.size() <= rules::kMaxHostListBytes)
        large += comment;
    large += "#" + std::string(rules::kMaxHostListBytes - large.size() - 10, 'c') + "\n";
    large += "0.0.0.0 last.example crossing.example\n";
    ASSERT_GT(large.size(), rules::kMaxHostListBytes);
    list = rules::ParseHostList(large);
    EXPECT_EQ(list.stop, rules::HostListStop::kTooLarge);
    EXPECT_EQ(ListEntries(list), "first.example");
    EXPECT_EQ(list.stopLine, list.counts.lines + 1);
}
