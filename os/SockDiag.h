#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

// The kernel's list of open TCP and UDP sockets (netlink sock_diag), with the
// bytes a TCP connection moved. One dump per family and protocol; nothing is
// read from /proc and no process's descriptors are looked at.
namespace os::sockdiag {

enum class Protocol : uint8_t { Tcp, Udp };

struct SocketRow {
    uint8_t family = 0;  // AF_INET or AF_INET6
    Protocol protocol = Protocol::Tcp;
    // The kernel's TCP state (TCP_ESTABLISHED, TCP_LISTEN, ... of
    // <netinet/tcp.h>); a UDP socket is TCP_ESTABLISHED once connected,
    // TCP_CLOSE otherwise.
    uint8_t state = 0;
    uint16_t localPort = 0;  // host order
    uint16_t remotePort = 0;
    uid_t uid = 0;
    uint64_t inode = 0;  // st_ino of the socket in its owners' descriptor tables
    // Network order: the first 4 bytes for AF_INET, all 16 for AF_INET6.
    std::array<uint8_t, 16> localAddress {};
    std::array<uint8_t, 16> remoteAddress {};
    // TCP only: the data acknowledged by the peer and received from it
    // (tcp_info's tcpi_bytes_acked and tcpi_bytes_received, less the SYN
    // and FIN they count); UDP keeps no count.
    std::optional<uint64_t> bytesSent;
    std::optional<uint64_t> bytesReceived;
};

// The address as inet_ntop writes it.
std::string AddressText(uint8_t family, const std::array<uint8_t, 16>& address);

enum class DumpStatus {
    Complete,
    Truncated,  // more sockets than maxSockets: the rows are the first ones
    TimedOut,   // the kernel did not answer within the timeout: the rows so far
    Failed,     // no netlink socket, or the kernel refused: see Error()
};

class SocketDiagnostics {
public:
    struct Limits {
        size_t maxSockets = 200000;
        // For the four dumps together.
        std::chrono::milliseconds timeout {500};
    };

    explicit SocketDiagnostics(Limits limits);
    SocketDiagnostics() : SocketDiagnostics(Limits {}) {}
    ~SocketDiagnostics();
    SocketDiagnostics(const SocketDiagnostics&) = delete;
    SocketDiagnostics& operator=(const SocketDiagnostics&) = delete;

    // Replaces rows by the TCP and UDP sockets, v4 and v6, of uid (of every
    // user without one). TCP sockets in TIME_WAIT or still in the handshake
    // of a listener have no owner and no inode, and are left out. The
    // kernel's request has no way to select by uid (inet_diag_req_v2 has no
    // such field and its bytecode filter compares addresses, ports, devices,
    // marks and cgroups only), so the uid is compared here. rows keeps its
    // capacity: a refresh at the same size allocates nothing.
    DumpStatus Dump(std::optional<uid_t> uid, std::vector<SocketRow>& rows);

    // The errno of the last Failed or TimedOut dump.
    int Error() const { return error_; }

private:
    enum class Step { More, Done, Full, Failed };
    Step DumpOne(uint8_t family, Protocol protocol, std::optional<uid_t> uid, std::vector<SocketRow>& rows,
        std::chrono::steady_clock::time_point deadline);
    Step ReadAnswer(uint32_t sequence, std::optional<uid_t> uid, Protocol protocol, std::vector<SocketRow>& rows);
    void Close();

    Limits limits_;
    int socket_ = -1;
    int error_ = 0;
    uint32_t sequence_ = 0;
    std::vector<unsigned char> buffer_;  // one receive buffer, kept
};

// Ends a connection of another process of the caller's user at once: the
// socket with inode, held by pid, is shut down both ways (the program sees
// it end as if the peer had gone). The process's descriptor is borrowed
// with pidfd_getfd, which the kernel allows only where the caller may trace
// the process (same user; the Yama setting may narrow that). 0, or the
// errno: ESRCH when the process or the socket is gone, EPERM when the
// kernel does not allow it.
int EndSocket(const std::string& procRoot, pid_t pid, uint64_t inode);

}  // namespace os::sockdiag
