#include "panel/core/AlertAnswers.h"
#include "panel/core/AnswerQueue.h"
#include "panel/core/AwayAnswers.h"
#include "panel/core/BackstopAnswer.h"
#include "panel/core/ErrorLog.h"
#include "panel/core/FileInformation.h"
#include "panel/core/FilterState.h"
#include "panel/core/LogReader.h"
#include "panel/core/Options.h"
#include "panel/core/PanelCore.h"
#include "panel/core/ProcessList.h"
#include "panel/core/RuleChecks.h"
#include "panel/core/ReviewRules.h"
#include "panel/core/RuleDescription.h"
#include "panel/core/SecurityLevels.h"
#include "panel/core/TimedAnswers.h"

#include "engine/HostPattern.h"
#include "engine/RuleTable.h"
#include "os/Processes.h"
#include "protocol/LogFiles.h"
#include "protocol/PanelMessages.h"
#include "rules/DocumentReader.h"
#include "rules/RulesFormat.h"
#include "tests/Sandbox.h"
#include "text/Strings.h"
#include "text/Translate.h"

#include <algorithm>
#include <filesystem>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/inotify.h>
#include <sys/mman.h>
#include <unistd.h>

using testing_support::FakeProcessTable;
using testing_support::Sandbox;
using testing_support::WriteText;

namespace {

// A default's word as the file has it; empty for none.
std::string Word(std::optional<rules::Permission> permission)
{
    return permission ? rules::WordOf(*permission) : "";
}
std::string In(const rules::Application* app) { return Word(app->incoming); }
std::string Out(const rules::Application* app) { return Word(app->outgoing); }

// A process table with a desktop program, a copy of it, the firewall's own
// programs, a program under a folder named like the panel, a system
// service and a process that cannot be examined.
class RunningPrograms : public ::testing::Test {
protected:
    void SetUp() override
    {
        table.Add(1, 0, "/usr/lib/systemd/systemd");
        table.Add(100, 1, "/usr/bin/firefox-esr");
        table.Add(101, 100, "/usr/bin/firefox-esr");
        table.Add(102, 1, "/usr/local/bin/zel");
        table.Add(103, 102, "/usr/local/lib/korvel/zelconn");
        table.Add(104, 1, "/opt/hazel/bin/editor");
        table.Add(105, 1, "/usr/sbin/sshd", true);
        table.Add(106, 2, "");
        sandbox.SetSetting("ErrLogs", sandbox.logs);
        sandbox.SetSetting("SecurityMode", "Normal");
        sandbox.WriteRules("<APPLICATIONS><APPLICATION><EXENAME>EDITOR</EXENAME><DESCRIPTION>EDITOR</DESCRIPTION>"
                           "<INDEF>ASK</INDEF><OUTDEF>DENY</OUTDEF><RULES><RULE><RULENAME>r</RULENAME></RULE></RULES>"
                           "</APPLICATION><APPLICATION><EXENAME>ANY</EXENAME><INDEF>ASK</INDEF><OUTDEF>PERMIT</OUTDEF>"
                           "</APPLICATION></APPLICATIONS>");
        state.SetProcRoot(table.Root());
        state.LoadSettings(std::time(nullptr));
        state.LoadRules();
    }
    void TearDown() override { panel::TheErrorLog().Close(); }
    void Log(const std::string& line) const
    {
        const std::string path = protocol::TrafficLogFileName(sandbox.logs, std::time(nullptr));
        WriteText(path, testing_support::ReadText(path) + "<DATE>d</DATE><TIME>t</TIME>" + line + "\r\n");
    }

    Sandbox sandbox;
    FakeProcessTable table {sandbox.root + "/proc"};
    panel::PanelCore state;
};

}  // namespace

TEST_F(RunningPrograms, ListHoldsPathsOrNamesAndServicesOnlyWhenAsked)
{
    EXPECT_EQ(panel::GetWindowsProcess(" ", true, false, table.Root()),
              " /USR/LIB/SYSTEMD/SYSTEMD /USR/BIN/FIREFOX-ESR /USR/BIN/FIREFOX-ESR /OPT/HAZEL/BIN/EDITOR");
    EXPECT_EQ(panel::GetWindowsProcess("\n", false, true, table.Root()),
              "\nSYSTEMD\nFIREFOX-ESR\nFIREFOX-ESR\nEDITOR\n+SSHD");
    // Paths as they are, for an entry that records them.
    EXPECT_NE(panel::GetWindowsProcess(" ", true, false, table.Root(), true).find("/usr/bin/firefox-esr"), std::string::npos);
}

TEST_F(RunningPrograms, StartedProgramsStillRunningAreReportedOnce)
{
    Log("<APPLICATIONSTART>/usr/bin/firefox-esr</APPLICATIONSTART>");
    Log("<APPLICATIONSTART>/usr/bin/firefox-esr</APPLICATIONSTART>");
    Log("<APPLICATIONSTART>/usr/bin/gone</APPLICATIONSTART>");
    Log("<APPLICATIONSTART>/opt/hazel/bin/editor</APPLICATIONSTART>");
    Log("<APPLICATIONEND>/usr/bin/firefox-esr</APPLICATIONEND>");
    const std::time_t now = std::time(nullptr);
    EXPECT_EQ(panel::StartedProgramsRunning(sandbox.logs, table.Root(), now, false),
              (std::vector<std::string> {"/usr/bin/firefox-esr", "/opt/hazel/bin/editor"}));
    state.PublishRunningPrograms(now);
    EXPECT_EQ(state.Updates().Text(), " FIREFOX-ESR EDITOR");
}

// The side column's list: the very executables, not others of their names.
TEST_F(RunningPrograms, StillRunningMeansTheSameExecutable)
{
    EXPECT_EQ(panel::StillRunning({"/usr/bin/firefox-esr", "/usr/local/bin/firefox-esr", "/usr/bin/gone",
                                   "/opt/hazel/bin/editor", "/USR/BIN/FIREFOX-ESR"},
                                  table.Root()),
              (std::vector<std::string> {"/usr/bin/firefox-esr", "/opt/hazel/bin/editor"}));
    EXPECT_TRUE(panel::StillRunning({}, table.Root()).empty());
}

TEST_F(RunningPrograms, AlertAnswersBecomeTheProgramsOwnEntry)
{
    // Code 3: outgoing blocked, for a program without an entry.
    const auto added = panel::SetNewApp(state, 3, 100, table.Root());
    ASSERT_TRUE(added);
    // The new entry is bound to the program's file: known by its path.
    EXPECT_EQ(added->key, "/usr/bin/firefox-esr");
    EXPECT_FALSE(state.Rules().Find("FIREFOX-ESR"));
    const rules::Application* firefox = state.Rules().Find("/usr/bin/firefox-esr");
    ASSERT_TRUE(firefox);
    EXPECT_EQ(firefox->name, "FIREFOX-ESR");
    EXPECT_TRUE(firefox->byPath);
    EXPECT_EQ(Out(firefox), "DENY");
    EXPECT_EQ(In(firefox), "ASK"); // the general incoming default
    EXPECT_EQ(firefox->path, "/usr/bin/firefox-esr");
    EXPECT_EQ(firefox->description, "FIREFOX-ESR"); // no desktop entry: its name

    // Code 1: incoming blocked, for a program with an entry: only the
    // incoming default changes; the outgoing one, the rules and the entry's
    // place stay (its path, unknown so far, is filled in; the entry still
    // applies by its name, as it did).
    ASSERT_TRUE(panel::SetNewApp(state, 1, 104, table.Root()));
    const rules::Application* editor = state.Rules().Find("EDITOR");
    EXPECT_EQ(In(editor), "DENY");
    EXPECT_EQ(Out(editor), "DENY");
    EXPECT_EQ(editor->rules.size(), 1u);
    EXPECT_EQ(state.Rules().Document().applications.size(), 3u);
    EXPECT_EQ(&state.Rules().Document().applications[0], editor);
    EXPECT_EQ(state.Updates().Text(), " FIREFOX-ESR EDITOR");
    const std::string rules = testing_support::ReadText(sandbox.rulesFile);
    EXPECT_NE(rules.find("<EXENAME>EDITOR</EXENAME><DESCRIPTION>EDITOR</DESCRIPTION><APPPATH>/opt/hazel/bin/editor"
                         "</APPPATH><ISSERVICE>0</ISSERVICE><INDEF>DENY</INDEF><OUTDEF>DENY</OUTDEF><RULES><RULE>"
                         "<RULENAME>r</RULENAME>"),
              std::string::npos);

    // A process that cannot be examined changes nothing, unless its engine
    // sent the program's path with the answer (it ended before it was read);
    // only an absolute path of one line is taken.
    EXPECT_FALSE(panel::SetNewApp(state, 4, 106, table.Root()));
    EXPECT_FALSE(panel::SetNewApp(state, 4, 999, table.Root()));
    for (const char* hint : {"gone-now", "/usr/bin/gone\nnow"})
        EXPECT_FALSE(panel::SetNewApp(state, 4, 999, table.Root(), "", hint)) << hint;
    EXPECT_EQ(state.Rules().Document().applications.size(), 3u);
    EXPECT_EQ(testing_support::ReadText(sandbox.rulesFile), rules);
    const auto ended = panel::SetNewApp(state, 4, 999, table.Root(), "", "/usr/bin/gone-now");
    ASSERT_TRUE(ended);
    EXPECT_EQ(ended->key, "/usr/bin/gone-now");
    EXPECT_EQ(Out(state.Rules().Find("/usr/bin/gone-now")), "PERMIT");
    // The process, while it runs, is asked before the path sent.
    ASSERT_TRUE(panel::SetNewApp(state, 3, 100, table.Root(), "", "/usr/bin/gone-now"));
    EXPECT_EQ(Out(state.Rules().Find("/usr/bin/gone-now")), "PERMIT");
    EXPECT_FALSE(panel::SetNewApp(state, 5, 999, table.Root(), "GONE-NOW")); // off the update list again

    // Code 5: the program ended, its name leaves the list.
    EXPECT_FALSE(panel::SetNewApp(state, 5, 100, table.Root(), "FIREFOX-ESR"));
    EXPECT_EQ(state.Updates().Text(), " EDITOR");
}

// A ticked answer sets the default of the direction it answered, and only
// that: what decided the program's other direction and its rules before
// still does, whether the entry had its own defaults or followed the
// system settings.
TEST_F(RunningPrograms, TickedAnswerChangesOnlyTheAnsweredDirection)
{
    const std::string rules = "<RULES><RULE><RULENAME>block 7002</RULENAME><DIRECTION>OUTGOING</DIRECTION>"
                              "<PERMISSION>DENY</PERMISSION><STATE>1</STATE><PORTS><PORT><NUMBER>7002</NUMBER></PORT>"
                              "</PORTS></RULE><RULE><RULENAME>allow 7001</RULENAME><DIRECTION>OUTGOING</DIRECTION>"
                              "<PERMISSION>PERMIT</PERMISSION><STATE>1</STATE><PORTS><PORT><NUMBER>7001</NUMBER>"
                              "</PORT></PORTS></RULE></RULES>";
    struct Case {
        const char* inDef;
        const char* outDef;
    } entries[] = {{"ASK", "DENY"}, {"DENY", "PERMIT"}, {"", ""}, {"", "DENY"}, {"PERMIT", ""}};
    for (const Case& entry : entries) {
        for (int code = 1; code <= 4; ++code) {
            SCOPED_TRACE(std::string("in \"") + entry.inDef + "\" out \"" + entry.outDef + "\" code "
                         + std::to_string(code));
            sandbox.WriteRules(std::string("<APPLICATIONS><APPLICATION><EXENAME>EDITOR</EXENAME><INDEF>") + entry.inDef
                               + "</INDEF><OUTDEF>" + entry.outDef + "</OUTDEF>" + rules
                               + "</APPLICATION><APPLICATION><EXENAME>ANY</EXENAME><INDEF>DENY</INDEF>"
                                 "<OUTDEF>PERMIT</OUTDEF></APPLICATION></APPLICATIONS>");
            state.LoadRules();
            engine::RuleTable before, after;
            before.LoadRulesFromText(testing_support::ReadText(sandbox.rulesFile), "EDITOR");
            ASSERT_TRUE(panel::SetNewApp(state, code, 104, table.Root()));
            after.LoadRulesFromText(testing_support::ReadText(sandbox.rulesFile), "EDITOR");
            const int answer = code == 1 || code == 3 ? engine::kDeny : engine::kPermit;
            if (code <= 2) {
                EXPECT_EQ(after.defaultIncoming, answer);
                EXPECT_EQ(after.defaultOutgoing, before.defaultOutgoing);
            } else {
                EXPECT_EQ(after.defaultOutgoing, answer);
                EXPECT_EQ(after.defaultIncoming, before.defaultIncoming);
            }
            // The program's rules stay, first.
            EXPECT_EQ(after.MatchRules(engine::kOutgoing, 7002, "10.0.0.2"), engine::kDeny);
            EXPECT_EQ(after.MatchRules(engine::kOutgoing, 7001, "10.0.0.2"), engine::kPermit);
            EXPECT_EQ(state.Rules().Find("EDITOR")->rules.size(), 2u);
            // The system settings are not touched.
            const rules::Application* general = state.Rules().Find("ANY");
            EXPECT_EQ(In(general), "DENY");
            EXPECT_EQ(Out(general), "PERMIT");
        }
    }
}

// A program whose file reads "any" (in any case) or whose name or
// description reads like the system settings' gets an entry of its own: the
// system settings never change for it, and the engine gives that entry to
// that program alone.
TEST_F(RunningPrograms, ProgramsNamedLikeTheSystemSettingsGetEntriesOfTheirOwn)
{
    table.Add(110, 1, "/usr/local/bin/any");
    table.Add(111, 1, "/opt/tools/Any");
    table.Add(112, 1, "/opt/tools/system settings");
    ASSERT_TRUE(panel::SetNewApp(state, 3, 110, table.Root())); // outgoing blocked
    ASSERT_TRUE(panel::SetNewApp(state, 2, 111, table.Root())); // incoming permitted: the same name, another file
    ASSERT_TRUE(panel::SetNewApp(state, 1, 112, table.Root()));
    const rules::Application* general = state.Rules().Find("ANY");
    ASSERT_TRUE(general);
    EXPECT_EQ(In(general), "ASK");
    EXPECT_EQ(Out(general), "PERMIT");
    const std::string anyName = rules::rules_format::CarrierExeName("/usr/local/bin/any");
    EXPECT_EQ(anyName, "./ANY");
    const rules::Application* any = state.Rules().Find("/usr/local/bin/any");
    ASSERT_TRUE(any);
    EXPECT_NE(any, general);
    EXPECT_EQ(In(any), "ASK");
    EXPECT_EQ(Out(any), "DENY");
    EXPECT_EQ(any->description, "./ANY");
    const rules::Application* otherAny = state.Rules().Find("/opt/tools/Any");
    ASSERT_TRUE(otherAny);
    EXPECT_EQ(otherAny->name, anyName);
    EXPECT_EQ(In(otherAny), "PERMIT");
    // A program named like the system settings' description has its own entry.
    const rules::Application* named = state.Rules().Find("/opt/tools/system settings");
    ASSERT_TRUE(named);
    EXPECT_NE(named, general);
    EXPECT_EQ(In(named), "DENY");
    EXPECT_EQ(state.Rules().Document().applications.size(), 5u);

    const std::string file = testing_support::ReadText(sandbox.rulesFile);
    EXPECT_NE(file.find("<EXENAME>./ANY</EXENAME>"), std::string::npos);
    // Read by the engines as meant: "any" by its own entry, everyone else by the system settings.
    engine::RuleTable anyTable, otherTable, namedTable;
    anyTable.LoadRulesFromText(file, {anyName, "/usr/local/bin/any"});
    otherTable.LoadRulesFromText(file, {"FIREFOX-ESR", "/usr/bin/firefox-esr"});
    namedTable.LoadRulesFromText(file, {rules::rules_format::CarrierExeName("/opt/tools/system settings"),
                                        "/opt/tools/system settings"});
    EXPECT_EQ(anyTable.defaultOutgoing, engine::kDeny);
    EXPECT_EQ(anyTable.defaultIncoming, engine::kAsk);
    EXPECT_EQ(otherTable.defaultOutgoing, engine::kPermit);
    EXPECT_EQ(otherTable.defaultIncoming, engine::kAsk);
    EXPECT_EQ(namedTable.defaultIncoming, engine::kDeny);
    // The system settings' entry is written as it was.
    EXPECT_NE(file.find("<EXENAME>ANY</EXENAME><ISSERVICE>0</ISSERVICE><INDEF>ASK</INDEF><OUTDEF>PERMIT</OUTDEF>"),
              std::string::npos);
}

// Many answers read at once are stored in order with one save.
TEST_F(RunningPrograms, AnswersArrivingTogetherAreSavedOnce)
{
    const std::string folder = sandbox.rulesFile.substr(0, sandbox.rulesFile.rfind('/'));
    const int watch = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    ASSERT_GE(watch, 0);
    ASSERT_GE(::inotify_add_watch(watch, folder.c_str(), IN_MOVED_TO), 0);
    std::vector<panel::AlertAnswer> answers;
    for (int i = 0; i < 1000; ++i) {
        const uint32_t pid = i % 2 ? 100 : 104;
        answers.push_back({1 + i % 4, pid, i % 2 ? "/usr/bin/firefox-esr" : "/opt/hazel/bin/editor", {}});
    }
    answers.push_back({protocol::kCodeOutgoingHostBlocked, 100, "/usr/bin/firefox-esr", "ads.example.net"});
    const auto shown = panel::StoreAnswers(state, answers);
    ASSERT_TRUE(shown);
    EXPECT_EQ(shown->key, "/usr/bin/firefox-esr");
    int saves = 0;
    alignas(inotify_event) char events[4096];
    for (ssize_t n; (n = ::read(watch, events, sizeof events)) > 0;)
        for (char* at = events; at < events + n; at += sizeof(inotify_event) + reinterpret_cast<inotify_event*>(at)->len)
            saves += std::string(reinterpret_cast<inotify_event*>(at)->name) == "Rules.xml";
    ::close(watch);
    EXPECT_EQ(saves, 1);
    // The last answer of each direction holds: 998 and 999 for the outgoing side.
    EXPECT_EQ(Out(state.Rules().Find("EDITOR")), "DENY");   // code 3
    EXPECT_EQ(In(state.Rules().Find("EDITOR")), "DENY");    // code 1
    const rules::Application* firefox = state.Rules().Find("/usr/bin/firefox-esr");
    EXPECT_EQ(Out(firefox), "PERMIT"); // code 4
    EXPECT_EQ(In(firefox), "PERMIT");  // code 2
    EXPECT_EQ(firefox->rules.size(), 1u);
    EXPECT_EQ(state.Updates().Text(), " EDITOR FIREFOX-ESR");
}

// What was decided while nobody was there becomes a rule on Allow, for the
// program whose path its engine recorded (never whatever runs under its
// process number now), and leaves the list with what the rule covers.
TEST_F(RunningPrograms, AllowOnADecisionMadeWhileAwayMakesItARule)
{
    const std::string list = protocol::away::ListPath();
    const auto decided = [](bool outgoing, const std::string& address, unsigned port, const std::string& host,
                            const std::string& path) {
        protocol::away::Decision decision;
        decision.time = std::time(nullptr);
        decision.outgoing = outgoing;
        decision.address = address;
        decision.remotePort = port;
        decision.localPort = 139;
        decision.host = host;
        decision.pid = 100; // now another program's process
        decision.path = path;
        return decision;
    };
    const auto toHost = decided(true, "10.0.0.8", 443, "good.example.org", "/opt/hazel/bin/editor");
    const auto toHostAgain = decided(true, "10.0.0.8", 8080, "good.example.org", "/opt/hazel/bin/editor");
    const auto toAddress = decided(true, "10.0.0.9", 443, "", "/opt/hazel/bin/editor");
    const auto incoming = decided(false, "10.0.0.7", 5000, "", "/usr/bin/gone-now");
    for (const auto& decision : {toHost, toHostAgain, toAddress, incoming})
        ASSERT_TRUE(protocol::away::Append(list, decision));

    const panel::AwayLine line = panel::DescribeAway(toHost, std::time(nullptr));
    EXPECT_EQ(line.program, "editor");
    EXPECT_EQ(line.connection, "TCP to good.example.org (10.0.0.8) port 443");
    EXPECT_EQ(line.decided, "Blocked");
    EXPECT_TRUE(line.today); // the window shows the time alone
    EXPECT_FALSE(panel::DescribeAway(toHost, toHost.time + 2 * 86400).today);
    EXPECT_EQ(panel::DescribeAway(incoming, 0).connection, "TCP from 10.0.0.7 to port 139");

    ASSERT_TRUE(panel::AllowAwayDecision(state, toHost, list));
    const rules::Application* editor = state.Rules().Find("EDITOR");
    ASSERT_TRUE(editor);
    ASSERT_EQ(editor->rules.size(), 2u);
    EXPECT_EQ(editor->rules[0].name, "good.example.org");
    EXPECT_EQ(editor->rules[0].permission, rules::Permission::kPermit);
    EXPECT_EQ(Out(editor), "DENY");
    EXPECT_EQ(state.Rules().Document().FindFor("FIREFOX-ESR", "/usr/bin/firefox-esr"), nullptr);
    EXPECT_EQ(protocol::away::ReadAll(list), (std::vector<protocol::away::Decision> {toAddress, incoming}));

    ASSERT_TRUE(panel::AllowAwayDecision(state, toAddress, list));
    EXPECT_EQ(Out(state.Rules().Find("EDITOR")), "PERMIT");
    ASSERT_TRUE(panel::AllowAwayDecision(state, incoming, list));
    EXPECT_EQ(In(state.Rules().Find("/usr/bin/gone-now")), "PERMIT");
    EXPECT_TRUE(protocol::away::ReadAll(list).empty());

    // A path that is no program's changes nothing and stays listed.
    const auto odd = decided(true, "10.0.0.1", 1, "", "relative/path");
    ASSERT_TRUE(protocol::away::Append(list, odd));
    EXPECT_FALSE(panel::AllowAwayDecision(state, odd, list));
    EXPECT_EQ(protocol::away::ReadAll(list).size(), 1u);
    EXPECT_TRUE(panel::ClearAwayDecisions(list));
    EXPECT_TRUE(protocol::away::ReadAll(list).empty());
}

// Answers that come while the rules file cannot be read are held, not lost
// and not written over the file, and stored once it can be read again.
TEST_F(RunningPrograms, AnswersWhileTheRulesCannotBeReadAreHeldAndStoredLater)
{
    const std::string before = testing_support::ReadText(sandbox.rulesFile);
    testing_support::MakeUnreadable(sandbox.rulesFile, testing_support::ReadFailure::kFifo, before);
    state.LoadRules();
    panel::AnswerQueue queue(state);
    EXPECT_FALSE(queue.Store({{protocol::kCodeOutgoingPermitted, 104, "/opt/hazel/bin/editor", {}}}));
    EXPECT_FALSE(queue.StoreHeld()); // still unreadable: held on
    EXPECT_EQ(queue.Held(), 1u);
    ::unlink(sandbox.rulesFile.c_str());
    testing_support::WriteText(sandbox.rulesFile, before);
    state.LoadRules();
    const auto shown = queue.StoreHeld();
    ASSERT_TRUE(shown);
    EXPECT_EQ(shown->key, "EDITOR");
    EXPECT_EQ(queue.Held(), 0u);
    EXPECT_EQ(Out(state.Rules().Find("EDITOR")), "PERMIT");
    EXPECT_NE(testing_support::ReadText(sandbox.rulesFile), before);
}

TEST_F(RunningPrograms, AnswerForOneHostBecomesTheProgramsFirstRule)
{
    // Code 8 for a program without an entry: one with the general defaults
    // and the permitting rule for the host.
    ASSERT_TRUE(panel::SetHostRule(state, 8, 100, table.Root(), "api.example.org"));
    const rules::Application* firefox = state.Rules().Find("/usr/bin/firefox-esr");
    ASSERT_TRUE(firefox);
    EXPECT_EQ(In(firefox), "ASK");
    EXPECT_EQ(Out(firefox), "PERMIT");
    ASSERT_EQ(firefox->rules.size(), 1u);

    // Code 7 for a program with rules: the blocking rule comes first, and a
    // second answer for the same host replaces it.
    ASSERT_TRUE(panel::SetHostRule(state, 7, 104, table.Root(), "ads.example.net"));
    ASSERT_TRUE(panel::SetHostRule(state, 7, 104, table.Root(), "ads.example.net"));
    const rules::Application* editor = state.Rules().Find("EDITOR");
    ASSERT_EQ(editor->rules.size(), 2u);
    EXPECT_EQ(editor->rules[0].name, "ads.example.net");
    EXPECT_EQ(editor->rules[0].permission, rules::PermissionOf("DENY"));
    EXPECT_EQ(editor->rules[1].name, "r");
    EXPECT_EQ(Out(editor), "DENY");
    EXPECT_EQ(state.Updates().Text(), " FIREFOX-ESR EDITOR");

    // The engine reads the stored rules as meant: the host on any port, no
    // other host, no address without a name.
    ASSERT_TRUE(panel::SetHostRule(state, 8, 104, table.Root(), "good.example.org"));
    const std::string rules = testing_support::ReadText(sandbox.rulesFile);
    engine::RuleTable engineTable;
    ASSERT_GE(engineTable.LoadRulesFromText(rules, "EDITOR"), 0);
    const engine::HostKey good("good.example.org"), other("www.example.org");
    EXPECT_EQ(engineTable.MatchRules(engine::kOutgoing, 8443, "10.0.0.2", &good), engine::kPermit);
    EXPECT_EQ(engineTable.MatchRules(engine::kOutgoing, 8443, "10.0.0.2", &other), engine::kDeny);
    EXPECT_EQ(engineTable.MatchRules(engine::kOutgoing, 8443, "10.0.0.2"), engine::kDeny);

    // The name comes from another process: only a plain normalised name is
    // taken, and a wrong code or an unexaminable process changes nothing.
    for (const char* name : {"", "*.example.org", "?", "*", "API.example.org", "a b.example", "10.0.0.2x/..",
                             "example.org."})
        EXPECT_FALSE(panel::SetHostRule(state, 8, 104, table.Root(), name)) << name;
    EXPECT_FALSE(panel::SetHostRule(state, 4, 104, table.Root(), "example.org"));
    EXPECT_FALSE(panel::SetHostRule(state, 8, 106, table.Root(), "example.org"));
    EXPECT_EQ(testing_support::ReadText(sandbox.rulesFile), rules);
}

TEST_F(RunningPrograms, BackstopAnswerBecomesTheProgramsRuleOrDefault)
{
    // Allow, for the peer: a rule first among the program's rules, for that
    // address and port; the same answer again replaces it.
    const panel::BackstopAnswer allow {"/opt/hazel/bin/editor", "10.0.0.2", 8443, true, false};
    ASSERT_TRUE(panel::StoreBackstopAnswer(state, allow));
    ASSERT_TRUE(panel::StoreBackstopAnswer(state, allow));
    const rules::Application* editor = state.Rules().Find("EDITOR");
    ASSERT_EQ(editor->rules.size(), 2u);
    EXPECT_EQ(editor->rules[0].permission, rules::PermissionOf("PERMIT"));
    EXPECT_EQ(editor->rules[0].direction, rules::DirectionOf("OUTGOING"));
    EXPECT_EQ(editor->rules[1].name, "r");
    EXPECT_EQ(Out(editor), "DENY");
    // Allow, for an IPv6 peer: that address alone.
    ASSERT_TRUE(panel::StoreBackstopAnswer(state, {"/opt/hazel/bin/editor", "fd00::9", 993, true, false}));
    editor = state.Rules().Find("EDITOR");
    EXPECT_EQ(editor->rules[0].name, "Backstop: fd00::9 port 993");
    EXPECT_EQ(editor->rules[0].ports[0].addresses, std::vector<std::string> {"fd00::9"});
    // Ticked, for a program the backstop named by its file name alone (it
    // had ended), with no entry yet: its own, with the general incoming
    // default and the answer as its outgoing one.
    ASSERT_TRUE(panel::StoreBackstopAnswer(state, {"fetch (2).bin", "10.0.0.3", 80, false, true}));
    const rules::Application* fetch = state.Rules().Find("FETCH.BIN");
    ASSERT_TRUE(fetch);
    EXPECT_EQ(In(fetch), "ASK");
    EXPECT_EQ(Out(fetch), "DENY");
    EXPECT_TRUE(fetch->rules.empty());

    // The engine (and so the backstop, which compiles the file with the
    // engine's reader) decides the next attempts by them without asking.
    const std::string stored = testing_support::ReadText(sandbox.rulesFile);
    engine::RuleTable editorTable, fetchTable;
    editorTable.LoadRulesFromText(stored, "EDITOR");
    fetchTable.LoadRulesFromText(stored, "FETCH.BIN");
    EXPECT_EQ(editorTable.MatchRules(engine::kOutgoing, 8443, "10.0.0.2"), engine::kPermit);
    EXPECT_EQ(editorTable.MatchRules(engine::kOutgoing, 8443, "10.0.0.4"), engine::kDeny);
    EXPECT_EQ(editorTable.MatchRules(engine::kOutgoing, 993, "fd00::9"), engine::kPermit);
    EXPECT_EQ(editorTable.MatchRules(engine::kOutgoing, 994, "fd00::9"), engine::kDeny);
    EXPECT_EQ(editorTable.MatchRules(engine::kOutgoing, 993, "fd00::8"), engine::kDeny);
    EXPECT_EQ(fetchTable.MatchRules(engine::kOutgoing, 80, "10.0.0.3"), engine::kDeny);
    EXPECT_EQ(state.Updates().Text(), " EDITOR FETCH.BIN");
    // What came in: an incoming rule for that peer and the program's port,
    // beside the outgoing one made for the same address and port.
    const panel::BackstopAnswer allowIn {"/opt/hazel/bin/editor", "10.0.0.2", 8443, true, false, true};
    ASSERT_TRUE(panel::StoreBackstopAnswer(state, allowIn));
    ASSERT_TRUE(panel::StoreBackstopAnswer(state, allowIn));
    EXPECT_EQ(state.Rules().Find("EDITOR")->rules.size(), 4u);
    engine::RuleTable incoming;
    incoming.LoadRulesFromText(testing_support::ReadText(sandbox.rulesFile), "EDITOR");
    ASSERT_NE(incoming.defaultIncoming, engine::kPermit);
    EXPECT_EQ(incoming.MatchRules(engine::kIncoming, 8443, "10.0.0.2"), engine::kPermit);
    EXPECT_EQ(incoming.MatchRules(engine::kIncoming, 8443, "10.0.0.4"), incoming.defaultIncoming);
    EXPECT_EQ(incoming.MatchRules(engine::kOutgoing, 8443, "10.0.0.2"), engine::kPermit);
    ASSERT_TRUE(panel::StoreBackstopAnswer(state, {"fetch (2).bin", "10.0.0.3", 80, true, true, true}));
    EXPECT_EQ(In(state.Rules().Find("FETCH.BIN")), "PERMIT");
    EXPECT_EQ(Out(state.Rules().Find("FETCH.BIN")), "DENY");
    // Ticked for a program that follows the system settings: the answer holds
    // (its incoming default is set too, or the system settings' outgoing one
    // would still win), and its rules stay.
    state.Rules().Find("EDITOR")->incoming.reset();
    state.Rules().Find("EDITOR")->outgoing.reset();
    ASSERT_TRUE(panel::StoreBackstopAnswer(state, {"/opt/hazel/bin/editor", "10.0.0.5", 25, false, true}));
    engine::RuleTable following;
    following.LoadRulesFromText(testing_support::ReadText(sandbox.rulesFile), "EDITOR");
    EXPECT_EQ(following.defaultOutgoing, engine::kDeny);
    EXPECT_EQ(following.defaultIncoming, engine::kAsk);
    EXPECT_EQ(following.MatchRules(engine::kOutgoing, 8443, "10.0.0.2"), engine::kPermit);
    const std::string rules = testing_support::ReadText(sandbox.rulesFile);

    // Ticked, for a program whose file reads "any" and one named like the
    // system settings' description: entries of their own, by name, the
    // system settings untouched.
    ASSERT_TRUE(panel::StoreBackstopAnswer(state, {"/opt/x/Any", "10.0.0.3", 80, false, true}));
    ASSERT_TRUE(panel::StoreBackstopAnswer(state, {"/opt/x/system settings", "10.0.0.3", 80, false, true}));
    EXPECT_EQ(Out(state.Rules().Find("/opt/x/Any")), "DENY");
    EXPECT_EQ(Out(state.Rules().Find("ANY")), "PERMIT");
    EXPECT_EQ(In(state.Rules().Find("ANY")), "ASK");
    EXPECT_EQ(state.Rules().Document().applications.size(), 5u);
    const std::string withAny = testing_support::ReadText(sandbox.rulesFile);
    engine::RuleTable anyTable;
    anyTable.LoadRulesFromText(withAny, {"./ANY", "/opt/x/Any"});
    EXPECT_EQ(anyTable.MatchRules(engine::kOutgoing, 80, "10.0.0.3"), engine::kDeny);
    // Nothing is stored while the rules file cannot be read: the backstop asks again.
    testing_support::MakeUnreadable(sandbox.rulesFile, testing_support::ReadFailure::kFifo, withAny);
    state.LoadRules();
    EXPECT_FALSE(panel::StoreBackstopAnswer(state, {"/opt/x/Any", "10.0.0.3", 80, true, true}));
    ::unlink(sandbox.rulesFile.c_str());
    testing_support::WriteText(sandbox.rulesFile, rules);
    state.LoadRules();

    // What another process sent is taken only when it names a program and a peer plainly.
    for (const panel::BackstopAnswer& odd : std::vector<panel::BackstopAnswer> {{"", "10.0.0.2", 80, true, false},
                                                                                {"editor", "10.0.0", 80, true, false},
                                                                                {"editor", "example.org", 80, true, false},
                                                                                {"editor", "10.0.0.2", 0, true, false},
                                                                                {"edi\ntor", "10.0.0.2", 80, true, false}})
        EXPECT_FALSE(panel::StoreBackstopAnswer(state, odd)) << odd.program << " " << odd.address;
    EXPECT_EQ(testing_support::ReadText(sandbox.rulesFile), rules);
}

// A program that loaded the engine before an upgrade replaced its file maps
// a deleted file of that name; a file of another name does not count.
TEST(RunningProgramsOnOldEngines, ProgramMappingAReplacedEngineIsNamed)
{
    Sandbox sandbox;
    const auto mapDeleted = [&](const std::string& name) {
        const std::string path = sandbox.root + "/" + name;
        WriteText(path, std::string(4096, 'x'));
        const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
        void* mapped = ::mmap(nullptr, 4096, PROT_READ, MAP_PRIVATE, fd, 0);
        ::close(fd);
        EXPECT_NE(mapped, MAP_FAILED);
        return std::pair {path, mapped};
    };
    const std::string self = rules::rules_format::CarrierExeName(
        rules::rules_format::CleanCarrierPath(os::processes::ExecutablePath("/proc", ::getpid())));
    const auto listed = [&] {
        const auto names = panel::ProgramsOnReplacedEngine("/proc");
        return std::find(names.begin(), names.end(), self) != names.end();
    };
    const auto [other, otherMap] = mapDeleted("xlibqrbruler.so");
    const auto [engine, engineMap] = mapDeleted("libqrbruler.so");
    ::unlink(other.c_str());
    EXPECT_FALSE(listed()); // the engine's file is still there
    ::unlink(engine.c_str());
    EXPECT_TRUE(listed());
    ::munmap(engineMap, 4096);
    EXPECT_FALSE(listed());
    ::munmap(otherMap, 4096);
}

TEST(FileInformation, StripLabelsAreCutAtAWord)
{
    EXPECT_EQ(panel::StripLabel("exactly thirty characters long"), "exactly thirty characters long");
    EXPECT_EQ(panel::StripLabel("A forty character description of the app"), "A forty character description");
    EXPECT_EQ(panel::StripLabel("Twenty-one characters plus-a-long-tail-without-blanks"), "Twenty-one characters plu");
    EXPECT_EQ(panel::StripLabel("ThirtyOneCharactersWithoutAnyBlank"), "ThirtyOneCharactersWithoutAnyBlank");
    EXPECT_EQ(panel::GetDisplayName("/usr/bin/nothing-here", "CompanyName"), "");
}

TEST(RuleChecks, AddressesAreThoseTheEngineReads)
{
    struct Case {
        const char* text;
        bool valid;
    } cases[] = {
        {"10.0.0.1,10.0.0.2", true}, {"10.0.0.1, 10.0.0.2", true}, {"10.0.0.1,10.0.0", false},
        {"10.0.0.256", false},       {"10.0.0.1a", false},          {"1O.0.0.1", false},
        {"", true},                  {"10 .0.0.1", false},          {" 192.168.1.1 ", true},
        {"1.2.3.4.5", false},        {"1..2.3", false},             {"0.0.0.0", true},
        // IPv6 and prefixes of both families.
        {"2001:db8::1", true},       {" fd00::2 , 10.0.0.1", true}, {"::ffff:10.0.0.1", true},
        {"10.0.0.0/8", true},        {"2001:db8::/32", true},       {"10.0.0.0/8, fd00::/64", true},
        {"10.0.0.0/33", false},      {"2001:db8::/129", false},     {"10.0.0.256/8", false},
        {"fd00::1::2", false},       {"fd00::g", false},            {"fd00::1%lo", false},
        {"fd00::1-fd00::9", false},  {"10.0.0.0/", false},          {"/8", false},
        {"2001:db8::1,", true},      {"[fd00::1]", false},          {"fd00 ::1", false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(panel::CheckIpList(c.text), c.valid) << '"' << c.text << '"';
    // Each accepted item is one the engine takes.
    for (const char* item : {"2001:db8::1", " fd00::2 ", "::ffff:10.0.0.1", "10.0.0.0/8", "2001:db8::/32"}) {
        engine::RuleTable table;
        EXPECT_TRUE(table.AddEntry(80, engine::kOutgoing, engine::kDeny, item)) << item;
    }
    const struct {
        const char* low;
        const char* high;
        bool valid;
    } ranges[] = {
        {"10.0.0.1", "10.0.0.9", true},   {"10.0.0.9", "10.0.0.1", false},   {"10.0.0.5", "10.0.0.5", true},
        {"", "10.0.0.1", true},           {"fd00::1", "fd00::ff", true},     {"fd00::ff", "fd00::1", false},
        {"fd00::1", "fd00::1", true},     {"10.0.0.1", "fd00::1", false},    {"fd00::1", "10.0.0.1", false},
        {"", "fd00::1", false},           {"::ffff:10.0.0.1", "10.0.0.9", true}, {"fd00::/64", "fd00::1:0", false},
        {"10.0.0.0/8", "10.0.0.1", false}, {"fd00::1::", "fd00::2", false},
    };
    for (const auto& r : ranges)
        EXPECT_EQ(panel::CheckIpRange(r.low, r.high), r.valid) << '"' << r.low << "\" - \"" << r.high << '"';
    // What passes is read by the engine as typed, blanks and all.
    engine::RuleTable table;
    EXPECT_TRUE(table.AddEntry(80, engine::kOutgoing, engine::kDeny, " 10.0.0.2"));
    EXPECT_EQ(table.MatchRules(engine::kOutgoing, 80, "10.0.0.2"), engine::kDeny);
    EXPECT_LT(panel::longfromip("10.0.0.9"), panel::longfromip("10.0.1.0"));
    EXPECT_EQ(panel::longfromip("255.255.255.255"), 4294967295.0);
    EXPECT_TRUE(panel::CheckPortOk(""));
    EXPECT_TRUE(panel::CheckPortOk("-5"));
    EXPECT_FALSE(panel::CheckPortOk("http"));
    EXPECT_FALSE(panel::CheckPortOk("99999999999"));
}

TEST(RuleChecks, PortsFileIsReadToItsLastLine)
{
    Sandbox sandbox;
    const std::string path = sandbox.root + "/VrnPorts.txt";
    WriteText(path, "dns 53\r\nhttp 80\r\nhttps-alt  8443 \r\n");
    const auto ports = panel::LoadPortsFile(path);
    ASSERT_EQ(ports.size(), 3u);
    EXPECT_EQ(ports[0], (std::pair<std::string, int> {"dns", 53}));
    EXPECT_EQ(ports[2], (std::pair<std::string, int> {"https-alt", 8443}));
    WriteText(path, "dns 53\r\nbroken line\r\nhttp 80\r\n");
    EXPECT_EQ(panel::LoadPortsFile(path).size(), 1u); // reading stops at a line without a number
    EXPECT_TRUE(panel::LoadPortsFile(sandbox.root + "/missing.txt").empty());
}

// Answers for a peer, a port or both (code 12): for a time they are stored
// with their end where the panel lists them, always as a rule first among
// the program's rules; one of the same scope gives way. Once ended they are
// gone from the file, and each program concerned is told.
TEST_F(RunningPrograms, TimedAnswersAreStoredWithTheirEndAndGoneFromTheFileAfterIt)
{
    const int64_t now = std::time(nullptr);
    const std::string hour = std::to_string(now + 3600);
    const std::string later = std::to_string(now + 7200);
    const std::vector<panel::AlertAnswer> answers = {
        {protocol::kCodeScopedAnswer, 100, "/usr/bin/firefox-esr", "OUTGOING PERMIT " + hour + " 443 - api.example.com"},
        {protocol::kCodeScopedAnswer, 100, "/usr/bin/firefox-esr", "OUTGOING DENY " + later + " 443 - api.example.com"},
        {protocol::kCodeScopedAnswer, 104, "/opt/hazel/bin/editor", "INCOMING DENY " + hour + " 22 10.0.0.7 -"},
        {protocol::kCodeScopedAnswer, 104, "/opt/hazel/bin/editor", "OUTGOING PERMIT 0 8080 - -"},
        // Not stored: ended already, a pattern for a name, an address that is none,
        // always for every connection (that is the default's code), longer than any length.
        {protocol::kCodeScopedAnswer, 104, "/opt/hazel/bin/editor", "OUTGOING PERMIT " + std::to_string(now - 1) + " 1 - -"},
        {protocol::kCodeScopedAnswer, 104, "/opt/hazel/bin/editor", "OUTGOING PERMIT " + hour + " 2 - *.example.com"},
        {protocol::kCodeScopedAnswer, 104, "/opt/hazel/bin/editor", "OUTGOING PERMIT " + hour + " 3 10.0.0 -"},
        {protocol::kCodeScopedAnswer, 104, "/opt/hazel/bin/editor", "OUTGOING PERMIT 0 0 - -"},
        {protocol::kCodeScopedAnswer, 104, "/opt/hazel/bin/editor",
         "OUTGOING PERMIT " + std::to_string(now + 8 * 24 * 3600) + " 4 - -"},
    };
    ASSERT_TRUE(panel::StoreAnswers(state, answers));
    EXPECT_EQ(state.Updates().Text(), " FIREFOX-ESR EDITOR");

    const auto reread = [this] {
        const auto document = rules::ReadDocument(testing_support::ReadText(sandbox.rulesFile));
        EXPECT_TRUE(document);
        return document.value_or(rules::Document());
    };
    rules::Document file = reread();
    const rules::Application* firefox = file.Find("/usr/bin/firefox-esr"); // new: bound to its file
    ASSERT_TRUE(firefox);
    ASSERT_EQ(firefox->timed.size(), 1u); // the later answer replaced the first
    EXPECT_EQ(firefox->timed[0].permission, rules::Permission::kDeny);
    EXPECT_EQ(firefox->timed[0].until, now + 7200);
    EXPECT_EQ(firefox->timed[0].host, "api.example.com");
    const rules::Application* editor = file.Find("EDITOR");
    ASSERT_TRUE(editor);
    ASSERT_EQ(editor->timed.size(), 1u);
    EXPECT_EQ(editor->timed[0].address, "10.0.0.7");
    EXPECT_EQ(editor->timed[0].direction, rules::Direction::kIncoming);
    // Always for port 8080: a rule, first.
    ASSERT_EQ(editor->rules.size(), 2u);
    EXPECT_EQ(editor->rules[0].permission, rules::Permission::kPermit);
    EXPECT_EQ(editor->rules[0].ports, std::vector<rules::Port> {rules::Port::Numbered(8080)});

    const std::vector<panel::TimedEntry> listed = panel::ListTimedAnswers(state);
    ASSERT_EQ(listed.size(), 2u);
    EXPECT_EQ(listed[0].exeName, "EDITOR"); // the first to end first
    EXPECT_EQ(panel::DescribeAnswer(listed[0].answer), "Block incoming from 10.0.0.7, port 22");
    EXPECT_EQ(panel::DescribeAnswer(listed[1].answer), "Block outgoing to api.example.com, port 443");
    EXPECT_EQ(panel::NextAnswerEnd(state), now + 3600);

    // Nothing has ended yet: nothing is written.
    state.Updates().Remove("FIREFOX-ESR");
    state.Updates().Remove("EDITOR");
    EXPECT_EQ(panel::RemoveEndedAnswers(state, now + 3599), 0);
    EXPECT_EQ(state.Updates().Text(), "");
    EXPECT_EQ(panel::RemoveEndedAnswers(state, now + 3600), 1);
    EXPECT_EQ(state.Updates().Text(), " EDITOR");
    file = reread();
    EXPECT_TRUE(file.Find("EDITOR")->timed.empty());
    EXPECT_EQ(file.Find("EDITOR")->rules.size(), 2u);
    EXPECT_EQ(file.Find("/usr/bin/firefox-esr")->timed.size(), 1u);
    // The user ends the other one before its time.
    ASSERT_TRUE(panel::EndTimedAnswer(state, panel::ListTimedAnswers(state).at(0)));
    EXPECT_TRUE(reread().Find("/usr/bin/firefox-esr")->timed.empty());
    EXPECT_EQ(testing_support::ReadText(sandbox.rulesFile).find("<TIMED>"), std::string::npos);
    EXPECT_FALSE(panel::NextAnswerEnd(state));
}

TEST(TimedAnswerTexts, TimeLeftReadsInHoursMinutesAndSeconds)
{
    const std::pair<int64_t, const char*> cases[] = {
        {-5, "ended"}, {0, "ended"}, {1, "1 s"}, {59, "59 s"}, {60, "1 min"}, {61, "2 min"},
        {3599, "1 h 00 min"}, {3600, "1 h 00 min"}, {3661, "1 h 02 min"}, {36000, "10 h 00 min"},
    };
    for (const auto& [seconds, text] : cases)
        EXPECT_EQ(panel::TimeLeftText(seconds), text) << seconds;
    // An end further away than any answer may last (a file written by hand) says what it does.
    const int64_t now = 1'800'000'000, far = now + 8 * 24 * 3600;
    const rules::TimedAnswer allow {rules::Direction::kOutgoing, rules::Permission::kPermit, far, 0, "", ""};
    const rules::TimedAnswer block {rules::Direction::kOutgoing, rules::Permission::kDeny, far, 0, "", ""};
    EXPECT_EQ(panel::TimeLeftText(allow, now), "192 h 00 min (longer than any answer may last: it allows nothing)");
    EXPECT_EQ(panel::TimeLeftText(block, now), "192 h 00 min (longer than any answer may last)");
    EXPECT_EQ(panel::TimeLeftText(allow, far - 3600), "1 h 00 min");
    EXPECT_EQ(panel::TimeLeftText(allow, far), "ended");
}

// Cancel in the advanced window puts the program back as it was when the
// window opened, except its answers for a time: one that ended meanwhile
// stays gone, one given meanwhile stays.
TEST_F(RunningPrograms, CancelledEditKeepsTheTimedAnswersOfNow)
{
    const int64_t now = std::time(nullptr);
    rules::Application* editor = state.Rules().Find("EDITOR");
    ASSERT_TRUE(editor);
    editor->timed = {{rules::Direction::kOutgoing, rules::Permission::kPermit, now + 60, 443, "", ""}};
    const rules::Application saved = *editor;
    editor->outgoing = rules::Permission::kPermit; // the edit
    editor->timed = {{rules::Direction::kOutgoing, rules::Permission::kDeny, now + 3600, 25, "", ""}};
    ASSERT_TRUE(state.RestoreApplication(saved));
    editor = state.Rules().Find("EDITOR");
    EXPECT_EQ(editor->outgoing, rules::Permission::kDeny);
    ASSERT_EQ(editor->timed.size(), 1u);
    EXPECT_EQ(editor->timed[0].port, 25);
}

namespace {

// Every text it is asked for, marked: what a language would change shows.
std::string MarkedText(const char*, const char* text, const char*, int n)
{
    return "\u00ab" + text::WithCount(text, n) + "\u00bb";
}

// Puts the marking translator in place for one test, whatever its end.
struct MarkedLanguage {
    MarkedLanguage() { text::SetTranslator(MarkedText); }
    ~MarkedLanguage() { text::SetTranslator(nullptr); }
};

// The files under folder (every depth, but not under skipped) whose content holds text.
std::vector<std::string> FilesHolding(const std::string& folder, const std::string& text,
                                      const std::string& skipped = "")
{
    std::vector<std::string> found;
    std::error_code error;
    for (auto it = std::filesystem::recursive_directory_iterator(folder, error);
         !error && it != std::filesystem::recursive_directory_iterator(); it.increment(error)) {
        if (!skipped.empty() && it->path() == skipped) {
            it.disable_recursion_pending();
            continue;
        }
        if (!it->is_symlink(error) && it->is_regular_file(error)
            && testing_support::ReadText(it->path()).find(text) != std::string::npos)
            found.push_back(it->path());
    }
    return found;
}

}  // namespace

// The user's language changes what the panel shows, never what it stores:
// rules, settings and logs are read by the engine, the tools and the panel
// in any language.
TEST_F(RunningPrograms, TranslatedWordsNeverReachStoredFiles)
{
    const MarkedLanguage language;
    const std::string mark = "\u00ab";
    const int64_t now = std::time(nullptr);

    // A program added from a log row, with a rule made from the row.
    panel::LogRow row;
    row.ip = "10.0.0.9";
    row.port = "443(https)";
    row.portNumber = "443";
    row.outgoing = true;
    row.denied = true;
    const rules::Application curl
        = panel::ApplicationFromLog("curl", "/usr/bin/curl", "0", state.GeneralDefault(rules::Direction::kIncoming),
                                    state.GeneralDefault(rules::Direction::kOutgoing), state.ServiceManager());
    const std::string key = curl.Key();
    ASSERT_TRUE(state.AddApplication(curl));
    const rules::Rule fromLog = panel::RuleFromLog(row);
    ASSERT_TRUE(state.PutFirstRule(key, fromLog));
    // Its rules and defaults changed.
    ASSERT_TRUE(state.SetDefault(key, rules::Direction::kOutgoing, rules::Permission::kAsk));
    ASSERT_TRUE(state.SetRuleInForce(key, 0, false));
    // A security level, in both modes, and Block All.
    state.ApplyPreset(0);
    state.SetMode(panel::SecurityMode::kCustom);
    ASSERT_TRUE(state.ApplyDefaults(rules::rules_format::kGeneralApp,
                                    {rules::Permission::kDeny, rules::Permission::kPermit}, false, 1));
    state.SetBlockAll(true);
    // Alerts answered: a default, a host, one for a time, one the backstop asked.
    const std::vector<panel::AlertAnswer> answers = {
        {protocol::kCodeIncomingBlocked, 104, "/opt/hazel/bin/editor", {}},
        {protocol::kCodeOutgoingHostBlocked, 100, "/usr/bin/firefox-esr", "ads.example.net"},
        {protocol::kCodeScopedAnswer, 100, "/usr/bin/firefox-esr",
         "OUTGOING PERMIT " + std::to_string(now + 3600) + " 443 - api.example.com"},
        // Refused, and so logged.
        {protocol::kCodeScopedAnswer, 104, "/opt/hazel/bin/editor", "OUTGOING PERMIT 0 0 - -"},
    };
    ASSERT_TRUE(panel::StoreAnswers(state, answers));
    ASSERT_TRUE(panel::StoreBackstopAnswer(state, {"/usr/bin/wget", "10.0.0.8", 80, true, false}));
    // The options saved.
    panel::Options options = panel::Options::Of(state.Settings());
    options.logDays = "30";
    options.alertTimeout = 90;
    options.awayAllows = true;
    ASSERT_TRUE(panel::StoreOptions(state.Settings(), options, now).stored);
    // The answer for a time ended by the user.
    const std::vector<panel::TimedEntry> timed = panel::ListTimedAnswers(state);
    ASSERT_EQ(timed.size(), 1u);
    const std::string describedAnswer = panel::DescribeAnswer(timed[0].answer);
    ASSERT_TRUE(panel::EndTimedAnswer(state, timed[0]));
    panel::TheErrorLog().Close();

    // Stored: the rules file, the settings, the logs, the runtime folder, all in the sandbox.
    EXPECT_NE(testing_support::ReadText(sandbox.rulesFile).find("<RULENAME>Block 10.0.0.9 port 443</RULENAME>"),
              std::string::npos);
    // (The process table stands for the system's: its links lead to installed programs.)
    EXPECT_EQ(FilesHolding(sandbox.root, mark, table.Root()), std::vector<std::string> {});
    EXPECT_FALSE(FilesHolding(sandbox.logs, "it is not stored").empty()); // the refusal, in the error log
    EXPECT_EQ(panel::Options::Of(state.Settings()).logDays, "30");

    // Shown: in the language.
    const panel::SecurityDisplay display = state.Security();
    for (const std::string& shown :
         {panel::LevelInfoText(0), display.infoText, display.comboText, panel::DescribeFiltering(display, false).tip,
          panel::DescribeFiltering(display, true).level, panel::RuleDescription(fromLog),
          panel::ShownWord(rules::Permission::kAsk), describedAnswer, panel::TimeLeftText(90),
          panel::ReasonText(protocol::log_reason::kRule)})
        EXPECT_NE(shown.find(mark), std::string::npos) << shown;
}

// The review list is written by the programs themselves: a peer whose host
// is a wildcard, a range or a name where none is matched, or whose port is
// none (0 is every port), never becomes a rule wider than the peer.
TEST(AttackHostileReviewItems, NeverMakeARuleWiderThanThePeer)
{
    using panel::ReviewScope;
    using Hosts = std::optional<std::vector<std::string>>;
    const auto peer = [](bool outgoing, unsigned port, const char* host) {
        protocol::review::Peer made;
        made.outgoing = outgoing;
        made.port = port;
        made.host = host;
        return made;
    };
    const Hosts none;
    const Hosts noAddress = std::vector<std::string> {rules::rules_format::kNoAddress};
    const struct {
        std::vector<protocol::review::Peer> peers;
        ReviewScope scope;
        bool made;
        const char* number;
        Hosts hosts;
        Hosts addresses;
    } cases[] = {
        {{peer(true, 443, "Updates.Example.")}, ReviewScope::kHostAndPort, true, "443",
         std::vector<std::string> {"updates.example"}, noAddress},
        {{peer(true, 443, "10.1.2.3")}, ReviewScope::kHostAndPort, true, "443", none,
         std::vector<std::string> {"10.1.2.3"}},
        {{peer(false, 8000, "fe80::1")}, ReviewScope::kHostAndPort, true, "8000", none,
         std::vector<std::string> {"fe80::1"}},
        {{peer(true, 443, "*")}, ReviewScope::kHostAndPort, false, "", none, none},
        {{peer(true, 443, "*.example.com")}, ReviewScope::kHostAndPort, false, "", none, none},
        {{peer(true, 443, "10.0.0.0/8")}, ReviewScope::kHostAndPort, false, "", none, none},
        {{peer(true, 443, "?")}, ReviewScope::kHostAndPort, false, "", none, none},
        {{peer(true, 443, "")}, ReviewScope::kHostAndPort, false, "", none, none},
        {{peer(false, 8000, "lan.example")}, ReviewScope::kHostAndPort, false, "", none, none},
        {{peer(true, 0, "10.1.2.3")}, ReviewScope::kHostAndPort, false, "", none, none},
        {{peer(true, 0, "10.1.2.3")}, ReviewScope::kPort, false, "", none, none},
        {{peer(true, 443, "*")}, ReviewScope::kPort, true, "443", none, none},
        {{peer(true, 443, "10.1.2.3"), peer(false, 443, "10.1.2.3")}, ReviewScope::kPort, false, "", none, none},
        {{peer(true, 443, "*")}, ReviewScope::kAny, true, "0", none, none},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.peers.front().host + " port " + std::to_string(c.peers.front().port));
        const std::optional<rules::Rule> rule = panel::ReviewRule(c.peers, true, c.scope);
        ASSERT_EQ(rule.has_value(), c.made);
        if (!rule)
            continue;
        EXPECT_EQ(rule->permission, rules::Permission::kPermit);
        EXPECT_EQ(rule->direction, c.peers.front().outgoing ? rules::Direction::kOutgoing : rules::Direction::kIncoming);
        ASSERT_EQ(rule->ports.size(), 1u);
        EXPECT_EQ(rule->ports[0].number, c.number);
        EXPECT_EQ(rule->ports[0].hosts, c.hosts);
        EXPECT_EQ(rule->ports[0].addresses, c.addresses);
    }
}
