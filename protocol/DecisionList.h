#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

// What the lists of decisions taken without a question (the away list, the
// review list) share: a file of tab-separated lines, appended by the engines
// of many programs and rewritten by one reader, each under a lock of the
// file, so that lines never interleave and none appended is lost to a
// rewrite. A rewrite replaces the file whole (a crash leaves the old or the
// new list); an appender that waited on the replaced file takes the lock of
// the new one instead.
namespace protocol::decision_list {

struct Limits {
    size_t maxBytes = 0;      // past this nothing more is appended
    bool privateFile = false; // refuse a file that is not this user's or others may write
    bool durable = false;     // a rewrite forced to the disk (not for the runtime folder)
};

// Adds the line (ending in '\n') at the end; false when it could not be
// written or the list is full.
bool Append(const std::string& path, std::string_view line, const Limits& limits);
// The list's text under its lock, at most 4 * maxBytes; nullopt when there
// is no list or it cannot be read.
std::optional<std::string> Read(const std::string& path, const Limits& limits);
// Replaces the list by what keep makes of its text, under its lock; true
// when there is no list.
bool Rewrite(const std::string& path, const Limits& limits, const std::function<std::string(const std::string&)>& keep);

// Fields of one line: true when it has exactly count of them.
bool SplitFields(std::string_view line, std::string_view* fields, int count);
// A field appended after a tab, escaped so that it stays in its line.
void AddField(std::string& line, std::string_view field);
// Up to 19 decimal digits.
bool IsNumber(std::string_view text);

// The peer and the answer every such decision has; written in this order:
// direction, protocol, address, remote port, local port, host, decision.
struct Peer {
    bool outgoing = true;
    int protocol = 1; // 1 TCP, 2 UDP, as the rules and the log count them
    std::string address;
    unsigned remotePort = 0;
    unsigned localPort = 0;
    std::string host; // the name the program knew the peer by; empty: none
    bool permitted = false;

    bool operator==(const Peer&) const = default;
};
inline constexpr int kPeerFields = 7;

void AddPeerFields(std::string& line, const Peer& peer);
// false when the fields do not read (an empty address does not).
bool ParsePeerFields(const std::string_view* fields, Peer& peer);

}  // namespace protocol::decision_list
