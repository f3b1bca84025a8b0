#include "os/SockDiag.h"
#include "os/SocketOwners.h"
#include "os/Processes.h"
#include "panel/core/LiveConnections.h"
#include "protocol/LogFiles.h"
#include "tests/EventWait.h"

#include <linux/inet_diag.h>
#include <linux/netlink.h>
#include <linux/sock_diag.h>

#include <algorithm>
#include <dirent.h>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace os::sockdiag;
using namespace std::chrono_literals;

namespace {

sockaddr_in Loopback(const char* ip)
{
    sockaddr_in address {};
    address.sin_family = AF_INET;
    ::inet_pton(AF_INET, ip, &address.sin_addr);
    return address;
}

uint16_t BoundPort(int fd)
{
    sockaddr_in address {};
    socklen_t length = sizeof address;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    return ntohs(address.sin_port);
}

uint64_t Inode(int fd)
{
    struct stat info {};
    ::fstat(fd, &info);
    return info.st_ino;
}

int Bound(int type, const char* ip)
{
    const int fd = ::socket(AF_INET, type | SOCK_CLOEXEC, 0);
    const sockaddr_in address = Loopback(ip);
    EXPECT_EQ(::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
    return fd;
}

const SocketRow* Find(const std::vector<SocketRow>& rows, int fd)
{
    const auto found = std::find_if(rows.begin(), rows.end(), [&](const SocketRow& row) { return row.inode == Inode(fd); });
    return found == rows.end() ? nullptr : &*found;
}

// A connection from 127.0.0.3 to a listener on 127.0.0.2, and a UDP socket.
struct LoopbackSockets {
    LoopbackSockets()
    {
        EXPECT_EQ(::listen(listener, 4), 0);
        const sockaddr_in server = [&] {
            sockaddr_in address = Loopback("127.0.0.2");
            address.sin_port = htons(BoundPort(listener));
            return address;
        }();
        EXPECT_EQ(::connect(client, reinterpret_cast<const sockaddr*>(&server), sizeof server), 0);
        accepted = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
    }
    ~LoopbackSockets()
    {
        for (const int fd : {listener, client, accepted, udp})
            ::close(fd);
    }
    int listener = Bound(SOCK_STREAM, "127.0.0.2");
    int client = Bound(SOCK_STREAM, "127.0.0.3");
    int accepted = -1;
    int udp = Bound(SOCK_DGRAM, "127.0.0.2");
};

}  // namespace

TEST(SocketDiagnostics, ListsBothEndsOfAConnectionWithTheBytesEachMoved)
{
    LoopbackSockets sockets;
    ASSERT_GE(sockets.accepted, 0);
    // The client sends a known amount; the server answers one byte once it
    // has it all, and that answer carries the acknowledgement of every byte.
    constexpr size_t kSent = 300000;
    const std::vector<char> data(kSent, 'x');
    std::vector<char> incoming(kSent);
    size_t sent = 0, received = 0;
    const auto deadline = std::chrono::steady_clock::now() + 10s;
    while (received < kSent && std::chrono::steady_clock::now() < deadline) {
        if (sent < kSent) {
            const ssize_t n = ::send(sockets.client, data.data() + sent, kSent - sent, MSG_DONTWAIT);
            sent += n > 0 ? static_cast<size_t>(n) : 0;
        }
        if (testing_support::WaitReadable(sockets.accepted, 100ms)) {
            const ssize_t n = ::recv(sockets.accepted, incoming.data(), kSent - received, MSG_DONTWAIT);
            received += n > 0 ? static_cast<size_t>(n) : 0;
        }
    }
    ASSERT_EQ(received, kSent);
    ASSERT_EQ(::send(sockets.accepted, "!", 1, 0), 1);
    ASSERT_TRUE(testing_support::WaitReadable(sockets.client, 5s));
    char answer;
    ASSERT_EQ(::recv(sockets.client, &answer, 1, 0), 1);

    SocketDiagnostics diagnostics;
    std::vector<SocketRow> rows;
    ASSERT_EQ(diagnostics.Dump(::getuid(), rows), DumpStatus::Complete) << diagnostics.Error();
    const uint16_t serverPort = BoundPort(sockets.listener), clientPort = BoundPort(sockets.client);
    struct Expected {
        int fd;
        Protocol protocol;
        uint8_t state;
        const char* localIp;
        uint16_t localPort;
        const char* remoteIp;
        uint16_t remotePort;
        std::optional<uint64_t> bytesSent, bytesReceived;
    };
    const Expected table[] = {
        {sockets.listener, Protocol::Tcp, TCP_LISTEN, "127.0.0.2", serverPort, "0.0.0.0", 0, 0, 0},
        {sockets.client, Protocol::Tcp, TCP_ESTABLISHED, "127.0.0.3", clientPort, "127.0.0.2", serverPort, kSent, 1},
        {sockets.accepted, Protocol::Tcp, TCP_ESTABLISHED, "127.0.0.2", serverPort, "127.0.0.3", clientPort,
            std::nullopt, kSent},
        {sockets.udp, Protocol::Udp, TCP_CLOSE, "127.0.0.2", BoundPort(sockets.udp), "0.0.0.0", 0, std::nullopt,
            std::nullopt},
    };
    for (const Expected& expected : table) {
        SCOPED_TRACE(expected.fd);
        const SocketRow* row = Find(rows, expected.fd);
        ASSERT_NE(row, nullptr);
        EXPECT_EQ(row->family, AF_INET);
        EXPECT_EQ(row->protocol, expected.protocol);
        EXPECT_EQ(row->state, expected.state);
        EXPECT_EQ(row->uid, ::getuid());
        EXPECT_EQ(AddressText(row->family, row->localAddress), expected.localIp);
        EXPECT_EQ(row->localPort, expected.localPort);
        EXPECT_EQ(AddressText(row->family, row->remoteAddress), expected.remoteIp);
        EXPECT_EQ(row->remotePort, expected.remotePort);
        EXPECT_EQ(row->bytesReceived, expected.bytesReceived);
        // The server's one byte may still wait for its acknowledgement.
        if (expected.fd == sockets.accepted)
            EXPECT_LE(row->bytesSent.value_or(2), 1u);
        else
            EXPECT_EQ(row->bytesSent, expected.bytesSent);
    }

    // The client's FIN is not data: the server, now in CLOSE_WAIT, still
    // received exactly what was sent.
    ASSERT_EQ(::shutdown(sockets.client, SHUT_WR), 0);
    ASSERT_TRUE(testing_support::WaitReadable(sockets.accepted, 5s));
    ASSERT_EQ(::recv(sockets.accepted, incoming.data(), 1, 0), 0);
    ASSERT_EQ(diagnostics.Dump(::getuid(), rows), DumpStatus::Complete);
    const SocketRow* server = Find(rows, sockets.accepted);
    ASSERT_NE(server, nullptr);
    EXPECT_EQ(server->state, TCP_CLOSE_WAIT);
    EXPECT_EQ(server->bytesReceived, kSent);
}

TEST(SocketDiagnostics, KeepsToTheUidAndTheLimitAndListsIpv6)
{
    LoopbackSockets sockets;
    const int v6 = ::socket(AF_INET6, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in6 any6 {};
    any6.sin6_family = AF_INET6;
    any6.sin6_addr = in6addr_loopback;
    const bool haveV6 = ::bind(v6, reinterpret_cast<const sockaddr*>(&any6), sizeof any6) == 0 && ::listen(v6, 1) == 0;

    SocketDiagnostics diagnostics;
    std::vector<SocketRow> rows;
    ASSERT_EQ(diagnostics.Dump(std::nullopt, rows), DumpStatus::Complete);
    EXPECT_NE(Find(rows, sockets.client), nullptr);
    if (haveV6) {
        const SocketRow* row = Find(rows, v6);
        ASSERT_NE(row, nullptr);
        EXPECT_EQ(row->family, AF_INET6);
        EXPECT_EQ(AddressText(row->family, row->localAddress), "::1");
        EXPECT_EQ(row->state, TCP_LISTEN);
    }
    // Another user's list holds none of ours.
    constexpr uid_t kStranger = 2000000000;
    ASSERT_EQ(diagnostics.Dump(kStranger, rows), DumpStatus::Complete);
    EXPECT_TRUE(std::all_of(rows.begin(), rows.end(), [](const SocketRow& row) { return row.uid == kStranger; }));
    EXPECT_EQ(Find(rows, sockets.client), nullptr);

    // A dump cut at its limit says so, and the next one on the same object
    // is whole (the rest of the cut answer is not taken for it).
    SocketDiagnostics limited({.maxSockets = 2, .timeout = 500ms});
    EXPECT_EQ(limited.Dump(::getuid(), rows), DumpStatus::Truncated);
    EXPECT_EQ(rows.size(), 2u);
    EXPECT_EQ(limited.Dump(kStranger, rows), DumpStatus::Complete);
    EXPECT_TRUE(rows.empty());
    ::close(v6);
}

// The netlink port of this process's NETLINK_SOCK_DIAG socket, from
// /proc/net/netlink; 0 when there is none.
uint32_t OwnDiagnosticsPort()
{
    std::set<uint64_t> own;
    if (DIR* dir = ::opendir("/proc/self/fd")) {
        while (const dirent* item = ::readdir(dir)) {
            struct stat info {};
            if (::fstatat(::dirfd(dir), item->d_name, &info, 0) == 0 && S_ISSOCK(info.st_mode))
                own.insert(info.st_ino);
        }
        ::closedir(dir);
    }
    std::ifstream table("/proc/net/netlink");
    std::string line;
    std::getline(table, line);
    while (std::getline(table, line)) {
        std::istringstream fields(line);
        std::string sk, rest;
        int protocol = -1;
        uint32_t port = 0;
        uint64_t inode = 0;
        fields >> sk >> protocol >> port;
        for (int skip = 0; skip < 6; ++skip)
            fields >> rest;
        fields >> inode;
        if (protocol == NETLINK_SOCK_DIAG && own.count(inode))
            return port;
    }
    return 0;
}

TEST(AttackSocketDiagnostics, ADatagramNotFromTheKernelMakesUpNoSocket)
{
    SocketDiagnostics diagnostics;
    std::vector<SocketRow> rows;
    ASSERT_EQ(diagnostics.Dump(::getuid(), rows), DumpStatus::Complete);
    const uint32_t port = OwnDiagnosticsPort();
    ASSERT_NE(port, 0u);
    // A socket with the next answer's sequence number, queued before it.
    struct {
        nlmsghdr header;
        inet_diag_msg socket;
    } forged {};
    forged.header.nlmsg_len = sizeof forged;
    forged.header.nlmsg_type = SOCK_DIAG_BY_FAMILY;
    forged.header.nlmsg_flags = NLM_F_MULTI;
    forged.header.nlmsg_seq = 5;
    forged.socket.idiag_family = AF_INET;
    forged.socket.idiag_state = TCP_ESTABLISHED;
    forged.socket.idiag_uid = ::getuid();
    forged.socket.idiag_inode = 424242;
    const int forger = ::socket(AF_NETLINK, SOCK_DGRAM | SOCK_CLOEXEC, NETLINK_SOCK_DIAG);
    sockaddr_nl target {};
    target.nl_family = AF_NETLINK;
    target.nl_pid = port;
    const bool sent = ::sendto(forger, &forged, sizeof forged, 0, reinterpret_cast<sockaddr*>(&target), sizeof target)
        == static_cast<ssize_t>(sizeof forged);
    ::close(forger);
    if (!sent)
        GTEST_SKIP() << "sending to a netlink port needs CAP_NET_ADMIN";
    ASSERT_EQ(diagnostics.Dump(::getuid(), rows), DumpStatus::Complete);
    EXPECT_TRUE(std::none_of(rows.begin(), rows.end(), [](const SocketRow& row) { return row.inode == 424242; }));
}

TEST(SocketOwners, FindsOwnersOnceAndLooksOnlyForNewSockets)
{
    LoopbackSockets sockets;
    const pid_t self = ::getpid();
    SocketOwners owners(::getuid(), "/proc", {.maxProcesses = 8, .maxTime = 2s});
    std::vector<uint64_t> inodes = {Inode(sockets.listener), Inode(sockets.client), Inode(sockets.udp)};
    owners.Refresh(inodes, std::vector<pid_t> {self});
    for (const uint64_t inode : inodes)
        EXPECT_EQ(owners.Owner(inode), self);
    EXPECT_EQ(owners.counts().looks, 1u);  // the candidate had them all

    // Known sockets: no look into /proc at all.
    const auto before = owners.counts();
    owners.Refresh(inodes, std::vector<pid_t> {self});
    EXPECT_EQ(owners.counts().looks, before.looks);
    EXPECT_EQ(owners.counts().listings, before.listings);

    // A socket of a process started since: found among the new processes,
    // with no candidate given.
    int ready[2], stop[2];
    ASSERT_EQ(::pipe2(ready, O_CLOEXEC), 0);
    ASSERT_EQ(::pipe2(stop, O_CLOEXEC), 0);
    const pid_t child = ::fork();
    if (child == 0) {
        ::close(stop[1]);
        const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
        const uint64_t inode = Inode(fd);
        char byte;
        if (::write(ready[1], &inode, sizeof inode) == sizeof inode)
            (void)::read(stop[0], &byte, 1);
        ::_exit(0);
    }
    uint64_t childInode = 0;
    ASSERT_TRUE(testing_support::WaitReadable(ready[0], 5s));
    ASSERT_EQ(::read(ready[0], &childInode, sizeof childInode), static_cast<ssize_t>(sizeof childInode));
    inodes.push_back(childInode);
    owners.Refresh(inodes, {});
    EXPECT_EQ(owners.Owner(childInode), child);
    EXPECT_EQ(owners.Owner(Inode(sockets.client)), self);
    ::close(stop[1]);
    ::waitpid(child, nullptr, 0);
    for (const int fd : {ready[0], ready[1], stop[0]})
        ::close(fd);

    // A descriptor table longer than a refresh may read is read on where
    // the last refresh stopped, so that its last socket is found.
    SocketOwners bounded(::getuid(), "/proc", {.maxProcesses = 8, .maxDescriptors = 300, .maxTime = 2s});
    std::vector<int> copies;
    for (int i = 0; i < 1000; ++i)
        copies.push_back(::dup(sockets.listener));
    const int last = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    const std::vector<uint64_t> lastOnly = {Inode(last)};
    int rounds = 0;
    for (; rounds < 20 && bounded.Owner(lastOnly[0]) != self; ++rounds)
        bounded.Refresh(lastOnly, std::vector<pid_t> {self});
    EXPECT_EQ(bounded.Owner(lastOnly[0]), self);
    EXPECT_LT(rounds, 20);
    for (const int fd : copies)
        ::close(fd);
    ::close(last);

    // A socket nobody readable holds is given up after one round of the
    // user's processes: then refreshes look no more.
    inodes.back() = 1;
    uint64_t looks = owners.counts().looks;
    int refreshes = 0;
    for (; refreshes < 200; ++refreshes) {
        owners.Refresh(inodes, {});
        if (owners.counts().looks == looks)
            break;
        looks = owners.counts().looks;
    }
    EXPECT_LT(refreshes, 200);
    owners.Refresh(inodes, {});
    EXPECT_EQ(owners.counts().looks, looks);
    EXPECT_EQ(owners.Owner(1), 0);
}

// A day's file written by a hostile program of the user: a line longer than
// a read neither stalls the list nor hides the records after it, and a
// record of the engine never speaks for a program without it (this one):
// only the backstop's does.
TEST(AttackLiveConnections, AHugeLineStallsNothingAndEngineRecordsSpeakOnlyForHookedPrograms)
{
    char folder[] = "/tmp/zel-live-XXXXXX";
    ASSERT_TRUE(::mkdtemp(folder));
    LoopbackSockets sockets;
    const std::string record = "<DATE>1/1/2026</DATE><TIME>10:00:00</TIME><EXEPATH>" + os::processes::OwnExecutablePath()
        + "</EXEPATH><APPLICATION>T</APPLICATION><PROTOCOL>1</PROTOCOL><DIRECTION>1</DIRECTION><IP>127.0.0.2</IP>"
          "<LOCALPORT>0</LOCALPORT><REMOTEPORT>"
        + std::to_string(BoundPort(sockets.listener)) + "</REMOTEPORT><PERMISSION>1</PERMISSION><SERVICE>0</SERVICE>";
    const std::time_t now = std::time(nullptr);
    const std::string day = protocol::TrafficLogFileName(folder, now);
    {
        std::ofstream file(day, std::ios::binary);
        file << std::string(33u << 20, 'x') << "\r\n"
             << record << "<HOST>kernel.example</HOST><BACKSTOP>1</BACKSTOP>\r\n"
             << record << "<HOST>engine.example</HOST><REASON>rule</REASON>\r\n";
    }
    panel::LiveConnections live({.uid = ::getuid(), .logFolder = folder,
                                 .owners = {.maxProcesses = 1u << 20, .maxDescriptors = 1u << 24, .maxTime = 5s}});
    std::vector<panel::LiveConnection> rows;
    const panel::LiveConnection* client = nullptr;
    for (int refresh = 0; refresh < 3 && !(client && !client->decidedBy.empty()); ++refresh) {
        ASSERT_EQ(live.Refresh(std::chrono::steady_clock::now(), now, rows), DumpStatus::Complete);
        const auto found = std::find_if(rows.begin(), rows.end(), [&](const auto& row) { return row.inode == Inode(sockets.client); });
        client = found == rows.end() ? nullptr : &*found;
    }
    ASSERT_TRUE(client);
    EXPECT_EQ(client->pid, ::getpid());
    EXPECT_FALSE(client->hooked);
    EXPECT_EQ(client->direction, panel::LiveDirection::Out);
    EXPECT_EQ(client->decidedBy, "backstop");
    EXPECT_EQ(client->host, "kernel.example");
    // Ending names a socket by its process and inode: another inode of the
    // process, or one it does not hold, ends nothing.
    EXPECT_EQ(EndSocket("/proc", ::getpid(), Inode(sockets.udp) + 1000000), ESRCH);
    EXPECT_EQ(::send(sockets.client, "x", 1, MSG_NOSIGNAL), 1);
    EXPECT_EQ(EndSocket("/proc", ::getpid(), Inode(sockets.accepted)), 0);
    char byte;
    ASSERT_TRUE(testing_support::WaitReadable(sockets.client, 2s));
    EXPECT_EQ(::recv(sockets.client, &byte, 1, MSG_DONTWAIT), 0);
    std::filesystem::remove_all(folder);
}
