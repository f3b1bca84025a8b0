#pragma once

#include "text/Strings.h"

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

// The fields every such decision has, in this order: direction, protocol,
// address, remote port, local port, host, decision.
inline constexpr int kPeerFields = 7;

template <typename Decision>
void AddPeerFields(std::string& line, const Decision& decision)
{
    AddField(line, decision.outgoing ? "out" : "in");
    AddField(line, decision.protocol == 2 ? "UDP" : "TCP");
    AddField(line, decision.address);
    AddField(line, std::to_string(decision.remotePort));
    AddField(line, std::to_string(decision.localPort));
    AddField(line, decision.host);
    AddField(line, decision.permitted ? "allowed" : "blocked");
}

// false when the fields do not read (an empty address does not).
template <typename Decision>
bool ParsePeerFields(const std::string_view* fields, Decision& decision)
{
    if ((fields[0] != "out" && fields[0] != "in") || (fields[1] != "TCP" && fields[1] != "UDP") || fields[2].empty()
        || !IsNumber(fields[3]) || !IsNumber(fields[4]) || (fields[6] != "allowed" && fields[6] != "blocked"))
        return false;
    decision.outgoing = fields[0] == "out";
    decision.protocol = fields[1] == "UDP" ? 2 : 1;
    decision.address = text::UnescapeLine(fields[2]);
    decision.remotePort = static_cast<unsigned>(text::ParseDecimal(fields[3]) & 0xFFFF);
    decision.localPort = static_cast<unsigned>(text::ParseDecimal(fields[4]) & 0xFFFF);
    decision.host = text::UnescapeLine(fields[5]);
    decision.permitted = fields[6] == "allowed";
    return true;
}

}  // namespace protocol::decision_list
