// The interceptor end to end: real programs under the hook, servers on
// 127.0.0.2 and up, clients bound to another loopback source.
#include "os/Clock.h"
#include "protocol/SharedBlock.h"
#include "tests/InterceptorFixture.h"

#include <algorithm>
#include <csignal>
#include <dlfcn.h>
#include <sys/stat.h>
#include <gtest/gtest.h>
#include <thread>
#include <unistd.h>

using namespace std::chrono_literals;
using testing_support::ChildProcess;
using testing_support::RulesDocument;
using testing_support::Sandbox;

namespace {

using testing_support::App;
using testing_support::PanelStandIn;
using testing_support::Rule;
using Interceptor = testing_support::InterceptorTest;
using AttackLoopbackPeers = testing_support::InterceptorTest;

}  // namespace

TEST_F(Interceptor, CurlPermittedByARuleConnectsAndIsLoggedOnce)
{
    WriteRules(App("CURL", "DENY", "DENY", Rule("OUTGOING", "PERMIT", 21001)));
    auto server = Server({"tcp-server", "127.0.0.2", "21001"});
    ChildProcess curl({CURL, "-sS", "--interface", "127.0.0.3", "http://127.0.0.2:21001/"}, hooked);
    EXPECT_EQ(server->ReadLine(), std::optional<std::string>("accepted 127.0.0.3"));
    curl.Wait();
    const auto records = Records("<REMOTEPORT>21001</REMOTEPORT>");
    ASSERT_EQ(records.size(), 1u);
    EXPECT_NE(records[0].find("<EXEPATH>/usr/bin/curl</EXEPATH><APPLICATION>CURL</APPLICATION><PROTOCOL>1</PROTOCOL>"
                              "<DIRECTION>1</DIRECTION><IP>127.0.0.2</IP>"), std::string::npos) << records[0];
    EXPECT_NE(records[0].find("<PERMISSION>1</PERMISSION><SERVICE>0</SERVICE>"), std::string::npos);
}

TEST_F(Interceptor, CurlDeniedGetsConnectionRefused)
{
    WriteRules(App("CURL", "DENY", "DENY"));
    auto server = Server({"tcp-server", "127.0.0.2", "21002"});
    ChildProcess curl({CURL, "-sS", "--interface", "127.0.0.3", "http://127.0.0.2:21002/"},
                      {{"LD_PRELOAD", hooked.at("LD_PRELOAD")}, {"ZEL_ENGINE_LIBRARY", hooked.at("ZEL_ENGINE_LIBRARY")}});
    EXPECT_EQ(curl.Wait(), 7); // curl: failed to connect
    EXPECT_FALSE(server->ReadLine(500ms).has_value());
    const auto records = Records("<REMOTEPORT>21002</REMOTEPORT>");
    ASSERT_EQ(records.size(), 1u);
    EXPECT_NE(records[0].find("<PERMISSION>0</PERMISSION>"), std::string::npos);
}

TEST_F(Interceptor, NonBlockingPythonConnectIsRefusedBeforeItStarts)
{
    WriteRules(App("ANY", "DENY", "DENY"));
    auto server = Server({"tcp-server", "127.0.0.2", "21003"});
    ChildProcess python({"/usr/bin/python3", "-c",
                         "import socket\n"
                         "s = socket.create_connection(('127.0.0.2', 21003), timeout=3, source_address=('127.0.0.3', 0))\n"},
                        hooked);
    EXPECT_NE(python.Wait(), 0);
    EXPECT_FALSE(server->ReadLine(500ms).has_value());
    EXPECT_EQ(Records("<REMOTEPORT>21003</REMOTEPORT><PERMISSION>0</PERMISSION>").size(), 1u);
}

// A denied connection reaches the program as the kernel hands over one that
// was reset before it was accepted: nothing of it can be read or answered.
TEST_F(Interceptor, IncomingConnectionToADeniedPortArrivesReset)
{
    WriteRules(App("NETPEER", "DENY", "PERMIT", Rule("INCOMING", "PERMIT", 21005)));
    auto denied = Server({"tcp-server", "127.0.0.2", "21004"}, true);
    auto permitted = Server({"tcp-server", "127.0.0.2", "21005"}, true);
    ChildProcess first({NETPEER, "tcp-client", "127.0.0.3", "127.0.0.2", "21004"});
    EXPECT_EQ(first.ReadLine(), std::optional<std::string>("failed")); // the other side saw a reset
    EXPECT_EQ(denied->ReadLine(), std::optional<std::string>("reset 127.0.0.3"));
    ChildProcess second({NETPEER, "tcp-client", "127.0.0.3", "127.0.0.2", "21005"});
    EXPECT_EQ(second.ReadLine(), std::optional<std::string>("connected ok"));
    EXPECT_EQ(permitted->ReadLine(), std::optional<std::string>("accepted 127.0.0.3"));
    EXPECT_EQ(Records("<LOCALPORT>21004</LOCALPORT>").size(), 1u);
    EXPECT_EQ(Records("<LOCALPORT>21005</LOCALPORT>").size(), 1u);
}

// Only a connection within 127.0.0.1 passes undecided: one from 127.0.0.1
// to a server on 127.0.0.2 is decided on the server's side too, as it is on
// the side that connected, and so is one from 127.0.0.3 to 127.0.0.1.
TEST_F(AttackLoopbackPeers, ConnectionToAnotherLoopbackAddressIsDecidedOnBothSides)
{
    WriteRules(App("NETPEER", "DENY", "DENY"));
    const struct {
        const char *server, *at, *client, *source, *port, *refused;
        bool serverHooked;
    } cases[] = {
        {"tcp-server", "127.0.0.2", "tcp-client", "127.0.0.1", "21011", "failed", true},
        {"udp-echo", "127.0.0.2", "udp-client", "127.0.0.1", "21012", "timeout", true},
        {"tcp-server", "127.0.0.1", "tcp-client", "127.0.0.3", "21013", "refused", false},
    };
    for (const auto& c : cases) {
        auto server = Server({c.server, c.at, c.port}, c.serverHooked);
        ChildProcess client({NETPEER, c.client, c.source, c.at, c.port}, c.serverHooked ? std::map<std::string, std::string> {} : hooked);
        EXPECT_EQ(client.ReadLine(3s), std::optional<std::string>(c.refused)) << c.port;
        EXPECT_EQ(Records(std::string(c.serverHooked ? "<LOCALPORT>" : "<REMOTEPORT>") + c.port + "<").size(), 1u) << c.port;
    }
}

// In a network of its own with IPv6 addresses on its loopback (::1 is as
// local as 127.0.0.1 and always passes): rules by IPv6 address and by
// prefixes of both families decide a program under the hook, in rule order,
// and the records name the peers.
TEST_F(Interceptor, Ipv6AddressesAndPrefixesDecideInRuleOrder)
{
    std::string why;
    if (!testing_support::EnterPrivateNetwork({"fd00::2", "fd00::3"}, why))
        GTEST_SKIP() << why;
    WriteRules(App("NETPEER", "DENY", "DENY",
                   Rule("OUTGOING", "DENY", 21031, "fd00::2") + Rule("OUTGOING", "PERMIT", 21031, "fd00::/64")
                       + Rule("OUTGOING", "PERMIT", 21032, "fd00::/64") + Rule("OUTGOING", "PERMIT", 21033, "127.0.0.0/30")
                       + Rule("OUTGOING", "PERMIT", 21034, "127.0.0.4/30")));
    const struct {
        const char* source;
        const char* server;
        const char* connect; // the address the client connects to
        int port;
        const char* answer;
        const char* served; // what the server says: nullptr when nothing arrives
        const char* logged; // the peer as the record has it
        int permission;
    } cases[] = {
        // The address before the prefix; then the prefix.
        {"fd00::3", "fd00::2", "fd00::2", 21031, "refused", nullptr, "fd00::2", 0},
        {"fd00::3", "fd00::2", "fd00::2", 21032, "connected ok", "accepted fd00::3", "fd00::2", 1},
        // An IPv4 prefix; outside it, the default.
        {"127.0.0.3", "127.0.0.2", "127.0.0.2", 21033, "connected ok", "accepted 127.0.0.3", "127.0.0.2", 1},
        {"127.0.0.3", "127.0.0.2", "127.0.0.2", 21034, "refused", nullptr, "127.0.0.2", 0},
        // An IPv4 peer reached through an IPv6 socket is decided as IPv4.
        {"::ffff:127.0.0.3", "127.0.0.2", "::ffff:127.0.0.2", 21033, "connected ok", "accepted 127.0.0.3", "127.0.0.2", 1},
    };
    for (const auto& c : cases) {
        const std::string port = std::to_string(c.port);
        auto server = Server({"tcp-server", c.server, port});
        ChildProcess client({NETPEER, "tcp-client", c.source, c.connect, port}, hooked);
        EXPECT_EQ(client.ReadLine(), std::optional<std::string>(c.answer)) << c.connect << " " << port;
        if (c.served)
            EXPECT_EQ(server->ReadLine(), std::optional<std::string>(c.served)) << port;
        else
            EXPECT_FALSE(server->ReadLine(300ms).has_value()) << port;
        client.Wait();
    }
    for (const auto& c : cases) {
        const auto records = Records("<IP>" + std::string(c.logged) + "</IP><LOCALPORT>");
        const std::string tail = "<REMOTEPORT>" + std::to_string(c.port) + "</REMOTEPORT><PERMISSION>"
            + std::to_string(c.permission) + "</PERMISSION>";
        EXPECT_TRUE(std::any_of(records.begin(), records.end(),
                                [&](const std::string& record) { return record.find(tail) != std::string::npos; }))
            << c.logged << " " << tail;
    }
}

TEST_F(Interceptor, UdpAnswerFromAPermittedPeerComesBack)
{
    WriteRules(App("NETPEER", "DENY", "DENY", Rule("OUTGOING", "PERMIT", 21006)));
    auto echo = Server({"udp-echo", "127.0.0.2", "21006"});
    ChildProcess client({NETPEER, "udp-client", "127.0.0.3", "127.0.0.2", "21006"}, hooked);
    EXPECT_EQ(client.ReadLine(), std::optional<std::string>("reply"));
    EXPECT_EQ(echo->ReadLine(), std::optional<std::string>("got 127.0.0.3"));
    // To a port without a rule the datagram never leaves.
    auto other = Server({"udp-echo", "127.0.0.2", "21007"});
    ChildProcess denied({NETPEER, "udp-client", "127.0.0.3", "127.0.0.2", "21007"}, hooked);
    EXPECT_EQ(denied.ReadLine(), std::optional<std::string>("denied"));
    EXPECT_FALSE(other->ReadLine(300ms).has_value());
}

TEST_F(Interceptor, UdpServerDropsDatagramsFromDeniedPeers)
{
    WriteRules(App("NETPEER", "DENY", "PERMIT"));
    auto echo = Server({"udp-echo", "127.0.0.2", "21008"}, true);
    ChildProcess client({NETPEER, "udp-client", "127.0.0.3", "127.0.0.2", "21008"});
    EXPECT_EQ(client.ReadLine(3s), std::optional<std::string>("timeout"));
    EXPECT_FALSE(echo->ReadLine(200ms).has_value());
}

TEST_F(Interceptor, BlockAllTakesEffectWhileTheProgramRuns)
{
    WriteRules(App("ANY", "PERMIT", "PERMIT"));
    auto server = Server({"tcp-server", "127.0.0.2", "21009"});
    ChildProcess client({NETPEER, "tcp-repeat", "127.0.0.3", "127.0.0.2", "21009", "60", "50"}, hooked);
    EXPECT_EQ(client.ReadLine(), std::optional<std::string>("ok"));
    sandbox.SetSetting("SecurityStatus", "0");
    std::string line;
    for (int i = 0; i < 20 && line != "refused"; ++i)
        line = client.ReadLine().value_or("");
    EXPECT_EQ(line, "refused");
    sandbox.SetSetting("SecurityStatus", "1");
    for (int i = 0; i < 20 && line != "ok"; ++i)
        line = client.ReadLine().value_or("");
    EXPECT_EQ(line, "ok");
}

TEST_F(Interceptor, AskedConnectionTakesTheUsersAnswer)
{
    WriteRules(App("CURL", "DENY", "DENY", Rule("OUTGOING", "ASK", 21010)));
    auto server = Server({"tcp-server", "127.0.0.2", "21010"});
    auto env = hooked;
    env["ZEL_TEST_ALERT_SCRIPT"] = "answer=1";
    env["ZEL_TEST_ALERT_RECORD"] = sandbox.root + "/alerts.txt";
    ChildProcess allowed({CURL, "-sS", "--interface", "127.0.0.3", "http://127.0.0.2:21010/"}, env);
    EXPECT_EQ(server->ReadLine(), std::optional<std::string>("accepted 127.0.0.3"));
    allowed.Wait();
    env["ZEL_TEST_ALERT_SCRIPT"] = "answer=2";
    ChildProcess blocked({CURL, "-sS", "--interface", "127.0.0.3", "http://127.0.0.2:21010/"}, env);
    EXPECT_EQ(blocked.Wait(), 7);
    EXPECT_NE(testing_support::ReadText(sandbox.root + "/alerts.txt").find("through port:21010"), std::string::npos);
    EXPECT_EQ(Records("<REMOTEPORT>21010</REMOTEPORT><PERMISSION>1</PERMISSION>").size(), 1u);
    EXPECT_EQ(Records("<REMOTEPORT>21010</REMOTEPORT><PERMISSION>0</PERMISSION>").size(), 1u);
}

TEST_F(Interceptor, MultithreadedClientHasEveryConnectionDecided)
{
    WriteRules(App("NETPEER", "DENY", "PERMIT"));
    auto server = Server({"tcp-server", "127.0.0.2", "21012"});
    ChildProcess client({NETPEER, "tcp-threads", "127.0.0.3", "127.0.0.2", "21012", "16", "200"}, hooked);
    EXPECT_EQ(client.ReadLine(30s), std::optional<std::string>("ok=3200 failed=0"));
    EXPECT_EQ(client.Wait(), 0);
    EXPECT_EQ(Records("<REMOTEPORT>21012</REMOTEPORT><PERMISSION>1</PERMISSION>").size(), 3200u);
}

TEST_F(Interceptor, ForkedChildIsDecidedAsAHostOfItsOwn)
{
    WriteRules(App("ANY", "DENY", "PERMIT"));
    auto server = Server({"tcp-server", "127.0.0.2", "21016"});
    ChildProcess python({"/usr/bin/python3", "-c",
                         "import os, socket, threading\n"
                         "def connect():\n"
                         "    s = socket.socket(); s.bind(('127.0.0.3', 0)); s.connect(('127.0.0.2', 21016)); s.close()\n"
                         "connect()\n"
                         "t = threading.Thread(target=connect); t.start()\n"
                         "pid = os.fork()\n"
                         "if pid == 0:\n"
                         "    connect(); os._exit(0)\n"
                         "t.join(); os.waitpid(pid, 0); print(pid, flush=True)\n"},
                        hooked);
    const auto child = python.ReadLine();
    ASSERT_TRUE(child.has_value());
    EXPECT_EQ(python.Wait(), 0);
    EXPECT_EQ(Records("<REMOTEPORT>21016</REMOTEPORT><PERMISSION>1</PERMISSION>").size(), 3u);
    // The child registered itself as a host of its own.
    struct stat st {};
    EXPECT_EQ(::stat((sandbox.runtime + "/hosts/" + *child).c_str(), &st), 0);
}

TEST_F(Interceptor, ProgramsWithoutNetworkNeverLoadTheEngine)
{
    WriteRules(App("ANY", "DENY", "DENY"));
    ChildProcess quiet({"/bin/sh", "-c", "echo hello > /dev/null"}, hooked);
    EXPECT_EQ(quiet.Wait(), 0);
    EXPECT_TRUE(sandbox.LogLines().empty());
    // Local sockets pass untouched, also with everything denied.
    ChildProcess local({"/usr/bin/python3", "-c",
                        "import socket\na, b = socket.socketpair()\na.sendall(b'x')\nassert b.recv(1) == b'x'\n"},
                       hooked);
    EXPECT_EQ(local.Wait(), 0);
}

// With the interceptor's process and a stand-in control panel.
class InterceptorWithListener : public Interceptor {
protected:
    std::unique_ptr<PanelStandIn> panel;
    std::unique_ptr<ChildProcess> zelconn;

    void SetUp() override
    {
        panel = std::make_unique<PanelStandIn>();
        ASSERT_GE(panel->lock, 0);
        ASSERT_TRUE(panel->window);
        zelconn = std::make_unique<ChildProcess>(std::vector<std::string> {testing_support::TestLibrary("ZEL_TEST_ZELCONN", ZELCONN)});
        const std::string block = protocol::SharedBlock::DefaultPath();
        testing_support::WaitForFile(block.substr(0, block.rfind('/')),
                                     [&block] { return bool(protocol::SharedBlock::Open(block)); }, 2s);
    }

    // Messages of one code that reached the panel within the time given.
    std::vector<uint32_t> Collect(uint16_t code, std::chrono::milliseconds during)
    {
        std::vector<uint32_t> arguments;
        const auto deadline = std::chrono::steady_clock::now() + during;
        do {
            while (auto message = protocol::windows::ReceiveMessage(panel->Socket()))
                if (protocol::windows::ParamCode(message->lParam) == code)
                    arguments.push_back(protocol::windows::ParamArgument(message->lParam));
        } while (testing_support::MillisecondsLeft(deadline) > 0
                 && testing_support::WaitReadable(panel->Socket(), std::chrono::milliseconds(
                                                                       testing_support::MillisecondsLeft(deadline))));
        return arguments;
    }
};

TEST_F(InterceptorWithListener, PublishedRuleChangeReachesARunningProgramOnce)
{
    WriteRules(App("NETPEER", "DENY", "PERMIT"));
    auto server = Server({"tcp-server", "127.0.0.2", "21013"});
    ChildProcess client({NETPEER, "tcp-repeat", "127.0.0.3", "127.0.0.2", "21013", "100", "50"}, hooked);
    EXPECT_EQ(client.ReadLine(), std::optional<std::string>("ok"));

    WriteRules(App("NETPEER", "DENY", "DENY"));
    ASSERT_TRUE(protocol::windows::SetWindowText(panel->Box(), " NETPEER"));
    const auto published = std::chrono::steady_clock::now();
    std::string line;
    for (int i = 0; i < 60 && line != "refused"; ++i)
        line = client.ReadLine().value_or("");
    EXPECT_EQ(line, "refused");
    EXPECT_LT(std::chrono::steady_clock::now() - published, 2s);

    // Once the program has reloaded, its name leaves the update string: later
    // connections do not reload again.
    auto block = protocol::SharedBlock::Open(protocol::SharedBlock::DefaultPath());
    ASSERT_TRUE(block);
    char update[512] = "x";
    // Fixed: the string is in shared memory, which tells nobody of a change.
    for (int i = 0; i < 100 && update[0] != '\0'; ++i) {
        block.CopyUpdateString(update);
        std::this_thread::sleep_for(10ms);
    }
    EXPECT_STREQ(update, "");
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(client.ReadLine(), std::optional<std::string>("refused"));
        block.CopyUpdateString(update);
        EXPECT_STREQ(update, "");
    }
}

// However long a program stays idle after a change, its next decision
// follows the new rules (a turn used to give up on silent engines after 10 s).
TEST_F(InterceptorWithListener, ChangeReachesAProgramIdleLongerThanATurnLasted)
{
    WriteRules(App("NETPEER", "DENY", "PERMIT"));
    auto server = Server({"tcp-server", "127.0.0.2", "21020"});
    ChildProcess client({NETPEER, "tcp-repeat", "127.0.0.3", "127.0.0.2", "21020", "2", "11000"}, hooked);
    EXPECT_EQ(client.ReadLine(), std::optional<std::string>("ok"));
    WriteRules(App("NETPEER", "DENY", "DENY"));
    ASSERT_TRUE(protocol::windows::SetWindowText(panel->Box(), " NETPEER"));
    EXPECT_EQ(client.ReadLine(15s), std::optional<std::string>("refused"));
}

// An interceptor process that ends while a name waits for an idle engine
// leaves nothing named: cleared when it is told to end, seen as stale by the
// engines when it is killed.
TEST_F(InterceptorWithListener, EndedInterceptorLeavesNothingNamed)
{
    WriteRules(App("NETPEER", "DENY", "PERMIT"));
    auto server = Server({"tcp-server", "127.0.0.2", "21021"});
    ChildProcess idle({NETPEER, "tcp-repeat", "127.0.0.3", "127.0.0.2", "21021", "2", "20000"}, hooked);
    EXPECT_EQ(idle.ReadLine(), std::optional<std::string>("ok"));
    auto block = protocol::SharedBlock::Open(protocol::SharedBlock::DefaultPath());
    ASSERT_TRUE(block);
    const auto named = [&] {
        char update[512];
        block.CopyUpdateString(update);
        return std::string(update);
    };
    const auto publish = [&] {
        // Named whichever the relay sees first: the empty text and then the
        // name (a name new to the list), or the name alone (its first look).
        ASSERT_TRUE(protocol::windows::SetWindowText(panel->Box(), ""));
        ASSERT_TRUE(protocol::windows::SetWindowText(panel->Box(), " NETPEER"));
        // Fixed: the string is in shared memory, which tells nobody of a change.
        for (int i = 0; i < 100 && named() != " NETPEER"; ++i)
            std::this_thread::sleep_for(20ms);
        ASSERT_EQ(named(), " NETPEER");
    };
    publish();
    ::kill(zelconn->Pid(), SIGTERM);
    EXPECT_EQ(zelconn->Wait(), 0);
    EXPECT_EQ(named(), "");

    zelconn = std::make_unique<ChildProcess>(std::vector<std::string> {testing_support::TestLibrary("ZEL_TEST_ZELCONN", ZELCONN)});
    publish();
    zelconn->Kill();
    // The engine's own view of the string, through the library's export.
    void* library = ::dlopen(hooked.at("ZEL_ENGINE_LIBRARY").c_str(), RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(library, nullptr);
    const auto approve = reinterpret_cast<int (*)(unsigned, int, const char*, int, unsigned)>(
        ::dlsym(library, "_Z7ApprovejiPKcij"));
    const auto getUpdateString = reinterpret_cast<void (*)(char*)>(::dlsym(library, "_Z15GetUpdateStringPc"));
    ASSERT_TRUE(approve && getUpdateString);
    approve(1, 1, "127.0.0.1", 1, 1); // opens the block: the panel runs
    // The relay's last beat, as old as one left by a relay that ended a while ago.
    block.StampRelay((os::GetTickCount() - protocol::SharedBlock::kRelayBeatLimitMs - 300) | 1u);
    char update[512] = "untouched";
    getUpdateString(update);
    EXPECT_STREQ(update, "");
}

TEST_F(InterceptorWithListener, TrafficOfATransferArrivesAsAmountsInTensOfBytes)
{
    WriteRules(App("ANY", "PERMIT", "PERMIT"));
    constexpr long long kBytes = 10 * 1024 * 1024;
    // Both ends under the hook: the sender's bytes count as outgoing, the sink's as incoming.
    auto sink = Server({"sink", "127.0.0.2", "21014"}, true);
    ChildProcess sender({NETPEER, "send", "127.0.0.3", "127.0.0.2", "21014", std::to_string(kBytes)}, hooked);
    EXPECT_EQ(sender.ReadLine(), std::optional<std::string>("sent"));
    EXPECT_EQ(sink->ReadLine(), std::optional<std::string>("received " + std::to_string(kBytes)));
    // 16 messages of 655,350 bytes each way: more than a message queue takes at once.
    std::map<uint16_t, long long> bytes;
    const auto deadline = std::chrono::steady_clock::now() + 4s;
    do {
        while (auto message = protocol::windows::ReceiveMessage(panel->Socket())) {
            const uint16_t code = protocol::windows::ParamCode(message->lParam);
            EXPECT_LE(protocol::windows::ParamArgument(message->lParam), 65535u);
            bytes[code] += 10LL * protocol::windows::ParamArgument(message->lParam);
        }
    } while (testing_support::MillisecondsLeft(deadline) > 0
             && testing_support::WaitReadable(panel->Socket(),
                                              std::chrono::milliseconds(testing_support::MillisecondsLeft(deadline))));
    EXPECT_NEAR(static_cast<double>(bytes[protocol::kCodeOutgoingTraffic]), static_cast<double>(kBytes), kBytes * 0.01);
    EXPECT_NEAR(static_cast<double>(bytes[protocol::kCodeIncomingTraffic]), static_cast<double>(kBytes), kBytes * 0.01);
    RecordProperty("outgoing_bytes_reported", std::to_string(bytes[protocol::kCodeOutgoingTraffic]));
    RecordProperty("incoming_bytes_reported", std::to_string(bytes[protocol::kCodeIncomingTraffic]));
}

TEST_F(InterceptorWithListener, EndedProgramIsReportedWithItsProcessId)
{
    WriteRules(App("ANY", "PERMIT", "PERMIT"));
    auto server = Server({"tcp-server", "127.0.0.2", "21015"});
    ChildProcess client({NETPEER, "tcp-client", "127.0.0.3", "127.0.0.2", "21015"}, hooked);
    const pid_t pid = client.Pid();
    EXPECT_EQ(client.Wait(), 0);
    const auto finished = Collect(protocol::kCodeApplicationFinished, 2500ms);
    EXPECT_NE(std::find(finished.begin(), finished.end(), static_cast<uint32_t>(pid)), finished.end());
}

TEST(ListenControl, StartListenStartsOneInterceptorAndStopListenEndsIt)
{
    Sandbox sandbox;
    void* library = ::dlopen(ZELCONN_LIBRARY, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(library, nullptr) << ::dlerror();
    auto start = reinterpret_cast<int (*)()>(::dlsym(library, "StartListen"));
    auto stop = reinterpret_cast<int (*)()>(::dlsym(library, "StopListen"));
    ASSERT_TRUE(start && stop);
    EXPECT_EQ(start(), 0);
    EXPECT_TRUE(protocol::SharedBlock::Open(protocol::SharedBlock::DefaultPath()));
    EXPECT_EQ(start(), 0); // already running: nothing more starts
    EXPECT_EQ(stop(), 0);
    EXPECT_EQ(stop(), 0);
    ::dlclose(library);
}

TEST_F(Interceptor, DescriptorReusedAfterAnUnseenCloseReadsAsAFile)
{
    WriteRules(App("ANY", "PERMIT", "PERMIT"));
    // The socket is closed with a raw system call the hook does not see; the
    // same descriptor number then belongs to a file.
    ChildProcess python({"/usr/bin/python3", "-c",
                         "import os, socket, ctypes\n"
                         "s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)\n"
                         "fd = s.detach()\n"
                         "ctypes.CDLL(None).syscall(3, fd)\n"
                         "f = os.open('/usr/bin/python3', os.O_RDONLY)\n"
                         "assert f == fd, (f, fd)\n"
                         "print(len(os.read(f, 100)) > 0, flush=True)\n"},
                        hooked);
    EXPECT_EQ(python.ReadLine(), std::optional<std::string>("True"));
    EXPECT_EQ(python.Wait(), 0);
}

// Another preloaded library whose file-call wrappers stop working once the
// program's exit destroyed its state: the program still ends well under the
// firewall, and its end record is written (the engine and the hook do their
// last I/O straight to the kernel).
TEST_F(Interceptor, ProgramEndsWellBesideALibraryThatEndedBeforeIt)
{
    WriteRules(App("ANY", "PERMIT", "PERMIT"));
    auto server = Server({"tcp-server", "127.0.0.2", "21410"});
    auto preloads = Hooked({});
    preloads["LD_PRELOAD"] = testing_support::TestLibrary("ZEL_TEST_HOOK_LIBRARY", HOOK_LIBRARY) + ":" + FRAGILE_PRELOAD;
    ChildProcess program({NETPEER, "tcp-repeat", "127.0.0.3", "127.0.0.2", "21410", "1", "10"}, preloads);
    EXPECT_EQ(program.ReadLine(), std::optional<std::string>("ok"));
    EXPECT_EQ(program.Wait(), 0);
    EXPECT_EQ(LogLinesWith("<APPLICATIONEND>" NETPEER "</APPLICATIONEND>"), 1u);
}
