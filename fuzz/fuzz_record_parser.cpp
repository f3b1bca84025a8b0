// Any bytes as a line of a day's log: the index's parser must neither crash
// nor read outside the line, and must read it as the other readers do
// (protocol::ParseLogLine): the same record, with the same texts, or none.
#include "logstore/RecordParser.h"
#include "protocol/LogFiles.h"

#include <cstddef>
#include <cstdint>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string_view line(reinterpret_cast<const char*>(data), size);
    logstore::RecordParser parser({2026, 7, 3});
    const auto row = parser.Parse(line);
    const auto entry = protocol::ParseLogLine(line);
    const bool whole = entry && entry->kind == protocol::LogEntry::Kind::kConnection && !entry->date.empty()
        && !entry->time.empty() && !entry->application.empty() && !entry->protocol.empty() && !entry->ip.empty();
    if (row.has_value() != whole)
        __builtin_trap();
    if (row
        && (row->exePath != entry->exePath || row->app != entry->application || row->ip != entry->ip
            || row->host != entry->host || row->reason != entry->reason || row->proto != (entry->protocol == "1")
            || row->dir != (entry->direction != "0") || (row->perm == 1) != (entry->permission == "1")))
        __builtin_trap();
    return 0;
}
