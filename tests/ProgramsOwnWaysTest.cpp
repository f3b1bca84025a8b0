// Programs that go their own ways, under the hook: programs that forbid
// themselves system calls (as browsers sandbox their processes), that use
// sockets made by another process, that resolve names with a DNS client of
// their own, that connect a datagram socket only to learn a route.
#include "tests/DnsMessage.h"
#include "tests/InterceptorFixture.h"

#include <arpa/inet.h>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <netinet/in.h>
#include <poll.h>
#include <set>
#include <sstream>
#include <sys/socket.h>
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
// TCP (read back in small pieces) to the name server at NAMESERVER, or an A
// and an AAAA query on one connected socket at once (sendmmsg, recvmmsg), as
// glibc's resolver asks. Each test has a server address of its own: tests
// run side by side.
const char* kOwnResolver = R"(
import ctypes, socket, struct
def query(name, qtype=1):
    q = struct.pack('>HHHHHH', 0x1234 + qtype, 0x0100, 1, 0, 0, 0)
    for label in name.split('.'):
        q += bytes([len(label)]) + label.encode()
    return q + b'\0' + struct.pack('>HH', qtype, 1)
class iovec(ctypes.Structure):
    _fields_ = [('base', ctypes.c_void_p), ('length', ctypes.c_size_t)]
class mmsghdr(ctypes.Structure):
    _fields_ = [('name', ctypes.c_void_p), ('namelen', ctypes.c_uint), ('iov', ctypes.POINTER(iovec)),
                ('iovlen', ctypes.c_size_t), ('control', ctypes.c_void_p), ('controllen', ctypes.c_size_t),
                ('flags', ctypes.c_int), ('padding', ctypes.c_int), ('length', ctypes.c_uint)]
def ask_mmsg(name):
    s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM); s.connect((NAMESERVER, 53))
    buffers = [ctypes.create_string_buffer(q, len(q)) for q in (query(name), query(name, 28))]
    buffers += [ctypes.create_string_buffer(1500) for i in range(2)]
    parts = [iovec(ctypes.addressof(b), len(b)) for b in buffers]
    messages = [(mmsghdr * 2)(*[mmsghdr(iov=ctypes.pointer(p), iovlen=1) for p in pair]) for pair in (parts[:2], parts[2:])]
    libc = ctypes.CDLL(None)
    libc.sendmmsg(s.fileno(), messages[0], 2, 0)
    got = libc.recvmmsg(s.fileno(), messages[1], 2, 0, ctypes.byref((ctypes.c_long * 2)(3, 0)))
    s.close()
    return got
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
                         "edge.cdn.example.net=127.0.0.4", "ads.example.org=127.0.0.5", "api.example.org=127.0.0.7",
                         "api.example.org=fd00::7"});
    auto first = Server({"tcp-server", "127.0.0.4", "22205"});
    auto second = Server({"tcp-server", "127.0.0.5", "22205"});
    auto third = Server({"tcp-server", "127.0.0.7", "22205"});
    auto program = Python("NAMESERVER = '127.0.0.2'" + std::string(kOwnResolver) + R"(
ask_udp('www.example.org'); print('www', connect('127.0.0.4', 22205))
ask_tcp('ads.example.org'); print('ads', connect('127.0.0.5', 22205))
print('api', ask_mmsg('api.example.org'), connect('127.0.0.7', 22205))
print('never looked up', connect('127.0.0.6', 22205))
)");
    EXPECT_EQ(program->ReadLine(), Line("www connected"));
    EXPECT_EQ(program->ReadLine(), Line("ads refused"));
    EXPECT_EQ(program->ReadLine(), Line("api 2 connected"));
    EXPECT_EQ(program->ReadLine(), Line("never looked up refused"));
    EXPECT_EQ(Records("<IP>127.0.0.4</IP>").size(), 1u);
    EXPECT_EQ(Records("<PERMISSION>1</PERMISSION><SERVICE>0</SERVICE><HOST>www.example.org</HOST>").size(), 1u);
    EXPECT_EQ(Records("<PERMISSION>0</PERMISSION><SERVICE>0</SERVICE><HOST>ads.example.org</HOST>").size(), 1u);
    EXPECT_EQ(Records("<IP>127.0.0.6</IP>").size(), 1u);
    EXPECT_EQ(Records("<IP>127.0.0.6</IP>")[0].find("<HOST>"), std::string::npos);
}

namespace {

using testing_support::DnsMessage;

std::string AnswerOf(const std::string& name, unsigned id, const char* address)
{
    DnsMessage m = DnsMessage::Answer(name, 1, 0x8180, id);
    m.Record(name, 1, DnsMessage::A(address));
    return m.bytes;
}

// A name server on address:53 that answers truly, and forges after. Over
// UDP www.good.example is 127.0.0.4, and an answer with another id (.5) and
// a late duplicate (.6) follow; tc.good.example is answered truncated, and
// then in full (.11). Over TCP an answer with another id (.9) comes before
// the true one (.8 for tc.good.example) and a duplicate (.10) after.
class ForgingNameServer {
public:
    explicit ForgingNameServer(const char* address)
    {
        for (int type : {SOCK_DGRAM, SOCK_STREAM}) {
            const int fd = ::socket(AF_INET, type, 0);
            const int on = 1;
            ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
            sockaddr_in in {};
            in.sin_family = AF_INET;
            in.sin_port = htons(53);
            ::inet_pton(AF_INET, address, &in.sin_addr);
            if (::bind(fd, reinterpret_cast<sockaddr*>(&in), sizeof in) != 0)
                ::close(fd);
            else
                (type == SOCK_DGRAM ? udp_ : tcp_) = fd;
        }
        if (udp_ >= 0 && tcp_ >= 0 && ::listen(tcp_, 4) == 0)
            serving_ = std::thread([this] { Serve(); });
    }
    ~ForgingNameServer()
    {
        stop_ = true;
        if (serving_.joinable())
            serving_.join();
        ::close(udp_);
        ::close(tcp_);
    }
    bool Serving() const { return serving_.joinable(); }

private:
    // The name and id of a query.
    static std::pair<std::string, unsigned> Asked(const std::string& query)
    {
        std::string name;
        for (size_t at = 12; at < query.size() && query[at] != 0; at += static_cast<unsigned char>(query[at]) + 1)
            name += (name.empty() ? "" : ".") + query.substr(at + 1, static_cast<unsigned char>(query[at]));
        const auto byte = [&](size_t at) { return at < query.size() ? static_cast<unsigned char>(query[at]) : 0u; };
        return {name, byte(0) << 8 | byte(1)};
    }

    void Serve()
    {
        const auto end = std::chrono::steady_clock::now() + 60s;
        while (!stop_ && std::chrono::steady_clock::now() < end) {
            pollfd waiting[2] = {{udp_, POLLIN, 0}, {tcp_, POLLIN, 0}};
            if (::poll(waiting, 2, 100) <= 0)
                continue;
            if (waiting[0].revents & POLLIN) {
                char buffer[512];
                sockaddr_storage from {};
                socklen_t length = sizeof from;
                const ssize_t n = ::recvfrom(udp_, buffer, sizeof buffer, 0, reinterpret_cast<sockaddr*>(&from), &length);
                const auto [name, id] = Asked(std::string(buffer, n > 0 ? static_cast<size_t>(n) : 0));
                std::vector<std::string> replies;
                if (name == "www.good.example")
                    replies = {AnswerOf(name, id, "127.0.0.4"), AnswerOf(name, id ^ 0x5A5A, "127.0.0.5"),
                               AnswerOf(name, id, "127.0.0.6")};
                else if (name == "tc.good.example")
                    replies = {DnsMessage::Answer(name, 0, 0x8380, id).bytes, AnswerOf(name, id, "127.0.0.11")};
                for (const std::string& reply : replies)
                    ::sendto(udp_, reply.data(), reply.size(), 0, reinterpret_cast<sockaddr*>(&from), length);
            }
            if (waiting[1].revents & POLLIN) {
                const int connection = ::accept(tcp_, nullptr, nullptr);
                timeval timeout {2, 0};
                ::setsockopt(connection, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
                unsigned char head[2] = {};
                std::string query(512, '\0');
                const bool framed = ::recv(connection, head, 2, MSG_WAITALL) == 2;
                const auto size = static_cast<ssize_t>(head[0] << 8 | head[1]);
                if (framed && size <= 512
                    && ::recv(connection, query.data(), static_cast<size_t>(size), MSG_WAITALL) == size) {
                    const auto [name, id] = Asked(query);
                    DnsMessage stream;
                    for (const std::string& reply : {AnswerOf(name, id ^ 0x5A5A, "127.0.0.9"),
                                                     AnswerOf(name, id, "127.0.0.8"), AnswerOf(name, id, "127.0.0.10")}) {
                        stream.U16(static_cast<unsigned>(reply.size()));
                        stream.bytes += reply;
                    }
                    ::send(connection, stream.bytes.data(), stream.bytes.size(), MSG_NOSIGNAL);
                }
                ::close(connection);
            }
        }
    }

    int udp_ = -1;
    int tcp_ = -1;
    std::atomic<bool> stop_ {false};
    std::thread serving_;
};

}  // namespace

using AttackForgedDnsAnswer = testing_support::InterceptorTest;

// A program permitted only to *.good.example looks www.good.example up with
// a resolver of its own. Only the name server's answer to its query teaches
// the name: not a second answer with another id, a late duplicate, a full
// answer after a truncated one, an answer on its TCP connection to no query
// written there, nor one nobody asked for that another local user (who may
// bind low ports) sends from the name server's own address and port to a
// port the program listens on. Their addresses stay nameless, and refused.
TEST_F(AttackForgedDnsAnswer, OnlyTheAnswerToTheProgramsQueryNamesAnAddress)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "a name server on port 53 needs root";
    WriteRules(App("ANY", "DENY", "DENY", Rule("OUTGOING", "PERMIT", 53) + HostRule("PERMIT", 22207, "*.good.example")));
    ForgingNameServer names("127.0.0.22");
    ASSERT_TRUE(names.Serving());
    auto www = Server({"tcp-server", "127.0.0.4", "22207"});
    auto tc = Server({"tcp-server", "127.0.0.8", "22207"});
    auto program = Python("NAMESERVER = '127.0.0.22'" + std::string(kOwnResolver) + R"(
import os
s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM); s.settimeout(5)
s.sendto(query('www.good.example'), (NAMESERVER, 53))
for i in range(3):
    s.recv(1500)
c = socket.socket(socket.AF_INET, socket.SOCK_DGRAM); c.connect((NAMESERVER, 53))
c.setsockopt(socket.SOL_SOCKET, socket.SO_RCVTIMEO, struct.pack('ll', 5, 0))
os.write(c.fileno(), query('tc.good.example'))
print('truncated', [struct.unpack('>H', os.read(c.fileno(), 1500)[2:4])[0] & 0x200 != 0 for i in range(2)])
t = socket.create_connection((NAMESERVER, 53), timeout=5)
q = query('tc.good.example'); t.sendall(struct.pack('>H', len(q)) + q)
while t.recv(7):
    pass
listening = socket.socket(socket.AF_INET, socket.SOCK_DGRAM); listening.bind(('127.0.0.3', 0)); listening.settimeout(5)
print('port', listening.getsockname()[1])
try:
    listening.recv(1500); print('unsolicited arrived')
except socket.timeout:
    print('nothing arrived')
for last in range(4, 12):
    print('127.0.0.%d' % last, connect('127.0.0.%d' % last, 22207))
)");
    EXPECT_EQ(program->ReadLine(), Line("truncated [True, False]"));
    const auto port = program->ReadLine();
    ASSERT_TRUE(port && port->rfind("port ", 0) == 0) << port.value_or("(nothing)");
    std::string unsolicited;
    for (const unsigned char c : AnswerOf("www.good.example", 0x7777, "127.0.0.7")) {
        char two[3];
        std::snprintf(two, sizeof two, "%02x", c);
        unsolicited += two;
    }
    testing_support::ChildProcess forger({"/usr/bin/setpriv", "--reuid=65534", "--regid=65534", "--clear-groups",
                                          "--inh-caps=+net_bind_service", "--ambient-caps=+net_bind_service",
                                          "/usr/bin/python3", "-c", R"(
import os, socket, sys
s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM); s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
s.bind(('127.0.0.22', 53)); s.sendto(bytes.fromhex(sys.argv[1]), ('127.0.0.3', int(sys.argv[2])))
print('sent as', os.getuid())
)", unsolicited, port->substr(5)});
    EXPECT_EQ(forger.ReadLine(), Line("sent as 65534"));
    EXPECT_EQ(program->ReadLine(), Line("unsolicited arrived"));
    for (int last = 4; last <= 11; ++last) {
        const bool genuine = last == 4 || last == 8;
        const std::string address = "127.0.0." + std::to_string(last);
        EXPECT_EQ(program->ReadLine(), Line(address + (genuine ? " connected" : " refused")));
        const auto records = Records("<IP>" + address + "</IP>");
        ASSERT_EQ(records.size(), 1u) << address;
        EXPECT_NE(records[0].find(genuine ? "<PERMISSION>1</PERMISSION>" : "<PERMISSION>0</PERMISSION>"),
                  std::string::npos) << records[0];
        EXPECT_EQ(records[0].find("<HOST>") != std::string::npos, genuine) << records[0];
    }
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

// Every other way a datagram leaves a program or reaches it is decided as
// sendto and recvfrom are: an address of family AF_UNSPEC (an IPv4 address
// to an IPv4 socket), a message whose address has length 0 (the connected
// peer), a send after a connect that failed or after another number of the
// socket connected it elsewhere, sendfile and splice, and the receives of a
// program built with _FORTIFY_SOURCE. A Fast Open connect by sendmmsg is a
// connect. Nothing reaches the denied peer, nothing from it arrives.
using AttackDatagramPaths = Programs;
TEST_F(AttackDatagramPaths, EveryWayADatagramLeavesOrArrivesIsDecided)
{
    WriteRules(App("ANY", "DENY", "DENY", Rule("OUTGOING", "PERMIT", 22230, "127.0.0.2")));
    auto denied = Server({"udp-echo", "127.0.0.4", "22230"});
    auto deniedTcp = Server({"tcp-server", "127.0.0.4", "22230"});
    auto program = Python(R"(
import ctypes, os, socket, struct, subprocess
libc = ctypes.CDLL(None, use_errno=True)
def name(family, address):
    return ctypes.create_string_buffer(struct.pack('<H', family) + struct.pack('>H', 22230) + socket.inet_aton(address) + bytes(8), 16)
kept = []
def udp(peer=None):
    s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM); s.bind(('127.0.0.3', 0)); kept.append(s)
    if peer:
        s.connect((peer, 22230))
    return s
class iovec(ctypes.Structure):
    _fields_ = [('base', ctypes.c_char_p), ('length', ctypes.c_size_t)]
class msghdr(ctypes.Structure):
    _fields_ = [('name', ctypes.c_void_p), ('namelen', ctypes.c_uint), ('iov', ctypes.POINTER(iovec)),
                ('iovlen', ctypes.c_size_t), ('control', ctypes.c_void_p), ('controllen', ctypes.c_size_t),
                ('flags', ctypes.c_int), ('length', ctypes.c_uint)]
def message(to, length):
    return msghdr(name=ctypes.addressof(to), namelen=length, iov=ctypes.pointer(iovec(b'x', 1)), iovlen=1)
def unspecified():
    return libc.sendto(udp().fileno(), b'x', 1, 0, name(0, '127.0.0.4'), 16)
def zero_length_address():
    to = name(socket.AF_INET, '127.0.0.2')
    return libc.sendmsg(udp('127.0.0.4').fileno(), ctypes.byref(message(to, 0)), 0)
def failed_connect():
    s = udp('127.0.0.4')
    elsewhere = struct.pack('<HHI', socket.AF_INET6, socket.htons(22230), 0) + socket.inet_pton(socket.AF_INET6, '::ffff:127.0.0.2') + bytes(4)
    libc.connect(s.fileno(), elsewhere, len(elsewhere))
    return libc.send(s.fileno(), b'x', 1, 0)
def other_number():
    s = udp('127.0.0.2')
    libc.connect(os.dup(s.fileno()), name(socket.AF_INET, '127.0.0.4'), 16)
    return libc.send(s.fileno(), b'x', 1, 0)
def sendfile():
    f = os.memfd_create('x'); os.write(f, b'x')
    return os.sendfile(udp('127.0.0.4').fileno(), f, 0, 1)
def splice():
    r, w = os.pipe(); os.write(w, b'x')
    return os.splice(r, udp('127.0.0.4').fileno(), 1)
def pwritev2():
    return libc.pwritev2(udp('127.0.0.4').fileno(), ctypes.byref(iovec(b'x', 1)), 1, ctypes.c_long(-1), 0)
def fast_open():
    s = socket.socket(); s.bind(('127.0.0.3', 0)); kept.append(s)
    to = name(socket.AF_INET, '127.0.0.4')
    return libc.sendmmsg(s.fileno(), ctypes.byref(message(to, 16)), 1, 0x20000000)
for way in (unspecified, zero_length_address, failed_connect, other_number, sendfile, splice, pwritev2, fast_open):
    try:
        result = 'sent' if way() >= 0 else os.strerror(ctypes.get_errno())
    except OSError as e:
        result = e.strerror
    print(way.__name__, result)
def receive(s, way):
    if way == 'splice':
        return os.splice(s.fileno(), os.pipe()[1], 10)
    buffer = ctypes.create_string_buffer(10)
    if way == 'preadv2':
        return libc.preadv2(s.fileno(), ctypes.byref(iovec(ctypes.cast(buffer, ctypes.c_char_p), 10)), 1, ctypes.c_long(-1), 0)
    call = {'__recvfrom_chk': lambda: libc.__recvfrom_chk(s.fileno(), buffer, 10, 10, 0, None, None),
            '__recv_chk': lambda: libc.__recv_chk(s.fileno(), buffer, 10, 10, 0),
            '__read_chk': lambda: libc.__read_chk(s.fileno(), buffer, 10, 10)}[way]
    return call()
for way in ('__recvfrom_chk', '__recv_chk', '__read_chk', 'splice', 'preadv2'):
    s = udp(); s.setblocking(False)
    subprocess.run(['/usr/bin/python3', '-c', 'import socket, sys; t = socket.socket(socket.AF_INET, socket.SOCK_DGRAM); '
                    't.bind(("127.0.0.4", 0)); t.sendto(b"in", ("127.0.0.3", int(sys.argv[1])))', str(s.getsockname()[1])], env={})
    try:
        print(way, 'arrived' if receive(s, way) >= 0 else 'nothing arrived')
    except OSError:
        print(way, 'nothing arrived')
)");
    for (const char* way : {"unspecified", "zero_length_address", "failed_connect", "other_number", "sendfile", "splice",
                            "pwritev2"})
        EXPECT_EQ(program->ReadLine(), Line(std::string(way) + " Operation not permitted"));
    EXPECT_EQ(program->ReadLine(), Line("fast_open Connection refused"));
    for (const char* way : {"__recvfrom_chk", "__recv_chk", "__read_chk", "splice", "preadv2"})
        EXPECT_EQ(program->ReadLine(), Line(std::string(way) + " nothing arrived"));
    // What did leave would have come before this one.
    Python("import socket\ns = socket.socket(socket.AF_INET, socket.SOCK_DGRAM); s.bind(('127.0.0.5', 0))\n"
           "s.sendto(b'x', ('127.0.0.4', 22230))\n", false)->Wait();
    EXPECT_EQ(denied->ReadLine(), Line("got 127.0.0.5"));
}

// The unspecified address names this host: a client bound to a local
// address that connects or sends to 0.0.0.0 reaches that address, and is
// decided as going there, not passed as going nowhere the rules name.
using AttackUnspecifiedDestination = Programs;
TEST_F(AttackUnspecifiedDestination, IsDecidedAsTheLocalAddressItReaches)
{
    WriteRules(App("ANY", "DENY", "PERMIT", Rule("OUTGOING", "DENY", 22231, "127.0.0.4")));
    auto udp = Server({"udp-echo", "127.0.0.4", "22231"});
    auto tcp = Server({"tcp-server", "127.0.0.4", "22231"});
    auto program = Python(R"(
import socket
for family, kind, own, nowhere in ((socket.AF_INET, socket.SOCK_STREAM, '127.0.0.4', '0.0.0.0'),
                                   (socket.AF_INET, socket.SOCK_DGRAM, '127.0.0.4', '0.0.0.0'),
                                   (socket.AF_INET6, socket.SOCK_STREAM, '::ffff:127.0.0.4', '::ffff:0.0.0.0')):
    s = socket.socket(family, kind); s.bind((own, 0))
    try:
        s.connect((nowhere, 22231)) if kind == socket.SOCK_STREAM else s.sendto(b'x', (nowhere, 22231))
        print('passed')
    except OSError as e:
        print(e.strerror)
)");
    for (const char* refusal : {"Connection refused", "Operation not permitted", "Connection refused"})
        EXPECT_EQ(program->ReadLine(), Line(refusal));
    EXPECT_EQ(program->Wait(), 0);
    EXPECT_EQ(Records("<IP>127.0.0.4</IP>").size(), 3u);
    EXPECT_TRUE(Records("<IP>0.0.0.0</IP>").empty());
    // What did leave would have come before this one.
    Python("import socket\ns = socket.socket(socket.AF_INET, socket.SOCK_DGRAM); s.bind(('127.0.0.5', 0))\n"
           "s.sendto(b'x', ('127.0.0.4', 22231))\n", false)->Wait();
    EXPECT_EQ(udp->ReadLine(), Line("got 127.0.0.5"));
}
