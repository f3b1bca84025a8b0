// zel-rules while the control panel runs and a program runs under the
// firewall: the change reaches the program's next connection, and the
// panel shows it.
#include "panel/core/ErrorLog.h"
#include "panel/core/PanelCore.h"
#include "panel/core/SingleInstance.h"
#include "panel/windows/MainForm.h"

#include "tests/PanelWindowDriver.h"

#include "protocol/SharedBlock.h"
#include "tests/PanelHostFixture.h"

#include <QTest>
#include <QTreeWidget>

#include <chrono>
#include <functional>
#include <ctime>
#include <optional>
#include <thread>

using namespace std::chrono_literals;
using testing_support::App;
using testing_support::ChildProcess;
using testing_support::Part;
using panel::MainForm;

namespace {

class RulesCommand : public testing_support::PanelWithInterceptor {
protected:
    // Runs zel-rules, letting the window work meanwhile; its exit status,
    // -1 when it did not end within ten seconds.
    static int RunRules(const std::vector<std::string>& args)
    {
        std::vector<std::string> argv {ZEL_RULES};
        argv.insert(argv.end(), args.begin(), args.end());
        ChildProcess command(argv);
        const int ended = testing_support::ProcessDescriptor(command.Pid());
        int status = -1;
        testing_support::WaitUntil([&] { return (status = command.Wait(0ms)) != -1; }, 10000, ended);
        ::close(ended);
        return status;
    }
};

}  // namespace

TEST_F(RulesCommand, ARuleAddedWhileTheProgramRunsDecidesItsNextConnectionAndShowsInThePanel)
{
    WriteRules(App("NETPEER", "PERMIT", "PERMIT") + App("ANY", "ASK", "PERMIT"));
    panel::PanelCore state;
    MainForm form(state);
    form.Load();
    ASSERT_TRUE(form.RegisterWindow());
    form.show();
    testing_support::Click(form, "Netpeer");
    auto server = Server({"tcp-server", "127.0.0.2", "21310"});
    // Two connections four seconds apart: the rule comes between them.
    ChildProcess program({NETPEER, "tcp-repeat", "127.0.0.3", "127.0.0.2", "21310", "2", "4000"}, hooked);
    ASSERT_EQ(program.ReadLine(5s).value_or("none"), "ok");
    const auto start = std::chrono::steady_clock::now();
    ASSERT_EQ(RunRules({"add", "netpeer", "--out", "--block", "--port", "21310", "--name", "from the terminal"}), 0);
    ASSERT_LT(std::chrono::steady_clock::now() - start, 3500ms) << "zel-rules took too long for the test";
    EXPECT_EQ(program.ReadLine(5s).value_or("none"), "refused");

    // The panel holds and shows the rule, on the page it was showing.
    const rules::Application* app = state.Rules().Find("NETPEER");
    ASSERT_TRUE(app);
    ASSERT_EQ(app->rules.size(), 1u);
    EXPECT_EQ(app->rules[0].name, "from the terminal");
    auto* list = form.findChild<QTreeWidget*>("MainListView");
    ASSERT_TRUE(list);
    EXPECT_TRUE(list->isVisible());
    EXPECT_EQ(list->topLevelItemCount(), 1);

    // The panel's next save keeps it: its copy is the file's.
    testing_support::Click(form, "Netpeer");
    ASSERT_TRUE(state.SetDefault("NETPEER", rules::Direction::kIncoming, rules::Permission::kDeny));
    EXPECT_NE(testing_support::ReadText(sandbox.rulesFile).find("from the terminal"), std::string::npos);
}

TEST_F(RulesCommand, AProgramTheCommandAddsAppearsInTheTree)
{
    WriteRules(App("ANY", "ASK", "PERMIT"));
    panel::PanelCore state;
    MainForm form(state);
    form.Load();
    ASSERT_TRUE(form.RegisterWindow());
    form.show();
    ASSERT_FALSE(testing_support::Node(form, "netpeer"));
    ASSERT_EQ(RunRules({"block", NETPEER, "--in"}), 0);
    // Bound to the file: known by its path, and still by its name to the command.
    ASSERT_TRUE(WaitFor([&] { return state.Rules().Find(NETPEER) != nullptr; }));
    EXPECT_EQ(state.Rules().Find(NETPEER)->incoming, rules::Permission::kDeny);
    EXPECT_EQ(state.Rules().Find(NETPEER)->name, "NETPEER");
    EXPECT_TRUE(testing_support::Node(form, "netpeer"));
    // Removed again: gone from the tree.
    ASSERT_EQ(RunRules({"remove", "NETPEER"}), 0);
    EXPECT_TRUE(WaitFor([&] { return !state.Rules().Find(NETPEER); }));
    EXPECT_FALSE(testing_support::Node(form, "netpeer"));
}

// A datagram socket the program keeps is decided again once the rule that
// permitted its peer is removed: its verdict ends with the rules it was
// taken by (in the hook and in the engine), as a TCP connection's does.
class AttackDatagramVerdicts : public RulesCommand {};

TEST_F(AttackDatagramVerdicts, AKeptSocketIsRefusedOnceTheRuleIsRemoved)
{
    WriteRules(App("NETPEER", "DENY", "DENY", testing_support::Rule("OUTGOING", "PERMIT", 21311))
               + App("ANY", "ASK", "PERMIT"));
    panel::PanelCore state;
    MainForm form(state);
    form.Load();
    ASSERT_TRUE(form.RegisterWindow());
    form.show();
    auto server = Server({"udp-echo", "127.0.0.2", "21311"});
    ChildProcess program({NETPEER, "udp-repeat", "127.0.0.3", "127.0.0.2", "21311", "300", "20"}, hooked);
    ASSERT_EQ(program.ReadLine(5s).value_or("none"), "sent");
    const auto start = std::chrono::steady_clock::now();
    ASSERT_EQ(RunRules({"remove", "netpeer", "1"}), 0);
    ASSERT_LT(std::chrono::steady_clock::now() - start, 3500ms) << "zel-rules took too long for the test";
    const auto removed = std::chrono::steady_clock::now();
    std::string line;
    for (int i = 0; i < 300 && (line = program.ReadLine(2s).value_or("none")) == "sent"; ++i) {
    }
    EXPECT_EQ(line, "refused");
    EXPECT_LT(std::chrono::steady_clock::now() - removed, 2s);
}

// A document from the user is the rules only when the engine reads what it
// says: an application without a name a program has (put first, it once
// ended every program's reading, and a program blocked both ways after it
// was asked about instead), two entries of one program, or an answer for a
// time longer than the options allow are refused with the place named, and
// the file stays as it was. An answer so long written by hand is shown.
TEST(AttackImportedRules, AreRefusedWhenTheEngineWouldNotReadThemAsWritten)
{
    testing_support::Sandbox sandbox;
    const std::string before = testing_support::RulesDocument(App("ANY", "ASK", "PERMIT"));
    sandbox.WriteRules(before);
    const auto rules = [](const std::vector<std::string>& args, std::vector<std::string>* out = nullptr) {
        std::vector<std::string> argv {ZEL_RULES};
        argv.insert(argv.end(), args.begin(), args.end());
        ChildProcess command(argv, {{"LC_ALL", "C"}});
        for (std::optional<std::string> line; out && (line = command.ReadLine(5s));)
            out->push_back(*line);
        return command.Wait(10s);
    };
    const std::string blocked = R"({"name": "NETPEER", "incoming": "DENY", "outgoing": "DENY"})";
    const std::string far = std::to_string(std::time(nullptr) + 8 * 24 * 3600);
    const std::string documents[] = {
        R"({"applications": [{"description": "first"}, )" + blocked + "]}",
        R"({"applications": [{"name": "netpeer"}, )" + blocked + "]}",
        R"({"applications": [)" + blocked + ", " + blocked + "]}",
        R"({"applications": [{"name": "NETPEER", "timed": [{"direction": "OUTGOING", "permission": "PERMIT", "until": )"
            + far + R"(, "port": 0}]}]})",
    };
    for (const std::string& document : documents) {
        testing_support::WriteText(sandbox.root + "/import.json", document);
        EXPECT_EQ(rules({"import", sandbox.root + "/import.json"}), 2) << document;
        EXPECT_EQ(testing_support::ReadText(sandbox.rulesFile), before) << document;
    }
    sandbox.WriteRules(testing_support::RulesDocument(
        "<APPLICATION><EXENAME>NETPEER</EXENAME><INDEF>ASK</INDEF><OUTDEF>ASK</OUTDEF><TIMED><ANSWER><DIRECTION>OUTGOING"
        "</DIRECTION><PERMISSION>PERMIT</PERMISSION><UNTIL>1099511627776</UNTIL><NUMBER>0</NUMBER></ANSWER></TIMED>"
        "</APPLICATION>"));
    std::vector<std::string> listed, shown;
    ASSERT_EQ(rules({"list"}, &listed), 0);
    ASSERT_EQ(listed.size(), 2u);
    EXPECT_EQ(listed[0].substr(0, 50), "PROGRAM                  IN     OUT    RULES TIMED");
    EXPECT_EQ(listed[1].substr(0, 50), "NETPEER                  ask    ask        0     1");
    ASSERT_EQ(rules({"show", "NETPEER"}, &shown), 0);
    ASSERT_FALSE(shown.empty());
    EXPECT_EQ(shown.back().substr(0, 25), "    out  allow  port any ");
    EXPECT_NE(shown.back().find("(longer than any answer may last: it allows nothing)"), std::string::npos) << shown.back();
}
