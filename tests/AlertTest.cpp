#include "engine/Engine.h"

#include "engine/AlertConversation.h"
#include "engine/AlertLauncher.h"
#include "engine/Asker.h"
#include "engine/AskingProcess.h"

#include "os/Clock.h"
#include "os/Files.h"
#include "protocol/AwayDecisions.h"
#include "protocol/FirewallMode.h"
#include "protocol/LogFiles.h"
#include "protocol/PanelMessages.h"
#include "protocol/Presence.h"
#include "protocol/ReviewList.h"
#include "protocol/SharedBlock.h"
#include "protocol/Windows.h"
#include "rules/RulesFormat.h"
#include "tests/EngineTestOptions.h"
#include "tests/EventWait.h"
#include "tests/Sandbox.h"

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <future>
#include <set>
#include <string_view>
#include <fcntl.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <map>
#include <gtest/gtest.h>
#include <tuple>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

using engine::Engine;
using testing_support::ReadText;
using testing_support::Sandbox;

using rules::rules_format::kDefaultRulesDocument;

namespace {

using testing_support::kTcp;
using testing_support::kUdp;

// Every alert goes to the scripted answerer, which records what it showed.
class EngineAlert : public testing::Test {
protected:
    Sandbox sandbox;
    std::string record;

    void SetUp() override
    {
        record = sandbox.root + "/alerts.txt";
        ::setenv("ZEL_ALERT_PROGRAM", SCRIPTED_ALERT, 1);
        ::setenv("ZEL_TEST_ALERT_RECORD", record.c_str(), 1);
        ::setenv("ZEL_TEST_ALERT_SCRIPT", "answer=2", 1);
        sandbox.WriteRules(kDefaultRulesDocument);
    }
    void TearDown() override
    {
        // A serving stand-in leaves by itself once its questions are gone.
        const std::string socket = engine::FindAlertRendezvous().socketPath;
        if (std::getenv("ZEL_TEST_ALERT_SERVE"))
            testing_support::WaitForFile(socket.substr(0, socket.rfind('/')), [&socket] {
                struct stat st {};
                return ::lstat(socket.c_str(), &st) != 0;
            }, std::chrono::seconds(4));
        for (const char* name : {"ZEL_ALERT_PROGRAM", "ZEL_TEST_ALERT_RECORD", "ZEL_TEST_ALERT_SCRIPT",
                                 "ZEL_TEST_ALERT_SERVE", "ZEL_TEST_ALERT_START_CUE"})
            ::unsetenv(name);
    }

    static engine::EngineOptions Options() { return testing_support::TestEngineOptions(); }

    int AlertsShown() const
    {
        const std::string text = ReadText(record);
        int count = 0;
        for (size_t at = text.find("---\n"); at != std::string::npos; at = text.find("---\n", at + 4))
            ++count;
        return count;
    }

    // The values of key in the record, one per alert shown.
    std::vector<std::string> Recorded(const std::string& key) const
    {
        std::vector<std::string> values;
        const std::string text = ReadText(record);
        const std::string prefix = key + "\t";
        for (size_t at = text.find(prefix); at != std::string::npos; at = text.find(prefix, at + 1))
            if (at == 0 || text[at - 1] == '\n')
                values.push_back(text.substr(at + prefix.size(), text.find('\n', at) - at - prefix.size()));
        return values;
    }

    static bool NoChildLeft()
    {
        int status;
        return ::waitpid(-1, &status, WNOHANG) < 0 && errno == ECHILD;
    }
};
using AttackEngineAlert = EngineAlert;

}  // namespace

TEST_F(EngineAlert, IncomingAlertTextsAreFormattedExactly)
{
    Engine engine(Options());
    EXPECT_EQ(engine.UserApprove(139, 0, "10.0.0.5", "host1", kTcp, 40000), 0);
    const std::string shown = ReadText(record);
    EXPECT_NE(shown.find("message\tTOOL.EXE created by Unknown is trying to accept TCP incoming connection from host1 "
                         "through port:139\n"), std::string::npos) << shown;
    EXPECT_NE(shown.find("caption\tTOOL.EXE - TCP Connection Alert!\n"), std::string::npos) << shown;
    EXPECT_NE(shown.find("checkbox\tApply my decision to all TOOL.EXE incoming traffic\n"), std::string::npos);
    EXPECT_NE(shown.find("peer\thost1\n"), std::string::npos);
    EXPECT_NE(shown.find("direction\tincoming\n"), std::string::npos);
}

TEST_F(EngineAlert, OutgoingAlertNamesTheRemotePortAndTheProtocol)
{
    Engine engine(Options());
    engine.UserApprove(40000, 1, "10.0.0.5", "example.org", kUdp, 8080);
    const std::string shown = ReadText(record);
    EXPECT_NE(shown.find("is trying to create UDP outgoing connection to example.org through port:8080\n"),
              std::string::npos) << shown;
    EXPECT_NE(shown.find("caption\tTOOL.EXE - UDP Connection Alert!\n"), std::string::npos);
    EXPECT_NE(shown.find("checkbox\tApply my decision to all TOOL.EXE outgoing traffic\n"), std::string::npos);
}

TEST_F(EngineAlert, AllowedOutgoingDatagramLetsItsPeerAnswerWithoutAsking)
{
    ::setenv("ZEL_TEST_ALERT_SCRIPT", "answer=1", 1);
    sandbox.WriteRules(testing_support::RulesDocument(
        "<APPLICATION><EXENAME>ANY</EXENAME><INDEF>ASK</INDEF><OUTDEF>ASK</OUTDEF></APPLICATION>"));
    Engine engine(Options());
    EXPECT_EQ(engine.Approve(5353, 1, "10.1.1.1", kUdp, 53), 2);
    EXPECT_EQ(engine.UserApprove(5353, 1, "10.1.1.1", "dns-server", kUdp, 53), 1);
    EXPECT_TRUE(engine.HasDatagramPeer("10.1.1.1:53"));
    EXPECT_EQ(engine.Approve(5353, 0, "10.1.1.1", kUdp, 53), 1);
    EXPECT_EQ(engine.Approve(5353, 0, "10.1.1.1", kTcp, 53), 2);
    EXPECT_EQ(AlertsShown(), 1);
}

TEST_F(EngineAlert, TickedAllowOnOutgoingNotifiesThePanelAndAnswersLaterOutgoingAlerts)
{
    auto window = protocol::windows::Window::Register(protocol::kMainWindowTitle, {protocol::kPictureBoxClass});
    ASSERT_TRUE(window);
    Engine engine(Options());
    ASSERT_EQ(engine.UserApprove(40000, 1, "10.0.0.5", "script:answer=1,ticked=1", kTcp, 8080), 1);
    const auto message = protocol::windows::ReceiveMessage(window->ChildSocket(0));
    ASSERT_TRUE(message);
    EXPECT_EQ(message->message, protocol::windows::WM_MOUSEMOVE);
    EXPECT_EQ(protocol::windows::ParamCode(message->lParam), 4);
    EXPECT_EQ(protocol::windows::ParamArgument(message->lParam), static_cast<uint32_t>(::getpid()));
    EXPECT_EQ(message->data, "\n" + engine.Carrier().exePath);
    if (::getpid() < 65536) {
        EXPECT_EQ(message->lParam, ::getpid() + 4 * 65536);
    }
    EXPECT_EQ(engine.RememberedAnswer(1), 1);

    // Further outgoing alerts answer themselves, without a window or a notice.
    EXPECT_EQ(engine.UserApprove(40001, 1, "10.0.0.6", "script:answer=2", kTcp, 8081), 1);
    EXPECT_EQ(AlertsShown(), 1);
    EXPECT_FALSE(protocol::windows::ReceiveMessage(window->ChildSocket(0)));
    // Incoming ones still ask.
    EXPECT_EQ(engine.UserApprove(139, 0, "10.0.0.6", "script:answer=2", kTcp, 40000), 0);
    EXPECT_EQ(AlertsShown(), 2);
    EXPECT_EQ(sandbox.ConnectionRecords().size(), 3u);
}

// "This host only" is offered for a named outgoing peer; the answer is posted
// with the name, and answers later alerts for that name alone.
TEST_F(EngineAlert, AnswerForOneHostIsPostedWithItsNameAndAnswersThatHostOnly)
{
    auto window = protocol::windows::Window::Register(protocol::kMainWindowTitle, {protocol::kPictureBoxClass});
    ASSERT_TRUE(window);
    Engine engine(Options());
    ::setenv("ZEL_TEST_ALERT_SCRIPT", "answer=2,ticked=1,host=1", 1);
    EXPECT_EQ(engine.UserApprove(40000, 1, "10.0.0.5", "Ads.Example.NET.", kTcp, 443), 0);
    EXPECT_NE(ReadText(record).find("host\tads.example.net\n"), std::string::npos);
    const auto message = protocol::windows::ReceiveMessage(window->ChildSocket(0));
    ASSERT_TRUE(message);
    EXPECT_EQ(protocol::windows::ParamCode(message->lParam), protocol::kCodeOutgoingHostBlocked);
    EXPECT_EQ(protocol::windows::ParamArgument(message->lParam), static_cast<uint32_t>(::getpid()));
    // The name, then the program's path, for a panel that reads the message
    // after the program ended.
    EXPECT_EQ(message->data, "ads.example.net\n" + engine.Carrier().exePath);
    EXPECT_EQ(engine.RememberedAnswer(1), 0);
    EXPECT_EQ(engine.RememberedHostAnswer("ads.example.net"), 2);

    // The same name at another address and port: answered without a window.
    ::setenv("ZEL_TEST_ALERT_SCRIPT", "answer=1", 1);
    EXPECT_EQ(engine.UserApprove(40001, 1, "10.0.0.6", "ads.example.net", kTcp, 80), 0);
    EXPECT_EQ(AlertsShown(), 1);
    // Another name still asks, with a choice of its own; an unnamed peer and
    // an incoming peer ask without one.
    EXPECT_EQ(engine.UserApprove(40002, 1, "10.0.0.5", "www.example.net", kTcp, 443), 1);
    EXPECT_EQ(engine.UserApprove(40003, 1, "10.0.0.5", nullptr, kTcp, 443), 1);
    EXPECT_EQ(engine.UserApprove(139, 0, "10.0.0.5", "ads.example.net", kTcp, 40000), 1);
    EXPECT_EQ(AlertsShown(), 4);
    const std::string shown = ReadText(record);
    int offered = 0;
    for (size_t at = shown.find("host\t"); at != std::string::npos; at = shown.find("host\t", at + 1))
        ++offered;
    EXPECT_EQ(offered, 2); // ads and www only
    EXPECT_FALSE(protocol::windows::ReceiveMessage(window->ChildSocket(0)));
}

TEST_F(EngineAlert, TickedBlockOnIncomingPostsCodeOneAndRemembersBlock)
{
    auto window = protocol::windows::Window::Register(protocol::kMainWindowTitle,
                                                      {"Other", protocol::kPictureBoxClassOld});
    ASSERT_TRUE(window);
    Engine engine(Options());
    EXPECT_EQ(engine.UserApprove(139, 0, "10.0.0.5", "script:answer=2,ticked=1", kTcp, 40000), 0);
    const auto message = protocol::windows::ReceiveMessage(window->ChildSocket(1));
    ASSERT_TRUE(message);
    EXPECT_EQ(protocol::windows::ParamCode(message->lParam), 1);
    EXPECT_EQ(engine.RememberedAnswer(0), 2);
    EXPECT_EQ(engine.RememberedAnswer(1), 0);
    EXPECT_EQ(engine.UserApprove(445, 0, "10.0.0.7", "script:answer=1", kTcp, 40000), 0);
    EXPECT_EQ(AlertsShown(), 1);
}

TEST_F(EngineAlert, TimedOutAlertBlocksThisConnectionOnlyAndIsLoggedAsDenied)
{
    auto window = protocol::windows::Window::Register(protocol::kMainWindowTitle, {protocol::kPictureBoxClass});
    ASSERT_TRUE(window);
    // The time the alert is given, only when it is a sensible number.
    for (const char* setting : {"", "0", "-5", "seconds", "3601"}) {
        sandbox.SetSetting("AlertTimeout", setting);
        Engine engine(Options());
        engine.UserApprove(40000, 1, "10.0.0.5", "script:answer=2", kTcp, 8080);
        EXPECT_EQ(ReadText(record).find("timeout\t"), std::string::npos) << setting;
    }
    sandbox.SetSetting("AlertTimeout", "30");
    Engine engine(Options());
    // Even an answer that claims Allow and a ticked box: a time-out is Block, once.
    EXPECT_EQ(engine.UserApprove(40000, 1, "10.0.0.5", "script:answer=1,ticked=1,timedout=1", kTcp, 8080), 0);
    EXPECT_NE(ReadText(record).find("timeout\t30\n"), std::string::npos);
    EXPECT_FALSE(protocol::windows::ReceiveMessage(window->ChildSocket(0)));
    EXPECT_EQ(engine.RememberedAnswer(1), 0);
    EXPECT_EQ(engine.UserApprove(40001, 1, "10.0.0.5", "script:answer=1", kTcp, 8080), 1);
    EXPECT_EQ(AlertsShown(), 7);
    const auto records = sandbox.ConnectionRecords();
    ASSERT_EQ(records.size(), 7u);
    EXPECT_NE(records[5].find("<PERMISSION>0</PERMISSION>"), std::string::npos);
}

// Nobody at the screen: the alert answers as the settings say; the decision
// is logged, never applied to all, and listed for the panel.
TEST_F(EngineAlert, AwayAnswersFollowTheSettingsAndAreListed)
{
    const struct {
        const char* answer;
        const char* timeout;
        const char* sent;
    } settings[] = {
        {nullptr, nullptr, "2 30"}, // as zel-setup makes them
        {"1", "5", "1 5"},
        {"2", "0", "2 0"},
        {"yes", "-3", "2 30"},
        {"1", "3601", "1 30"},
    };
    for (const auto& setting : settings) {
        if (setting.answer)
            sandbox.SetSetting("AwayAnswer", setting.answer);
        if (setting.timeout)
            sandbox.SetSetting("AwayTimeout", setting.timeout);
        Engine engine(Options());
        engine.UserApprove(40000, 1, "10.0.0.5", "script:answer=2", kTcp, 8080);
        EXPECT_EQ(Recorded("away").back(), setting.sent);
    }
    Engine engine(Options());
    EXPECT_EQ(engine.UserApprove(40001, 1, "10.0.0.6", "script:answer=1,ticked=1,away=1", kTcp, 8081), 1);
    EXPECT_EQ(engine.RememberedAnswer(1), 0); // never applied to all
    EXPECT_EQ(engine.UserApprove(139, 0, "10.0.0.7", "script:answer=2,away=1", kUdp, 40000), 0);
    const auto listed = protocol::away::ReadAll(protocol::away::ListPath());
    ASSERT_EQ(listed.size(), 2u);
    EXPECT_TRUE(listed[0].outgoing);
    EXPECT_TRUE(listed[0].permitted);
    EXPECT_EQ(listed[0].address, "10.0.0.6");
    EXPECT_EQ(listed[0].remotePort, 8081u);
    EXPECT_EQ(listed[0].pid, ::getpid());
    EXPECT_EQ(listed[0].path, engine.Carrier().exePath);
    EXPECT_FALSE(listed[1].outgoing);
    EXPECT_FALSE(listed[1].permitted);
    EXPECT_EQ(listed[1].protocol, 2);
    EXPECT_EQ(listed[1].localPort, 139u);
    EXPECT_EQ(sandbox.ConnectionRecords().size(), 7u);
}

// A question taken back (its program closed the socket) decides nothing.
TEST_F(EngineAlert, WithdrawnQuestionDecidesAndLogsNothing)
{
    Engine engine(Options());
    const int withdraw = ::eventfd(0, EFD_CLOEXEC);
    // Taken back once the alert is showing it.
    std::thread closer([this, withdraw] {
        testing_support::WaitForFile(sandbox.root, [this] { return AlertsShown() >= 1; });
        const uint64_t one = 1;
        EXPECT_EQ(::write(withdraw, &one, sizeof one), 8);
    });
    errno = 0;
    EXPECT_EQ(engine.UserApprove(40000, 1, "10.0.0.5", "script:wait", kTcp, 8080, withdraw), 0);
    EXPECT_EQ(errno, ECANCELED);
    closer.join();
    ::close(withdraw);
    EXPECT_TRUE(sandbox.ConnectionRecords().empty());
    EXPECT_TRUE(NoChildLeft());
}

TEST_F(EngineAlert, ReloadForgetsRememberedAnswers)
{
    const int lock = protocol::presence::HoldControlPanelLock(protocol::presence::ControlPanelLockPath());
    auto block = protocol::SharedBlock::Create(protocol::SharedBlock::DefaultPath());
    Engine engine(Options());
    EXPECT_EQ(engine.UserApprove(40000, 1, "10.0.0.5", "script:answer=1,ticked=1", kTcp, 8080), 1);
    EXPECT_EQ(engine.RememberedAnswer(1), 1);
    block.Publish(" TOOL.EXE");
    engine.Approve(40000, 1, "10.0.0.5", kTcp, 80);
    EXPECT_EQ(engine.RememberedAnswer(1), 0);
    EXPECT_EQ(engine.UserApprove(40000, 1, "10.0.0.5", "script:answer=2", kTcp, 8080), 0);
    EXPECT_EQ(AlertsShown(), 2);
    ::close(lock);
}

TEST_F(EngineAlert, EveryAskedConnectionIsLoggedOnceWithItsAnswer)
{
    Engine engine(Options());
    EXPECT_EQ(engine.Approve(139, 0, "10.0.0.5", kTcp, 40000), 2);
    EXPECT_TRUE(sandbox.ConnectionRecords().empty());
    EXPECT_EQ(engine.UserApprove(139, 0, "10.0.0.5", "script:answer=1", kTcp, 40000), 1);
    const auto records = sandbox.ConnectionRecords();
    ASSERT_EQ(records.size(), 1u);
    EXPECT_NE(records[0].find("<IP>10.0.0.5</IP><LOCALPORT>139</LOCALPORT><REMOTEPORT>40000</REMOTEPORT>"
                              "<PERMISSION>1</PERMISSION><SERVICE>0</SERVICE>"), std::string::npos);
}

// An asked connection's record says how the answer came: the user's button,
// a time-out, the away answer, no alert at all, or an answer ticked before.
TEST_F(EngineAlert, AskedDecisionsRecordHowTheAnswerCame)
{
    Engine engine(Options());
    const struct {
        const char* script;
        int result;
        const char* reason;
    } cases[] = {
        {"script:answer=1", 1, "answer"},
        {"script:answer=2", 0, "answer"},
        {"script:answer=1,timedout=1", 0, "timeout"},
        {"script:answer=1,away=1", 1, "away"},
        {"script:exit", 0, "noalert"},
        {"script:answer=2,ticked=1", 0, "answer"},
        {"script:answer=1", 0, "remembered"}, // the ticked Block answers without an alert
    };
    for (const auto& c : cases) {
        EXPECT_EQ(engine.UserApprove(139, 0, "10.0.0.5", c.script, kTcp, 40000), c.result) << c.script;
        const auto records = sandbox.ConnectionRecords();
        ASSERT_FALSE(records.empty());
        const auto entry = protocol::ParseLogLine(records.back());
        ASSERT_TRUE(entry);
        EXPECT_EQ(entry->reason, c.reason) << c.script;
    }
    EXPECT_EQ(sandbox.ConnectionRecords().size(), std::size(cases));
}

TEST_F(EngineAlert, AlertProgramRunsWithoutTheHook)
{
    ::setenv("LD_PRELOAD", "", 1);
    Engine engine(Options());
    engine.UserApprove(139, 0, "10.0.0.5", "host1", kTcp, 40000);
    ::unsetenv("LD_PRELOAD");
    EXPECT_NE(ReadText(record).find("preload\tunset\n"), std::string::npos);
}

TEST_F(EngineAlert, FailingAlertProgramMeansDenyAndLeavesNoProcessBehind)
{
    Engine engine(Options());
    for (const char* script : {"script:exit", "script:crash", "script:kill", "script:answer=7"}) {
        EXPECT_EQ(engine.UserApprove(40000, 1, "10.0.0.5", script, kTcp, 8080), 0) << script;
        EXPECT_TRUE(NoChildLeft()) << script;
    }
    ::setenv("ZEL_ALERT_PROGRAM", (sandbox.root + "/no-such-program").c_str(), 1);
    EXPECT_EQ(engine.UserApprove(40000, 1, "10.0.0.5", "host", kTcp, 8080), 0);
    EXPECT_TRUE(NoChildLeft());
    EXPECT_EQ(sandbox.ConnectionRecords().size(), 5u);
}

// The alert program the environment names starts only from where nobody
// but root and the user could have put it (the environment may be a less
// privileged caller's): anything else starts nothing, and the answer is deny.
TEST_F(AttackEngineAlert, AlertProgramOthersCouldHaveWrittenIsNotStarted)
{
    Engine engine(Options());
    ::setenv("ZEL_TEST_ALERT_SCRIPT", "answer=1", 1);
    const struct {
        const char* folder;
        mode_t mode;
        int answer;
        int shown;
    } cases[] = {{"private", 0755, 1, 1}, {"open", 0777, 0, 1}};
    unsigned port = 8090;
    for (const auto& c : cases) {
        const std::string folder = sandbox.root + "/" + c.folder;
        ASSERT_EQ(::mkdir(folder.c_str(), 0700), 0);
        ASSERT_EQ(::chmod(folder.c_str(), c.mode), 0);
        testing_support::WriteText(folder + "/alert", ReadText(SCRIPTED_ALERT));
        ASSERT_EQ(::chmod((folder + "/alert").c_str(), 0755), 0);
        ::setenv("ZEL_ALERT_PROGRAM", (folder + "/alert").c_str(), 1);
        EXPECT_EQ(engine.UserApprove(40000, 1, "10.0.0.5", "host", kTcp, port++), c.answer) << c.folder;
        EXPECT_EQ(AlertsShown(), c.shown) << c.folder;
        EXPECT_TRUE(NoChildLeft()) << c.folder;
    }
}

TEST_F(EngineAlert, TickingAllowInOneAlertClosesAnotherOpenOneWithAllow)
{
    Engine engine(Options());
    using Clock = std::chrono::steady_clock;
    auto waiting = std::async(std::launch::async, [&] {
        const int answer = engine.UserApprove(40001, 1, "10.0.0.6", "script:wait", kTcp, 8081);
        return std::make_pair(answer, Clock::now());
    });
    ASSERT_TRUE(testing_support::WaitForFile(sandbox.root, [this] { return AlertsShown() >= 1; }));
    ASSERT_EQ(engine.UserApprove(40000, 1, "10.0.0.5", "script:answer=1,ticked=1", kTcp, 8080), 1);
    const auto ticked = Clock::now();
    ASSERT_EQ(waiting.wait_for(std::chrono::seconds(5)), std::future_status::ready);
    const auto [answer, closed] = waiting.get();
    EXPECT_EQ(answer, 1);
    const auto delay = std::chrono::duration_cast<std::chrono::milliseconds>(closed - ticked).count();
    EXPECT_LE(delay, 600);
    RecordProperty("close_delay_ms", std::to_string(delay));
    EXPECT_EQ(AlertsShown(), 2);
}

#ifdef ZEL_ALERT
TEST_F(EngineAlert, RealAlertProgramWithoutADisplayMeansDeny)
{
    ::setenv("ZEL_ALERT_PROGRAM", ZEL_ALERT, 1);
    std::map<std::string, std::string> saved;
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) {
        if (const char* value = std::getenv(name))
            saved[name] = value;
        ::unsetenv(name);
    }
    Engine engine(Options());
    const auto started = std::chrono::steady_clock::now();
    EXPECT_EQ(engine.UserApprove(40000, 1, "10.0.0.5", "host1", kTcp, 8080), 0);
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(3));
    EXPECT_TRUE(NoChildLeft());
    for (const auto& [name, value] : saved)
        ::setenv(name.c_str(), value.c_str(), 1);
}
#endif

// The details the alert shows come with every question: who asks, as the
// process itself tells.
TEST_F(EngineAlert, QuestionCarriesTheProgramsPathProcessUserCommandLineAndParent)
{
    Engine engine(Options());
    engine.UserApprove(40000, 1, "10.0.0.5", "host1", kTcp, 8080);
    EXPECT_EQ(Recorded("path"), std::vector<std::string> {engine.Carrier().exePath});
    EXPECT_EQ(Recorded("pid"), std::vector<std::string> {std::to_string(::getpid())});
    EXPECT_EQ(Recorded("parentpid"), std::vector<std::string> {std::to_string(::getppid())});
    ASSERT_EQ(Recorded("user").size(), 1u);
    EXPECT_NE(Recorded("user")[0].find("(" + std::to_string(::geteuid()) + ")"), std::string::npos);
    ASSERT_EQ(Recorded("cmdline").size(), 1u);
    EXPECT_NE(Recorded("cmdline")[0].find("engine_tests"), std::string::npos) << Recorded("cmdline")[0];
    ASSERT_EQ(Recorded("parent").size(), 1u);
    EXPECT_FALSE(Recorded("parent")[0].empty());
    const auto ancestors = engine::DescribeAskingProcess("/proc", ::getpid()).ancestors; // the alert keeps the last
    EXPECT_EQ(Recorded("ancestor"), std::vector<std::string>(ancestors.end() - (ancestors.empty() ? 0 : 1), ancestors.end()));
    EXPECT_TRUE(Recorded("encrypteddns").empty());
    // A known encrypted DNS service, by its name or its address: the details say so.
    engine.UserApprove(40001, 1, "10.0.0.6", "DNS.Google.", kTcp, 443);
    engine.UserApprove(40002, 1, "2606:4700:4700::1111", nullptr, kTcp, 443);
    engine.UserApprove(40003, 1, "10.0.0.7", "dns.google.example.org", kTcp, 443);
    engine.UserApprove(40004, 1, "8.8.8.8", nullptr, kTcp, 53); // plain DNS: the hook reads it
    EXPECT_EQ(Recorded("encrypteddns"), (std::vector<std::string> {"1", "1"}));
}

// A command line as /proc holds it, NUL bytes included.
template <size_t N>
std::string Raw(const char (&text)[N])
{
    return std::string(text, N - 1);
}

TEST(AskingProcess, ReadsTheCommandLineAndTheParentFromTheProcessTable)
{
    Sandbox sandbox;
    testing_support::FakeProcessTable table(sandbox.root + "/proc");
    table.Add(100, 1, "/usr/bin/git");
    table.Add(200, 100, "/usr/lib/git-core/git-remote-http");
    testing_support::WriteText(table.Root() + "/200/cmdline", Raw("git-remote-http\0origin\0https://example.org/r.git\0"));
    const engine::AskingProcess process = engine::DescribeAskingProcess(table.Root(), 200);
    EXPECT_EQ(process.pid, 200);
    EXPECT_EQ(process.commandLine, "git-remote-http origin https://example.org/r.git");
    EXPECT_EQ(process.parentPid, 100);
    EXPECT_EQ(process.parentPath, "/usr/bin/git");
    EXPECT_TRUE(process.ancestors.empty()); // git's parent is the service manager
    // Who started the parent, and so on up: a bounded number of them.
    for (const auto& [pid, parent, exe] : {std::tuple {90, 80, "/usr/bin/bash"}, {80, 70, "/usr/sbin/sshd"},
                                           {70, 60, "/usr/sbin/sshd"}, {60, 50, "/sbin/init"}, {110, 90, "/usr/bin/git"},
                                           {210, 110, "/usr/lib/git-core/git-remote-http"}})
        table.Add(pid, parent, exe);
    EXPECT_EQ(engine::DescribeAskingProcess(table.Root(), 210).ancestors,
              (std::vector<std::string> {"/usr/bin/bash", "/usr/sbin/sshd", "/usr/sbin/sshd"}));
    // A parent that cannot be examined: its number alone.
    table.Add(300, 250, "/usr/bin/curl");
    const engine::AskingProcess orphan = engine::DescribeAskingProcess(table.Root(), 300);
    EXPECT_EQ(orphan.parentPid, 250);
    EXPECT_EQ(orphan.parentPath, "");
    EXPECT_EQ(orphan.commandLine, "");
}

// Read back as a shell would, one line whatever the arguments hold.
TEST(AskingProcess, CommandLineQuotesWhatAShellWouldNeedAndSpellsOutControlCharacters)
{
    struct Case {
        std::string raw;
        std::string shown;
    };
    const Case cases[] = {
        {Raw("curl\0-s\0https://example.org/a?b=1\0"), "curl -s 'https://example.org/a?b=1'"},
        {Raw("sh\0-c\0echo it's\0"), "sh -c 'echo it'\\''s'"},
        {Raw("a\0\0b\0"), "a '' b"},
        {Raw("printf\0line\nfake: line\0"), "printf $'line\\nfake: line'"},
        {Raw("x\0\x1b[2Jcleared\0"), "x $'\\x1b[2Jcleared'"},
        {Raw("caf\xc3\xa9\0"), "caf\xc3\xa9"},
        {Raw("no-terminator"), "no-terminator"},
        {std::string(), ""},
    };
    for (const Case& c : cases)
        EXPECT_EQ(engine::FormatCommandLine(c.raw), c.shown) << c.shown;
    const std::string longLine = engine::FormatCommandLine(std::string(5000, 'x') + '\0', 4096);
    EXPECT_EQ(longLine.size(), 4096u + 3);
    EXPECT_TRUE(longLine.ends_with("..."));
}

// Questions asked at once from many threads (or programs) meet one alert
// program: the first starts it, the others connect to it; every one is
// answered, none refused as silent.
TEST_F(EngineAlert, QuestionsAtOnceMeetOneServingAlertProgram)
{
    ::setenv("ZEL_TEST_ALERT_SERVE", "1", 1);
    // Answered once all of them are shown: the first answer cannot end the program before the last came.
    const std::string cue = sandbox.root + "/cue";
    ::setenv("ZEL_TEST_ALERT_SCRIPT", ("cue=" + cue).c_str(), 1);
    Engine engine(Options());
    constexpr int kQuestions = 40;
    std::vector<std::future<int>> answers;
    for (int i = 0; i < kQuestions; ++i)
        answers.push_back(std::async(std::launch::async, [&engine, i] {
            return engine.UserApprove(static_cast<unsigned>(41000 + i), 1, "10.0.0.5", "host1", kTcp, 8080);
        }));
    EXPECT_TRUE(testing_support::WaitForFile(sandbox.root, [this] { return AlertsShown() >= kQuestions; },
                                             std::chrono::seconds(20)));
    ASSERT_TRUE(os::WriteFileAtomically(cue, "1", 0644, false)); // never seen half written
    for (auto& answer : answers)
        EXPECT_EQ(answer.get(), 1);
    EXPECT_EQ(AlertsShown(), kQuestions);
    const auto pids = Recorded("alertpid");
    EXPECT_EQ(std::set<std::string>(pids.begin(), pids.end()).size(), 1u);
    EXPECT_TRUE(NoChildLeft());
}

// The process a serving alert program leaves as it goes to the background is
// reaped at once, not when the user answers: no zombie under the asking
// program meanwhile. A child of the program's own stays its to wait for.
TEST_F(EngineAlert, StarterOfAServingAlertIsReapedBeforeTheAnswerAndTheProgramsChildIsLeftAlone)
{
    ::setenv("ZEL_TEST_ALERT_SERVE", "1", 1);
    const std::string cue = sandbox.root + "/cue";
    ::setenv("ZEL_TEST_ALERT_SCRIPT", ("cue=" + cue).c_str(), 1);
    int ends[2];
    ASSERT_EQ(::pipe(ends), 0);
    const pid_t own = ::fork(); // ends when told, while the question is open
    if (own == 0) {
        char told;
        ::close(ends[1]);
        ::_exit(::read(ends[0], &told, 1) == 0 ? 7 : 1);
    }
    ::close(ends[0]);
    const auto zombie = [] {
        siginfo_t info {};
        return ::waitid(P_ALL, 0, &info, WEXITED | WNOHANG | WNOWAIT) == 0 && info.si_pid != 0;
    };
    Engine engine(Options());
    auto answer = std::async(std::launch::async, [&engine] {
        return engine.UserApprove(40000, 1, "10.0.0.5", "host1", kTcp, 8080);
    });
    ASSERT_TRUE(testing_support::WaitForFile(sandbox.root, [this] { return AlertsShown() == 1; }, std::chrono::seconds(5)));
    // Being reaped is no event one can wait on: looked at every 10 ms, for 2 s at most.
    for (int round = 0; round < 200 && zombie(); ++round)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_FALSE(zombie());
    ::close(ends[1]);
    testing_support::WaitProcessEnd(own, std::chrono::seconds(2));
    EXPECT_EQ(answer.wait_for(std::chrono::milliseconds(0)), std::future_status::timeout);
    ASSERT_TRUE(os::WriteFileAtomically(cue, "1", 0644, false));
    EXPECT_EQ(answer.get(), 1);
    int status = 0;
    EXPECT_EQ(::waitpid(own, &status, 0), own);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 7);
    EXPECT_TRUE(NoChildLeft());
}

// Before its first word an alert program may still be starting: a program
// that takes longer than the silence limit to speak is waited for.
TEST_F(EngineAlert, SilenceCountsOnlyOnceTheAlertHasSpoken)
{
    using std::chrono::milliseconds;
    const std::string cue = sandbox.root + "/speak";
    ::setenv("ZEL_TEST_ALERT_START_CUE", cue.c_str(), 1);
    ::setenv("ZEL_TEST_ALERT_SCRIPT", "answer=1", 1);
    Engine engine(Options());
    {
        os::ManualTime time;
        auto answer = std::async(std::launch::async, [&engine] {
            return engine.UserApprove(40000, 1, "10.0.0.5", "host1", kTcp, 8080);
        });
        ASSERT_TRUE(testing_support::WaitForFile(sandbox.root, [&cue] { return ::access((cue + ".started").c_str(), F_OK) == 0; },
                                                 std::chrono::seconds(5)));
        // Silent past the silence limit, still starting: the conversation
        // looks at the clock every 100 ms, and three of its looks pass here.
        time.Advance(milliseconds(engine::kSilenceLimitMs + 700));
        EXPECT_EQ(answer.wait_for(milliseconds(300)), std::future_status::timeout);
        testing_support::WriteText(cue, "");
        ASSERT_EQ(answer.wait_for(std::chrono::seconds(5)), std::future_status::ready);
        EXPECT_EQ(answer.get(), 1);
    }
    EXPECT_TRUE(NoChildLeft());
}

// An alert program that leaves before its first word (it ended just as the
// question joined it) leaves the question to be asked anew; one that spoke
// and left has ended it unanswered.
TEST(AlertConversation, LeavingBeforeTheFirstWordIsToldApartFromLeavingLater)
{
    using engine::launch::Ending;
    struct Case {
        const char* name;
        bool readsRequest; // false: gone before the request could be sent
        const char* says;  // before it leaves
        Ending ending;
    };
    const Case cases[] = {
        {"gone before the request", false, "", Ending::kClosedEarly},
        {"read the request, said nothing", true, "", Ending::kClosedEarly},
        {"spoke, then left", true, "alive\n", Ending::kClosed},
    };
    for (const Case& c : cases) {
        int pair[2];
        ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair), 0);
        const int on = 1;
        ::setsockopt(pair[0], SOL_SOCKET, SO_PASSCRED, &on, sizeof on);
        if (!c.readsRequest)
            ::close(pair[1]);
        std::thread alert;
        if (c.readsRequest)
            alert = std::thread([&c, fd = pair[1]] {
                char buffer[4096];
                for (ssize_t n; (n = ::read(fd, buffer, sizeof buffer)) > 0;)
                    if (std::string_view(buffer, static_cast<size_t>(n)).find("end\n") != std::string_view::npos)
                        break;
                if (*c.says) {
                    EXPECT_GT(::write(fd, c.says, std::strlen(c.says)), 0);
                }
                ::close(fd);
            });
        sigset_t none;
        sigemptyset(&none);
        engine::launch::StartedChild joined;
        engine::launch::Speaker speaker;
        engine::AlertResult result;
        const engine::launch::Conversation conversation = engine::launch::Converse(
            pair[0], "peer\t10.0.0.5\nend\n", nullptr, none, -1, joined, speaker, result);
        if (alert.joinable())
            alert.join();
        ::close(pair[0]);
        EXPECT_EQ(static_cast<int>(conversation.ending), static_cast<int>(c.ending)) << c.name;
        EXPECT_EQ(result.button, 0) << c.name;
    }
}

// A serving alert program that stopped (or hangs) after it spoke: its
// questions count as no answer after the silence limit, it is ended, and the
// next question starts a new one.
TEST_F(EngineAlert, StoppedServingAlertIsEndedAndTheNextQuestionStartsAnother)
{
    using std::chrono::milliseconds;
    ::setenv("ZEL_TEST_ALERT_SERVE", "1", 1);
    Engine engine(Options());
    {
        os::ManualTime time;
        auto answer = std::async(std::launch::async, [&engine] {
            return engine.UserApprove(40000, 1, "10.0.0.5", "script:stop", kTcp, 8080);
        });
        // It stops once it has recorded the question.
        ASSERT_TRUE(testing_support::WaitForFile(sandbox.root, [this] { return !Recorded("alertpid").empty(); },
                                                 std::chrono::seconds(5)));
        // Not a moment early: the conversation looks at the clock every 100 ms,
        // and three of its looks pass here.
        time.Advance(milliseconds(engine::kSilenceLimitMs - 100));
        EXPECT_EQ(answer.wait_for(milliseconds(300)), std::future_status::timeout);
        // A beat sent just before it stopped may have come after a move: moved again then.
        for (int round = 0; round < 5 && answer.wait_for(milliseconds(0)) != std::future_status::ready; ++round) {
            time.Advance(milliseconds(round == 0 ? 101 : engine::kSilenceLimitMs + 1));
            answer.wait_for(std::chrono::seconds(1));
        }
        ASSERT_EQ(answer.wait_for(milliseconds(0)), std::future_status::ready);
        EXPECT_EQ(answer.get(), 0);
    }
    const auto first = Recorded("alertpid");
    ASSERT_EQ(first.size(), 1u);
    // Ended: gone, or a zombie waiting for whoever adopted it.
    const auto ended = [&first] {
        const std::string stat = ReadText("/proc/" + first[0] + "/stat");
        return stat.empty() || stat.find(") Z ") != std::string::npos;
    };
    testing_support::WaitProcessEnd(std::stoi(first[0]), std::chrono::seconds(2));
    EXPECT_TRUE(ended()) << ReadText("/proc/" + first[0] + "/stat");

    EXPECT_EQ(engine.UserApprove(40001, 1, "10.0.0.5", "script:answer=1", kTcp, 8080), 1);
    const auto both = Recorded("alertpid");
    ASSERT_EQ(both.size(), 2u);
    EXPECT_NE(both[1], both[0]);
    EXPECT_TRUE(NoChildLeft());
}

// Another program of the user's holding the rendezvous (a question hung in
// it, or one meaning harm) delays a question by the rendezvous wait on the
// engine's clock, never for good: the question gets a window of its own.
TEST_F(EngineAlert, RendezvousHeldByAnotherDelaysAQuestionOnlyForItsWait)
{
    using std::chrono::milliseconds;
    const engine::AlertRendezvous rendezvous = engine::FindAlertRendezvous();
    const int held = ::open(rendezvous.lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    ASSERT_GE(held, 0);
    ASSERT_EQ(::flock(held, LOCK_EX | LOCK_NB), 0);
    testing_support::Changes opened;
    ASSERT_TRUE(opened.Watch(rendezvous.lockPath, testing_support::Changes::kOpened));
    Engine engine(Options());
    {
        os::ManualTime time;
        auto answer = std::async(std::launch::async, [&engine] {
            return engine.UserApprove(40000, 1, "10.0.0.5", "script:answer=1", kTcp, 8080);
        });
        ASSERT_TRUE(testing_support::WaitReadable(opened.Descriptor(), std::chrono::seconds(5)));
        // Not before the wait of 2 s: it tries the lock every 2 ms.
        time.Advance(milliseconds(1900));
        EXPECT_EQ(answer.wait_for(milliseconds(100)), std::future_status::timeout);
        EXPECT_EQ(AlertsShown(), 0);
        // Past the wait, however late after the open it began: its own
        // window shows (moved again only should the engine's thread have
        // been held up for longer than the look above).
        const auto shown = [this] { return AlertsShown() == 1; };
        for (int round = 0; round < 3 && !shown(); ++round) {
            time.Advance(milliseconds(2001));
            testing_support::WaitForFile(sandbox.root, shown, std::chrono::seconds(2));
        }
        ASSERT_EQ(answer.wait_for(std::chrono::seconds(5)), std::future_status::ready);
        EXPECT_EQ(answer.get(), 1);
    }
    EXPECT_EQ(AlertsShown(), 1);
    ::close(held);
    EXPECT_TRUE(NoChildLeft());
}

// Only a socket of the user's own is ever met at the rendezvous; anything
// else there is left alone, and the question gets an alert of its own.
TEST_F(EngineAlert, SomethingElseAtTheRendezvousIsLeftAloneAndTheQuestionStillAsked)
{
    ::setenv("ZEL_TEST_ALERT_SERVE", "1", 1);
    const engine::AlertRendezvous rendezvous = engine::FindAlertRendezvous();
    ASSERT_FALSE(rendezvous.socketPath.empty());
    EXPECT_EQ(rendezvous.socketPath.rfind(sandbox.runtime + "/alert-", 0), 0u) << rendezvous.socketPath;
    testing_support::WriteText(rendezvous.socketPath, "planted");
    Engine engine(Options());
    EXPECT_EQ(engine.UserApprove(40000, 1, "10.0.0.5", "script:answer=1", kTcp, 8080), 1);
    EXPECT_EQ(ReadText(rendezvous.socketPath), "planted");
    EXPECT_TRUE(NoChildLeft());
    ::unlink(rendezvous.socketPath.c_str());
}

// A socket left by an alert program that ended is replaced; one that was
// given up meanwhile by the alert program that now leaves is not its to keep.
TEST_F(EngineAlert, SocketLeftByAnEndedAlertIsReplaced)
{
    ::setenv("ZEL_TEST_ALERT_SERVE", "1", 1);
    Engine engine(Options());
    EXPECT_EQ(engine.UserApprove(40000, 1, "10.0.0.5", "script:kill", kTcp, 8080), 0);
    const engine::AlertRendezvous rendezvous = engine::FindAlertRendezvous();
    struct stat st {};
    ASSERT_EQ(::lstat(rendezvous.socketPath.c_str(), &st), 0); // left behind
    EXPECT_EQ(engine.UserApprove(40001, 1, "10.0.0.5", "script:answer=1", kTcp, 8080), 1);
    EXPECT_EQ(Recorded("alertpid").size(), 2u);
    EXPECT_TRUE(NoChildLeft());
}

namespace {

// Every connection asked about.
constexpr const char* kAskEverything =
    "<APPLICATIONS><APPLICATION><EXENAME>ANY</EXENAME><ISSERVICE>0</ISSERVICE><INDEF>ASK</INDEF>"
    "<OUTDEF>ASK</OUTDEF></APPLICATION></APPLICATIONS>\n";

}  // namespace

// "Until the program quits": this process keeps the answer for what it
// covers, tells the panel nothing, and the next run of the program asks again.
TEST_F(EngineAlert, UntilTheProgramQuitsHoldsInThisProcessOnlyAndTheNextRunAsksAgain)
{
    auto window = protocol::windows::Window::Register(protocol::kMainWindowTitle, {protocol::kPictureBoxClass});
    ASSERT_TRUE(window);
    sandbox.WriteRules(kAskEverything);
    {
        Engine engine(Options());
        ::setenv("ZEL_TEST_ALERT_SCRIPT", "answer=1,for=process,to=port", 1);
        EXPECT_EQ(engine.UserApprove(40000, 1, "10.0.0.5", nullptr, kTcp, 8443), 1);
        // The same port at another address: answered, without a window, by
        // the rules' path as well as the question's.
        ::setenv("ZEL_TEST_ALERT_SCRIPT", "answer=2", 1);
        EXPECT_EQ(engine.Approve(40001, 1, "10.0.0.9", kTcp, 8443), 1);
        EXPECT_EQ(engine.UserApprove(40001, 1, "10.0.0.9", nullptr, kTcp, 8443), 1);
        EXPECT_EQ(AlertsShown(), 1);
        // Another port, or incoming on that port, still asks.
        EXPECT_EQ(engine.UserApprove(40002, 1, "10.0.0.5", nullptr, kTcp, 8444), 0);
        EXPECT_EQ(engine.UserApprove(8443, 0, "10.0.0.5", nullptr, kTcp, 40000), 0);
        EXPECT_EQ(AlertsShown(), 3);
        EXPECT_FALSE(protocol::windows::ReceiveMessage(window->ChildSocket(0)));
    }
    // The program's next run.
    Engine next(Options());
    EXPECT_EQ(next.Approve(40000, 1, "10.0.0.5", kTcp, 8443), 2);
    EXPECT_EQ(next.UserApprove(40000, 1, "10.0.0.5", nullptr, kTcp, 8443), 0);
    EXPECT_EQ(AlertsShown(), 4);
}

// "For 1 hour" (the options' length): posted to the panel with its end,
// answering what it covers until then by this process's clock, and asked
// again once the hour has passed.
TEST_F(EngineAlert, ForAnHourIsPostedWithItsEndAndAskedAgainAfterTheHour)
{
    auto window = protocol::windows::Window::Register(protocol::kMainWindowTitle, {protocol::kPictureBoxClass});
    ASSERT_TRUE(window);
    sandbox.WriteRules(kAskEverything);
    std::time_t now = 1'800'000'000;
    engine::EngineOptions options = Options();
    options.now = [&now] { return now; };
    Engine engine(options);
    ::setenv("ZEL_TEST_ALERT_SCRIPT", "answer=1,for=timed,to=peerport", 1);
    EXPECT_EQ(engine.UserApprove(40000, 1, "10.0.0.5", "Api.Example.COM", kTcp, 443), 1);
    EXPECT_EQ(Recorded("choices"), std::vector<std::string> {"60"});
    EXPECT_EQ(Recorded("port"), std::vector<std::string> {"443"});
    const auto message = protocol::windows::ReceiveMessage(window->ChildSocket(0));
    ASSERT_TRUE(message);
    EXPECT_EQ(protocol::windows::ParamCode(message->lParam), protocol::kCodeScopedAnswer);
    EXPECT_EQ(message->data, "OUTGOING PERMIT 1800003600 443 - api.example.com\n" + engine.Carrier().exePath);

    ::setenv("ZEL_TEST_ALERT_SCRIPT", "answer=2", 1);
    const char* names[] = {"api.example.com"};
    now += 3599;
    EXPECT_EQ(engine.ApproveNames(40001, 1, "10.0.0.6", names, 1, kTcp, 443, nullptr), 1);
    EXPECT_EQ(engine.UserApprove(40001, 1, "10.0.0.6", "api.example.com", kTcp, 443), 1);
    EXPECT_EQ(engine.UserApprove(40002, 1, "10.0.0.6", "api.example.com", kTcp, 80), 0); // another port
    EXPECT_EQ(AlertsShown(), 2);
    now += 1;
    EXPECT_EQ(engine.ApproveNames(40003, 1, "10.0.0.6", names, 1, kTcp, 443, nullptr), 2);
    EXPECT_EQ(engine.UserApprove(40003, 1, "10.0.0.6", "api.example.com", kTcp, 443), 0);
    EXPECT_EQ(AlertsShown(), 3);

    // The datagram verdicts such an answer took (the hook's, per socket) are taken again at its end.
    ::setenv("ZEL_TEST_ALERT_SCRIPT", "answer=1,for=timed,to=peerport", 1);
    EXPECT_EQ(engine.UserApprove(40004, 1, "10.0.0.9", nullptr, kUdp, 53), 1);
    const uint32_t epoch = engine.VerdictEpoch();
    now += 3599;
    EXPECT_EQ(engine.VerdictEpoch(), epoch);
    EXPECT_TRUE(engine.HasDatagramPeer("10.0.0.9:53"));
    now += 1;
    EXPECT_NE(engine.VerdictEpoch(), epoch);
    EXPECT_FALSE(engine.HasDatagramPeer("10.0.0.9:53"));
}

// A timed answer in the rules file answers what the rules would ask until
// its end, by the engine's own clock (no panel needs to run or remove it),
// and never overrides what the rules decide.
TEST_F(EngineAlert, TimedAnswerInTheFileEndsByTheEnginesClockAlone)
{
    sandbox.WriteRules(
        "<APPLICATIONS><APPLICATION><EXENAME>TOOL.EXE</EXENAME><ISSERVICE>0</ISSERVICE><INDEF>ASK</INDEF>"
        "<OUTDEF>ASK</OUTDEF><RULES><RULE><DIRECTION>OUTGOING</DIRECTION><PERMISSION>DENY</PERMISSION><STATE>1</STATE>"
        "<ENABLE>1</ENABLE><PORTS><PORT><NUMBER>25</NUMBER></PORT></PORTS></RULE></RULES>"
        "<TIMED><ANSWER><DIRECTION>OUTGOING</DIRECTION><PERMISSION>PERMIT</PERMISSION><UNTIL>1800000100</UNTIL>"
        "<NUMBER>0</NUMBER></ANSWER>"
        "<ANSWER><DIRECTION>INCOMING</DIRECTION><PERMISSION>DENY</PERMISSION><UNTIL>1800000050</UNTIL>"
        "<NUMBER>22</NUMBER><IP>10.0.0.7</IP></ANSWER></TIMED></APPLICATION></APPLICATIONS>\n");
    std::time_t now = 1'800'000'000;
    engine::EngineOptions options = Options();
    options.now = [&now] { return now; };
    Engine engine(options);
    EXPECT_EQ(engine.Approve(40000, 1, "10.0.0.5", kTcp, 443), 1);
    const int reloads = engine.Reloads();
    EXPECT_EQ(engine.Approve(40000, 1, "10.0.0.5", kTcp, 25), 0); // the rule decides
    EXPECT_EQ(engine.Approve(22, 0, "10.0.0.7", kTcp, 40000), 0);
    EXPECT_EQ(engine.Approve(22, 0, "10.0.0.8", kTcp, 40000), 2); // another peer
    now = 1'800'000'050;
    EXPECT_EQ(engine.Approve(22, 0, "10.0.0.7", kTcp, 40000), 2);
    EXPECT_EQ(engine.Approve(40000, 1, "10.0.0.5", kTcp, 443), 1);
    now = 1'800'000'100;
    EXPECT_EQ(engine.Approve(40000, 1, "10.0.0.5", kTcp, 443), 2);
    EXPECT_EQ(engine.Reloads(), reloads); // no reload was needed to end them
}

// A quiet or the learning mode answers what the rules would ask without an
// alert, records why and lists each peer once for review; Block All still
// wins; back in ask, the next question is asked.
TEST_F(EngineAlert, QuietAndLearningModesDecideWithoutAnAlert)
{
    namespace mode = protocol::mode;
    sandbox.WriteRules(kAskEverything);
    std::time_t now = 1'800'000'000;
    engine::EngineOptions options = Options();
    options.now = [&now] { return now; };
    const struct {
        mode::Mode mode;
        int result;
        const char* reason;
        const char* again; // the second question's reason
    } cases[] = {
        {mode::Mode::kQuietBlock, 0, "quiet", "quiet"},
        {mode::Mode::kQuietAllow, 1, "quiet", "quiet"},
        {mode::Mode::kLearn, 1, "learn", "remembered"},
    };
    const std::string list = protocol::review::ListPath();
    for (const auto& c : cases) {
        ASSERT_TRUE(protocol::review::Remove(list, [](const protocol::review::Item&) { return true; }));
        ASSERT_TRUE(mode::Write({c.mode, now + 7 * 86400}));
        Engine engine(options);
        for (const unsigned localPort : {40000u, 40001u})
            EXPECT_EQ(engine.UserApprove(localPort, 1, "10.0.0.5", "host.example", kTcp, 443), c.result);
        EXPECT_EQ(engine.UserApprove(40002, 1, "10.0.0.5", nullptr, kUdp, 53), c.result);
        const auto records = sandbox.ConnectionRecords();
        ASSERT_GE(records.size(), 3u);
        EXPECT_EQ(protocol::ParseLogLine(records[records.size() - 3])->reason, c.reason);
        EXPECT_EQ(protocol::ParseLogLine(records[records.size() - 2])->reason, c.again);
        const auto items = protocol::review::ReadAll(list);
        ASSERT_EQ(items.size(), 2u) << mode::Word(c.mode);
        EXPECT_EQ(items[0].host, "host.example");
        EXPECT_EQ(items[0].remotePort, 443u);
        EXPECT_EQ(items[0].permitted, c.result == 1);
        EXPECT_EQ(items[0].mode, c.reason);
        EXPECT_EQ(items[0].path, engine.Carrier().exePath);
        EXPECT_EQ(items[1].protocol, 2);
        sandbox.SetSetting("SecurityStatus", "0");
        EXPECT_EQ(engine.Approve(40003, 1, "10.0.0.6", kTcp, 443), 0);
        sandbox.DeleteSetting("SecurityStatus");
    }
    EXPECT_EQ(AlertsShown(), 0);
    ASSERT_TRUE(mode::Write({mode::Mode::kAsk, 0}));
    Engine engine(options);
    EXPECT_EQ(engine.UserApprove(40004, 1, "10.0.0.7", nullptr, kTcp, 443), 0);
    EXPECT_EQ(AlertsShown(), 1);
}

// Learning lasts until its end by the engine's clock: what it allowed is
// remembered until then, and afterwards every question is asked.
TEST_F(EngineAlert, LearningEndsByTheEnginesClock)
{
    namespace mode = protocol::mode;
    sandbox.WriteRules(kAskEverything);
    std::time_t now = 1'800'000'000;
    const std::time_t end = now + 100;
    engine::EngineOptions options = Options();
    options.now = [&now] { return now; };
    ASSERT_TRUE(mode::Write({mode::Mode::kLearn, end}));
    Engine engine(options);
    EXPECT_EQ(engine.UserApprove(40000, 1, "10.0.0.5", nullptr, kTcp, 443), 1);
    now = end - 1;
    EXPECT_EQ(engine.UserApprove(40001, 1, "10.0.0.6", nullptr, kTcp, 443), 1);
    EXPECT_FALSE(mode::LearningOver(mode::Read(), now));
    EXPECT_EQ(AlertsShown(), 0);
    EXPECT_EQ(protocol::review::ReadAll(protocol::review::ListPath()).size(), 2u);
    now = end;
    EXPECT_TRUE(mode::LearningOver(mode::Read(), now));
    EXPECT_EQ(engine.UserApprove(40002, 1, "10.0.0.5", nullptr, kTcp, 443), 0);
    EXPECT_EQ(engine.UserApprove(40003, 1, "10.0.0.8", nullptr, kTcp, 443), 0);
    EXPECT_EQ(AlertsShown(), 2);
    EXPECT_EQ(protocol::review::ReadAll(protocol::review::ListPath()).size(), 2u);
}

// A lasting answer given in one alert answers this process's other open
// questions it covers (another peer on that port), not those it does not.
TEST_F(EngineAlert, LastingAnswerClosesTheOpenQuestionsItCovers)
{
    sandbox.WriteRules(kAskEverything);
    Engine engine(Options());
    auto covered = std::async(std::launch::async,
                              [&] { return engine.UserApprove(40001, 1, "10.0.0.6", "script:wait", kTcp, 8080); });
    auto other = std::async(std::launch::async,
                            [&] { return engine.UserApprove(40002, 1, "10.0.0.6", "script:wait", kTcp, 8081); });
    // Both shown before the answer is given.
    testing_support::WaitForFile(sandbox.root, [this] { return AlertsShown() >= 2; });
    ASSERT_EQ(AlertsShown(), 2);
    ASSERT_EQ(engine.UserApprove(40000, 1, "10.0.0.5", "script:answer=1,for=process,to=port", kTcp, 8080), 1);
    ASSERT_EQ(covered.wait_for(std::chrono::seconds(5)), std::future_status::ready);
    EXPECT_EQ(covered.get(), 1);
    EXPECT_EQ(other.wait_for(std::chrono::milliseconds(500)), std::future_status::timeout);
    // Its own port's answer, Block until the program quits, closes it.
    ASSERT_EQ(engine.UserApprove(40003, 1, "10.0.0.7", "script:answer=2,for=process,to=port", kTcp, 8081), 0);
    ASSERT_EQ(other.wait_for(std::chrono::seconds(5)), std::future_status::ready);
    EXPECT_EQ(other.get(), 0);
    EXPECT_EQ(AlertsShown(), 4);
}

// The control panel's own questions (for the kernel backstop) take no length
// or scope: their alert is asked without "choices". An answer line's length
// and scope read as the engine acts on them; always for any connection or
// the host is the ticked answer an older alert gave.
TEST_F(EngineAlert, AnswerLinesReadTheirLengthAndScope)
{
    engine::AlertTexts texts;
    texts.caption = "ZEL - TCP Connection Alert!";
    texts.peer = "10.0.0.5";
    const auto ask = [&texts](const char* script) {
        ::setenv("ZEL_TEST_ALERT_SCRIPT", script, 1);
        return engine::RunAlert(texts, [] { return 0; });
    };
    engine::AlertResult result = ask("answer=1");
    EXPECT_EQ(result.button, 1);
    EXPECT_EQ(result.length, engine::AnswerLength::kOnce);
    EXPECT_TRUE(Recorded("choices").empty());
    EXPECT_TRUE(Recorded("port").empty());

    texts.timedMinutes = 30;
    texts.port = 443;
    struct Case {
        const char* script;
        engine::AnswerLength length;
        engine::AnswerScope scope;
        bool ticked;
        bool hostOnly;
    };
    using L = engine::AnswerLength;
    using S = engine::AnswerScope;
    const Case cases[] = {
        {"answer=1,for=always,to=any", L::kAlways, S::kAny, true, false},
        {"answer=1,for=always,to=host", L::kAlways, S::kHost, true, true},
        {"answer=1,for=always,to=port", L::kAlways, S::kPort, false, false},
        {"answer=2,for=timed,to=peerport", L::kTimed, S::kPeerAndPort, false, false},
        {"answer=2,for=process,to=any", L::kProcess, S::kAny, false, false},
        {"answer=2,for=never,to=any", L::kOnce, S::kPeerAndPort, false, false}, // unknown: this connection
        {"answer=1,for=timed,to=all", L::kOnce, S::kPeerAndPort, false, false},
        {"answer=1,ticked=1", L::kAlways, S::kAny, true, false},                  // an older alert's
    };
    for (const Case& c : cases) {
        result = ask(c.script);
        EXPECT_EQ(result.length, c.length) << c.script;
        EXPECT_EQ(result.scope, c.scope) << c.script;
        EXPECT_EQ(result.ticked, c.ticked) << c.script;
        EXPECT_EQ(result.hostOnly, c.hostOnly) << c.script;
    }
    EXPECT_EQ(Recorded("choices").size(), std::size(cases));
    EXPECT_EQ(Recorded("port").back(), "443");
}

namespace {

engine::AlertResult standInResult;
engine::AlertResult StandInAlert(const engine::AlertTexts&, const std::function<int()>&, const std::string&, int)
{
    return standInResult;
}

}  // namespace

// The asker applies an answer only when one came: a question taken back or
// interrupted as the answer arrived remembers nothing, whatever the result
// carries; a box ticked for one host applies to that host alone.
TEST_F(EngineAlert, AskerAppliesOnlyAnAnswerThatCame)
{
    engine::CarrierIdentity carrier;
    carrier.exePath = "/usr/bin/prog";
    carrier.description = "prog";
    const engine::CarrierLife life(carrier, 0);
    const std::function<std::time_t()> now;
    const engine::Connection connection(40000, engine::kOutgoing, "10.0.0.5", kTcp, 443);
    struct Case {
        bool withdrawn, interrupted, hostOnly;
        int answer, forDirection, forHost;
    };
    const Case cases[] = {
        {true, false, false, engine::kDeny, 0, 0},
        {false, true, false, engine::kDeny, 0, 0},
        {false, false, false, engine::kPermit, 1, 0},
        {false, false, true, engine::kPermit, 0, 1},
    };
    for (const Case& c : cases) {
        engine::AnswerMemory answers;
        engine::Asker asker(carrier, life, answers, now, &StandInAlert);
        standInResult = {};
        standInResult.button = 1;
        standInResult.ticked = true;
        standInResult.length = engine::AnswerLength::kAlways;
        standInResult.hostOnly = c.hostOnly;
        standInResult.withdrawn = c.withdrawn;
        standInResult.interrupted = c.interrupted;
        const engine::Asker::Outcome outcome = asker.Ask(connection, "example.org", "example.org", -1);
        const int row = static_cast<int>(&c - cases);
        EXPECT_EQ(outcome.withdrawn, c.withdrawn) << row;
        EXPECT_EQ(outcome.interrupted, c.interrupted) << row;
        EXPECT_EQ(outcome.answer, c.answer) << row;
        EXPECT_EQ(answers.ForDirection(engine::kOutgoing), c.forDirection) << row;
        EXPECT_EQ(answers.ForHost("example.org"), c.forHost) << row;
    }
}
