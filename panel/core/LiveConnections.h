#pragma once

#include "os/SockDiag.h"
#include "os/SocketOwners.h"
#include "panel/core/TrafficLogTail.h"

#include <chrono>
#include <cstdint>
#include <ctime>
#include <optional>
#include <string>
#include <sys/types.h>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace panel {

// The user's open connections now: every TCP and UDP socket of the user's
// programs, hooked or not, from the kernel's socket list, with the program
// holding it, the bytes it moved and what today's records say decided it.

enum class LiveDirection { Out, In, Listening };

struct LiveConnection {
    uint64_t inode = 0;
    pid_t pid = 0;     // 0 while its owner is not known
    std::string path;  // the program as the rules name it (a script by its file); empty while not known
    bool tcp = true;
    LiveDirection direction = LiveDirection::Out;
    // The kernel's state in words: "established", "listen", "syn-sent", ...;
    // a UDP socket is "connected" or "open".
    std::string state;
    std::string local;  // the socket's own address
    uint16_t localPort = 0;
    std::string peer;  // empty while it has none (listening)
    uint16_t peerPort = 0;
    // The program has the firewall's engine loaded (the hook decides its
    // connections); else only the kernel backstop can have decided.
    bool hooked = false;
    // From today's records of the program by the one that decides it: the
    // name it looked the peer up as, and why it was let through (a REASON
    // word, "backstop", or empty when no record tells).
    std::string host;
    std::string decidedBy;
    std::optional<uint64_t> bytesSent;  // TCP only
    std::optional<uint64_t> bytesReceived;
    double sentPerSecond = 0;  // since the previous refresh; 0 at the first
    double receivedPerSecond = 0;
    std::chrono::seconds age {};  // since this list first saw it

    // The port the records name: the peer's for a connection out, the own
    // one otherwise.
    uint16_t RecordPort() const { return direction == LiveDirection::Out ? peerPort : localPort; }
};

class LiveConnections {
public:
    struct Options {
        uid_t uid = 0;
        std::string logFolder;  // of today's records; empty: none read
        std::string procRoot = "/proc";
        os::sockdiag::SocketOwners::Limits owners {};
        os::sockdiag::SocketDiagnostics::Limits sockets {};
    };

    explicit LiveConnections(Options options);

    // The connections now, into rows: all of them (Complete), or what the
    // kernel's list gave before it failed (Error() says why), ran out of
    // time or held more sockets than Options::sockets allows.
    os::sockdiag::DumpStatus Refresh(std::chrono::steady_clock::time_point now, std::time_t wallNow,
                                     std::vector<LiveConnection>& rows);
    int Error() const { return diagnostics_.Error(); }

private:
    struct Decision {
        std::string host;
        std::string decidedBy;
    };
    // The latest record of the engine and of the backstop for a program,
    // protocol, peer, port (and, where the record has it, the other port).
    struct Decisions {
        std::optional<Decision> hook;
        std::optional<Decision> backstop;
    };
    struct Seen {
        std::chrono::steady_clock::time_point first;
        std::chrono::steady_clock::time_point last;
        uint64_t sent = 0;
        uint64_t received = 0;
        uint32_t refresh = 0;
    };
    void ReadRecords(std::time_t wallNow);
    const Decision* DecisionOf(const LiveConnection& connection) const;

    Options options_;
    os::sockdiag::SocketDiagnostics diagnostics_;
    os::sockdiag::SocketOwners owners_;
    std::vector<os::sockdiag::SocketRow> sockets_;  // kept: a refresh at the same size allocates nothing
    std::unordered_map<uint64_t, Seen> seen_;        // by inode
    std::unordered_set<pid_t> hooked_;              // the engine's carriers at this refresh
    uint32_t refreshes_ = 0;
    // Today's records, read on from where the last refresh stopped: the
    // latest decision by program, protocol, peer and port.
    TrafficLogTail records_;
    std::unordered_map<std::string, Decisions> decisions_;
};

// The direction and the state as zel-log and the panel write them: "out",
// "in", "listening"; a socket state's word.
const char* DirectionWord(LiveDirection direction);

}  // namespace panel
