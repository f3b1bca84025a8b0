#include "panel/core/LiveConnections.h"

#include "os/Processes.h"
#include "protocol/CarrierRegistry.h"
#include "protocol/LogFiles.h"
#include "protocol/RecordWords.h"
#include "rules/ScriptProgram.h"
#include "text/Strings.h"

#include <algorithm>
#include <cstring>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <unordered_set>

namespace panel {

namespace {

using os::sockdiag::Protocol;
using os::sockdiag::SocketRow;

// A day's records read in one refresh at the most: the rest waits for the
// next, so that a huge file never stalls the list.
constexpr size_t kRecordsPerRead = 32u << 20;
// Decisions kept of a day: beyond, the oldest are forgotten with the rest.
constexpr size_t kMostDecisions = 400000;

const char* StateWord(const SocketRow& socket)
{
    if (socket.protocol == Protocol::Udp)
        return socket.state == TCP_ESTABLISHED ? "connected" : "open";
    switch (socket.state) {
    case TCP_ESTABLISHED: return "established";
    case TCP_SYN_SENT: return "syn-sent";
    case TCP_SYN_RECV: return "syn-received";
    case TCP_FIN_WAIT1: return "fin-wait-1";
    case TCP_FIN_WAIT2: return "fin-wait-2";
    case TCP_TIME_WAIT: return "time-wait";
    case TCP_CLOSE: return "closed";
    case TCP_CLOSE_WAIT: return "close-wait";
    case TCP_LAST_ACK: return "last-ack";
    case TCP_LISTEN: return "listen";
    case TCP_CLOSING: return "closing";
    default: return "unknown";
    }
}

bool Unspecified(const std::array<uint8_t, 16>& address)
{
    return std::all_of(address.begin(), address.end(), [](uint8_t byte) { return byte == 0; });
}

// A v4 peer of a v6 socket (::ffff:a.b.c.d) as the records write it: a.b.c.d.
std::string Address(uint8_t family, const std::array<uint8_t, 16>& address)
{
    static constexpr uint8_t kMapped[12] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xff, 0xff};
    if (family == AF_INET6 && std::memcmp(address.data(), kMapped, sizeof kMapped) == 0) {
        std::array<uint8_t, 16> v4 {};
        std::copy(address.begin() + 12, address.end(), v4.begin());
        return os::sockdiag::AddressText(AF_INET, v4);
    }
    return os::sockdiag::AddressText(family, address);
}

// other: the connection's other port ("" or "0" when the record does not
// know it: a connection out whose own port was not chosen yet).
std::string DecisionKey(std::string_view path, bool tcp, std::string_view peer, std::string_view port,
                        std::string_view other)
{
    std::string key;
    key.reserve(path.size() + peer.size() + port.size() + other.size() + 5);
    key.append(path).append(1, '\x1f').append(1, tcp ? 'T' : 'U').append(peer).append(1, '\x1f').append(port);
    if (!other.empty() && other != "0")
        key.append(1, '\x1f').append(other);
    return key;
}

}  // namespace

const char* DirectionWord(LiveDirection direction)
{
    switch (direction) {
    case LiveDirection::Out: return "out";
    case LiveDirection::In: return "in";
    case LiveDirection::Listening: return "listening";
    }
    return "out";
}

LiveConnections::LiveConnections(Options options)
    : options_(std::move(options)), diagnostics_(options_.sockets),
      owners_(options_.uid, options_.procRoot, options_.owners), records_(kRecordsPerRead)
{
}

void LiveConnections::ReadRecords(std::time_t wallNow)
{
    const TrafficLogTail::Appended appended = records_.ReadOn(options_.logFolder, wallNow);
    if (appended.restarted)  // a new day, or a file cut or replaced: its own decisions
        decisions_.clear();
    text::ForEachLine(appended.lines, [this](std::string_view line) {
        const auto entry = protocol::ParseLogLine(line);
        if (!entry || entry->kind != protocol::LogEntry::Kind::kConnection)
            return;
        const bool incoming = entry->direction == "0";
        const bool backstop = std::any_of(entry->others.begin(), entry->others.end(), [](const auto& field) {
            return field.first == protocol::record_tag::kBackstop;
        });
        const Decision decision {entry->host, entry->reason.empty() && backstop ? "backstop" : entry->reason};
        if (decisions_.size() >= kMostDecisions)
            decisions_.clear();
        const std::string& port = incoming ? entry->localPort : entry->remotePort;
        const std::string& other = incoming ? entry->remotePort : entry->localPort;
        const bool tcp = entry->protocol == "1";
        // Under the whole connection where the record knows it, and under its
        // program, peer and port for a connection whose own port it does not.
        for (const std::string_view also : {std::string_view(other), std::string_view()}) {
            Decisions& decisions = decisions_[DecisionKey(entry->exePath, tcp, entry->ip, port, also)];
            (backstop ? decisions.backstop : decisions.hook) = decision;
            if (also.empty() || also == "0")
                break;
        }
    });
}

const LiveConnections::Decision* LiveConnections::DecisionOf(const LiveConnection& connection) const
{
    if (connection.path.empty() || connection.peer.empty())
        return nullptr;
    const std::string port = std::to_string(connection.RecordPort());
    const std::string other
        = std::to_string(connection.direction == LiveDirection::Out ? connection.localPort : connection.peerPort);
    for (const std::string_view also : {std::string_view(other), std::string_view()}) {
        const auto found = decisions_.find(DecisionKey(connection.path, connection.tcp, connection.peer, port, also));
        if (found == decisions_.end())
            continue;
        // A program without the engine was decided by the backstop alone; a
        // copy of it under the engine, by the engine.
        const std::optional<Decision>& decision = connection.hooked ? found->second.hook : found->second.backstop;
        if (decision)
            return &*decision;
    }
    return nullptr;
}

os::sockdiag::DumpStatus LiveConnections::Refresh(std::chrono::steady_clock::time_point now, std::time_t wallNow,
                                                  std::vector<LiveConnection>& rows)
{
    rows.clear();
    const os::sockdiag::DumpStatus status = diagnostics_.Dump(options_.uid, sockets_);
    if (status == os::sockdiag::DumpStatus::Failed)
        return status;

    std::vector<uint64_t> inodes;
    inodes.reserve(sockets_.size());
    // A connection whose own port a TCP listener of the user holds came in;
    // the listener may have closed since, which leaves it looking outgoing.
    std::unordered_set<uint16_t> listening;
    for (const SocketRow& socket : sockets_) {
        inodes.push_back(socket.inode);
        if (socket.protocol == Protocol::Tcp && socket.state == TCP_LISTEN)
            listening.insert(socket.localPort);
    }
    owners_.Refresh(inodes, {});
    ReadRecords(wallNow);
    hooked_.clear();
    for (const protocol::carriers::CarrierRecord& carrier : protocol::carriers::ListCarriers())
        if (carrier.alive)
            hooked_.insert(carrier.pid);

    ++refreshes_;
    std::unordered_map<pid_t, std::string> paths;
    rows.reserve(sockets_.size());
    for (const SocketRow& socket : sockets_) {
        LiveConnection row;
        row.inode = socket.inode;
        row.pid = owners_.Owner(socket.inode);
        if (row.pid != 0) {
            auto [path, added] = paths.try_emplace(row.pid);
            if (added) {
                // Named as the engine names it: a script by the script.
                const std::string exe = os::processes::ExecutablePath(options_.procRoot, row.pid);
                rules::ScriptProgram script = rules::ScriptProgramOfProcess(options_.procRoot, row.pid, exe);
                path->second = script.path.empty() ? exe : std::move(script.path);
            }
            row.path = path->second;
        }
        row.hooked = row.pid != 0 && hooked_.count(row.pid);
        row.tcp = socket.protocol == Protocol::Tcp;
        row.state = StateWord(socket);
        row.local = Address(socket.family, socket.localAddress);
        row.localPort = socket.localPort;
        const bool unconnected = row.tcp ? socket.state == TCP_LISTEN : socket.state != TCP_ESTABLISHED;
        if (unconnected || Unspecified(socket.remoteAddress)) {
            row.direction = LiveDirection::Listening;
        } else {
            row.peer = Address(socket.family, socket.remoteAddress);
            row.peerPort = socket.remotePort;
            row.direction = row.tcp && listening.count(socket.localPort) ? LiveDirection::In : LiveDirection::Out;
        }
        row.bytesSent = socket.bytesSent;
        row.bytesReceived = socket.bytesReceived;
        if (const Decision* decision = DecisionOf(row)) {
            row.host = decision->host;
            row.decidedBy = decision->decidedBy;
        }
        Seen& seen = seen_.try_emplace(socket.inode, Seen {now, now, row.bytesSent.value_or(0),
                                                           row.bytesReceived.value_or(0), refreshes_})
                         .first->second;
        const double seconds = std::chrono::duration<double>(now - seen.last).count();
        if (seconds > 0) {
            const auto rate = [seconds](uint64_t bytes, uint64_t before) {
                return bytes >= before ? static_cast<double>(bytes - before) / seconds : 0.0;
            };
            row.sentPerSecond = rate(row.bytesSent.value_or(0), seen.sent);
            row.receivedPerSecond = rate(row.bytesReceived.value_or(0), seen.received);
        }
        row.age = std::chrono::duration_cast<std::chrono::seconds>(now - seen.first);
        seen.last = now;
        seen.sent = row.bytesSent.value_or(0);
        seen.received = row.bytesReceived.value_or(0);
        seen.refresh = refreshes_;
        rows.push_back(std::move(row));
    }
    // Sockets closed since are forgotten; an inode used again is new.
    std::erase_if(seen_, [this](const auto& entry) { return entry.second.refresh != refreshes_; });
    return status;
}

}  // namespace panel
