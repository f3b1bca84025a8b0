#pragma once

#include "protocol/RecordTime.h"

#include <cstdint>
#include <ctime>
#include <optional>
#include <string>
#include <string_view>

namespace logstore {

// One connection record of a daily traffic log as the index keeps it: the
// texts with their escapes undone (once: "&amp;lt;" stays "&lt;"), the
// words made numbers as the log views read them.
struct RecordRow {
    std::time_t t = 0;
    bool dated = false;  // DATE and TIME were read; else the file's day stands in
    int dir = 0;         // 0 incoming, 1 outgoing (what is not "0" goes out, as the views read it)
    int perm = 0;        // 1 permitted, 0 denied, 2 anything else (an unanswered Ask: not let through)
    int proto = 0;       // 1 TCP, 0 UDP
    bool service = false;
    bool backstop = false;
    std::string exePath;
    std::string app;
    std::string ip;
    std::optional<int> localPort;  // none when missing or not a port
    std::optional<int> remotePort;
    std::string host;    // empty: the program did not look the peer up
    std::string reason;  // empty in records of older engines
    std::string list;    // the host list that refused it; empty when none
};

// Reads the lines of one day's file in turn: each record's DATE and TIME
// are read against the file's day (see protocol::RecordTimeReader).
class RecordParser {
public:
    explicit RecordParser(const protocol::CalendarDay& fileDay) : times_(fileDay) {}

    // The row of one line (its "\r\n" may be there or not); nullopt for a
    // line that is no whole connection record: a program's start or end, a
    // blanked-out or cut line, one without its date, time, application,
    // protocol or address (the log views leave those out too). Tags are
    // found only where the writer puts them, in turn, so that a tag's text
    // escaped inside a value ("&lt;/IP&gt;&lt;IP&gt;" in a path) is never
    // taken for one.
    std::optional<RecordRow> Parse(std::string_view line);

private:
    protocol::RecordTimeReader times_;
};

}  // namespace logstore
