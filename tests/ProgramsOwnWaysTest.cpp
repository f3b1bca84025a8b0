// Programs that go their own ways, under the hook: programs that forbid
// themselves system calls (as browsers sandbox their processes), that use
// sockets made by another process, that resolve names with a DNS client of
// their own, that connect a datagram socket only to learn a route.
#include "InterceptorFixture.h"

#include <chrono>
#include <set>
#include <sstream>
#include <thread>
#include <unistd.h>

using namespace std::chrono_literals;
using testing_support::App;
using testing_support::ChildProcess;
using testing_support::Rule;

namespace {

using Programs = testing_support::InterceptorTest;

std::optional<std::string> Line(const std::string& text) { return text; }

// An outgoing rule for the peers of one host pattern on one port. A
// permitting one carries an address range that covers nothing, as the
// control panel writes it.
std::string HostRule(const std::string& permission, int port, const std::string& host)
{
    return "<RULE><DIRECTION>OUTGOING</DIRECTION><PERMISSION>" + permission + "</PERMISSION><STATE>1</STATE>"
           "<PORTS><PORT><NUMBER>" + std::to_string(port) + "</NUMBER>"
        + (permission == "PERMIT" ? "<IPS><IP>255.255.255.255-0.0.0.0</IP></IPS>" : "") + "<HOSTS><HOST>" + host
        + "</HOST></HOSTS></PORT></PORTS></RULE>";
}

// A DNS client of the program's own, in Python: a query over UDP or over
// TCP (read back in small pieces) to the name server at NAMESERVER. Each
// test has a server address of its own: tests run side by side.
const char* kOwnResolver = R"(
import socket, struct
def query(name):
    q = struct.pack('>HHHHHH', 0x1234, 0x0100, 1, 0, 0, 0)
    for label in name.split('.'):
        q += bytes([len(label)]) + label.encode()
    return q + b'\0' + struct.pack('>HH', 1, 1)
def ask_udp(name):
    s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM); s.settimeout(3)
    s.sendto(query(name), (NAMESERVER, 53)); answer = s.recv(1500); s.close()
    return answer
def ask_tcp(name):
    s = socket.create_connection((NAMESERVER, 53), timeout=3)
    q = query(name); s.sendall(struct.pack('>H', len(q)) + q)
    data = b''
    while len(data) < 2 or len(data) < 2 + struct.unpack('>H', data[:2])[0]:
        piece = s.recv(5)
        if not piece:
            break
        data += piece
    s.close()
    return data
def connect(address, port):
    s = socket.socket(); s.bind(('127.0.0.3', 0))
    try:
        s.connect((address, port)); return 'connected'
    except ConnectionRefusedError:
        return 'refused'
    finally:
        s.close()
)";

}  // namespace

// The program kills itself at any call but its own (getsockopt and fstat
// among them) and then talks over sockets it inherited and received: the
// hook never asks the kernel anything on its behalf.
TEST_F(Programs, SandboxedProgramUsesInheritedAndReceivedSocketsToTheEnd)
{
    WriteRules(App("ANY", "DENY", "PERMIT"));
    auto server = Server({"tcp-server", "127.0.0.2", "22201"});
    ChildProcess program({SANDBOXED_PEER, "127.0.0.2", "22201"}, hooked);
    EXPECT_EQ(program.ReadLine(10s), Line("done"));
    EXPECT_EQ(program.Wait(), 0) << "killed by a signal: a system call the program forbade itself";
    // Both connections were made before the sandbox, and decided.
    EXPECT_EQ(Records("<REMOTEPORT>22201</REMOTEPORT><PERMISSION>1</PERMISSION>").size(), 2u);
}

// A datagram socket made by another process and handed over is decided
// like one the program made: its datagrams to a denied peer are refused,
// those from a denied peer never arrive.
TEST_F(Programs, ReceivedDatagramSocketIsDecided)
{
    WriteRules(App("ANY", "DENY", "DENY", Rule("OUTGOING", "PERMIT", 22202, "127.0.0.2")));
    auto echo = Server({"udp-echo", "127.0.0.2", "22202"});
    auto program = Python(R"(
import os, socket, time
parent, child = socket.socketpair()
if os.fork() == 0:
    s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM); s.bind(('127.0.0.3', 22203))
    socket.send_fds(child, [b'x'], [s.fileno()]); os._exit(0)
_, fds, _, _ = socket.recv_fds(parent, 1, 1)
s = socket.socket(fileno=fds[0]); s.settimeout(1)
s.sendto(b'ping', ('127.0.0.2', 22202)); print('answer', s.recv(10).decode())
try:
    s.sendto(b'ping', ('127.0.0.4', 22202)); print('sent')
except PermissionError:
    print('refused')
print('ready')
try:
    print('arrived', s.recvfrom(10)[1][0])
except socket.timeout:
    print('nothing arrived')
)");
    EXPECT_EQ(program->ReadLine(), Line("answer pong"));
    EXPECT_EQ(program->ReadLine(), Line("refused"));
    ASSERT_EQ(program->ReadLine(), Line("ready"));
    auto stranger = Python("import socket\ns = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)\n"
                           "s.bind(('127.0.0.5', 0)); s.sendto(b'hi', ('127.0.0.3', 22203))\n", false);
    EXPECT_EQ(program->ReadLine(), Line("nothing arrived"));
    EXPECT_EQ(Records("<IP>127.0.0.4</IP>").size(), 1u);
    EXPECT_EQ(Records("<IP>127.0.0.5</IP>").size(), 1u);
}

// A datagram socket connected to learn a route (ping's probe, a browser's
// look for its own address) sends nothing: no decision, no record, no alert.
// The first datagram of one that does send is decided.
TEST_F(Programs, ConnectedDatagramSocketIsDecidedWhenItSendsNotWhenItConnects)
{
    WriteRules(App("ANY", "DENY", "ASK"));
    auto program = Python(R"(
import socket
probe = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
probe.connect(('127.0.0.2', 22204)); print('probed from', probe.getsockname()[0]); probe.close()
s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM); s.connect(('127.0.0.2', 22204)); print('connected')
try:
    s.send(b'x'); print('sent')
except PermissionError:
    print('refused')
)", true, Alerting("answer=2"));
    EXPECT_EQ(program->ReadLine(), Line("probed from 127.0.0.1"));
    EXPECT_EQ(program->ReadLine(), Line("connected"));
    EXPECT_EQ(program->ReadLine(), Line("refused"));
    EXPECT_EQ(AlertsShown(), 1u);
    EXPECT_EQ(Records("<REMOTEPORT>22204</REMOTEPORT>").size(), 1u);
}

// A child started with vfork (as Python's subprocess does) runs in its
// parent's memory until it execs: what it closes or replaces before that is
// its own copy, and the parent's connected datagram socket is decided as
// before. posix_spawn goes the same way inside the C library.
TEST_F(Programs, ChildInTheParentsMemoryLeavesItsSocketsDecided)
{
    WriteRules(App("ANY", "DENY", "DENY"));
    int port = 22210;
    for (const char* way : {"vfork-close", "vfork-close-range", "vfork-dup2", "vfork-exec", "posix-spawn"}) {
        SCOPED_TRACE(way);
        ChildProcess program({NETPEER, "udp-after-child", "127.0.0.3", "127.0.0.2", std::to_string(port++), way},
                             hooked);
        EXPECT_EQ(program.ReadLine(), Line("refused refused refused refused"));
        EXPECT_EQ(program.Wait(), 0);
    }
    auto python = Python(R"(
import socket, subprocess
s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM); s.bind(('127.0.0.3', 0)); s.connect(('127.0.0.2', 22219))
for turn in ('before', 'after'):
    try:
        s.send(b'x'); print(turn, 'sent')
    except PermissionError:
        print(turn, 'refused')
    subprocess.run(['/bin/true'], check=True)
)");
    EXPECT_EQ(python->ReadLine(), Line("before refused"));
    EXPECT_EQ(python->ReadLine(), Line("after refused"));
}

// A child started by clone with the parent's memory, the parent waiting
// (CLONE_VM|CLONE_VFORK, as vfork is made), or by the C library's other
// name for vfork: what it closes or replaces is its own copy, and the
// parent's connected datagram socket is decided as before.
using AttackChildInTheParentsMemory = Programs;
TEST_F(AttackChildInTheParentsMemory, CloneAndVforksOtherNameLeaveItsSocketsDecided)
{
    WriteRules(App("ANY", "DENY", "DENY"));
    int port = 22230;
    for (const char* way : {"clone-close", "clone-close-range", "clone-dup2", "clone-exec", "__vfork-close"}) {
        SCOPED_TRACE(way);
        ChildProcess program({NETPEER, "udp-after-child", "127.0.0.3", "127.0.0.2", std::to_string(port++), way},
                             hooked);
        EXPECT_EQ(program.ReadLine(), Line("refused refused refused refused"));
        EXPECT_EQ(program.Wait(), 0);
    }
}

// A signal handler's first write, close or send under the hook finds the
// C library's call already looked up, however the handler was installed:
// nothing that is no call for a handler (dlsym) runs in it.
using AttackSignalHandler = Programs;
TEST_F(AttackSignalHandler, FirstCallsInAHandlerLookNothingUp)
{
    for (const char* how : {"sigaction", "signal", "sysv_signal", "bsd_signal", "sigset"}) {
        SCOPED_TRACE(how);
        ChildProcess program({HANDLER_PROBE, how}, hooked);
        EXPECT_EQ(program.ReadLine(), Line("looked up 0 in the handler"));
        EXPECT_EQ(program.Wait(), 0);
    }
}

// A program with a resolver of its own: the names in the DNS answers it
// receives (over UDP and over TCP, through a CNAME chain) are the names its
// connections are decided and logged by.
TEST_F(Programs, NamesFromTheProgramsOwnDnsAnswersDecideByHost)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "a name server on port 53 needs root";
    WriteRules(App("ANY", "DENY", "DENY",
                   Rule("OUTGOING", "PERMIT", 53) + HostRule("DENY", 22205, "ads.example.org")
                       + HostRule("PERMIT", 22205, "*.example.org")));
    auto names = Server({"dns-server", "127.0.0.2", "53", "www.example.org=cname:edge.cdn.example.net",
                         "edge.cdn.example.net=127.0.0.4", "ads.example.org=127.0.0.5"});
    auto first = Server({"tcp-server", "127.0.0.4", "22205"});
    auto second = Server({"tcp-server", "127.0.0.5", "22205"});
    auto program = Python("NAMESERVER = '127.0.0.2'" + std::string(kOwnResolver) + R"(
ask_udp('www.example.org'); print('www', connect('127.0.0.4', 22205))
ask_tcp('ads.example.org'); print('ads', connect('127.0.0.5', 22205))
print('never looked up', connect('127.0.0.6', 22205))
)");
    EXPECT_EQ(program->ReadLine(), Line("www connected"));
    EXPECT_EQ(program->ReadLine(), Line("ads refused"));
    EXPECT_EQ(program->ReadLine(), Line("never looked up refused"));
    EXPECT_EQ(Records("<IP>127.0.0.4</IP>").size(), 1u);
    EXPECT_EQ(Records("<PERMISSION>1</PERMISSION><SERVICE>0</SERVICE><HOST>www.example.org</HOST>").size(), 1u);
    EXPECT_EQ(Records("<PERMISSION>0</PERMISSION><SERVICE>0</SERVICE><HOST>ads.example.org</HOST>").size(), 1u);
    EXPECT_EQ(Records("<IP>127.0.0.6</IP>").size(), 1u);
    EXPECT_EQ(Records("<IP>127.0.0.6</IP>")[0].find("<HOST>"), std::string::npos);
}

// Two names on one address, looked up over and over by two threads while a
// third connects: every connection gets the same verdict, the one of the
// first entry in the rules that covers either name.
TEST_F(Programs, TwoNamesOfOneAddressDecideTheSameWhateverTheOrderOfLookups)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "a name server on port 53 needs root";
    auto names = Server({"dns-server", "127.0.0.12", "53", "www.example.org=127.0.0.4", "ads.example.org=127.0.0.4"});
    auto server = Server({"tcp-server", "127.0.0.4", "22206"});
    const std::string racing = "NAMESERVER = '127.0.0.12'" + std::string(kOwnResolver) + R"(
import threading
ask_udp('www.example.org'); ask_udp('ads.example.org')
def lookups(name):
    for i in range(40):
        ask_udp(name)
threads = [threading.Thread(target=lookups, args=(n,)) for n in ('www.example.org', 'ads.example.org')]
for t in threads:
    t.start()
results = [connect('127.0.0.4', 22206) for i in range(20)]
for t in threads:
    t.join()
print(' '.join(sorted(set(results))), len(results))
)";
    const std::string dns = Rule("OUTGOING", "PERMIT", 53);
    WriteRules(App("ANY", "DENY", "DENY",
                   dns + HostRule("DENY", 22206, "ads.example.org") + HostRule("PERMIT", 22206, "*.example.org")));
    EXPECT_EQ(Python(racing)->ReadLine(20s), Line("refused 20"));
    EXPECT_EQ(Records("<HOST>ads.example.org</HOST>").size(), 20u);
    WriteRules(App("ANY", "DENY", "DENY",
                   dns + HostRule("PERMIT", 22206, "www.example.org") + HostRule("DENY", 22206, "ads.example.org")));
    EXPECT_EQ(Python(racing)->ReadLine(20s), Line("connected 20"));
    EXPECT_EQ(Records("<PERMISSION>1</PERMISSION><SERVICE>0</SERVICE><HOST>www.example.org</HOST>").size(), 20u);
}
