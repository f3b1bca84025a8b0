#include "engine/Engine.h"

#include "protocol/LogFiles.h"
#include "protocol/Presence.h"
#include "protocol/SharedBlock.h"
#include "rules/HostListCompiler.h"
#include "rules/RulesFormat.h"
#include "tests/EngineTestOptions.h"
#include "tests/Sandbox.h"

#include <cstring>
#include <functional>
#include <gtest/gtest.h>
#include <unistd.h>

using engine::Engine;
using engine::EngineOptions;
using testing_support::RulesDocument;
using testing_support::Sandbox;

using rules::rules_format::kDefaultRulesDocument;

namespace {

using testing_support::kTcp;
using testing_support::kUdp;
constexpr int kIn = 0;
constexpr int kOut = 1;

EngineOptions TestOptions(std::string exePath = "/opt/apps/tool.exe")
{
    EngineOptions options = testing_support::TestEngineOptions(std::move(exePath));
    options.tickCount = [] { return 90000u; };
    return options;
}

// The default document with its outgoing default replaced.
std::string DefaultRulesWithOutgoing(const char* outDef)
{
    std::string document = kDefaultRulesDocument;
    const size_t at = document.find("<OUTDEF>PERMIT</OUTDEF>");
    return document.replace(at, 23, std::string("<OUTDEF>") + outDef + "</OUTDEF>");
}

class EngineDecision : public testing::Test {
protected:
    Sandbox sandbox;
    void SetUp() override { sandbox.WriteRules(kDefaultRulesDocument); }
};

}  // namespace

TEST_F(EngineDecision, DefaultDocumentDecidesByRulesAndDefaults)
{
    Engine engine(TestOptions());
    EXPECT_EQ(engine.Approve(40000, kOut, "10.0.0.5", kTcp, 80), 1);
    EXPECT_EQ(sandbox.ConnectionRecords().size(), 1u);
    EXPECT_EQ(engine.Approve(40001, kOut, "10.0.0.5", kTcp, 8080), 1);
    EXPECT_EQ(engine.Approve(139, kIn, "10.0.0.5", kTcp, 40000), 2);
    EXPECT_EQ(sandbox.ConnectionRecords().size(), 2u); // the asked one is not logged by Approve
    EXPECT_EQ(engine.Approve(68, kIn, "10.0.0.1", kUdp, 67), 1);
}

TEST_F(EngineDecision, OutgoingRuleMatchesRemotePortAndAddressNotLocalPort)
{
    sandbox.WriteRules(DefaultRulesWithOutgoing("DENY"));
    Engine engine(TestOptions());
    EXPECT_EQ(engine.Approve(5000, kOut, "255.255.255.255", kUdp, 67), 1);
    EXPECT_EQ(engine.Approve(5000, kOut, "10.0.0.255", kUdp, 67), 0);
    EXPECT_EQ(engine.Approve(80, kOut, "10.0.0.1", kTcp, 5000), 0);
}

TEST_F(EngineDecision, PermittedDatagramPeerMayAnswerWhateverTheRules)
{
    sandbox.WriteRules(RulesDocument("<APPLICATION><EXENAME>ANY</EXENAME><INDEF>DENY</INDEF><OUTDEF>PERMIT</OUTDEF>"
                                     "</APPLICATION>"));
    Engine engine(TestOptions());
    EXPECT_EQ(engine.Approve(53000, kIn, "10.1.1.1", kUdp, 53), 0);
    EXPECT_EQ(engine.Approve(53000, kOut, "10.1.1.1", kUdp, 53), 1);
    EXPECT_TRUE(engine.HasDatagramPeer("10.1.1.1:53"));
    EXPECT_EQ(engine.Approve(53000, kIn, "10.1.1.1", kUdp, 53), 1);
    EXPECT_EQ(engine.Approve(53000, kIn, "10.1.1.1", kTcp, 53), 0); // TCP is not affected
    EXPECT_EQ(engine.Approve(53000, kIn, "10.1.1.1", kUdp, 54), 0); // nor another port
    EXPECT_EQ(engine.Approve(40000, kOut, "10.2.2.2", kTcp, 80), 1);
    EXPECT_FALSE(engine.HasDatagramPeer("10.2.2.2:80"));
    // A peer is its address however written; one that is no address, its text.
    EXPECT_EQ(engine.Approve(53000, kOut, "fd00::1", kUdp, 53), 1);
    EXPECT_EQ(engine.Approve(53000, kIn, "fd00:0::0:1", kUdp, 53), 1);
    EXPECT_EQ(engine.Approve(53000, kIn, "fd00::2", kUdp, 53), 0);
    EXPECT_EQ(engine.Approve(53000, kOut, "no-address", kUdp, 53), 1);
    EXPECT_TRUE(engine.HasDatagramPeer("no-address:53"));
    EXPECT_EQ(engine.Approve(53000, kIn, "no-address", kUdp, 53), 1);
    EXPECT_EQ(engine.Approve(53000, kIn, "no-address", kUdp, 5), 0);
}

TEST_F(EngineDecision, LocalAddressesPassUnloggedEvenWhenBlockingAll)
{
    sandbox.SetSetting("SecurityStatus", "0");
    Engine engine(TestOptions());
    for (const char* local : {"127.0.0.1", "0.0.0.0", "::1"})
        EXPECT_EQ(engine.Approve(40000, kOut, local, kTcp, 9999), 1) << local;
    EXPECT_TRUE(sandbox.ConnectionRecords().empty());
    EXPECT_EQ(engine.Approve(40000, kOut, "10.0.0.5", kTcp, 80), 0);
    // Local by the text alone: a mapped loopback is decided, and logged as written.
    EXPECT_EQ(engine.Approve(40000, kOut, "::ffff:127.0.0.1", kTcp, 9999), 0);
    const auto records = sandbox.ConnectionRecords();
    ASSERT_EQ(records.size(), 2u);
    EXPECT_NE(records[0].find("<PERMISSION>0</PERMISSION>"), std::string::npos);
    EXPECT_NE(records[1].find("<IP>::ffff:127.0.0.1</IP>"), std::string::npos);
    // Local only when both ends are: from 127.0.0.1 to a server on 127.0.0.2
    // is decided, as the side that connected to 127.0.0.2 is.
    const struct {
        const char *remote, *own;
        int permitted;
    } ends[] = {{"127.0.0.1", "127.0.0.2", 0}, {"::1", "fd00::1", 0},    {"127.0.0.1", "127.0.0.1", 1},
                {"127.0.0.1", "0.0.0.0", 1},   {"::1", "::", 1},         {"::1", nullptr, 1},
                {"127.0.0.2", "127.0.0.1", 0}};
    for (const auto& end : ends)
        EXPECT_EQ(engine.ApproveNamesAt(40000, kIn, end.remote, nullptr, 0, kTcp, 9999, nullptr, end.own), end.permitted)
            << end.remote << " at " << (end.own ? end.own : "-");
    EXPECT_EQ(sandbox.ConnectionRecords().size(), 5u);
}

TEST_F(EngineDecision, BlockAllFollowsTheSecurityStatusText)
{
    Engine engine(TestOptions());
    const std::pair<const char*, bool> cases[] = {{"0", true}, {"1", false}, {"2", false}, {"3", false},
                                                  {"abc", true}, {" +0", true}, {"-1", false}, {"", true}};
    for (const auto& [text, blockAll] : cases) {
        sandbox.SetSetting("SecurityStatus", text);
        EXPECT_EQ(engine.IsBlockAll(), blockAll) << '"' << text << '"';
        EXPECT_EQ(engine.Approve(40000, kOut, "10.0.0.5", kTcp, 80), blockAll ? 0 : 1) << '"' << text << '"';
    }
    sandbox.DeleteSetting("SecurityStatus");
    EXPECT_FALSE(engine.IsBlockAll());
}

TEST_F(EngineDecision, PassesEverythingUnloggedWhenTheFirewallIsNotMeantToRun)
{
    sandbox.WriteRules(DefaultRulesWithOutgoing("DENY"));
    sandbox.SetAutostart(false);
    Engine engine(TestOptions());
    EXPECT_EQ(engine.Approve(40000, kOut, "10.0.0.5", kTcp, 8080), 1);
    EXPECT_EQ(engine.Approve(139, kIn, "10.0.0.5", kTcp, 40000), 1);
    EXPECT_TRUE(sandbox.ConnectionRecords().empty());
    EXPECT_EQ(engine.RulesSnapshot().entries.size(), 6u); // rules untouched
}

TEST_F(EngineDecision, PassesEverythingAfterTheControlPanelWasShutDownSinceBoot)
{
    sandbox.WriteRules(DefaultRulesWithOutgoing("DENY"));
    Engine engine(TestOptions()); // tick count 90000
    sandbox.SetSetting("VRNTIMEEND", "5000");
    EXPECT_EQ(engine.Approve(40000, kOut, "10.0.0.5", kTcp, 8080), 1);
    EXPECT_TRUE(sandbox.ConnectionRecords().empty());
    sandbox.SetSetting("VRNTIMEEND", "900000"); // stamped before a restart
    EXPECT_EQ(engine.Approve(40000, kOut, "10.0.0.5", kTcp, 8080), 0);
    sandbox.DeleteSetting("VRNTIMEEND");
    EXPECT_EQ(engine.Approve(40000, kOut, "10.0.0.5", kTcp, 8080), 0);
    sandbox.SetSetting("VRNTIMEEND", "4294967295");
    EXPECT_EQ(engine.Approve(40000, kOut, "10.0.0.5", kTcp, 8080), 0);
    EXPECT_EQ(sandbox.ConnectionRecords().size(), 3u);
}

TEST_F(EngineDecision, RunningControlPanelMeansFilteringWhateverTheStamp)
{
    sandbox.WriteRules(DefaultRulesWithOutgoing("DENY"));
    sandbox.SetAutostart(false);
    const int lock = protocol::presence::HoldControlPanelLock(protocol::presence::ControlPanelLockPath());
    ASSERT_GE(lock, 0);
    Engine engine(TestOptions());
    EXPECT_TRUE(engine.IsControlPanelRunning());
    EXPECT_EQ(engine.Approve(40000, kOut, "10.0.0.5", kTcp, 8080), 0);
    ::close(lock);
    EXPECT_FALSE(engine.IsControlPanelRunning());
    EXPECT_EQ(engine.Approve(40000, kOut, "10.0.0.5", kTcp, 8080), 1);
}

TEST_F(EngineDecision, WithoutRulesEveryConnectionIsAsked)
{
    sandbox.DeleteSetting("RulesFile");
    Engine engine(TestOptions());
    EXPECT_EQ(engine.Approve(40000, kOut, "10.0.0.5", kTcp, 80), 2);
    EXPECT_EQ(engine.Approve(22, kIn, "10.0.0.5", kTcp, 40000), 2);
    EXPECT_EQ(engine.LoadRules(), 0);
}

TEST_F(EngineDecision, ConnectionRecordCarriesEveryFieldInOrder)
{
    Engine engine(TestOptions("/opt/apps/tool.exe"));
    ASSERT_EQ(engine.Approve(40000, kOut, "10.0.0.5", kTcp, 80), 1);
    const auto records = sandbox.ConnectionRecords();
    ASSERT_EQ(records.size(), 1u);
    const std::string body = "<EXEPATH>/opt/apps/tool.exe</EXEPATH><APPLICATION>TOOL.EXE</APPLICATION>"
                             "<PROTOCOL>1</PROTOCOL><DIRECTION>1</DIRECTION><IP>10.0.0.5</IP><LOCALPORT>40000</LOCALPORT>"
                             "<REMOTEPORT>80</REMOTEPORT><PERMISSION>1</PERMISSION><SERVICE>0</SERVICE><REASON>rule</REASON>\r";
    ASSERT_GE(records[0].size(), body.size());
    EXPECT_EQ(records[0].substr(records[0].size() - body.size()), body);
    EXPECT_EQ(records[0].rfind("<DATE>", 0), 0u);
    EXPECT_NE(records[0].find("</DATE><TIME>"), std::string::npos);
}

// Each record says why: the entry that matched, the default, Block All, or
// an earlier permitted datagram to the same peer.
TEST_F(EngineDecision, EveryDecisionRecordsItsReason)
{
    sandbox.WriteRules(DefaultRulesWithOutgoing("DENY"));
    Engine engine(TestOptions());
    const struct {
        int direction, protocol;
        unsigned localPort, remotePort;
        const char* address;
        const char* blockAll; // SecurityStatus
        int result;
        const char* reason;
    } cases[] = {
        {kOut, kTcp, 40000, 80, "10.0.0.5", "1", 1, "rule"},     // the "Web" entry
        {kOut, kTcp, 40000, 8080, "10.0.0.5", "1", 0, "default"}, // no entry: the outgoing default
        {kOut, kUdp, 5000, 53, "10.0.0.9", "1", 1, "rule"},      // "dns": the peer may answer now
        {kIn, kUdp, 5000, 53, "10.0.0.9", "1", 1, "peer"},       // the answer of that peer
        {kOut, kTcp, 40000, 80, "10.0.0.5", "0", 0, "blockall"},
    };
    for (const auto& c : cases) {
        sandbox.SetSetting("SecurityStatus", c.blockAll);
        ASSERT_EQ(engine.Approve(c.localPort, c.direction, c.address, c.protocol, c.remotePort), c.result) << c.reason;
        const auto records = sandbox.ConnectionRecords();
        ASSERT_FALSE(records.empty());
        const auto entry = protocol::ParseLogLine(records.back());
        ASSERT_TRUE(entry);
        EXPECT_EQ(entry->reason, c.reason) << records.back();
    }
    // An asked connection is logged by UserApprove alone, with its own reason.
    sandbox.SetSetting("SecurityStatus", "1");
    EXPECT_EQ(engine.Approve(139, kIn, "10.0.0.5", kTcp, 40000), 2);
    EXPECT_EQ(sandbox.ConnectionRecords().size(), std::size(cases));
}

// A host list refuses a listed name or address before the program's own
// rules (here: everything on port 80 permitted, incoming asked), names the
// list in the record, and a replaced or removed file is taken by the
// running program. A peer on the shipped list of encrypted DNS services is
// marked so in its record, whatever decided it.
TEST_F(EngineDecision, AListedPeerIsRefusedBeforeTheRulesAndTheRecordNamesTheList)
{
    const std::string path = rules::HostListFilePath();
    ASSERT_EQ(path.rfind(sandbox.root, 0), 0u) << path; // never the user's own lists
    const auto writeLists = [&path](std::string_view text) {
        const rules::HostList list = rules::ParseHostList(text);
        const rules::CompiledHostLists compiled = rules::CompileHostLists({{"Ads & trackers", 5, &list}});
        ASSERT_EQ(compiled.error, "");
        ASSERT_TRUE(rules::WriteHostListFile(path, compiled.bytes));
    };
    writeLists("0.0.0.0 ads.example.com\n10.9.9.0/24\n");
    EngineOptions options = TestOptions();
    options.hostListCheckMs = 0;
    Engine engine(options);
    const struct {
        int direction;
        const char* address;
        const char* name;
        int result;
        const char* list; // in the record; null: none
        bool encryptedDns = false;
    } cases[] = {
        {kOut, "10.0.0.5", "ads.example.com", 0, "Ads &amp; trackers"},
        {kOut, "10.0.0.5", "www.example.com", 1, nullptr}, // the same address by an unlisted name
        {kOut, "10.9.9.7", nullptr, 0, "Ads &amp; trackers"},
        {kIn, "10.9.9.7", nullptr, 0, "Ads &amp; trackers"}, // would be asked: refused, no question
        {kOut, "10.0.0.5", "dns.google", 1, nullptr, true},
        {kOut, "9.9.9.9", nullptr, 1, nullptr, true},
        {kOut, "10.0.0.5", "dns.google.example.com", 1, nullptr},
    };
    for (const auto& c : cases) {
        const unsigned local = c.direction == kIn ? 139 : 40000;
        EXPECT_EQ(engine.ApproveNamed(local, c.direction, c.address, c.name, kTcp, c.direction == kIn ? 40000 : 80),
                  c.result) << c.address << " " << (c.name ? c.name : "");
        const auto records = sandbox.ConnectionRecords();
        ASSERT_FALSE(records.empty());
        const std::string expected = (c.list ? std::string("<REASON>list</REASON><LIST>") + c.list + "</LIST>"
                                             : std::string("<REASON>rule</REASON>"))
            + (c.encryptedDns ? "<ENCRYPTEDDNS>1</ENCRYPTEDDNS>\r" : "\r");
        EXPECT_TRUE(records.back().ends_with(expected)) << records.back();
    }
    // A new file is taken by the running program; without a file nothing is listed.
    writeLists("0.0.0.0 other.example\n");
    EXPECT_EQ(engine.ApproveNamed(40000, kOut, "10.0.0.5", "ads.example.com", kTcp, 80), 1);
    EXPECT_EQ(engine.ApproveNamed(40000, kOut, "10.0.0.5", "other.example", kTcp, 80), 0);
    ASSERT_EQ(::unlink(path.c_str()), 0);
    EXPECT_EQ(engine.ApproveNamed(40000, kOut, "10.0.0.5", "other.example", kTcp, 80), 1);

    // A program whose own entry leaves the lists out is decided by its rules
    // (443 denied, "ANY" permits 80); another program, or one marked on "ANY", is not.
    writeLists("0.0.0.0 ads.example.com\n");
    std::string marked = kDefaultRulesDocument, anyMarked = kDefaultRulesDocument;
    marked.insert(std::strlen("<APPLICATIONS>"), "<APPLICATION><EXENAME>TOOL.EXE</EXENAME><IGNORELISTS>1</IGNORELISTS>"
        "<RULES><RULE><DIRECTION>OUTGOING</DIRECTION><PERMISSION>DENY</PERMISSION><STATE>1</STATE><PORTS><PORT>"
        "<NUMBER>443</NUMBER></PORT></PORTS></RULE></RULES></APPLICATION>");
    anyMarked.insert(anyMarked.find("</EXENAME>") + 10, "<IGNORELISTS>1</IGNORELISTS>");
    const struct {
        const std::string& document;
        const char *exe, *reason;
        unsigned port;
        int result;
    } marks[] = {{marked, "/opt/apps/tool.exe", "rule", 80, 1}, {marked, "/opt/apps/tool.exe", "rule", 443, 0},
                 {marked, "/opt/apps/other", "list", 80, 0}, {anyMarked, "/opt/apps/tool.exe", "list", 80, 0}};
    for (const auto& m : marks) {
        sandbox.WriteRules(m.document);
        Engine program(TestOptions(m.exe));
        EXPECT_EQ(program.ApproveNamed(40000, kOut, "10.0.0.5", "ads.example.com", kTcp, m.port), m.result) << m.document;
        const auto entry = protocol::ParseLogLine(sandbox.ConnectionRecords().back());
        ASSERT_TRUE(entry);
        EXPECT_EQ(entry->reason, m.reason) << m.document;
    }
}

// The hook answers lookups of the encrypted-DNS canary "no such name"
// unless the setting says "0": missing, "1" or anything else answers them.
TEST_F(EngineDecision, TheDnsCanaryPassesOnlyWhenTheSettingSaysZero)
{
    Engine engine(TestOptions());
    EXPECT_EQ(engine.PassesDnsCanary(), 0);
    for (const auto& [value, passes] : {std::pair {"0", 1}, {"1", 0}, {" 0\n", 1}, {"off", 0}, {"00", 0}}) {
        sandbox.SetSetting("CanaryNoSuchName", value);
        EXPECT_EQ(engine.PassesDnsCanary(), passes) << '"' << value << '"';
    }
}

TEST_F(EngineDecision, AskedConnectionWithoutAlertProgramIsDeniedAndLoggedOnce)
{
    Engine engine(TestOptions());
    EXPECT_EQ(engine.Approve(139, kIn, "10.0.0.5", kTcp, 40000), 2);
    EXPECT_EQ(engine.UserApprove(139, kIn, "10.0.0.5", "host1", kTcp, 40000), 0);
    const auto records = sandbox.ConnectionRecords();
    ASSERT_EQ(records.size(), 1u);
    EXPECT_NE(records[0].find("<IP>10.0.0.5</IP><LOCALPORT>139</LOCALPORT>"), std::string::npos);
    EXPECT_NE(records[0].find("<PERMISSION>0</PERMISSION>"), std::string::npos);
}

// The reload protocol, with a running control panel and a shared block.
class EngineReload : public testing::Test {
protected:
    Sandbox sandbox;
    int panelLock = -1;
    protocol::SharedBlock block;

    void SetUp() override
    {
        sandbox.WriteRules(kDefaultRulesDocument);
        panelLock = protocol::presence::HoldControlPanelLock(protocol::presence::ControlPanelLockPath());
        ASSERT_GE(panelLock, 0);
        block = protocol::SharedBlock::Create(protocol::SharedBlock::DefaultPath());
        ASSERT_TRUE(block);
    }
    void TearDown() override { ::close(panelLock); }

    EngineOptions Options(std::string exePath, pid_t pid)
    {
        EngineOptions options = TestOptions(std::move(exePath));
        options.pid = pid;
        return options;
    }
};

TEST_F(EngineReload, NamedHostsReloadAndAcknowledgeBySubstring)
{
    Engine iexplore(Options("/apps/IEXPLORE.EXE", 100));
    Engine pad(Options("/apps/pad.exe", 200));
    Engine other(Options("/apps/other.exe", 300));
    for (Engine* engine : {&iexplore, &pad, &other})
        EXPECT_EQ(engine->Approve(40000, kOut, "10.0.0.5", kTcp, 8080), 1);

    sandbox.WriteRules(DefaultRulesWithOutgoing("DENY"));
    block.Publish(" NOTEPAD.EXE IEXPLORE.EXE");
    EXPECT_EQ(iexplore.Approve(40000, kOut, "10.0.0.5", kTcp, 8080), 0);
    EXPECT_EQ(pad.Approve(40000, kOut, "10.0.0.5", kTcp, 8080), 0);
    EXPECT_EQ(other.Approve(40000, kOut, "10.0.0.5", kTcp, 8080), 1);
    EXPECT_EQ(block.AcknowledgementCount(), 2);
    EXPECT_EQ(block.AcknowledgementSlot(1), 100u);
    EXPECT_EQ(block.AcknowledgementSlot(2), 200u);
    // A reload replaces the table: no duplicated entries pile up.
    EXPECT_EQ(iexplore.RulesSnapshot().entries.size(), 6u);
}

// A rules file of some megabytes is parsed once per change, not at every
// decision while the name stays in the update string.
TEST_F(EngineReload, EachPublishedChangeIsLoadedOnce)
{
    Engine iexplore(Options("/apps/IEXPLORE.EXE", 100));
    EXPECT_EQ(iexplore.Approve(40000, kOut, "10.0.0.5", kTcp, 8080), 1);
    const int loads = iexplore.Reloads();
    std::vector<uint32_t> sequences = {0, 0};
    const uint32_t published = block.PublishUpdate(" NOTEPAD.EXE IEXPLORE.EXE", sequences, 0);
    for (int i = 0; i < 20; ++i)
        iexplore.Approve(40000, kOut, "10.0.0.5", kTcp, 8080);
    EXPECT_EQ(iexplore.Reloads(), loads + 1);
    EXPECT_EQ(block.AcknowledgementCount(), 1);
    // Another name joins while IEXPLORE.EXE stays for an engine that is idle:
    // the change already taken is not loaded again.
    block.PublishUpdate(" NOTEPAD.EXE IEXPLORE.EXE OTHER.EXE", {published, published, 0}, 0);
    iexplore.Approve(40000, kOut, "10.0.0.5", kTcp, 8080);
    EXPECT_EQ(iexplore.Reloads(), loads + 1);
    // A new change for it is.
    block.Publish(" IEXPLORE.EXE");
    iexplore.Approve(40000, kOut, "10.0.0.5", kTcp, 8080);
    EXPECT_EQ(iexplore.Reloads(), loads + 2);
}

// However long a program stayed idle, the change reaches it at its next decision.
TEST_F(EngineReload, IdleEngineTakesAChangePublishedWhileItSlept)
{
    Engine tool(Options("/apps/tool", 100));
    EXPECT_EQ(tool.Approve(40000, kOut, "10.0.0.5", kTcp, 8080), 1);
    sandbox.WriteRules(DefaultRulesWithOutgoing("DENY"));
    const uint32_t change = block.Publish(" TOOL");
    // Many later writes of the string go by (other programs' changes).
    for (int i = 0; i < 50; ++i)
        block.PublishUpdate(" TOOL OTHER" + std::to_string(i), {change, 0}, 0);
    EXPECT_EQ(tool.Approve(40000, kOut, "10.0.0.5", kTcp, 8080), 0);
}

TEST_F(EngineReload, HalfWrittenRulesAreReadAgainOnceTheyChanged)
{
    EngineOptions options = Options("/apps/tool", 100);
    options.rulesRetryMs = 0;
    sandbox.WriteRules(DefaultRulesWithOutgoing("PERMIT"));
    Engine tool(options);
    EXPECT_EQ(tool.Approve(40000, kOut, "10.0.0.5", kTcp, 8080), 1);
    // Caught in the middle of a rewrite: the rules in force stay.
    const std::string deny = DefaultRulesWithOutgoing("DENY");
    testing_support::WriteText(sandbox.rulesFile, deny.substr(0, deny.size() / 2));
    block.Publish(" TOOL");
    EXPECT_EQ(tool.Approve(40000, kOut, "10.0.0.5", kTcp, 8080), 1);
    const int loads = tool.Reloads();
    EXPECT_EQ(tool.Approve(40000, kOut, "10.0.0.5", kTcp, 8080), 1);
    EXPECT_EQ(tool.Reloads(), loads); // unchanged since: not read again
    // The writer finishes; the next decision reads it, without a new publication.
    testing_support::WriteText(sandbox.rulesFile, deny);
    EXPECT_EQ(tool.Approve(40000, kOut, "10.0.0.5", kTcp, 8080), 0);
}

TEST_F(EngineReload, ExplicitLoadRulesAppendsWithoutChangingDecisions)
{
    Engine engine(Options("/apps/tool", 100));
    EXPECT_EQ(engine.Approve(40000, kOut, "10.0.0.5", kTcp, 80), 1);
    EXPECT_EQ(engine.LoadRules(), 0);
    EXPECT_EQ(engine.RulesSnapshot().entries.size(), 12u);
    EXPECT_EQ(engine.Approve(40000, kOut, "10.0.0.5", kTcp, 80), 1);
}

// A datagram verdict (the peers here, and the hook's per socket, which
// follows VerdictEpoch) holds while what it was taken by holds. Once the
// rules are read again, block-all or filtering is switched, or the answer
// for a time it came from ends, the next datagram is decided afresh: sent
// by what the rules say now, and the peer's answer let in only while
// sending to the peer still is permitted.
class AttackDatagramVerdicts : public EngineReload {};

TEST_F(AttackDatagramVerdicts, EndWithWhatTheyWereTakenBy)
{
    const std::string byRule = "<APPLICATION><EXENAME>TOOL</EXENAME><INDEF>DENY</INDEF><OUTDEF>DENY</OUTDEF><RULES><RULE>"
                               "<DIRECTION>OUTGOING</DIRECTION><PERMISSION>PERMIT</PERMISSION><STATE>1</STATE><PORTS><PORT>"
                               "<NUMBER>53</NUMBER></PORT></PORTS></RULE></RULES></APPLICATION>";
    const std::string byAnswer = "<APPLICATION><EXENAME>TOOL</EXENAME><INDEF>DENY</INDEF><OUTDEF>ASK</OUTDEF><TIMED><ANSWER>"
                                 "<DIRECTION>OUTGOING</DIRECTION><PERMISSION>PERMIT</PERMISSION><UNTIL>1800000600</UNTIL>"
                                 "<NUMBER>53</NUMBER></ANSWER></TIMED></APPLICATION>";
    std::time_t now = 1'800'000'000;
    const struct {
        const char* what;
        const std::string& rules;
        std::function<void(Engine&)> end;
        int answer; // the peer's next datagram
        int sent;   // the next datagram sent to the peer
    } cases[] = {
        {"the rule removed", byRule,
         [&](Engine&) {
             sandbox.WriteRules(RulesDocument("<APPLICATION><EXENAME>TOOL</EXENAME><INDEF>DENY</INDEF><OUTDEF>DENY</OUTDEF>"
                                              "</APPLICATION>"));
             block.Publish(" TOOL");
         },
         0, 0},
        {"block-all switched on and off", byRule,
         [&](Engine& engine) {
             sandbox.SetSetting("SecurityStatus", "0");
             engine.VerdictEpoch();
             sandbox.SetSetting("SecurityStatus", "1");
         },
         1, 1},
        {"filtering stopped and started", byRule,
         [&](Engine& engine) {
             ::close(panelLock);
             sandbox.SetAutostart(false);
             engine.VerdictEpoch();
             sandbox.SetAutostart(true);
             panelLock = protocol::presence::HoldControlPanelLock(protocol::presence::ControlPanelLockPath());
         },
         1, 1},
        {"the answer for a time ended", byAnswer, [&](Engine&) { now = 1'800'000'600; }, 0, 2},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        now = 1'800'000'000;
        sandbox.WriteRules(RulesDocument(c.rules));
        EngineOptions options = Options("/apps/tool", 100);
        options.now = [&now] { return now; };
        Engine engine(options);
        ASSERT_EQ(engine.Approve(5353, kOut, "10.1.1.1", kUdp, 53), 1);
        ASSERT_EQ(engine.Approve(5353, kIn, "10.1.1.1", kUdp, 53), 1); // the peer's answer
        const uint32_t epoch = engine.VerdictEpoch();
        EXPECT_EQ(engine.VerdictEpoch(), epoch);
        c.end(engine);
        EXPECT_NE(engine.VerdictEpoch(), epoch);
        EXPECT_FALSE(engine.HasDatagramPeer("10.1.1.1:53"));
        EXPECT_EQ(engine.Approve(5353, kIn, "10.1.1.1", kUdp, 53), c.answer);
        EXPECT_EQ(engine.Approve(5353, kOut, "10.1.1.1", kUdp, 53), c.sent);
        EXPECT_EQ(engine.Approve(5353, kIn, "10.1.1.1", kUdp, 53), c.answer);
    }
}

TEST_F(EngineReload, SharedBlockOperationsUseTheDocumentedSlots)
{
    Engine first(Options("/apps/a", 100));
    Engine second(Options("/apps/b", 200));
    first.Approve(1, kOut, "127.0.0.1", kTcp, 1); // opens the block
    second.Approve(1, kOut, "127.0.0.1", kTcp, 1);
    first.PostUpdateDone();
    second.PostUpdateDone();
    EXPECT_EQ(block.AcknowledgementCount(), 2);
    EXPECT_EQ(block.AcknowledgementSlot(1), 100u);
    EXPECT_EQ(block.AcknowledgementSlot(2), 200u);

    const uint32_t a = block.CounterA(), b = block.CounterB();
    first.WriteTraffic(1, 100);
    first.WriteTraffic(0, 5);
    EXPECT_EQ(block.CounterA() - a, 100u);
    EXPECT_EQ(block.CounterB() - b, 5u);

    block.Publish(" SOMETHING.EXE");
    char buffer[512];
    std::memset(buffer, 'x', sizeof buffer);
    first.GetUpdateString(buffer);
    EXPECT_STREQ(buffer, " SOMETHING.EXE");
}

TEST_F(EngineReload, AcknowledgementsPastTheLastSlotWriteNothing)
{
    Engine engine(Options("/apps/a", 4242));
    engine.Approve(1, kOut, "127.0.0.1", kTcp, 1);
    for (int i = 0; i < 300; ++i)
        engine.PostUpdateDone();
    EXPECT_EQ(block.AcknowledgementCount(), 300); // the count at offset 1544 was never overwritten by a slot
    EXPECT_EQ(block.AcknowledgementSlot(256), 4242u);
}

TEST(EngineWithoutBlock, SharedBlockOperationsDoNothingAndNothingReloads)
{
    Sandbox sandbox;
    sandbox.WriteRules(kDefaultRulesDocument);
    const int lock = protocol::presence::HoldControlPanelLock(protocol::presence::ControlPanelLockPath());
    Engine engine(TestOptions());
    EXPECT_EQ(engine.Approve(40000, kOut, "10.0.0.5", kTcp, 80), 1);
    char buffer[512] = "untouched";
    engine.GetUpdateString(buffer);
    EXPECT_STREQ(buffer, "untouched");
    engine.WriteTraffic(1, 100);
    engine.PostUpdateDone();
    EXPECT_EQ(engine.RulesSnapshot().entries.size(), 6u);
    ::close(lock);
}
