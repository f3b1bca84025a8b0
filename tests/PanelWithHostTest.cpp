// The control panel and a real program under the firewall: what the user
// does in the window reaches the program's next connection.
#include "panel/control/MessageChannel.h"
#include "panel/core/ErrorLog.h"
#include "panel/core/InterceptorLibrary.h"
#include "panel/core/PanelCore.h"
#include "panel/core/SingleInstance.h"
#include "panel/dialogs/AwayDecisionsWindow.h"
#include "panel/dialogs/TimedAnswersWindow.h"
#include "panel/dialogs/ToolsOption.h"
#include "panel/windows/AwayNotice.h"
#include "panel/windows/MainForm.h"

#include "tests/PanelWindowDriver.h"

#include "os/FileDigest.h"
#include "protocol/AwayDecisions.h"
#include "protocol/Presence.h"
#include "protocol/Registry.h"
#include "protocol/SharedBlock.h"
#include "tests/PanelHostFixture.h"

#include <QAction>
#include <QCheckBox>
#include <QFrame>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QTest>
#include <filesystem>
#include <fstream>
#include <QTimer>
#include <QTreeWidget>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <sys/wait.h>
#include <thread>

using namespace std::chrono_literals;
using testing_support::App;
using testing_support::ChildProcess;
using testing_support::Part;
using testing_support::Rule;
using panel::AwayDecisionsWindow;
using panel::AwayNotice;
using panel::MainForm;
using panel::MessageChannel;
using panel::TimedAnswersWindow;
using panel::ToolsOption;

namespace {

class PanelWithHost : public testing_support::PanelWithInterceptor {
protected:
    void SetUp() override
    {
        sandbox.SetSetting("SecurityMode", "Normal");
        PanelWithInterceptor::SetUp();
    }

    // The next result line of the program, letting the window work meanwhile.
    std::string NextResult(ChildProcess& program)
    {
        testing_support::WaitUntil([&program] { return program.LineReady(); }, 5000, program.Output());
        return program.ReadLine(5s).value_or("none");
    }

    // The panel as the user starts it: the rules loaded, its window
    // registered for the programs' messages and shown.
    struct ShownPanel {
        panel::PanelCore state;
        MainForm form {state};
        ShownPanel()
        {
            form.Load();
            EXPECT_TRUE(form.RegisterWindow());
            form.show();
        }
    };

    // One connection of the program from 127.0.0.3 to port on 127.0.0.2,
    // an alert answering as the script says.
    std::string ConnectOnce(const std::string& program, const std::string& port, const char* script)
    {
        ChildProcess once({program, "tcp-repeat", "127.0.0.3", "127.0.0.2", port, "1", "10"}, Hooked(Alerting(script)));
        return NextResult(once);
    }

    std::string Errors() const
    {
        std::string text;
        for (const auto& name : testing_support::FolderEntries(sandbox.logs))
            if (name.find("qrb") == std::string::npos)
                text += testing_support::ReadText(sandbox.logs + "/" + name);
        return text;
    }

    // An alert's answer as the program's engine posts it to the window's box.
    static void PostAnswer(MainForm& form, uint16_t code, pid_t pid)
    {
        Part<MessageChannel>(form)->Handle(
            0, protocol::windows::MakeCodedParam(code, static_cast<uint32_t>(pid)), "\n" NETPEER);
    }

};

}  // namespace

TEST_F(PanelWithHost, AppliedDefaultsAndBlockAllReachTheRunningProgram)
{
    WriteRules(App("NETPEER", "DENY", "PERMIT") + App("ANY", "ASK", "PERMIT"));
    ShownPanel started;
    auto& [state, form] = started;
    auto server = Server({"tcp-server", "127.0.0.2", "21300"});
    ChildProcess program({NETPEER, "tcp-repeat", "127.0.0.3", "127.0.0.2", "21300", "40", "150"}, hooked);
    EXPECT_EQ(NextResult(program), "ok");

    // The user blocks the program's outgoing connections.
    ASSERT_TRUE(testing_support::Node(form, "Netpeer"));
    testing_support::Click(form, "Netpeer");
    Part<QRadioButton>(form, "OutBlock")->click();
    EXPECT_EQ(state.Updates().Text(), " NETPEER");
    std::string result;
    for (int i = 0; i < 10 && (result = NextResult(program)) == "ok"; ++i) {
    }
    EXPECT_EQ(result, "refused");

    // Allowed again, then everything blocked from the toolbar.
    Part<QRadioButton>(form, "OutAllow")->click();
    for (int i = 0; i < 10 && (result = NextResult(program)) == "refused"; ++i) {
    }
    EXPECT_EQ(result, "ok");
    form.findChild<QAction*>("BlockAll")->trigger();
    for (int i = 0; i < 10 && (result = NextResult(program)) == "ok"; ++i) {
    }
    EXPECT_EQ(result, "refused");
}

// A hand-written entry whose DESCRIPTION comes before its EXENAME: the
// engine decides the program by its EXENAME, the window shows the entry so,
// and the file the panel writes back is decided the same.
TEST_F(PanelWithHost, HandWrittenEntryWithItsDescriptionFirstIsDecidedAndShownAlike)
{
    WriteRules("<APPLICATION><DESCRIPTION>NETPEER</DESCRIPTION><EXENAME>NETPEER</EXENAME><INDEF>PERMIT</INDEF>"
               "<OUTDEF>PERMIT</OUTDEF></APPLICATION>"
               + App("ANY", "DENY", "DENY"));
    auto server = Server({"tcp-server", "127.0.0.2", "7041"});
    ChildProcess program({NETPEER, "tcp-repeat", "127.0.0.3", "127.0.0.2", "7041", "1", "10"}, hooked);
    EXPECT_EQ(NextResult(program), "ok");
    panel::PanelCore state;
    MainForm form(state);
    form.Load();
    form.show();
    QTreeWidgetItem* node = testing_support::Node(form, "Netpeer");
    ASSERT_TRUE(node);
    EXPECT_EQ(node->parent()->text(0), "Allowed Applications");
    testing_support::Click(form, "Netpeer");
    EXPECT_TRUE(Part<QRadioButton>(form, "InAllow")->isChecked());
    EXPECT_TRUE(Part<QRadioButton>(form, "OutAllow")->isChecked());
    ASSERT_TRUE(state.Save());
    ChildProcess again({NETPEER, "tcp-repeat", "127.0.0.3", "127.0.0.2", "7041", "1", "10"}, hooked);
    EXPECT_EQ(NextResult(again), "ok");
}

// The whole journey of an alert: the program asks, the user allows with the
// box ticked, the panel stores the answer as the program's own default,
// saves and publishes, and the program's next connection is permitted by
// its own entry without asking again.
TEST_F(PanelWithHost, TickedAllowInAnAlertBecomesTheProgramsDefault)
{
    WriteRules(App("ANY", "ASK", "ASK"));
    ShownPanel started;
    auto& [state, form] = started;
    auto server = Server({"tcp-server", "127.0.0.2", "21301"});
    ChildProcess program({NETPEER, "tcp-repeat", "127.0.0.3", "127.0.0.2", "21301", "12", "300"},
                         Hooked(Alerting("answer=1,ticked=1")));
    EXPECT_EQ(NextResult(program), "ok");
    // The answer reaches the window as a message: let it work until it is stored.
    // Bound to the program's file: known by its path.
    testing_support::WaitUntil([&state] { return state.Rules().Find(NETPEER) != nullptr; }, 2000);
    const rules::Application* stored = state.Rules().Find(NETPEER);
    ASSERT_TRUE(stored);
    EXPECT_EQ(stored->outgoing, rules::Permission::kPermit);
    EXPECT_EQ(stored->incoming, rules::Permission::kAsk);
    EXPECT_EQ(stored->path, NETPEER);
    EXPECT_EQ(state.Updates().Text(), " NETPEER");
    EXPECT_NE(testing_support::ReadText(sandbox.rulesFile).find("<EXENAME>NETPEER</EXENAME>"), std::string::npos);
    // A new process of the program: decided by its own entry, never asked.
    ChildProcess again({NETPEER, "tcp-repeat", "127.0.0.3", "127.0.0.2", "21301", "3", "50"},
                       Hooked(Alerting("answer=2,ticked=0")));
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(NextResult(again), "ok");
    EXPECT_EQ(AlertsShown(), 1u);
    // A copy of the program elsewhere is another program: asked about (and
    // blocked by this answer), while the original still is not.
    const std::string copy = sandbox.root + "/netpeer";
    std::filesystem::copy_file(NETPEER, copy);
    EXPECT_EQ(ConnectOnce(copy, "21301", "answer=2,ticked=0"), "refused");
    EXPECT_EQ(AlertsShown(), 2u);
    EXPECT_EQ(ConnectOnce(NETPEER, "21301", "answer=2,ticked=0"), "ok");
    EXPECT_EQ(AlertsShown(), 2u);
}

// The content check: with it on, the program's file changed in place (as an
// upgrade or a planted file would change it) is asked about again; the
// user's Allow takes the new file, which then connects without a question.
TEST_F(PanelWithHost, ChangedFileOfACheckedProgramIsAskedAboutAgain)
{
    WriteRules(App("ANY", "ASK", "ASK"));
    const std::string tool = sandbox.root + "/tool";
    std::filesystem::copy_file(NETPEER, tool);
    ShownPanel started;
    auto& [state, form] = started;
    auto server = Server({"tcp-server", "127.0.0.2", "21303"});
    const auto run = [&](const char* script) { return ConnectOnce(tool, "21303", script); };
    EXPECT_EQ(run("answer=1,ticked=1"), "ok");
    ASSERT_TRUE(WaitFor([&] { return state.Rules().Find(tool) != nullptr; }));
    // The answer's program, once the user opens it, with the check offered.
    ASSERT_TRUE(WaitFor([&] { return testing_support::Tree(form)->ApplicationNode(tool) != nullptr; }));
    testing_support::Tree(form)->setCurrentItem(testing_support::Tree(form)->ApplicationNode(tool));
    auto* check = Part<QCheckBox>(form, "ContentCheck");
    ASSERT_TRUE(WaitFor([&] { return check->isVisibleTo(&form); }));
    check->click();
    ASSERT_EQ(state.Rules().Find(tool)->fileHash, os::FileDigestText(tool));
    EXPECT_EQ(run("answer=2,ticked=0"), "ok"); // the same file: never asked
    EXPECT_EQ(AlertsShown(), 1u);

    {
        std::ofstream changed(tool, std::ios::app | std::ios::binary);
        changed << "changed";
    }
    EXPECT_EQ(run("answer=2,ticked=0"), "refused"); // asked, and blocked once
    EXPECT_EQ(AlertsShown(), 2u);
    EXPECT_EQ(run("answer=1,ticked=1"), "ok");
    ASSERT_TRUE(WaitFor([&] { return state.Rules().Find(tool)->fileHash == os::FileDigestText(tool); }));
    EXPECT_EQ(run("answer=2,ticked=0"), "ok"); // the new file is the program now
    EXPECT_EQ(AlertsShown(), 3u);
}

// The mailer: a program with a rule blocking port 7002 and one allowing
// 7001 asks about 7005, and the user allows it with the box ticked. Its
// outgoing default becomes Allow; its rules stay, so 7002 stays refused, by
// the copy that was running all along and by a new one.
TEST_F(PanelWithHost, TickedAnswerKeepsTheProgramsRules)
{
    WriteRules(App("NETPEER", "ASK", "ASK", Rule("OUTGOING", "DENY", 7002) + Rule("OUTGOING", "PERMIT", 7001))
               + App("ANY", "ASK", "ASK"));
    ShownPanel started;
    auto& [state, form] = started;
    auto allowed = Server({"tcp-server", "127.0.0.2", "7001"});
    auto blocked = Server({"tcp-server", "127.0.0.2", "7002"});
    auto asked = Server({"tcp-server", "127.0.0.2", "7005"});
    ChildProcess running({NETPEER, "tcp-repeat", "127.0.0.3", "127.0.0.2", "7002", "150", "50"}, hooked);
    EXPECT_EQ(NextResult(running), "refused");

    EXPECT_EQ(ConnectOnce(NETPEER, "7005", "answer=1,ticked=1"), "ok");
    ASSERT_TRUE(WaitFor([&] {
        const rules::Application* app = state.Rules().Find("NETPEER");
        return app && app->outgoing == rules::Permission::kPermit;
    }));
    const rules::Application* stored = state.Rules().Find("NETPEER");
    EXPECT_EQ(stored->incoming, rules::Permission::kAsk);
    ASSERT_EQ(stored->rules.size(), 2u);
    EXPECT_NE(testing_support::ReadText(sandbox.rulesFile).find("<NUMBER>7002</NUMBER>"), std::string::npos);
    EXPECT_EQ(state.Updates().Text(), " NETPEER");

    // The running copy has been told to read its rules again: still refused.
    for (int i = 0; i < 20; ++i)
        EXPECT_EQ(NextResult(running), "refused");
    // A new copy: 7002 refused, 7001 and 7005 let through, nothing asked.
    for (const auto& [port, result] : {std::pair {"7002", "refused"}, {"7001", "ok"}, {"7005", "ok"}}) {
        EXPECT_EQ(ConnectOnce(NETPEER, port, "answer=2,ticked=0"), result) << port;
    }
    EXPECT_EQ(AlertsShown(), 1u);
}

// A program whose file is named "any" asks and the user blocks it with the
// box ticked: it gets an entry of its own, and the system settings (the
// general application "ANY") stay as they were for every other program.
TEST_F(PanelWithHost, ProgramNamedAnyNeverTakesTheSystemSettings)
{
    const std::string any = sandbox.root + "/bin/any";
    std::filesystem::create_directories(sandbox.root + "/bin");
    std::filesystem::copy_file(NETPEER, any);
    WriteRules(App("ANY", "ASK", "ASK", Rule("OUTGOING", "PERMIT", 7010)));
    ShownPanel started;
    auto& [state, form] = started;
    auto server = Server({"tcp-server", "127.0.0.2", "7011"});
    EXPECT_EQ(ConnectOnce(any, "7011", "answer=2,ticked=1"), "refused");
    ASSERT_TRUE(WaitFor([&] { return state.Rules().Find(any) != nullptr; }));
    EXPECT_EQ(state.Rules().Find(any)->name, "./ANY");
    EXPECT_EQ(state.Rules().Find(any)->outgoing, rules::Permission::kDeny);
    const rules::Application* general = state.Rules().Find("ANY");
    ASSERT_TRUE(general);
    EXPECT_EQ(general->incoming, rules::Permission::kAsk);
    EXPECT_EQ(general->outgoing, rules::Permission::kAsk);
    EXPECT_EQ(general->rules.size(), 1u);
    EXPECT_NE(testing_support::ReadText(sandbox.rulesFile).find("<EXENAME>ANY</EXENAME><ISSERVICE>0</ISSERVICE>"
                                                                "<INDEF>ASK</INDEF><OUTDEF>ASK</OUTDEF><RULES>"),
              std::string::npos);
    // "any" is refused by its own entry without asking; another program is
    // still asked, as the system settings say.
    EXPECT_EQ(ConnectOnce(any, "7011", "answer=1,ticked=0"), "refused");
    EXPECT_EQ(AlertsShown(), 1u);
    EXPECT_EQ(ConnectOnce(NETPEER, "7011", "answer=1,ticked=0"), "ok");
    EXPECT_EQ(AlertsShown(), 2u);
}

// A rules file that cannot be read when the panel starts (as a user without
// privileges would find it) is left as it is, link and all; the rules in
// force still decide; the reason is in the error log and in the window,
// which changes nothing meanwhile and shows the rules once the file can be
// read again.
TEST_F(PanelWithHost, UnreadableRulesFileIsLeftAloneAndItsRulesStillDecide)
{
    const std::string document = testing_support::RulesDocument(App("NETPEER", "ASK", "DENY") + App("ANY", "PERMIT", "PERMIT"));
    auto server = Server({"tcp-server", "127.0.0.2", "7020"});
    for (const auto& failure : testing_support::kReadFailures) {
        SCOPED_TRACE(failure.name);
        ::unlink(sandbox.rulesFile.c_str());
        testing_support::WriteText(sandbox.rulesFile, document);
        ChildProcess program({NETPEER, "tcp-repeat", "127.0.0.3", "127.0.0.2", "7020", "300", "50"}, hooked);
        EXPECT_EQ(NextResult(program), "refused");
        testing_support::MakeUnreadable(sandbox.rulesFile, failure.kind, document);
        const std::string before = testing_support::PathState(sandbox.rulesFile);
        const auto entries = testing_support::FolderEntries(sandbox.root);
        {
            testing_support::FilePermissionsHold unprivileged;
            ShownPanel started;
            auto& [state, form] = started;
            EXPECT_TRUE(Part<QFrame>(form, "RulesNotice")->isVisible());
            const std::string shown = Part<QLabel>(form, "RulesNoticeText")->text().toStdString();
            EXPECT_NE(shown.find(failure.reason), std::string::npos) << shown;
            EXPECT_NE(shown.find(sandbox.rulesFile), std::string::npos) << shown;
            EXPECT_NE(Errors().find("the rules file " + sandbox.rulesFile + " cannot be read: "), std::string::npos);
            EXPECT_FALSE(Part<QGroupBox>(form, "SystemFrame")->isEnabled());
            EXPECT_FALSE(Part<QGroupBox>(form, "Frame2")->isEnabled());
            // Nothing the window does writes over the file: not a save, not
            // an answer, not the shutdown.
            EXPECT_FALSE(state.Save());
            PostAnswer(form, 3, program.Pid());
            for (int i = 0; i < 5; ++i)
                EXPECT_EQ(NextResult(program), "refused");
            form.EndOfProgram();
            panel::TheErrorLog().Open(sandbox.logs, std::time(nullptr));
        }
        EXPECT_EQ(testing_support::PathState(sandbox.rulesFile), before);
        EXPECT_EQ(testing_support::FolderEntries(sandbox.root), entries);
    }
    // Once it can be read, the window shows its rules and works as usual,
    // and an answer that came meanwhile is stored then.
    testing_support::FilePermissionsHold unprivileged;
    testing_support::MakeUnreadable(sandbox.rulesFile, testing_support::ReadFailure::kPermission, document);
    ShownPanel started;
    auto& [state, form] = started;
    ASSERT_TRUE(Part<QFrame>(form, "RulesNotice")->isVisible());
    ChildProcess program({NETPEER, "tcp-repeat", "127.0.0.3", "127.0.0.2", "7020", "1", "10"}, hooked);
    EXPECT_EQ(NextResult(program), "refused");
    ::chmod(sandbox.rulesFile.c_str(), 0600);
    PostAnswer(form, 4, program.Pid());
    ASSERT_TRUE(WaitFor([&] { return !Part<QFrame>(form, "RulesNotice")->isVisible(); }));
    EXPECT_TRUE(Part<QGroupBox>(form, "SystemFrame")->isEnabled());
    EXPECT_TRUE(testing_support::Node(form, "netpeer"));
    EXPECT_EQ(state.Rules().Find("NETPEER")->outgoing, rules::Permission::kPermit);
    EXPECT_NE(Errors().find("MainForm : RetryRules : the rules file " + sandbox.rulesFile + " is read now"),
              std::string::npos);
}

// The interceptor's process killed: the panel starts a new one within two
// seconds and logs it, and a change the user makes right after reaches a
// program that runs all along.
TEST_F(PanelWithHost, KilledInterceptorIsStartedAgainAndMissesNothing)
{
    WriteRules(App("NETPEER", "ASK", "PERMIT") + App("ANY", "ASK", "PERMIT"));
    ShownPanel started;
    auto& [state, form] = started;
    const std::string library = ZELCONN_LIBRARY;
    panel::InterceptorLibrary interceptor(library.substr(0, library.rfind('/') + 1));
    form.SetInterceptor(&interceptor);
    ASSERT_EQ(interceptor.StartListen(), 0);
    form.WatchInterceptor();
    auto server = Server({"tcp-server", "127.0.0.2", "7030"});
    ChildProcess program({NETPEER, "tcp-repeat", "127.0.0.3", "127.0.0.2", "7030", "300", "50"}, hooked);
    EXPECT_EQ(NextResult(program), "ok");

    const pid_t first = protocol::presence::InterceptorPid();
    ASSERT_GT(first, 0);
    const auto killed = std::chrono::steady_clock::now();
    ASSERT_EQ(::kill(first, SIGKILL), 0);
    ::waitpid(first, nullptr, 0); // reaped here when it ended up a child of the test
    // Right after: the user blocks the program.
    ASSERT_TRUE(testing_support::Node(form, "Netpeer"));
    testing_support::Click(form, "Netpeer");
    Part<QRadioButton>(form, "OutBlock")->click();
    ASSERT_TRUE(WaitFor([&] {
        const pid_t now = protocol::presence::InterceptorPid();
        return now != 0 && now != first;
    }));
    EXPECT_LT(std::chrono::steady_clock::now() - killed, 2s);
    EXPECT_NE(Errors().find("MainForm : WatchInterceptor : the interceptor (zelconn, process " + std::to_string(first)
                            + ") ended; it is started again"),
              std::string::npos);
    std::string result;
    for (int i = 0; i < 60 && (result = NextResult(program)) == "ok"; ++i) {
    }
    EXPECT_EQ(result, "refused");
    form.EndOfProgram();
    EXPECT_EQ(protocol::presence::InterceptorPid(), 0);
}

// Nobody can see a question (no display): the away setting answers it at
// once, the panel lists it afterwards, and Allow there makes it a rule, so
// that the program's next connection is not asked about again.
TEST_F(PanelWithHost, QuestionNobodyCouldSeeIsListedAndBecomesARule)
{
    WriteRules(App("ANY", "ASK", "ASK"));
    sandbox.SetSetting("AwayAnswer", "2");
    sandbox.SetSetting("AwayTimeout", "30");
    ShownPanel started;
    auto& [state, form] = started;
    auto* notice = Part<AwayNotice>(form);
    ASSERT_TRUE(notice);
    EXPECT_FALSE(notice->isVisible());
    auto server = Server({"tcp-server", "127.0.0.2", "21302"});
    const std::map<std::string, std::string> noDisplay = Hooked(
        {{"ZEL_ALERT_PROGRAM", ZEL_ALERT}, {"DISPLAY", ""}, {"WAYLAND_DISPLAY", ""}, {"QT_QPA_PLATFORM", ""}});
    const auto start = std::chrono::steady_clock::now();
    ChildProcess blocked({NETPEER, "tcp-client", "127.0.0.3", "127.0.0.2", "21302"}, noDisplay);
    EXPECT_EQ(blocked.ReadLine(), std::optional<std::string>("refused"));
    EXPECT_LT(std::chrono::steady_clock::now() - start, 5s); // at once, not after the 30 s for a locked screen

    notice->Check();
    ASSERT_TRUE(notice->isVisible());
    EXPECT_EQ(notice->text(), "1 connection was decided while you were away: &review");
    AwayDecisionsWindow window(state, protocol::away::ListPath(), &form);
    auto* list = Part<QTreeWidget>(window, "AwayList");
    ASSERT_EQ(list->topLevelItemCount(), 1);
    EXPECT_EQ(list->topLevelItem(0)->text(1), "netpeer");
    EXPECT_EQ(list->topLevelItem(0)->text(2), "TCP to 127.0.0.2 port 21302");
    EXPECT_EQ(list->topLevelItem(0)->text(3), "Blocked");
    window.findChild<QPushButton*>("AllowAway0")->click();
    const rules::Application* stored = state.Rules().Find(NETPEER);
    ASSERT_TRUE(stored);
    EXPECT_EQ(stored->outgoing, rules::Permission::kPermit);
    EXPECT_EQ(list->topLevelItemCount(), 0);
    EXPECT_TRUE(Part<QLabel>(window, "AwayEmpty")->isVisibleTo(&window));
    notice->Check();
    EXPECT_FALSE(notice->isVisible());

    ChildProcess again({NETPEER, "tcp-client", "127.0.0.3", "127.0.0.2", "21302"}, noDisplay);
    EXPECT_EQ(again.ReadLine(), std::optional<std::string>("connected ok"));
    EXPECT_TRUE(protocol::away::ReadAll(protocol::away::ListPath()).empty());
}

// "For 1 hour, this port": the answer goes into the file with its end; a new
// process of the program is let through by it without a question, and once
// the user ends it in the list the next one is asked again; a running
// process takes the end as any rule change.
TEST_F(PanelWithHost, AnswerForATimeHoldsForNewProcessesUntilTheUserEndsIt)
{
    WriteRules(App("ANY", "ASK", "ASK"));
    ShownPanel started;
    auto& [state, form] = started;
    auto server = Server({"tcp-server", "127.0.0.2", "21303"});
    ChildProcess program({NETPEER, "tcp-repeat", "127.0.0.3", "127.0.0.2", "21303", "1", "50"},
                         Hooked(Alerting("answer=1,for=timed,to=port")));
    EXPECT_EQ(NextResult(program), "ok");
    ASSERT_TRUE(WaitFor([&] {
        const rules::Application* app = state.Rules().Find(NETPEER);
        return app && !app->timed.empty();
    }));
    const rules::TimedAnswer stored = state.Rules().Find(NETPEER)->timed.at(0);
    EXPECT_EQ(stored.port, 21303);
    EXPECT_EQ(stored.permission, rules::Permission::kPermit);
    EXPECT_NEAR(static_cast<double>(stored.until), static_cast<double>(std::time(nullptr) + 3600), 30);
    EXPECT_NE(testing_support::ReadText(sandbox.rulesFile).find("<TIMED><ANSWER>"), std::string::npos);
    // The program's default is untouched: the answer is for its time only.
    EXPECT_FALSE(state.Rules().Find(NETPEER)->outgoing == rules::Permission::kPermit);

    ChildProcess again({NETPEER, "tcp-repeat", "127.0.0.3", "127.0.0.2", "21303", "2", "50"},
                       Hooked(Alerting("answer=2")));
    EXPECT_EQ(NextResult(again), "ok");
    EXPECT_EQ(NextResult(again), "ok");
    EXPECT_EQ(AlertsShown(), 1u);

    TimedAnswersWindow window(state, &form);
    auto* list = Part<QTreeWidget>(window, "TimedList");
    ASSERT_EQ(list->topLevelItemCount(), 1);
    EXPECT_EQ(list->topLevelItem(0)->text(1), "Allow outgoing on port 21303, any host");
    EXPECT_TRUE(list->topLevelItem(0)->text(2).endsWith("min")) << list->topLevelItem(0)->text(2).toStdString();
    window.findChild<QPushButton*>("EndTimed")->click();
    EXPECT_EQ(list->topLevelItemCount(), 0);
    EXPECT_TRUE(state.Rules().Find(NETPEER)->timed.empty());
    EXPECT_EQ(testing_support::ReadText(sandbox.rulesFile).find("<TIMED>"), std::string::npos);

    ChildProcess asked({NETPEER, "tcp-repeat", "127.0.0.3", "127.0.0.2", "21303", "1", "50"},
                       Hooked(Alerting("answer=2")));
    EXPECT_EQ(NextResult(asked), "refused");
    EXPECT_EQ(AlertsShown(), 2u);
}

// The length of an answer "for a time" is an option: shown, stored as
// TimedAnswerMinutes (which every engine reads at each alert) and read back;
// the list of the answers opens from beside it.
TEST(TimedAnswerOptions, TheLengthIsStoredAndTheListOpensFromTheOptions)
{
    testing_support::Sandbox sandbox;
    sandbox.SetSetting("LogFileCount", "30");
    panel::PanelCore core;
    core.LoadSettings(std::time(nullptr));
    panel::Options current = panel::Options::Of(core.Settings());
    EXPECT_EQ(current.timedAnswerMinutes, 60);
    int listed = 0;
    ToolsOption options(
        current, 1000,
        [&core](const panel::Options& chosen) { return panel::StoreOptions(core.Settings(), chosen, std::time(nullptr)); },
        nullptr, [&listed](QWidget*) { ++listed; });
    auto* minutes = Part<QSpinBox>(options, "TimedAnswerMinutes");
    EXPECT_EQ(minutes->value(), 60);
    EXPECT_EQ(minutes->maximum(), 7 * 24 * 60);
    Part<QPushButton>(options, "TimedAnswersButton")->click();
    EXPECT_EQ(listed, 1);
    minutes->setValue(90);
    Part<QPushButton>(options, "OkBtn")->click();
    EXPECT_EQ(protocol::registry::GetString(protocol::registry::RootKey::LocalMachine, protocol::registry::kSettingsKey,
                                            "TimedAnswerMinutes"),
              "90");
    EXPECT_EQ(panel::Options::Of(core.Settings()).timedAnswerMinutes, 90);
    // A value no option allows reads as the default.
    sandbox.SetSetting("TimedAnswerMinutes", "0");
    EXPECT_EQ(panel::Options::Of(core.Settings()).timedAnswerMinutes, 60);
}
