// The records mode: every daily file from the first day asked for, then
// with --follow the day's file as it grows, through midnight.
#include "tools/log/Filter.h"
#include "tools/log/Modes.h"
#include "tools/log/Table.h"

#include "os/Files.h"
#include "panel/core/LogReader.h"
#include "text/Strings.h"

#include <chrono>
#include <csignal>
#include <ctime>
#include <thread>

namespace tools::zel_log {

namespace {

volatile std::sig_atomic_t g_stop = 0;
void OnSignal(int) { g_stop = 1; }

// Prints the file's whole records from offset on; returns the offset after
// the last whole line.
long long PrintFrom(const std::string& path, long long offset, const Filter& filter)
{
    const auto text = os::ReadFile(path, 256u << 20);
    if (!text || static_cast<long long>(text->size()) < offset)
        return text ? 0 : offset;
    // Each record's date is read against its file's day, as the panel reads it.
    protocol::RecordTimeReader times(protocol::DayOfLogFile(path).value_or(protocol::CalendarDay {1970, 1, 1}));
    // Looked at each time: a terminal made wider while following shows more.
    const int width = filter.json ? 0 : TerminalWidth();
    const size_t end = text->rfind('\n');
    if (end == std::string::npos || static_cast<long long>(end) < offset)
        return offset;
    text::ForEachLine(std::string_view(*text).substr(offset, end + 1 - offset), [&](std::string_view line) {
        if (const auto entry = protocol::ParseLogLine(line); entry && Passes(*entry, filter))
            PrintRecord(*entry, times, filter.json, width);
    });
    std::fflush(stdout);
    return static_cast<long long>(end + 1);
}

}  // namespace

int ShowRecords(Arguments& args)
{
    Filter filter;
    bool follow = false;
    while (!args.Done()) {
        if (const auto taken = TakeFilterOption(args, filter)) {
            if (*taken != 0)
                return *taken;
        } else if (args.Take("--follow") || args.Take("-f")) {
            follow = true;
        } else {
            return Usage();
        }
    }
    const std::optional<std::string> folder = LogFolder();
    if (!folder)
        return kFailed;
    if (!filter.json)
        PrintHeader(TerminalWidth());
    std::string last;
    long long offset = 0;
    for (const std::string& path : panel::DailyFiles(*folder))
        if (DayOfFile(path) >= filter.sinceDay) {
            offset = PrintFrom(path, 0, filter);
            last = path;
        }
    if (!follow)
        return FinishOutput();
    std::signal(SIGINT, OnSignal);
    std::signal(SIGTERM, OnSignal);
    std::signal(SIGPIPE, OnSignal);
    // The day's file grows; at midnight the next day's begins.
    while (!g_stop) {
        const std::string current = protocol::TrafficLogFileName(*folder, std::time(nullptr));
        if (current != last) {
            last = current;
            offset = 0;
        }
        offset = PrintFrom(current, offset, filter);
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
    }
    return 0;
}

}  // namespace tools::zel_log
