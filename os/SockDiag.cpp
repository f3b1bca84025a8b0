#include "os/SockDiag.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <linux/inet_diag.h>
#include <linux/netlink.h>
#include <linux/sock_diag.h>
#include <linux/tcp.h>
#include <netinet/in.h>
#include <string_view>
#include <sys/syscall.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

namespace os::sockdiag {

namespace {

// Room for the largest datagram the kernel sends for a dump (it fills up to
// 32 KiB): a bigger one arrives cut (MSG_TRUNC) and fails the dump.
constexpr size_t kBufferSize = 64 * 1024;

// TIME_WAIT sockets (6) and a listener's half-open connections (the
// kernel's TCP_NEW_SYN_RECV, 12) belong to nobody: no inode, no uid of a
// program. (<netinet/tcp.h>, which names the states, clashes with
// <linux/tcp.h>.)
constexpr uint32_t kTcpStates = ~((1u << 6) | (1u << 12));

constexpr size_t kBytesReceivedEnd = offsetof(tcp_info, tcpi_bytes_received) + sizeof(uint64_t);
constexpr size_t kBytesRetransmittedEnd = offsetof(tcp_info, tcpi_bytes_retrans) + sizeof(uint64_t);

// States in which the peer's FIN has been taken (a TIME_WAIT socket is not listed).
bool FinReceived(uint8_t state) { return state == 8 || state == 9 || state == 11; }  // CLOSE_WAIT, LAST_ACK, CLOSING

uint64_t ReadU64(const unsigned char* at)
{
    uint64_t value;
    std::memcpy(&value, at, sizeof value);
    return value;
}

}  // namespace

std::string AddressText(uint8_t family, const std::array<uint8_t, 16>& address)
{
    char text[INET6_ADDRSTRLEN] = {};
    if (!::inet_ntop(family, address.data(), text, sizeof text))
        return {};
    return text;
}

SocketDiagnostics::SocketDiagnostics(Limits limits) : limits_(limits), buffer_(kBufferSize) {}

SocketDiagnostics::~SocketDiagnostics() { Close(); }

void SocketDiagnostics::Close()
{
    if (socket_ >= 0)
        ::close(socket_);
    socket_ = -1;
}

DumpStatus SocketDiagnostics::Dump(std::optional<uid_t> uid, std::vector<SocketRow>& rows)
{
    rows.clear();
    error_ = 0;
    if (socket_ < 0) {
        socket_ = ::socket(AF_NETLINK, SOCK_DGRAM | SOCK_CLOEXEC, NETLINK_SOCK_DIAG);
        if (socket_ < 0) {
            error_ = errno;
            return DumpStatus::Failed;
        }
    }
    const auto deadline = std::chrono::steady_clock::now() + limits_.timeout;
    for (const Protocol protocol : {Protocol::Tcp, Protocol::Udp}) {
        for (const uint8_t family : {uint8_t {AF_INET}, uint8_t {AF_INET6}}) {
            const Step step = DumpOne(family, protocol, uid, rows, deadline);
            if (step == Step::Done)
                continue;
            // The rest of a dump left unread would come before the next
            // answer: start again on a new socket.
            Close();
            if (step == Step::Full)
                return DumpStatus::Truncated;
            return error_ == EAGAIN || error_ == EWOULDBLOCK ? DumpStatus::TimedOut : DumpStatus::Failed;
        }
    }
    return DumpStatus::Complete;
}

SocketDiagnostics::Step SocketDiagnostics::DumpOne(uint8_t family, Protocol protocol, std::optional<uid_t> uid,
    std::vector<SocketRow>& rows, std::chrono::steady_clock::time_point deadline)
{
    const auto left = std::chrono::duration_cast<std::chrono::microseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) {
        error_ = EAGAIN;
        return Step::Failed;
    }
    const timeval wait {static_cast<time_t>(left.count() / 1000000), static_cast<suseconds_t>(left.count() % 1000000)};
    if (::setsockopt(socket_, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait) != 0) {
        error_ = errno;
        return Step::Failed;
    }

    struct {
        nlmsghdr header;
        inet_diag_req_v2 request;
    } message {};
    message.header.nlmsg_len = sizeof message;
    message.header.nlmsg_type = SOCK_DIAG_BY_FAMILY;
    message.header.nlmsg_flags = NLM_F_REQUEST | NLM_F_DUMP;
    message.header.nlmsg_seq = ++sequence_;
    message.request.sdiag_family = family;
    message.request.sdiag_protocol = protocol == Protocol::Tcp ? IPPROTO_TCP : IPPROTO_UDP;
    message.request.idiag_states = protocol == Protocol::Tcp ? kTcpStates : ~0u;
    if (protocol == Protocol::Tcp)
        message.request.idiag_ext = 1 << (INET_DIAG_INFO - 1);
    sockaddr_nl kernel {};
    kernel.nl_family = AF_NETLINK;
    if (::sendto(socket_, &message, sizeof message, 0, reinterpret_cast<sockaddr*>(&kernel), sizeof kernel)
        != static_cast<ssize_t>(sizeof message)) {
        error_ = errno;
        return Step::Failed;
    }
    for (;;) {
        const Step step = ReadAnswer(message.header.nlmsg_seq, uid, protocol, rows);
        if (step != Step::More)
            return step;
        if (std::chrono::steady_clock::now() >= deadline) {
            error_ = EAGAIN;
            return Step::Failed;
        }
    }
}

SocketDiagnostics::Step SocketDiagnostics::ReadAnswer(
    uint32_t sequence, std::optional<uid_t> uid, Protocol protocol, std::vector<SocketRow>& rows)
{
    sockaddr_nl sender {};
    iovec part {buffer_.data(), buffer_.size()};
    msghdr datagram {};
    datagram.msg_name = &sender;
    datagram.msg_namelen = sizeof sender;
    datagram.msg_iov = &part;
    datagram.msg_iovlen = 1;
    ssize_t length;
    do
        length = ::recvmsg(socket_, &datagram, 0);
    while (length < 0 && errno == EINTR);
    if (length < 0) {
        error_ = errno;
        return Step::Failed;
    }
    if ((datagram.msg_flags & MSG_TRUNC) || length == 0) {
        error_ = EMSGSIZE;
        return Step::Failed;
    }
    // Only the kernel speaks for the kernel: another program (one with
    // CAP_NET_ADMIN may send to any netlink port) could otherwise make up
    // sockets and their bytes. Its datagrams are passed over.
    if (sender.nl_pid != 0)
        return Step::More;
    int left = static_cast<int>(length);
    for (auto* header = reinterpret_cast<nlmsghdr*>(buffer_.data()); NLMSG_OK(header, left);
         header = NLMSG_NEXT(header, left)) {
        if (header->nlmsg_seq != sequence)
            continue;  // the end of an answer given up on
        if (header->nlmsg_type == NLMSG_DONE)
            return Step::Done;
        if (header->nlmsg_type == NLMSG_ERROR) {
            const auto* failure = static_cast<const nlmsgerr*>(NLMSG_DATA(header));
            error_ = header->nlmsg_len >= NLMSG_LENGTH(sizeof(nlmsgerr)) && failure->error ? -failure->error : EPROTO;
            return Step::Failed;
        }
        if (header->nlmsg_type != SOCK_DIAG_BY_FAMILY || header->nlmsg_len < NLMSG_LENGTH(sizeof(inet_diag_msg)))
            continue;
        const auto* socketMessage = static_cast<const inet_diag_msg*>(NLMSG_DATA(header));
        if ((uid && socketMessage->idiag_uid != *uid) || socketMessage->idiag_inode == 0)
            continue;
        if (rows.size() >= limits_.maxSockets)
            return Step::Full;
        SocketRow& row = rows.emplace_back();
        row.family = socketMessage->idiag_family;
        row.protocol = protocol;
        row.state = socketMessage->idiag_state;
        row.localPort = ntohs(socketMessage->id.idiag_sport);
        row.remotePort = ntohs(socketMessage->id.idiag_dport);
        row.uid = socketMessage->idiag_uid;
        row.inode = socketMessage->idiag_inode;
        const size_t addressSize = row.family == AF_INET ? 4 : 16;
        std::memcpy(row.localAddress.data(), socketMessage->id.idiag_src, addressSize);
        std::memcpy(row.remoteAddress.data(), socketMessage->id.idiag_dst, addressSize);
        if (protocol != Protocol::Tcp)
            continue;
        int attributesLeft = static_cast<int>(header->nlmsg_len - NLMSG_LENGTH(sizeof(inet_diag_msg)));
        for (auto* attribute = reinterpret_cast<const nlattr*>(socketMessage + 1);
             attributesLeft >= static_cast<int>(sizeof(nlattr)) && attribute->nla_len >= sizeof(nlattr)
             && attribute->nla_len <= attributesLeft;
             attributesLeft -= NLA_ALIGN(attribute->nla_len),
                         attribute = reinterpret_cast<const nlattr*>(
                             reinterpret_cast<const unsigned char*>(attribute) + NLA_ALIGN(attribute->nla_len))) {
            if ((attribute->nla_type & NLA_TYPE_MASK) != INET_DIAG_INFO
                || attribute->nla_len < NLA_HDRLEN + kBytesReceivedEnd)
                continue;  // an older kernel's tcp_info ends before the byte counts
            // The counters run over sequence numbers, which the SYN of a
            // connection made and a FIN take one each. Bytes sent once
            // (tcpi_bytes_sent less those sent again; kernels since 4.19)
            // bound the acknowledged ones from above and leave the two out
            // once everything is acknowledged.
            const auto* info = reinterpret_cast<const unsigned char*>(attribute) + NLA_HDRLEN;
            uint64_t sent = ReadU64(info + offsetof(tcp_info, tcpi_bytes_acked));
            if (attribute->nla_len >= NLA_HDRLEN + kBytesRetransmittedEnd) {
                const uint64_t onWire = ReadU64(info + offsetof(tcp_info, tcpi_bytes_sent));
                const uint64_t again = ReadU64(info + offsetof(tcp_info, tcpi_bytes_retrans));
                sent = std::min(sent, onWire - std::min(onWire, again));
            }
            const uint64_t received = ReadU64(info + offsetof(tcp_info, tcpi_bytes_received));
            row.bytesSent = sent;
            row.bytesReceived = received - (received > 0 && FinReceived(row.state) ? 1 : 0);
        }
    }
    return Step::More;
}

namespace {

// By number: Debian 12's <sys/pidfd.h> declares them without C linkage.
int PidfdOpen(pid_t pid) { return static_cast<int>(::syscall(SYS_pidfd_open, pid, 0)); }
int PidfdGetfd(int process, int descriptor) { return static_cast<int>(::syscall(SYS_pidfd_getfd, process, descriptor, 0)); }

}  // namespace

int EndSocket(const std::string& procRoot, pid_t pid, uint64_t inode)
{
    // The process is pinned first: a number used again by another process
    // after this has no descriptor of ours to give.
    const int process = PidfdOpen(pid);
    if (process < 0)
        return errno;
    const std::string folder = procRoot + "/" + std::to_string(pid) + "/fd";
    DIR* descriptors = ::opendir(folder.c_str());
    if (!descriptors) {
        const int error = errno == ENOENT ? ESRCH : errno;
        ::close(process);
        return error;
    }
    const std::string wanted = "socket:[" + std::to_string(inode) + "]";
    int result = ESRCH;
    while (const dirent* entry = ::readdir(descriptors)) {
        char target[64];
        const ssize_t length = ::readlinkat(::dirfd(descriptors), entry->d_name, target, sizeof target);
        if (length <= 0 || std::string_view(target, static_cast<size_t>(length)) != wanted)
            continue;
        char* end = nullptr;
        const long number = std::strtol(entry->d_name, &end, 10);
        const int borrowed = *end == '\0' ? PidfdGetfd(process, static_cast<int>(number)) : -1;
        if (borrowed < 0) {
            result = errno;
            break;
        }
        // The descriptor may have been closed and its number given to
        // another file since the folder was read: only that socket ends.
        struct stat info {};
        result = ::fstat(borrowed, &info) == 0 && S_ISSOCK(info.st_mode) && info.st_ino == inode
            ? (::shutdown(borrowed, SHUT_RDWR) == 0 || errno == ENOTCONN ? 0 : errno)
            : ESRCH;
        ::close(borrowed);
        break;
    }
    ::closedir(descriptors);
    ::close(process);
    return result;
}

}  // namespace os::sockdiag
