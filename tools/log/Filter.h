#pragma once

#include "protocol/LogFiles.h"
#include "tools/common/Arguments.h"

#include <optional>
#include <string>

namespace tools::zel_log {

// Which records are shown, from the options every mode that reads the
// records takes alike.
struct Filter {
    long long sinceDay = 0; // YYYYMMDD; 0: every day
    std::string program;    // upper case; empty: every program
    bool denied = false;
    bool json = false;
};

// Takes the next argument when it is one of the filter's options (--today,
// --since DAY, --program NAME, --denied, --json) into filter: 0. nullopt
// (nothing taken) when it is none; the status when its value is bad (told).
std::optional<int> TakeFilterOption(Arguments& args, Filter& filter);

// Whether the record is a connection the filter lets through.
bool Passes(const protocol::LogEntry& entry, const Filter& filter);

// The day of a daily file, from its name "D_M_YYYY_qrb.log": YYYYMMDD.
long long DayOfFile(const std::string& path);

// The folder of the daily files the settings name; nullopt (told) when it
// is not one.
std::optional<std::string> LogFolder();

}  // namespace tools::zel_log
