#pragma once

#include "protocol/LogFiles.h"

#include <string>
#include <string_view>

// A record of the traffic log as an entry of the systemd journal, in the
// journal's native protocol: one datagram of fields, "NAME=value\n", or for
// a value with a line break in it, "NAME\n", its length as 64 bits (little
// endian) and the value's bytes, then "\n". Values are passed on byte for
// byte, whatever they hold (line breaks, "=", text that is not UTF-8).
//
// Fields: MESSAGE (a line for people), PRIORITY (5 for a denied
// connection, else 6), SYSLOG_IDENTIFIER=tessary, MESSAGE_ID (one per kind
// of record), and ZEL_EVENT, ZEL_PROGRAM, ZEL_PATH, ZEL_PEER, ZEL_PORT,
// ZEL_LOCAL_PORT, ZEL_DIRECTION, ZEL_PROTOCOL, ZEL_VERDICT, ZEL_SERVICE,
// ZEL_HOST (when the record has a name), ZEL_REASON (when it says why) and
// ZEL_<TAG> for any further field a writer added.
namespace zelconn::journal_entry {

inline constexpr const char* kIdentifier = "tessary";
inline constexpr const char* kConnectionMessageId = "bd72882f0da74914bcbc97b529673f82";
inline constexpr const char* kProgramMessageId = "955075b793734d20a8214832791c0af4";

// Appends one field to a datagram.
void AppendField(std::string& datagram, std::string_view name, std::string_view value);

// The whole datagram of one record.
std::string Format(const protocol::LogEntry& record);

}  // namespace zelconn::journal_entry
