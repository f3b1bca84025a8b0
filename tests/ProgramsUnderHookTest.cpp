// Programs the firewall must not confuse, run under the hook: servers that
// accept from event loops, clients that finish a connect twice, datagram
// programs with many peers, programs that are interrupted, that fork, that
// close every descriptor or run out of them.
#include "protocol/LogFiles.h"
#include "tests/InterceptorFixture.h"

#include <algorithm>
#include <chrono>
#include <climits>
#include <cstdlib>
#include <fstream>
#include <sys/stat.h>
#include <thread>
#include <utime.h>

using namespace std::chrono_literals;
using testing_support::App;
using testing_support::ChildProcess;
using testing_support::FolderEntries;
using testing_support::Rule;

namespace {

using Programs = testing_support::InterceptorTest;
using AttackPrograms = testing_support::InterceptorTest;

std::optional<std::string> Line(const std::string& text) { return text; }

// A client that is not under the firewall: connects, sends, waits for an answer.
std::unique_ptr<ChildProcess> Client(const char* source, int port)
{
    return std::make_unique<ChildProcess>(
        std::vector<std::string> {NETPEER, "tcp-client", source, "127.0.0.2", std::to_string(port)});
}

// Reads lines until one equals wanted; false when it did not come.
bool ReadUntil(ChildProcess& program, const std::string& wanted, int lines = 100)
{
    for (int i = 0; i < lines; ++i)
        if (program.ReadLine(3s).value_or("\x04") == wanted)
            return true;
    return false;
}

}  // namespace

// ---- Servers --------------------------------------------------------------------

// An edge-triggered server accepts until the kernel says EAGAIN: a denied
// connection must not hide the ones queued behind it.
TEST_F(Programs, EdgeTriggeredEpollServerServesConnectionsBehindADeniedOne)
{
    WriteRules(App("ANY", "DENY", "PERMIT", Rule("INCOMING", "PERMIT", 22001, "127.0.0.4")));
    auto server = Python(R"(
import socket, select, time
s = socket.socket(); s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
s.bind(('127.0.0.2', 22001)); s.listen(8); s.setblocking(False)
print('listening')
time.sleep(1)  # both connections wait in the queue: one edge for the two
ep = select.epoll(); ep.register(s.fileno(), select.EPOLLIN | select.EPOLLET)
served, deadline = 0, time.time() + 8
while served < 2 and time.time() < deadline:
    for fd, event in ep.poll(1):
        while True:
            try:
                c, (ip, port) = s.accept()
            except BlockingIOError:
                break
            served += 1
            c.settimeout(2)
            try:
                print('served' if c.recv(10) else 'closed', ip)
            except ConnectionResetError:
                print('reset', ip)
            c.close()
)");
    ASSERT_EQ(server->ReadLine(), Line("listening"));
    // The denied client first in the queue: it says so once the kernel has queued it.
    auto denied = Python("import socket\ns = socket.socket(); s.bind(('127.0.0.3', 0)); s.settimeout(5)\n"
                         "s.connect(('127.0.0.2', 22001)); print('queued')\ns.send(b'hello\\n')\n"
                         "try:\n    s.recv(64)\nexcept OSError:\n    pass\n",
                         false);
    ASSERT_EQ(denied->ReadLine(), Line("queued"));
    auto permitted = Client("127.0.0.4", 22001);
    EXPECT_EQ(server->ReadLine(), Line("reset 127.0.0.3"));
    EXPECT_EQ(server->ReadLine(), Line("served 127.0.0.4"));
}

// select() said a connection waits; accept must not then wait for another.
TEST_F(Programs, SelectThenAcceptServerIsNotHeldAfterADenial)
{
    WriteRules(App("ANY", "DENY", "PERMIT"));
    auto server = Python(R"(
import socket, select, time
s = socket.socket(); s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
s.bind(('127.0.0.2', 22002)); s.listen(8)
print('listening')
ready, _, _ = select.select([s], [], [], 10)
start = time.time()
c, (ip, port) = s.accept()
print('accepted %s after %d s' % (ip, time.time() - start))
)");
    ASSERT_EQ(server->ReadLine(), Line("listening"));
    auto denied = Client("127.0.0.3", 22002);
    EXPECT_EQ(server->ReadLine(3s), Line("accepted 127.0.0.3 after 0 s"));
    EXPECT_EQ(Records("<LOCALPORT>22002</LOCALPORT>").size(), 1u);
}

TEST_F(Programs, UdpEchoServerAnswersThePeersItLetIn)
{
    WriteRules(App("ANY", "DENY", "DENY", Rule("INCOMING", "PERMIT", 22005)));
    auto server = Python(R"(
import socket
s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM); s.bind(('127.0.0.2', 22005))
print('listening')
data, peer = s.recvfrom(100)
s.sendto(b'pong', peer)
print('answered', peer[0])
)");
    ASSERT_EQ(server->ReadLine(), Line("listening"));
    ChildProcess client({NETPEER, "udp-client", "127.0.0.3", "127.0.0.2", "22005"});
    EXPECT_EQ(client.ReadLine(), Line("reply"));
    EXPECT_EQ(server->ReadLine(), Line("answered 127.0.0.3"));
    // The answer belongs to the exchange that was let in: one record, incoming.
    EXPECT_EQ(Records("<LOCALPORT>22005</LOCALPORT>").size(), 1u);
}

TEST_F(Programs, ReadvOnADatagramSocketIsDecided)
{
    WriteRules(App("ANY", "DENY", "PERMIT", Rule("INCOMING", "PERMIT", 22008, "127.0.0.4")));
    auto server = Python(R"(
import socket, os
s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM); s.bind(('127.0.0.2', 22008))
print('listening')
buffer = bytearray(64)
n = os.readv(s.fileno(), [buffer])
print(bytes(buffer[:n]).decode())
)");
    ASSERT_EQ(server->ReadLine(), Line("listening"));
    auto senders = Python(R"(
import socket
for source in ('127.0.0.3', '127.0.0.4'):
    s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM); s.bind((source, 0))
    s.sendto(('from ' + source).encode(), ('127.0.0.2', 22008))
)", false);
    EXPECT_EQ(server->ReadLine(), Line("from 127.0.0.4"));
}

TEST_F(Programs, RecvmmsgKeepsItsTimeOut)
{
    WriteRules(App("ANY", "PERMIT", "PERMIT"));
    auto server = Server({"udp-recvmmsg", "127.0.0.2", "22009", "4", "500"}, true);
    ChildProcess client({NETPEER, "udp-client", "127.0.0.3", "127.0.0.2", "22009"});
    const auto line = server->ReadLine(5s);
    ASSERT_TRUE(line.has_value());
    EXPECT_EQ(line->rfind("got 1 after ", 0), 0u) << *line;
    EXPECT_LT(std::stoi(line->substr(12)), 1500) << *line;
}

// ---- Scripts -----------------------------------------------------------------------

namespace {

// Connects from 127.0.0.3 to the port its last argument names and prints
// connect_ex's result; as a script file or as code given with -c.
constexpr const char* kConnectCode = "import socket, sys\n"
                                     "s = socket.socket(); s.bind(('127.0.0.3', 0)); s.settimeout(5)\n"
                                     "print(s.connect_ex(('127.0.0.2', int(sys.argv[-1]))))\n";

// The scripts' folder, resolved as the engine resolves a script's path.
std::string ScriptsFolder(const testing_support::Sandbox& sandbox)
{
    const std::string folder = sandbox.root + "/scripts";
    ::mkdir(folder.c_str(), 0755);
    char resolved[PATH_MAX];
    return ::realpath(folder.c_str(), resolved) ? resolved : folder;
}

// The rules' name of the program at path: its file name in capitals.
std::string ExeName(const std::string& path)
{
    std::string name = path.substr(path.rfind('/') + 1);
    std::transform(name.begin(), name.end(), name.begin(), [](unsigned char c) { return std::toupper(c); });
    return name;
}

// An entry bound to the script at path, as the panel stores an answer for it.
std::string ScriptApp(const std::string& path, const std::string& outDef)
{
    return "<APPLICATION><EXENAME>" + ExeName(path) + "</EXENAME><APPPATH>" + path
        + "</APPPATH><BYPATH>1</BYPATH><INDEF>DENY</INDEF><OUTDEF>" + outDef + "</OUTDEF></APPLICATION>";
}

// The system's python3 as the engine names it: its file, links resolved.
std::string PythonName()
{
    char resolved[PATH_MAX];
    return ExeName(::realpath("/usr/bin/python3", resolved) ? resolved : "python3");
}

}  // namespace

// Every script of one interpreter is a program of its own: an entry for one
// lets neither the other nor the interpreter through, and the interpreter's
// entry decides the code it runs from its command line.
TEST_F(Programs, ScriptsOfOneInterpreterAreEachDecidedByTheirOwnEntry)
{
    const std::string folder = ScriptsFolder(sandbox);
    const std::string allowed = folder + "/allowed.py";
    const std::string other = folder + "/other.py";
    testing_support::WriteText(allowed, std::string("#!/usr/bin/python3\n") + kConnectCode);
    ASSERT_EQ(::chmod(allowed.c_str(), 0755), 0);
    testing_support::WriteText(other, kConnectCode);
    WriteRules(ScriptApp(allowed, "PERMIT") + App(PythonName(), "DENY", "PERMIT") + App("ANY", "DENY", "ASK"));
    const auto env = Hooked(Alerting("answer=2"));
    ChildProcess first({"/usr/bin/python3", allowed, "22101"}, env);
    ChildProcess second({"/usr/bin/python3", "-u", other, "22102"}, env);
    ChildProcess inlineCode({"/usr/bin/python3", "-c", kConnectCode, "22103"}, env);
    ChildProcess started({allowed, "22104"}, env); // by its "#!" line
    for (ChildProcess* program : {&first, &second, &inlineCode, &started})
        EXPECT_EQ(program->Wait(), 0);
    EXPECT_EQ(Records("<REMOTEPORT>22101</REMOTEPORT><PERMISSION>1</PERMISSION>").size(), 1u);
    EXPECT_EQ(Records("<REMOTEPORT>22104</REMOTEPORT><PERMISSION>1</PERMISSION>").size(), 1u);
    EXPECT_EQ(Records("<REMOTEPORT>22102</REMOTEPORT><PERMISSION>0</PERMISSION>").size(), 1u);
    EXPECT_EQ(Records("<REMOTEPORT>22103</REMOTEPORT><PERMISSION>1</PERMISSION>").size(), 1u);
    // Records and the question name the script; code given inline is the interpreter's.
    EXPECT_EQ(Records(allowed).size(), 2u);
    EXPECT_EQ(Records(other).size(), 1u);
    const std::string asked = testing_support::ReadText(sandbox.root + "/alerts.txt");
    EXPECT_EQ(AlertsShown(), 1u);
    EXPECT_NE(asked.find("other.py (Python 3"), std::string::npos) << asked;
}

// A process that only claims an allowed script gets nothing of its entry:
// code given with -c beside the script's path, argv[0] naming it, a copy of
// the interpreter of the user's own, a script of the same name that moves
// to the allowed one's folder before it connects. A link to the allowed
// script is the same file, the same program: it runs the code the entry
// was given for.
TEST_F(AttackPrograms, ScriptPathsThatLieDoNotBorrowAnAllowedScriptsEntry)
{
    const std::string folder = ScriptsFolder(sandbox);
    const std::string allowed = folder + "/allowed.py";
    testing_support::WriteText(allowed, kConnectCode);
    ASSERT_EQ(::symlink(allowed.c_str(), (folder + "/link.py").c_str()), 0);
    const std::string copy = folder + "/python3"; // the user's own, even when the tests run as root
    ASSERT_EQ(ChildProcess({"/bin/cp", "/usr/bin/python3", copy}).Wait(), 0);
    if (::geteuid() == 0) {
        ASSERT_EQ(::chown(copy.c_str(), 1000, 1000), 0);
    }
    WriteRules(ScriptApp(allowed, "PERMIT") + App(PythonName(), "DENY", "DENY") + App("ANY", "DENY", "DENY"));
    const std::string execLying = "import os, sys\nos.execv('/usr/bin/python3', ['" + allowed + "', '-c', sys.argv[1], '22113'])";
    const std::string elsewhere = sandbox.root + "/elsewhere";
    ASSERT_EQ(::mkdir(elsewhere.c_str(), 0755), 0);
    testing_support::WriteText(elsewhere + "/allowed.py", "import os\nos.chdir('" + folder + "')\n" + kConnectCode);
    const std::string startElsewhere =
        "import os\nos.chdir('" + elsewhere + "')\nos.execv('/usr/bin/python3', ['python3', 'allowed.py', '22116'])";
    const struct {
        std::vector<std::string> argv;
        int port;
        int permission;
    } cases[] = {
        {{"/usr/bin/python3", "-c", kConnectCode, allowed, "22111"}, 22111, 0},
        {{"/usr/bin/python3", "-W", allowed, "-c", kConnectCode, "22112"}, 22112, 0},
        {{"/usr/bin/python3", "-c", execLying, kConnectCode}, 22113, 0},
        {{copy, allowed, "22114"}, 22114, 0},
        {{"/usr/bin/python3", folder + "/link.py", "22115"}, 22115, 1},
        {{"/usr/bin/python3", "-c", startElsewhere}, 22116, 0},
    };
    for (const auto& c : cases) {
        ChildProcess program(c.argv, hooked);
        EXPECT_EQ(program.Wait(), 0) << c.port;
        EXPECT_EQ(Records("<REMOTEPORT>" + std::to_string(c.port) + "</REMOTEPORT><PERMISSION>"
                          + std::to_string(c.permission) + "</PERMISSION>").size(),
                  1u)
            << c.port;
    }
}

// A helper's entry limited to its starter lets it through only when that
// starter runs it: not under another, nor under one posing by name (argv[0]
// and command name) with another file, nor once adopted after the starter
// ended at once.
TEST_F(AttackPrograms, OnlyTheParentAnEntryIsLimitedToLetsItsHelperThrough)
{
    const std::string folder = ScriptsFolder(sandbox);
    const std::string starter = folder + "/starter.py", other = folder + "/other.py", helper = folder + "/helper.py";
    const char* starterCode = R"(import subprocess, sys
run = ['/usr/bin/python3', sys.argv[1], sys.argv[2]] + sys.argv[3:]
subprocess.Popen(run) if sys.argv[3:] == ['orphan'] else sys.exit(subprocess.run(run).returncode))";
    testing_support::WriteText(starter, starterCode);
    testing_support::WriteText(other, starterCode);
    testing_support::WriteText(helper, R"(import os, socket, sys, time
parent = os.getppid()
for _ in range(500 if sys.argv[-1] == 'orphan' else 0):
    if os.getppid() != parent: break
    time.sleep(0.01)
s = socket.socket(); s.bind(('127.0.0.3', 0)); s.settimeout(5)
print(s.connect_ex(('127.0.0.2', int(sys.argv[1]))), flush=True))");
    WriteRules(ScriptApp(helper, "DENY") + "<APPLICATION><EXENAME>HELPER.PY/STARTER.PY</EXENAME><PARENT>STARTER.PY"
               "</PARENT><INDEF>DENY</INDEF><OUTDEF>PERMIT</OUTDEF></APPLICATION>" + App("ANY", "DENY", "DENY"));
    const std::string posing = "import os, sys\nos.execv('/usr/bin/python3', ['starter.py', '-c', "
                               "'import ctypes\\nctypes.CDLL(None).prctl(15, b\"starter.py\", 0, 0, 0)\\n' + sys.argv[1], '"
        + helper + "', '22123', 'wait'])";
    const struct { std::vector<std::string> argv; int port, permission; } cases[] = {
        {{"/usr/bin/python3", starter, helper, "22121", "wait"}, 22121, 1},
        {{"/usr/bin/python3", other, helper, "22122", "wait"}, 22122, 0},
        {{"/usr/bin/python3", "-c", posing, starterCode}, 22123, 0},
        {{"/usr/bin/python3", starter, helper, "22124", "orphan"}, 22124, 0},
    };
    for (const auto& c : cases) {
        ChildProcess program(c.argv, hooked);
        EXPECT_TRUE(program.ReadLine(15s).has_value()) << c.port; // the helper's, once it has connected
        EXPECT_EQ(program.Wait(), 0) << c.port;
        const std::string record = "<REMOTEPORT>" + std::to_string(c.port) + "</REMOTEPORT><PERMISSION>";
        EXPECT_EQ(Records(record + std::to_string(c.permission) + "</PERMISSION>").size(), 1u) << c.port;
    }
}

// ---- Clients -----------------------------------------------------------------------

TEST_F(Programs, SecondConnectFinishingANonBlockingOneIsOneDecision)
{
    WriteRules(App("ANY", "DENY", "ASK"));
    auto server = Server({"tcp-server", "127.0.0.2", "22003"});
    auto client = Python(R"(
import socket, select
s = socket.socket(); s.bind(('127.0.0.3', 0)); s.setblocking(False)
print(s.connect_ex(('127.0.0.2', 22003)))
select.select([], [s], [], 5)
print('finished' if s.connect_ex(('127.0.0.2', 22003)) in (0, 106) else 'failed')
s.setblocking(True); s.sendall(b'hello\n'); print(s.recv(10).decode().strip())
)", true, Alerting("answer=1"));
    EXPECT_EQ(client->ReadLine(), Line("115")); // EINPROGRESS
    EXPECT_EQ(client->ReadLine(), Line("finished")); // the kernel's answer, not a second decision
    EXPECT_EQ(client->ReadLine(), Line("ok"));
    EXPECT_EQ(AlertsShown(), 1u);
    EXPECT_EQ(Records("<REMOTEPORT>22003</REMOTEPORT>").size(), 1u);
}

TEST_F(Programs, FastOpenSendIsDecidedLikeAConnect)
{
    WriteRules(App("ANY", "DENY", "DENY"));
    auto server = Server({"tcp-server", "127.0.0.2", "22004"});
    auto client = Python(R"(
import socket
s = socket.socket(); s.bind(('127.0.0.3', 0))
try:
    s.sendmsg([b'hello\n'], [], 0x20000000, ('127.0.0.2', 22004))  # MSG_FASTOPEN
    print('sent')
except ConnectionRefusedError:
    print('refused')
)");
    EXPECT_EQ(client->ReadLine(), Line("refused"));
    EXPECT_FALSE(server->ReadLine(500ms).has_value());
    EXPECT_EQ(Records("<REMOTEPORT>22004</REMOTEPORT><PERMISSION>0</PERMISSION>").size(), 1u);
}

TEST_F(Programs, DatagramClientWithTwoPeersIsAskedOncePerPeer)
{
    WriteRules(App("ANY", "DENY", "ASK"));
    auto first = Server({"udp-echo", "127.0.0.2", "22006"});
    auto second = Server({"udp-echo", "127.0.0.4", "22006"});
    auto client = Python(R"(
import socket
s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM); s.bind(('127.0.0.3', 0)); s.settimeout(2)
replies = 0
for i in range(20):
    s.sendto(b'ping', ('127.0.0.2' if i % 2 else '127.0.0.4', 22006))
    replies += s.recv(10) == b'pong'
print(replies)
)", true, Alerting("answer=1"));
    EXPECT_EQ(client->ReadLine(20s), Line("20"));
    EXPECT_EQ(AlertsShown(), 2u);
    EXPECT_EQ(Records("<DIRECTION>1</DIRECTION>").size(), 2u);
    EXPECT_EQ(Records("<DIRECTION>0</DIRECTION>").size(), 2u); // the answers, once per peer
}

TEST_F(Programs, DatagramStreamFollowsBlockAll)
{
    WriteRules(App("ANY", "PERMIT", "PERMIT"));
    auto sink = Server({"udp-echo", "127.0.0.2", "22007"});
    auto client = Python(R"(
import socket, time
unconnected = socket.socket(socket.AF_INET, socket.SOCK_DGRAM); unconnected.bind(('127.0.0.3', 0))
connected = socket.socket(socket.AF_INET, socket.SOCK_DGRAM); connected.bind(('127.0.0.3', 0))
connected.connect(('127.0.0.2', 22007))
for i in range(500):
    results = []
    for send in (lambda: unconnected.sendto(b'x', ('127.0.0.2', 22007)), lambda: connected.send(b'x')):
        try:
            send(); results.append('sent')
        except PermissionError:
            results.append('denied')
    print(' '.join(results))
    time.sleep(0.02)
)");
    EXPECT_EQ(client->ReadLine(), Line("sent sent"));
    sandbox.SetSetting("SecurityStatus", "0");
    EXPECT_TRUE(ReadUntil(*client, "denied denied"));
    sandbox.SetSetting("SecurityStatus", "1");
    EXPECT_TRUE(ReadUntil(*client, "sent sent"));
}

// ---- Signals and the alert ---------------------------------------------------------------

TEST_F(Programs, SignalInterruptsAConnectWaitingForTheUser)
{
    WriteRules(App("ANY", "DENY", "ASK"));
    auto client = Python(R"(
import socket, signal, time
class Alarm(Exception): pass
def on_alarm(number, frame): raise Alarm()
signal.signal(signal.SIGALRM, on_alarm)
s = socket.socket(); s.bind(('127.0.0.3', 0))
start = time.time(); signal.alarm(1)
try:
    s.connect(('127.0.0.2', 22010)); print('connected')
except Alarm:
    print('interrupted after %d s' % (time.time() - start + 0.5))
)", true, Alerting("wait"));
    EXPECT_EQ(client->ReadLine(5s), Line("interrupted after 1 s"));
    EXPECT_TRUE(Records("<REMOTEPORT>22010</REMOTEPORT>").empty()); // nothing was decided
}

// A handler that asks for restarting runs, and the wait for the user goes on.
TEST_F(Programs, RestartingSignalLetsTheWaitForTheUserGoOn)
{
    WriteRules(App("ANY", "DENY", "ASK"));
    auto server = Server({"tcp-server", "127.0.0.2", "22015"});
    // The handler's signal is marked in a file the moment it arrives (Python's
    // own handler writes to its wake-up descriptor), and the user answers then.
    const std::string arrived = sandbox.root + "/alarm";
    auto client = Python(R"(
import os, socket, signal
signal.signal(signal.SIGALRM, lambda number, frame: print('tick'))
signal.siginterrupt(signal.SIGALRM, False)
signal.set_wakeup_fd(os.open(')" + arrived + R"(', os.O_WRONLY | os.O_CREAT | os.O_NONBLOCK, 0o600))
s = socket.socket(); s.bind(('127.0.0.3', 0))
signal.alarm(1)
s.connect(('127.0.0.2', 22015)); print('connected')
)", true, Alerting("cue=" + sandbox.root + "/cue"));
    ASSERT_TRUE(testing_support::WaitForFile(sandbox.root, [&arrived] { return !testing_support::ReadText(arrived).empty(); }, 5s));
    ASSERT_TRUE(os::WriteFileAtomically(sandbox.root + "/cue", "1", 0644, false)); // never seen half written
    EXPECT_EQ(client->ReadLine(5s), Line("tick"));
    EXPECT_EQ(client->ReadLine(5s), Line("connected"));
}

TEST_F(Programs, StoppedAlertDoesNotHoldTheProgramForever)
{
    WriteRules(App("ANY", "DENY", "ASK"));
    auto client = Python(R"(
import socket, time
s = socket.socket(); s.bind(('127.0.0.3', 0))
start = time.time()
try:
    s.connect(('127.0.0.2', 22011)); print('connected')
except ConnectionRefusedError:
    print('refused after %d s' % (time.time() - start))
)", true, Alerting("stop"));
    const auto line = client->ReadLine(15s);
    ASSERT_TRUE(line.has_value());
    EXPECT_EQ(line->rfind("refused after ", 0), 0u) << *line;
}

TEST_F(Programs, AlertProgramInheritsNothingOfTheProgram)
{
    WriteRules(App("ANY", "DENY", "ASK"));
    auto server = Server({"tcp-server", "127.0.0.2", "22016"});
    auto client = Python(R"(
import socket, os
listener = socket.socket(); listener.bind(('127.0.0.3', 0)); listener.listen(1); listener.set_inheritable(True)
log = open('/dev/null', 'w'); os.set_inheritable(log.fileno(), True)
s = socket.socket(); s.bind(('127.0.0.3', 0)); s.connect(('127.0.0.2', 22016)); print('connected')
)", true, Alerting("answer=1"));
    EXPECT_EQ(client->ReadLine(), Line("connected"));
    const std::string record = testing_support::ReadText(sandbox.root + "/alerts.txt");
    EXPECT_NE(record.find("inherited\t\n"), std::string::npos) << record;
}

// ---- Forks, descriptors, registrations ------------------------------------------------------

TEST_F(Programs, ForkedChildrenLogTheirStartWithTheirEnd)
{
    WriteRules(App("ANY", "PERMIT", "PERMIT"));
    auto server = Server({"tcp-server", "127.0.0.2", "22012"});
    auto program = Python(R"(
import os, socket, sys
def connect():
    s = socket.socket(); s.bind(('127.0.0.3', 0)); s.connect(('127.0.0.2', 22012)); s.sendall(b'x'); s.recv(10); s.close()
connect()
children = []
for i in range(50):
    pid = os.fork()
    if pid == 0:
        if i % 10 == 0:
            connect()
        sys.exit(0)
    children.append(pid)
for pid in children:
    os.waitpid(pid, 0)
print('done')
)");
    EXPECT_EQ(program->ReadLine(20s), Line("done"));
    EXPECT_EQ(program->Wait(), 0);
    EXPECT_EQ(LogLinesWith("<APPLICATIONSTART>"), 6u);
    EXPECT_EQ(LogLinesWith("<APPLICATIONEND>"), 6u);
    // With no interceptor process to report them, the programs took their
    // registrations along.
    EXPECT_TRUE(FolderEntries(sandbox.runtime + "/hosts").empty());
}

TEST_F(Programs, RegistrationOfAKilledProgramIsRemovedByTheNextOne)
{
    WriteRules(App("ANY", "PERMIT", "PERMIT"));
    auto server = Server({"tcp-server", "127.0.0.2", "22013"});
    const std::string connect = "import socket, os\ns = socket.socket(); s.bind(('127.0.0.3', 0));"
                                " s.connect(('127.0.0.2', 22013)); print(os.getpid())\n";
    auto killed = Python(connect + "os.kill(os.getpid(), 9)\n");
    const auto pid = killed->ReadLine();
    ASSERT_TRUE(pid.has_value());
    killed->Wait();
    EXPECT_EQ(FolderEntries(sandbox.runtime + "/hosts"), std::vector<std::string> {*pid});
    // Removed at most every few seconds: the last removal was long ago.
    const std::string stamp = sandbox.runtime + "/hosts/.swept";
    testing_support::WriteText(stamp, "");
    const utimbuf longAgo {std::time(nullptr) - 3600, std::time(nullptr) - 3600};
    ASSERT_EQ(::utime(stamp.c_str(), &longAgo), 0);
    auto next = Python(connect);
    ASSERT_TRUE(next->ReadLine().has_value());
    EXPECT_EQ(next->Wait(), 0);
    EXPECT_TRUE(FolderEntries(sandbox.runtime + "/hosts").empty());
}

// A program that closes every descriptor and opens its own files must never
// find the firewall writing into them.
TEST_F(Programs, ProgramClosingEveryDescriptorKeepsItsFilesItsOwn)
{
    WriteRules(App("ANY", "PERMIT", "PERMIT"));
    auto server = Server({"tcp-server", "127.0.0.2", "22014"});
    ::mkdir((sandbox.root + "/files").c_str(), 0700);
    auto withFolder = std::make_unique<ChildProcess>(
        std::vector<std::string> {"/usr/bin/python3", "-u", "-c", R"(
import os, socket, resource, sys
resource.setrlimit(resource.RLIMIT_NOFILE, (1024, resource.getrlimit(resource.RLIMIT_NOFILE)[1]))
def connect():
    s = socket.socket(); s.bind(('127.0.0.3', 0)); s.connect(('127.0.0.2', 22014)); s.sendall(b'x'); s.recv(10); s.close()
connect()
os.closerange(3, 1 << 16)
files = []
try:
    while len(files) < 1100:
        files.append(os.open(sys.argv[1] + '/f%d' % len(files), os.O_WRONLY | os.O_CREAT, 0o600))
except OSError:
    pass
for f in files[-20:]:
    os.close(f)
connect()
names = os.listdir(sys.argv[1])
print('written into', sum(os.path.getsize(sys.argv[1] + '/' + n) > 0 for n in names), 'of more than', len(names) // 100 * 100)
)", sandbox.root + "/files"},
        hooked);
    EXPECT_EQ(withFolder->ReadLine(20s), Line("written into 0 of more than 1000"));
    EXPECT_EQ(Records("<REMOTEPORT>22014</REMOTEPORT>").size(), 2u);
}

// Out of descriptors, the engine cannot load: that connection is refused,
// and the next decision tries again instead of letting everything through.
TEST_F(Programs, EngineThatCannotLoadYetIsTriedAgain)
{
    WriteRules(App("ANY", "DENY", "DENY"));
    auto server = Server({"tcp-server", "127.0.0.2", "22017"});
    auto client = Python(R"(
import socket, os, resource
resource.setrlimit(resource.RLIMIT_NOFILE, (64, 64))
first = socket.socket(); first.bind(('127.0.0.3', 0))
second = socket.socket(); second.bind(('127.0.0.3', 0))
held = []
try:
    while True:
        held.append(os.open('/dev/null', os.O_RDONLY))
except OSError:
    pass
for s in (first, second):
    try:
        s.connect(('127.0.0.2', 22017)); print('connected')
    except ConnectionRefusedError:
        print('refused')
    for fd in held:
        os.close(fd)
    held = []
)");
    EXPECT_EQ(client->ReadLine(), Line("refused"));
    EXPECT_EQ(client->ReadLine(), Line("refused"));
    EXPECT_FALSE(server->ReadLine(300ms).has_value());
    EXPECT_EQ(Records("<REMOTEPORT>22017</REMOTEPORT><PERMISSION>0</PERMISSION>").size(), 1u);
}

// ---- The runtime folder -------------------------------------------------------------------

// A runtime folder others can open is not used: nothing is written where
// others could have planted it, and the program is refused (it would
// otherwise pass undecided), with the reason in its record and, once, the
// folder and its mend in the error log. A folder opened only for reading
// (a "chmod -R a+rX" over the user's files) is refused the same way, at once.
TEST_F(AttackPrograms, RuntimeFolderOthersCanOpenIsNotUsed)
{
    WriteRules(App("ANY", "DENY", "PERMIT"));
    auto server = Server({"tcp-server", "127.0.0.2", "22018"});
    sandbox.SetSetting("ErrLogs", sandbox.logs);
    const std::string errorLog = protocol::ErrorLogFileName(sandbox.logs, std::time(nullptr));
    for (const mode_t mode : {0777, 0755}) {
        SCOPED_TRACE(mode);
        ::unlink(errorLog.c_str());
        ASSERT_EQ(::chmod(sandbox.runtime.c_str(), mode), 0);
        const auto recordsBefore = Records("<REASON>runtime</REASON>").size();
        auto client = Python(R"(
import socket, time
for _ in range(2):
    s = socket.socket(); s.bind(('127.0.0.3', 0)); started = time.monotonic()
    try:
        s.connect(('127.0.0.2', 22018)); print('connected')
    except ConnectionRefusedError:
        print('refused', 'at once' if time.monotonic() - started < 2 else 'late')
)");
        EXPECT_EQ(client->ReadLine(), Line("refused at once"));
        EXPECT_EQ(client->ReadLine(), Line("refused at once"));
        EXPECT_FALSE(server->ReadLine(100ms).has_value());
        EXPECT_TRUE(FolderEntries(sandbox.runtime).empty());
        EXPECT_EQ(Records("<REASON>runtime</REASON>").size(), recordsBefore + 2);
        const std::string told = testing_support::ReadText(errorLog);
        EXPECT_EQ(std::count(told.begin(), told.end(), '\n'), 1) << told;
        EXPECT_NE(told.find("RuntimeFolder : "), std::string::npos) << told;
        EXPECT_NE(told.find(sandbox.runtime + " can be opened by other users (its mode must be 0700)"),
                  std::string::npos) << told;
    }
    // Switched off by its settings (no autostart), the firewall lets it pass as before.
    sandbox.SetAutostart(false);
    ChildProcess passing({NETPEER, "tcp-client", "127.0.0.3", "127.0.0.2", "22018"}, hooked);
    EXPECT_EQ(passing.ReadLine(), Line("connected ok"));
}

// Another user (65534) makes /tmp/korvel-UID before the user's programs
// start in a session without XDG_RUNTIME_DIR; that folder was the user's
// runtime folder, and one that is not the user's let every program pass
// undecided and unlogged. In a /tmp of the test's own: the machine's is
// never touched.
using AttackSquattedRuntimeFolder = testing_support::InterceptorTest;

TEST_F(AttackSquattedRuntimeFolder, ProgramsTheRulesRefuseAreStillRefused)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "making a folder as another user needs root";
    WriteRules(App("ANY", "DENY", "DENY"));
    auto server = Server({"tcp-server", "127.0.0.2", "22019"});
    const std::string squat = "/tmp/korvel-" + std::to_string(::getuid());
    const int status = testing_support::WithPrivateTmp(sandbox.root, [&] {
        if (::mkdir(squat.c_str(), 0777) != 0 || ::chmod(squat.c_str(), 0777) != 0
            || ::chown(squat.c_str(), 65534, 65534) != 0)
            return false;
        ChildProcess client({NETPEER, "tcp-client", "127.0.0.3", "127.0.0.2", "22019"},
                            Hooked({{"ZEL_RUNTIME_DIR", ""}, {"XDG_RUNTIME_DIR", ""}}));
        return client.ReadLine() == Line("refused") && FolderEntries(squat).empty();
    });
    if (status == 77)
        GTEST_SKIP() << "no mount namespace of its own";
    EXPECT_EQ(status, 0) << "the program passed, or wrote into the other user's folder";
    EXPECT_EQ(Records("<REMOTEPORT>22019</REMOTEPORT><PERMISSION>0</PERMISSION>").size(), 1u);
}
