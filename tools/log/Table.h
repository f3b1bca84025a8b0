#pragma once

#include "protocol/LogFiles.h"

namespace tools::zel_log {

// A connection's record on standard output: a row of the table (its
// columns fixed, for scripts that cut them) or a JSON line.
void PrintHeader();
void PrintRecord(const protocol::LogEntry& entry, bool json);

}  // namespace tools::zel_log
