#pragma once

#include "protocol/LogFiles.h"
#include "protocol/RecordTime.h"

#include <span>
#include <string>
#include <string_view>

namespace tools::zel_log {

// A connection's record on standard output: a row of the table or a JSON
// line. width is how many columns a row may take; 0 (not a terminal: a
// pipe, a file) leaves every value whole and the columns as they always
// were, for scripts that cut them.
void PrintHeader(int width);
void PrintRecord(const protocol::LogEntry& entry, protocol::RecordTimeReader& times, bool json, int width);

// The columns standard output has when it is a terminal (its size, else
// COLUMNS); 0 when it is none.
int TerminalWidth();

// A table's column: its title, as wide as it is when there is room, and
// the narrowest it becomes when it gives up room (0: it keeps its width).
struct Column {
    const char* title;
    int width;
    int least;
    bool right = false;
};
// The columns of a table; on a wide terminal the column grows grows up to
// growsMost, and the last takes what is left of the line.
struct TableLayout {
    std::span<const Column> columns;
    size_t grows;
    int growsMost;
};

// A row of a table: a value for each column, in width columns (0: every
// value whole, padded to the columns' widths). The columns that may give
// up room do so alike; values are cut with "…", never inside a
// character; control characters show as "?".
std::string TableRow(const TableLayout& layout, std::span<const std::string_view> values, int width);
std::string TableHeader(const TableLayout& layout, int width);

// A row of the records' table: date, time, program, direction, verdict, protocol,
// peer, port, reason and host, in width columns (see PrintHeader). The
// program, peer and host give up room first, their values cut with "…",
// never inside a character; control characters show as "?".
std::string TableRow(const std::string_view (&values)[10], int width);

// A record's DATE and TIME in ISO 8601 ("2026-07-03", "14:05:09", local
// time), read against its file's day; as stored when they cannot be read.
struct ShownTime {
    std::string date;
    std::string time;
};
ShownTime IsoDateAndTime(const protocol::LogEntry& entry, protocol::RecordTimeReader& times);

}  // namespace tools::zel_log
