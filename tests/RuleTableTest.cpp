#include "engine/RuleTable.h"
#include "engine/RulesReader.h"

#include "os/NetworkIdentity.h"
#include "protocol/Profiles.h"
#include "protocol/Registry.h"
#include "rules/RulesFormat.h"
#include "tests/Sandbox.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <sys/stat.h>

using engine::RuleTable;
using testing_support::RulesDocument;

using rules::rules_format::kDefaultRulesDocument;

namespace {

std::string App(std::string_view name, std::string_view inDef, std::string_view outDef, std::string_view rules = {})
{
    std::string xml = "<APPLICATION><EXENAME>" + std::string(name) + "</EXENAME><ISSERVICE>0</ISSERVICE>";
    xml += "<INDEF>" + std::string(inDef) + "</INDEF><OUTDEF>" + std::string(outDef) + "</OUTDEF>";
    if (!rules.empty())
        xml += "<RULES>" + std::string(rules) + "</RULES>";
    return xml + "</APPLICATION>";
}

std::string Rule(std::string_view direction, std::string_view permission, std::string_view ports,
                 std::string_view state = "1")
{
    std::string xml = "<RULE><RULENAME>r</RULENAME><DIRECTION>" + std::string(direction) + "</DIRECTION><PERMISSION>"
        + std::string(permission) + "</PERMISSION><STATE>" + std::string(state) + "</STATE><ENABLE>1</ENABLE>";
    if (!ports.empty())
        xml += "<PORTS>" + std::string(ports) + "</PORTS>";
    return xml + "</RULE>";
}

std::string Port(std::string_view number, std::string_view ips = {})
{
    std::string xml = "<PORT><NUMBER>" + std::string(number) + "</NUMBER>";
    if (!ips.empty())
        xml += "<IPS>" + std::string(ips) + "</IPS>";
    return xml + "</PORT>";
}

RuleTable Load(const std::string& document, std::string_view exeName = "TOOL.EXE")
{
    RuleTable table;
    table.LoadRulesFromText(document, exeName);
    return table;
}

}  // namespace

TEST(RuleTableLoading, DefaultDocumentGivesDefaultsAndSixEntriesInOrder)
{
    RuleTable table = Load(kDefaultRulesDocument, "ANYTHING.EXE");
    EXPECT_EQ(table.defaultIncoming, engine::kAsk);
    EXPECT_EQ(table.defaultOutgoing, engine::kPermit);
    struct Expected {
        int direction, port;
        bool limited;
    };
    const Expected expected[] = {{1, 67, true}, {0, 68, false}, {1, 53, false},
                                 {1, 80, false}, {1, 25, false}, {1, 110, false}};
    ASSERT_EQ(table.entries.size(), 6u);
    for (size_t i = 0; i < 6; ++i) {
        EXPECT_EQ(table.entries[i].direction, expected[i].direction) << i;
        EXPECT_EQ(table.entries[i].port, expected[i].port) << i;
        EXPECT_EQ(table.entries[i].permission, engine::kPermit) << i;
        EXPECT_EQ(table.entries[i].addresses.has_value(), expected[i].limited) << i;
    }
    EXPECT_EQ(table.entries[0].addresses->last.low, 0xFFFFFFFFu);
}

TEST(RuleTableLoading, RangeIsStoredFromItsFirstToItsLastAddress)
{
    RuleTable table = Load(RulesDocument(App("ANY", "ASK", "ASK", Rule("OUTGOING", "PERMIT", Port("80", "<IP>10.0.0.1-10.0.0.255</IP>")))));
    ASSERT_EQ(table.entries.size(), 1u);
    ASSERT_TRUE(table.entries[0].addresses.has_value());
    EXPECT_EQ(table.entries[0].addresses->family, rules::AddressFamily::kIpv4);
    EXPECT_EQ(table.entries[0].addresses->first.low, 167772161u);
    EXPECT_EQ(table.entries[0].addresses->last.low, 167772415u);
}

TEST(RuleTableLoading, EveryAddressOfAPortBecomesItsOwnEntry)
{
    RuleTable table = Load(RulesDocument(App("ANY", "ASK", "ASK",
        Rule("INCOMING", "DENY", Port("22", "<IP>10.0.0.1</IP><IP>10.0.0.9</IP>") + Port("23")))));
    ASSERT_EQ(table.entries.size(), 3u);
    EXPECT_EQ(table.entries[0].direction, engine::kIncoming);
    EXPECT_EQ(table.entries[1].addresses->first.low, 167772169u);
    EXPECT_EQ(table.entries[2].port, 23);
    EXPECT_FALSE(table.entries[2].addresses.has_value());
}

TEST(RuleTableLoading, InactiveRulesRulesWithoutPortsAndEmptyIpsAddNothing)
{
    RuleTable table = Load(RulesDocument(App("ANY", "ASK", "ASK",
        Rule("OUTGOING", "DENY", Port("1"), "0") + Rule("OUTGOING", "DENY", "") + Rule("OUTGOING", "DENY", Port("2", "")
        + "<PORT><NUMBER>3</NUMBER><IPS></IPS></PORT>") + Rule("OUTGOING", "DENY", Port("4"), "yes"))));
    ASSERT_EQ(table.entries.size(), 1u);
    EXPECT_EQ(table.entries[0].port, 2); // the port with no IPS element at all
}

TEST(RuleTableLoading, OwnEntryWithoutIncomingDefaultLetsTheGeneralEntryFollow)
{
    RuleTable table = Load(RulesDocument(App("TOOL.EXE", "", "DENY", Rule("OUTGOING", "PERMIT", Port("443")))
                                         + App("ANY", "ASK", "PERMIT", Rule("OUTGOING", "PERMIT", Port("53")))));
    EXPECT_EQ(table.defaultIncoming, engine::kAsk);
    EXPECT_EQ(table.defaultOutgoing, engine::kPermit);
    ASSERT_EQ(table.entries.size(), 2u);
    EXPECT_EQ(table.entries[0].port, 443);
    EXPECT_EQ(table.entries[1].port, 53);
}

TEST(RuleTableLoading, EntryWithIncomingDefaultEndsTheReading)
{
    RuleTable table;
    const auto document = RulesDocument(App("TOOL.EXE", "DENY", "DENY", Rule("OUTGOING", "PERMIT", Port("443")))
                                        + App("TOOL.EXE", "PERMIT", "PERMIT") + App("ANY", "ASK", "PERMIT"));
    EXPECT_EQ(table.LoadRulesFromText(document, "TOOL.EXE"), 1);
    EXPECT_EQ(table.defaultIncoming, engine::kDeny);
    EXPECT_EQ(table.defaultOutgoing, engine::kDeny);
    EXPECT_EQ(table.entries.size(), 1u);
    // A general entry placed first contributes ahead of the own entry.
    RuleTable other = Load(RulesDocument(App("ANY", "", "", Rule("OUTGOING", "DENY", Port("1")))
                                         + App("TOOL.EXE", "PERMIT", "PERMIT", Rule("OUTGOING", "PERMIT", Port("2")))));
    ASSERT_EQ(other.entries.size(), 2u);
    EXPECT_EQ(other.entries[0].port, 1);
}

TEST(RuleTableLoading, NamesCompareExactlyAndLowerCaseNeverApplies)
{
    RuleTable table = Load(RulesDocument(App("tool.exe", "DENY", "DENY", Rule("OUTGOING", "DENY", Port("1")))));
    EXPECT_TRUE(table.entries.empty());
    EXPECT_EQ(table.defaultIncoming, engine::kAsk);
    EXPECT_EQ(table.defaultOutgoing, engine::kAsk);
}

// An entry bound to its path is the program at that path alone: a copy of
// the program elsewhere reads past it (to the general entry, which asks), an
// entry bound to another path or to none keeps its name's programs, and a
// reader that knows no path (none given) applies no bound entry.
TEST(RuleTableLoading, EntryBoundToAPathAppliesOnlyToTheProgramThere)
{
    const std::string bound = "<APPLICATION><EXENAME>CURL</EXENAME><APPPATH>/usr/bin/curl</APPPATH><BYPATH>1</BYPATH>"
                              "<ISSERVICE>0</ISSERVICE><INDEF>DENY</INDEF><OUTDEF>PERMIT</OUTDEF></APPLICATION>";
    const std::string document = RulesDocument(bound + App("ANY", "ASK", "ASK"));
    struct Case {
        const char* path;
        int outgoing;
    };
    for (const Case& c : {Case {"/usr/bin/curl", engine::kPermit}, Case {"/tmp/curl", engine::kAsk},
                          Case {"/usr/bin/curl/", engine::kAsk}, Case {"", engine::kAsk}}) {
        SCOPED_TRACE(c.path);
        for (const bool streamed : {true, false}) {
            RuleTable table;
            if (streamed)
                table.LoadRulesFromText(document, {"CURL", c.path});
            else
                table.LoadRulesFromDocument(document, {"CURL", c.path});
            EXPECT_EQ(table.defaultOutgoing, c.outgoing);
        }
    }
    // Two copies, each with its own entry; an entry with its path but no
    // BYPATH, as every file written before had, applies by name.
    const std::string tmpCopy = "<APPLICATION><EXENAME>CURL</EXENAME><APPPATH>/tmp/curl</APPPATH><BYPATH>1</BYPATH>"
                                "<ISSERVICE>0</ISSERVICE><INDEF>DENY</INDEF><OUTDEF>DENY</OUTDEF></APPLICATION>";
    const std::string twoCopies = RulesDocument(bound + tmpCopy + App("ANY", "ASK", "ASK"));
    EXPECT_EQ(Load(twoCopies, "CURL").defaultOutgoing, engine::kAsk);
    RuleTable tmp;
    tmp.LoadRulesFromText(twoCopies, {"CURL", "/tmp/curl"});
    EXPECT_EQ(tmp.defaultOutgoing, engine::kDeny);
    const std::string unbound = "<APPLICATION><EXENAME>CURL</EXENAME><APPPATH>/usr/bin/curl</APPPATH>"
                                "<ISSERVICE>0</ISSERVICE><INDEF>DENY</INDEF><OUTDEF>PERMIT</OUTDEF></APPLICATION>";
    RuleTable byName;
    byName.LoadRulesFromText(RulesDocument(unbound + App("ANY", "ASK", "ASK")), {"CURL", "/tmp/curl"});
    EXPECT_EQ(byName.defaultOutgoing, engine::kPermit);
}

// An entry with a content check: the file it was checked against decides as
// the entry says; another file (changed, replaced), or one whose digest is
// unknown, is asked about wherever the entry would permit, and what it
// blocks stays blocked.
TEST(RuleTableLoading, ContentCheckTurnsPermitsIntoQuestionsForAnotherFile)
{
    const std::string document = RulesDocument(
        "<APPLICATION><EXENAME>CURL</EXENAME><APPPATH>/usr/bin/curl</APPPATH><BYPATH>1</BYPATH>"
        "<FILEHASH>sha256:aa</FILEHASH><ISSERVICE>0</ISSERVICE><INDEF>DENY</INDEF><OUTDEF>PERMIT</OUTDEF>"
        "<RULES>" + Rule("OUTGOING", "DENY", Port("25")) + Rule("OUTGOING", "PERMIT", Port("443")) + "</RULES>"
        "</APPLICATION>" + App("ANY", "PERMIT", "PERMIT"));
    struct Case {
        const char* digest; // null: unknown
        int outgoing, port443;
    };
    for (const Case& c : {Case {"sha256:aa", engine::kPermit, engine::kPermit},
                          Case {"sha256:bb", engine::kAsk, engine::kAsk}, Case {"", engine::kAsk, engine::kAsk},
                          Case {nullptr, engine::kAsk, engine::kAsk}}) {
        SCOPED_TRACE(c.digest ? c.digest : "unknown");
        std::string digest = c.digest ? c.digest : "";
        engine::ProgramIdentity program("CURL", "/usr/bin/curl");
        if (c.digest) {
            program.digest = [](void* context) -> const std::string& { return *static_cast<std::string*>(context); };
            program.digestContext = &digest;
        }
        RuleTable table;
        table.LoadRulesFromText(document, program);
        EXPECT_EQ(table.defaultOutgoing, c.outgoing);
        EXPECT_EQ(table.defaultIncoming, engine::kDeny);
        EXPECT_EQ(table.MatchRules(engine::kOutgoing, 25, "10.0.0.1"), engine::kDeny);
        EXPECT_EQ(table.MatchRules(engine::kOutgoing, 443, "10.0.0.1"), c.port443);
    }
    // The kernel layer, which knows names alone, takes the entry as it stands.
    engine::ProgramIdentity byName("CURL");
    byName.everyPath = true;
    RuleTable kernel;
    kernel.LoadRulesFromText(document, byName);
    EXPECT_EQ(kernel.defaultOutgoing, engine::kPermit);
}

TEST(RuleTableLoading, DeclarationOrCommentBeforeTheRootStillLoads)
{
    const std::string body = RulesDocument(App("ANY", "DENY", "PERMIT", Rule("OUTGOING", "PERMIT", Port("80"))));
    for (const std::string& prefix : {std::string("<?xml version=\"1.0\"?>\n"), std::string("<!-- saved -->"),
                                      std::string("<?xml version=\"1.0\" encoding=\"UTF-8\"?><!-- x --><?pi x?>\n")}) {
        RuleTable table = Load(prefix + body);
        EXPECT_EQ(table.defaultIncoming, engine::kDeny) << prefix;
        EXPECT_EQ(table.entries.size(), 1u) << prefix;
    }
}

TEST(RuleTableLoading, MalformedElementIsReadAsNoMoreThanItCouldMeanAndTheReadingGoesOn)
{
    // A rule without PERMISSION denies what it covers (here: nothing, it has
    // no port); the rules and the defaults after it count.
    const std::string broken = "<RULE><DIRECTION>OUTGOING</DIRECTION><STATE>1</STATE></RULE>";
    RuleTable table = Load(RulesDocument(App("ANY", "", "DENY", Rule("OUTGOING", "PERMIT", Port("80")) + broken
                                                                    + Rule("OUTGOING", "PERMIT", Port("81")))
                                         + App("ANY", "PERMIT", "PERMIT")));
    EXPECT_EQ(table.defaultOutgoing, engine::kPermit);
    EXPECT_EQ(table.defaultIncoming, engine::kPermit);
    ASSERT_EQ(table.entries.size(), 2u);
    // A permitting port without NUMBER covers nothing, an application without children applies to none.
    EXPECT_EQ(Load(RulesDocument(App("ANY", "", "", Rule("OUTGOING", "PERMIT", "<PORT><ALIAS>x</ALIAS></PORT>"))
                                 + App("ANY", "DENY", "DENY"))).entries.size(), 0u);
    EXPECT_EQ(Load(RulesDocument("<APPLICATION></APPLICATION>" + App("ANY", "DENY", "DENY"))).defaultIncoming,
              engine::kDeny);
}

TEST(RuleTableLoading, UnknownWordsReadAsDenyAndOutgoing)
{
    RuleTable table = Load(RulesDocument(App("ANY", "permit", "MAYBE", Rule("SIDEWAYS", "Allow", Port("25")))));
    EXPECT_EQ(table.defaultIncoming, engine::kDeny);
    EXPECT_EQ(table.defaultOutgoing, engine::kDeny);
    ASSERT_EQ(table.entries.size(), 1u);
    EXPECT_EQ(table.entries[0].direction, engine::kOutgoing);
    EXPECT_EQ(table.entries[0].permission, engine::kDeny);
}

// A port nobody can read never permits more: in a permitting rule it
// covers no port (it must not let everything through), in a denying one
// every port (what it was meant to block stays blocked, and the error log
// says why the program is blocked more than it was meant to be).
TEST(RuleTableLoading, PortThatIsNotANumberPermitsNoPortAndDeniesEvery)
{
    const std::pair<const char*, bool> cases[] = {
        {"https", false}, {"", false}, {"8o", false}, {"-1", false}, {"65536", false}, {"123456", false},
        {" 443 ", true},  {"0", true}, {"65535", true},
    };
    for (const auto& [number, kept] : cases) {
        const bool every = !kept || std::string_view(number) == "0";
        RuleTable table = Load(RulesDocument(App("ANY", "ASK", "ASK",
            Rule("OUTGOING", "DENY", Port(number)) + Rule("OUTGOING", "PERMIT", Port("80")))));
        ASSERT_EQ(table.entries.size(), 2u) << '"' << number << '"';
        EXPECT_EQ(table.MatchRules(1, 80, "10.0.0.1"), every ? engine::kDeny : engine::kPermit) << '"' << number << '"';
        EXPECT_EQ(table.MatchRules(1, 8080, "10.0.0.1"), every ? engine::kDeny : engine::kAsk) << '"' << number << '"';
        RuleTable permitting = Load(RulesDocument(App("ANY", "ASK", "ASK", Rule("OUTGOING", "PERMIT", Port(number)))));
        EXPECT_EQ(permitting.entries.size(), kept ? 1u : 0u) << '"' << number << '"';
    }
}

TEST(RuleTableLoading, BlanksAroundAddressesAreNotPartOfThem)
{
    RuleTable table = Load(RulesDocument(App("ANY", "ASK", "ASK", Rule("OUTGOING", "PERMIT",
        Port("80", "<IP> 10.0.0.2</IP><IP>10.0.1.1 - 10.0.1.9</IP><IP>\n\t10.0.2.1\n</IP>")))));
    ASSERT_EQ(table.entries.size(), 3u);
    EXPECT_EQ(table.MatchRules(1, 80, "10.0.0.2"), engine::kPermit);
    EXPECT_EQ(table.MatchRules(1, 80, "10.0.1.5"), engine::kPermit);
    EXPECT_EQ(table.MatchRules(1, 80, "10.0.2.1"), engine::kPermit);
    EXPECT_EQ(table.MatchRules(1, 80, "10.0.1.10"), engine::kAsk);
}

TEST(RuleTableLoading, AddressThatIsNoneRejectsOnlyItsEntry)
{
    RuleTable table = Load(RulesDocument(App("ANY", "ASK", "ASK", Rule("OUTGOING", "DENY",
        Port("80", "<IP>10.0.0.1</IP><IP>example.org</IP><IP>1.2.3</IP><IP>10.0.0.1-</IP><IP>fd00::1::2</IP>"
                   "<IP>10.0.0.0/33</IP><IP>10.0.0.1-fd00::1</IP><IP>10.0.0.2</IP>")))));
    ASSERT_EQ(table.entries.size(), 2u);
    EXPECT_EQ(table.entries[1].addresses->first.low, 167772162u);
}

TEST(RuleTableLoading, UnreadableFilesLeaveNoEntriesAndAskDefaults)
{
    testing_support::Sandbox sandbox;
    const std::string valid = RulesDocument(App("ANY", "PERMIT", "PERMIT", Rule("OUTGOING", "PERMIT", Port("80"))));
    std::string huge = "<APPLICATIONS>"; // within the limits: about 175,000 elements
    while (huge.size() < 3 * 1024 * 1024)
        huge += App("OTHER.EXE", "DENY", "DENY", Rule("OUTGOING", "DENY", Port("1")));
    std::string binary(4096, '\0');
    for (size_t i = 0; i < binary.size(); ++i)
        binary[i] = static_cast<char>((i * 131) & 0xFF);
    const std::pair<const char*, std::string> cases[] = {
        {"truncated", valid.substr(0, valid.size() / 2)},
        {"not xml", "APPLICATIONS ANY PERMIT"},
        {"binary", binary},
        {"empty", ""},
        {"huge and unterminated", huge},
    };
    for (const auto& [name, content] : cases) {
        testing_support::WriteText(sandbox.rulesFile, content);
        RuleTable table;
        engine::LoadStatus status;
        engine::FileStamp stamp;
        EXPECT_EQ(table.LoadRulesFor(sandbox.rulesFile, "TOOL.EXE", status, stamp), 0) << name;
        // Told apart from a file that parsed: such a file is read again once it changed.
        EXPECT_EQ(status, engine::LoadStatus::kMalformed) << name;
        EXPECT_TRUE(table.entries.empty()) << name;
        EXPECT_EQ(table.defaultIncoming, engine::kAsk) << name;
        EXPECT_EQ(table.defaultOutgoing, engine::kAsk) << name;
    }
    RuleTable missing;
    engine::LoadStatus status;
    engine::FileStamp stamp;
    EXPECT_EQ(missing.LoadRulesFor(sandbox.root + "/no-such-file.xml", "TOOL.EXE", status, stamp), 0);
    EXPECT_EQ(status, engine::LoadStatus::kMissing);
    EXPECT_EQ(missing.LoadRulesFor("", "TOOL.EXE"), 0);
    // Something else than a regular file is never read, and never waited on.
    ASSERT_EQ(::mkfifo((sandbox.root + "/fifo.xml").c_str(), 0600), 0);
    EXPECT_EQ(missing.LoadRulesFor(sandbox.root + "/fifo.xml", "TOOL.EXE", status, stamp), 0);
    EXPECT_EQ(status, engine::LoadStatus::kUnreadable);
    EXPECT_EQ(missing.LoadRulesFor(sandbox.root, "TOOL.EXE", status, stamp), 0);
    EXPECT_EQ(status, engine::LoadStatus::kUnreadable);
    // A huge but complete document loads: nothing in it applies to TOOL.EXE.
    testing_support::WriteText(sandbox.rulesFile, huge + App("TOOL.EXE", "DENY", "PERMIT") + "</APPLICATIONS>");
    RuleTable big;
    EXPECT_EQ(big.LoadRulesFor(sandbox.rulesFile, "TOOL.EXE"), 1);
    EXPECT_EQ(big.defaultIncoming, engine::kDeny);
}

// The piecewise reading takes the shape the control panel writes, and leaves
// everything else to the whole document; either way a program's table is the
// one the whole document gives.
TEST(RuleTableLoading, PiecewiseReadingKeepsWhatTheWholeDocumentGives)
{
    const std::string tool = App("TOOL.EXE", "DENY", "ASK", Rule("OUTGOING", "PERMIT", Port("80", "<IP>10.0.0.1</IP>")));
    const std::string other = App("OTHER", "PERMIT", "PERMIT", Rule("OUTGOING", "DENY", Port("22")));
    const std::string any = App("ANY", "ASK", "PERMIT", Rule("INCOMING", "DENY", Port("139")));
    const struct Case {
        const char* name;
        std::string document;
        bool piecewise;
    } cases[] = {
        {"the panel's shape", RulesDocument(other + tool + any), true},
        {"blanks, line breaks and comments", "\n<APPLICATIONS >\r\n <!-- a <comment> -->" + other + "\n\t" + tool
             + "</APPLICATIONS >\n<!-- end -->\n", true},
        {"a name with an entity", RulesDocument(App("TOOL&amp;CO", "DENY", "DENY") + tool), true},
        {"a comment inside a name", RulesDocument("<APPLICATION><EXENAME>TOOL<!-- -->.EXE</EXENAME>"
                                                  "<INDEF>PERMIT</INDEF></APPLICATION>" + tool), true},
        {"an application without children first", RulesDocument("<APPLICATION/>" + tool), true},
        {"an empty name first", RulesDocument("<APPLICATION><EXENAME/><INDEF>PERMIT</INDEF></APPLICATION>" + tool), true},
        {"text before the name", RulesDocument("<APPLICATION>TOOL.EXE<INDEF>PERMIT</INDEF></APPLICATION>" + tool), true},
        {"a stopping entry before other broken ones", RulesDocument(tool + "<APPLICATION><EXENAME>ANY</EXENAME>"
                                                                    "<RULES><RULE/></RULES></APPLICATION>"), true},
        {"an attribute", "<APPLICATIONS><APPLICATION id=\"1\"><EXENAME>X</EXENAME></APPLICATION>" + tool
             + "</APPLICATIONS>", false},
        {"a declaration", "<?xml version=\"1.0\"?>" + RulesDocument(tool), false},
        {"CDATA", RulesDocument("<APPLICATION><EXENAME><![CDATA[TOOL.EXE]]></EXENAME></APPLICATION>" + tool), false},
        {"text beside the applications", RulesDocument("stray" + tool), false},
        {"two roots", RulesDocument(tool) + RulesDocument(any), false},
        {"an unclosed element", RulesDocument(other + tool).substr(0, 200), false},
        {"crossed elements", "<APPLICATIONS><APPLICATION></APPLICATIONS></APPLICATION>", false},
        {"a comment that never ends", RulesDocument(tool) + "<!--", false},
        {"a zero byte in a comment", RulesDocument(tool + std::string("<!--\0-->", 8)), false},
        {"a non-ASCII element name", RulesDocument("<APPLICATIÖN><EXENAME>X</EXENAME></APPLICATIÖN>" + tool), false},
        {"escaped names beside a name written raw", RulesDocument(App("./ANY", "DENY", "DENY") + App("CAF\xE9", "DENY",
             "PERMIT", Rule("OUTGOING", "DENY", Port("25"))) + App("./CAF%E9", "PERMIT", "PERMIT") + any), true},
    };
    for (const Case& c : cases) {
        for (const char* program : {"TOOL.EXE", "OTHER", "NOBODY", "./ANY", "./CAF%E9"}) {
            RuleTable whole;
            const int wholeResult = whole.LoadRulesFromDocument(c.document, program);
            RuleTable table;
            size_t offset = 0;
            // Three bytes at a time, so that every tag and text crosses a piece's end.
            const auto result = engine::ReadRulesStream(
                [&](char* buffer, size_t room) -> ssize_t {
                    const size_t count = std::min({room, c.document.size() - offset, size_t {3}});
                    c.document.copy(buffer, count, offset);
                    offset += count;
                    return static_cast<ssize_t>(count);
                },
                table, program);
            EXPECT_EQ(result.outcome == engine::StreamOutcome::kRead, c.piecewise) << c.name;
            if (result.outcome != engine::StreamOutcome::kRead) {
                EXPECT_TRUE(table.entries.empty()) << c.name; // untouched
                continue;
            }
            EXPECT_EQ(result.stopped, wholeResult) << c.name << " " << program;
            EXPECT_EQ(table.defaultIncoming, whole.defaultIncoming) << c.name << " " << program;
            EXPECT_EQ(table.defaultOutgoing, whole.defaultOutgoing) << c.name << " " << program;
            ASSERT_EQ(table.entries.size(), whole.entries.size()) << c.name << " " << program;
            for (size_t i = 0; i < table.entries.size(); ++i) {
                EXPECT_EQ(table.entries[i].port, whole.entries[i].port) << c.name;
                EXPECT_EQ(table.entries[i].permission, whole.entries[i].permission) << c.name;
                EXPECT_EQ(table.entries[i].addresses, whole.entries[i].addresses) << c.name;
            }
        }
    }
}

// A program named "any" has its own entry, not the system settings'; a name
// the file cannot carry as it is is escaped, and an entry an older panel
// wrote with the raw bytes still applies to its program.
TEST(RuleTableLoading, EscapedNamesApplyToTheirProgramAndRawOnesStill)
{
    namespace rf = rules::rules_format;
    const std::string any = App("ANY", "ASK", "PERMIT");
    const std::string document = RulesDocument(App("./ANY", "DENY", "DENY") + App("TOOL.EXE", "PERMIT", "DENY") + any);
    const RuleTable program = Load(document, rf::ProgramName("any"));
    EXPECT_EQ(program.defaultIncoming, engine::kDeny);
    EXPECT_EQ(program.defaultOutgoing, engine::kDeny);
    const RuleTable other = Load(document, rf::ProgramName("netcat"));
    EXPECT_EQ(other.defaultIncoming, engine::kAsk);
    EXPECT_EQ(other.defaultOutgoing, engine::kPermit);
    // Before names were escaped, "any" shared the system settings: it still does with such a file.
    EXPECT_EQ(Load(RulesDocument(any), rf::ProgramName("Any")).defaultOutgoing, engine::kPermit);

    const std::string raw = RulesDocument(App("CAF\xE9", "DENY", "PERMIT") + any);
    const std::string escaped = RulesDocument(App("./CAF%E9", "PERMIT", "DENY") + any);
    EXPECT_EQ(Load(raw, rf::ProgramName("caf\xe9")).defaultIncoming, engine::kDeny);
    EXPECT_EQ(Load(escaped, rf::ProgramName("caf\xe9")).defaultIncoming, engine::kPermit);
    EXPECT_EQ(Load(escaped, "CAF").defaultIncoming, engine::kAsk);
    EXPECT_EQ(Load(escaped, "./CAF").defaultIncoming, engine::kAsk);
}

// An entry limited to a parent replaces its program's plain entry, wherever
// it stands, only for a program that parent started; the kernel layer knows no parent.
TEST(RuleTableLoading, EntryLimitedToAParentReplacesThePlainOneOnlyForThatParent)
{
    const auto limited = [](std::string name, std::string parent) {
        return "<APPLICATION><EXENAME>" + name + "</EXENAME>" + (parent.empty() ? "" : "<PARENT>" + parent + "</PARENT>")
            + "<INDEF>DENY</INDEF><OUTDEF>PERMIT</OUTDEF></APPLICATION>";
    };
    const std::string plain = App("HELPER", "DENY", "DENY"), any = App("ANY", "ASK", "ASK");
    const std::string byName = limited("HELPER/GIT", "GIT"), byPath = limited("HELPER//usr/bin/git", "/usr/bin/git");
    const struct Case {
        std::string document;
        const char *parentName, *parentPath;
        int outgoing;
    } cases[] = {
        {plain + byName + any, "GIT", "/usr/bin/git", engine::kPermit}, {byName + plain + any, "GIT", "", engine::kPermit},
        {plain + byName + any, "BASH", "/bin/bash", engine::kDeny},    {plain + byName + any, "", "", engine::kDeny},
        {byName + any, "BASH", "/bin/bash", engine::kAsk},    {plain + byName + any, "HELPER", "", engine::kDeny},
        {plain + byPath + any, "GIT", "/usr/bin/git", engine::kPermit}, {plain + byPath + any, "GIT", "/tmp/git", engine::kDeny},
        {plain + limited("HELPER/GIT", "BASH") + any, "GIT", "/usr/bin/git", engine::kDeny}, // name and PARENT disagree
        {plain + limited("HELPER/GIT", "") + any, "GIT", "/usr/bin/git", engine::kDeny},
        {limited("HELPER", "GIT") + any, "GIT", "/usr/bin/git", engine::kAsk},
    };
    for (const Case& c : cases) {
        engine::ProgramIdentity program("HELPER", "/usr/lib/helper");
        program.parentName = c.parentName;
        program.parentPath = c.parentPath;
        RuleTable streamed, whole;
        streamed.LoadRulesFromText(RulesDocument(c.document), program);
        whole.LoadRulesFromDocument(RulesDocument(c.document), program);
        EXPECT_EQ(std::pair(streamed.defaultOutgoing, whole.defaultOutgoing), std::pair(c.outgoing, c.outgoing)) << &c - cases;
    }
    engine::ProgramIdentity kernel("HELPER");
    kernel.everyPath = true;
    RuleTable table;
    table.LoadRulesFromText(RulesDocument(byName + any), kernel);
    EXPECT_EQ(table.defaultOutgoing, engine::kAsk);
}

// Whatever keeps a file from being read whole leaves the table as it was and
// is told apart from a missing file: the rules in force stay.
TEST(RuleTableLoading, FileThatCannotBeReadWholeChangesNothing)
{
    testing_support::Sandbox sandbox;
    const std::string document = RulesDocument(App("TOOL.EXE", "DENY", "DENY", Rule("OUTGOING", "PERMIT", Port("80"))));
    for (const auto& failure : testing_support::kReadFailures) {
        SCOPED_TRACE(failure.name);
        testing_support::MakeUnreadable(sandbox.rulesFile, failure.kind, document);
        RuleTable table = Load(RulesDocument(App("TOOL.EXE", "PERMIT", "ASK", Rule("INCOMING", "DENY", Port("22")))));
        engine::LoadStatus status;
        engine::FileStamp stamp;
        {
            testing_support::FilePermissionsHold unprivileged;
            EXPECT_EQ(table.LoadRulesFor(sandbox.rulesFile, "TOOL.EXE", status, stamp), 0);
        }
        EXPECT_EQ(status, engine::LoadStatus::kUnreadable);
        EXPECT_EQ(table.defaultIncoming, engine::kPermit);
        EXPECT_EQ(table.defaultOutgoing, engine::kAsk);
        EXPECT_EQ(table.entries.size(), 1u);
    }
    // Only nothing at all is missing.
    ::unlink(sandbox.rulesFile.c_str());
    RuleTable table;
    engine::LoadStatus status;
    engine::FileStamp stamp;
    table.LoadRulesFor(sandbox.rulesFile, "TOOL.EXE", status, stamp);
    EXPECT_EQ(status, engine::LoadStatus::kMissing);
}

// An attack: an application of 8 MB of empty elements made every program of
// the user build about 270 MB as it started. Past the elements' limit the
// file is refused as it is read, before anything is built of it.
TEST(AttackRulesFileOfEmptyElements, IsRefusedAsItIsReadBeforeTheEngineBuildsIt)
{
    testing_support::Sandbox sandbox;
    std::string elements;
    for (int i = 0; i < (2 << 20); ++i)
        elements += "<r/>";
    testing_support::WriteText(sandbox.rulesFile, RulesDocument(App("ANY", "PERMIT", "PERMIT", elements)));
    elements = {};
    RuleTable table = Load(RulesDocument(App("ANY", "DENY", "ASK")));
    engine::LoadStatus status;
    engine::FileStamp stamp;
    const bool peakKnown = testing_support::ResetPeakMemory();
    const long before = testing_support::PeakMemoryKb();
    EXPECT_EQ(table.LoadRulesFor(sandbox.rulesFile, "TOOL.EXE", status, stamp), 0);
    if (peakKnown) {
        EXPECT_LT(testing_support::PeakMemoryKb() - before, 16 << 10) << "kB";
    }
    EXPECT_EQ(status, engine::LoadStatus::kUnreadable);
    EXPECT_EQ(table.defaultOutgoing, engine::kAsk);
}

// A planted or hand-made mark leaves the host lists out for no program but
// the one it surely names: not through "ANY", an entry without a name,
// another program's or another file's entry, one the reading never reaches,
// a value other than "1", nor a second element after a "0".
TEST(AttackListsMark, NeverLeavesTheListsOutForAProgramItDoesNotName)
{
    const auto tool = [](const std::string& extra, const char* name = "<EXENAME>TOOL</EXENAME>") {
        return std::string("<APPLICATION>") + name + "<APPPATH>/opt/tool</APPPATH>" + extra + "</APPLICATION>";
    };
    const std::string mark = "<IGNORELISTS>1</IGNORELISTS>", any = App("ANY", "ASK", "ASK");
    const std::string bound = tool("<BYPATH>1</BYPATH><FILEHASH>sha256:aa</FILEHASH>" + mark) + any;
    const struct {
        std::string applications;
        std::string digest; // of the program's file
        bool ignores;
    } cases[] = {
        {tool(mark) + any, "", true}, {bound, "sha256:aa", true}, {bound, "sha256:bb", false}, {bound, "", false},
        {tool("") + "<APPLICATION><EXENAME>ANY</EXENAME>" + mark + "</APPLICATION>", "", false},
        {tool(mark, "") + any, "", false}, {tool(mark, "<EXENAME>OTHER</EXENAME>") + any, "", false},
        {any + tool(mark), "", false}, {tool("<IGNORELISTS>0</IGNORELISTS>" + mark) + any, "", false},
        {tool("<IGNORELISTS>1 </IGNORELISTS>") + any, "", false}, {tool("<IGNORELISTS>yes</IGNORELISTS>") + any, "", false},
    };
    for (const auto& c : cases) {
        engine::ProgramIdentity program("TOOL", "/opt/tool");
        program.digest = [](void* context) -> const std::string& { return *static_cast<const std::string*>(context); };
        program.digestContext = const_cast<std::string*>(&c.digest);
        RuleTable streamed, whole;
        streamed.LoadRulesFromText(RulesDocument(c.applications), program);
        whole.LoadRulesFromDocument(RulesDocument(c.applications), program);
        EXPECT_EQ(std::make_pair(streamed.ignoresLists, whole.ignoresLists), std::make_pair(c.ignores, c.ignores))
            << c.applications << " " << c.digest;
    }
}

// A profile in force: its defaults stand for the file's only where the
// program has no entry of its own, its override for the program's path
// decides before any entry, by direction, and nothing else changes.
TEST(RuleTableProfiles, DefaultsOnlyWithoutAnEntryAndOverridesBeforeTheEntries)
{
    const std::string document = RulesDocument(App("TOOL", "DENY", "DENY", Rule("OUTGOING", "PERMIT", Port("443")))
                                               + App("ANY", "ASK", "PERMIT", Rule("OUTGOING", "DENY", Port("25"))));
    const auto profile = protocol::profiles::Parse("Caf\xc3\xa9", "network=gw:10.0.0.1\nincoming=block\noutgoing=block\n"
                                                                      "allow=out /opt/tool\nblock=both /usr/bin/other\n");
    ASSERT_TRUE(profile);
    struct Case {
        const char* name;
        const char* path;
        int port;
        int outgoing, incoming;
    };
    for (const Case& c : {
             Case {"OTHER", "/usr/bin/other2", 80, engine::kDeny, engine::kDeny}, // the profile's defaults
             Case {"OTHER", "/usr/bin/other2", 25, engine::kDeny, engine::kDeny},
             Case {"TOOL", "/usr/bin/tool", 80, engine::kDeny, engine::kDeny},    // its own entry's defaults
             Case {"TOOL", "/usr/bin/tool", 443, engine::kPermit, engine::kDeny},
             Case {"TOOL", "/opt/tool", 80, engine::kPermit, engine::kDeny},      // overridden outgoing only
             Case {"OTHER", "/usr/bin/other", 443, engine::kDeny, engine::kDeny},
             Case {"TOOL", "", 443, engine::kPermit, engine::kDeny},              // no path: no override
         }) {
        SCOPED_TRACE(std::string(c.path) + " " + std::to_string(c.port));
        RuleTable table;
        table.LoadRulesFromText(document, {c.name, c.path});
        table.ApplyProfile(*profile, c.path);
        EXPECT_EQ(table.MatchRules(engine::kOutgoing, c.port, "192.0.2.1"), c.outgoing);
        EXPECT_EQ(table.MatchRules(engine::kIncoming, c.port, "192.0.2.1"), c.incoming);
    }
}

// A profile's value is anyone's text who can write the settings: what does
// not read as one of its words adds nothing, so it never lets through more
// than its readable words say, and network ids made from hostile names are
// one printable line that matches only itself.
TEST(AttackProfileValue, HostileTextChangesNothingItsWordsDoNotSay)
{
    namespace profiles = protocol::profiles;
    const std::string tooMany = [] {
        std::string text;
        for (int i = 0; i <= 256; ++i)
            text += "allow=both /bin/p" + std::to_string(i) + "\n";
        return text;
    }();
    EXPECT_FALSE(profiles::Parse("big", std::string(profiles::kMaxValueBytes, 'x')));
    EXPECT_FALSE(profiles::Parse("many", tooMany));
    const auto hostile = profiles::Parse(
        "p", "network=gw:1\x01\nincoming=allow\r\noutgoing=alloww\nallow=both relative/tool\nallow=out /bin/a\x1b[2J\n"
             "allow=sideways /bin/b\nblock-all=yes\nmode=everything\nallow=in /bin/c\n");
    ASSERT_TRUE(hostile);
    EXPECT_EQ(hostile->network, "");
    EXPECT_FALSE(hostile->incoming);
    EXPECT_FALSE(hostile->outgoing);
    EXPECT_FALSE(hostile->blockAll);
    EXPECT_EQ(hostile->mode, "");
    ASSERT_EQ(hostile->programs.size(), 1u);
    EXPECT_EQ(hostile->programs[0], (profiles::ProgramOverride {"/bin/c", true, true, false}));
    EXPECT_EQ(profiles::ForNetwork({*hostile}, ""), nullptr);
    RuleTable table;
    table.LoadRulesFromText(RulesDocument(App("ANY", "DENY", "DENY")), {"c", "/bin/c"});
    table.ApplyProfile(*hostile, "/bin/c");
    EXPECT_EQ(table.MatchRules(engine::kIncoming, 80, "192.0.2.1"), engine::kPermit);
    EXPECT_EQ(table.MatchRules(engine::kOutgoing, 80, "192.0.2.1"), engine::kDeny);
    for (const char* name : {"a/b", "..", ".hidden", " x", "tab\there", "back\\slash", "\xc3", "\xc2\x85",
                             "", "0123456789012345678901234567890123456789012345678901234567890123456789"})
        EXPECT_NE(profiles::NameProblem(name), "") << name;
    EXPECT_EQ(profiles::NameProblem("Caf\xc3\xa9"), "");
    // An SSID is 32 bytes of anything.
    std::string ssid;
    for (int i = 0; i < 32; ++i)
        ssid += static_cast<char>(i * 37 % 256);
    for (const std::string& bytes : {ssid, std::string("Caf\xc3\xa9\n\x1b]0;x\x07\\"), std::string("\xc2\x9b\xed\xa0\x80")}) {
        const std::string id = "ssid:" + os::EscapeNetworkText(bytes);
        EXPECT_EQ(profiles::NetworkProblem(id), "") << id;
    }
    // The store: ActiveProfile naming a path outside the profiles, or a
    // value too large to be one, puts nothing in force.
    testing_support::Sandbox sandbox;
    namespace registry = protocol::registry;
    const auto key = profiles::kProfilesKey;
    ASSERT_TRUE(registry::SetString(registry::RootKey::LocalMachine, key, "Big", std::string(200000, 'x')));
    ASSERT_TRUE(registry::SetString(registry::RootKey::LocalMachine, "Software\\KORVEL\\QRB", "Outside",
                                    "network=gw:1\noutgoing=allow\n"));
    for (const char* active : {"../Outside", "Big", "Missing"}) {
        ASSERT_TRUE(profiles::SetActive(active));
        EXPECT_FALSE(profiles::Active()) << active;
    }
    EXPECT_TRUE(profiles::All().empty());
    // Escaped text never passes for another network's name.
    EXPECT_NE(os::EscapeNetworkText("a\\x01"), os::EscapeNetworkText("a\x01"));
    EXPECT_EQ(os::EscapeNetworkText("Caf\xc3\xa9\n\\"), "Caf\xc3\xa9\\x0a\\x5c");
}

TEST(RuleMatching, PortZeroMatchesEveryPortAndTheFirstMatchWins)
{
    RuleTable table = Load(RulesDocument(App("ANY", "ASK", "PERMIT",
        Rule("OUTGOING", "DENY", Port("0")) + Rule("OUTGOING", "PERMIT", Port("80")))));
    EXPECT_EQ(table.MatchRules(1, 80, "10.0.0.1"), engine::kDeny);
    EXPECT_EQ(table.MatchRules(1, 12345, "10.0.0.1"), engine::kDeny);
    EXPECT_EQ(table.MatchRules(0, 80, "10.0.0.1"), engine::kAsk); // other direction: its default
}

TEST(RuleMatching, AddressRangesIncludeBothEndsAndReversedRangesMatchNothing)
{
    RuleTable table = Load(RulesDocument(App("ANY", "ASK", "ASK",
        Rule("OUTGOING", "PERMIT", Port("80", "<IP>10.0.0.1-10.0.0.255</IP>"))
        + Rule("OUTGOING", "DENY", Port("81", "<IP>10.0.0.9-10.0.0.1</IP>"))
        + Rule("OUTGOING", "DENY", Port("82", "<IP>192.168.1.1</IP>")))));
    EXPECT_EQ(table.MatchRules(1, 80, "10.0.0.1"), engine::kPermit);
    EXPECT_EQ(table.MatchRules(1, 80, "10.0.0.255"), engine::kPermit);
    EXPECT_EQ(table.MatchRules(1, 80, "10.0.1.0"), engine::kAsk);
    EXPECT_EQ(table.MatchRules(1, 80, "10.0.0.0"), engine::kAsk);
    EXPECT_EQ(table.MatchRules(1, 81, "10.0.0.5"), engine::kAsk);
    EXPECT_EQ(table.MatchRules(1, 82, "192.168.1.1"), engine::kDeny);
    EXPECT_EQ(table.MatchRules(1, 82, "192.168.1.2"), engine::kAsk);
    // An IPv6 peer never falls in an IPv4 range.
    EXPECT_EQ(table.MatchRules(1, 80, "2001:db8::1"), engine::kAsk);
}

TEST(Ipv4Parsing, AcceptsFourDecimalPartsOfUpToFourDigits)
{
    EXPECT_EQ(engine::ParseIpv4("255.255.255.255"), 0xFFFFFFFFu);
    EXPECT_EQ(engine::ParseIpv4("10.0.0.1"), 167772161u);
    EXPECT_EQ(engine::ParseIpv4("0.0.0.0"), 0u);
    EXPECT_EQ(engine::ParseIpv4("0010.0.0.1"), 167772161u);
    // Parts above 255 carry into the next part, modulo 2^32.
    EXPECT_EQ(engine::ParseIpv4("1.0.0.256"), 16777472u);
    EXPECT_EQ(engine::ParseIpv4("9999.0.0.0"), static_cast<uint32_t>(9999u << 24));
}

TEST(Ipv4Parsing, RejectsEverythingElse)
{
    for (const char* text : {"", "1.2.3", "1.2.3.4.5", "1.2.3.", ".1.2.3", "1..2.3", "10000.0.0.1", "a.b.c.d",
                             " 1.2.3.4", "1.2.3.4 ", "1.2.3.-4", "::1", "1.2.3.4-5.6.7.8", "12345"})
        EXPECT_FALSE(engine::ParseIpv4(text).has_value()) << text;
    // Only the given text is read: a part that runs to the end of a view stops there.
    const std::string_view cut = std::string_view("1.2.3.45678").substr(0, 7);
    EXPECT_EQ(engine::ParseIpv4(cut), 16909060u);
}
