// zel-log: the firewall's daily traffic logs from the command line, read
// as the control panel reads them (its list of daily files, the records
// parsed by the platform's reader), as a table or as JSON lines.
#include "os/Files.h"
#include "os/Processes.h"
#include "panel/core/LogReader.h"
#include "panel/core/PanelSettings.h"
#include "protocol/LogFiles.h"
#include "rules/RulesFormat.h"
#include "text/Strings.h"
#include "text/ToolStart.h"
#include "text/Translate.h"

#include <nlohmann/json.hpp>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <ctime>
#include <string>
#include <string_view>
#include <sys/stat.h>
#include <thread>

namespace {

constexpr const char* kProgram = "zel-log";
volatile std::sig_atomic_t g_stop = 0;
void OnSignal(int) { g_stop = 1; }

int Usage(std::FILE* out = stderr)
{
    std::fputs(
        text::Tr("zel-log", "usage: zel-log [--today | --since YYYY-MM-DD] [--program NAME] [--denied] [--follow] [--json]\n")
            .c_str(),
        out);
    if (out == stdout)
        std::fputs(text::Tr("zel-log", "Shows the firewall's traffic log. See zel-log(1).\n").c_str(), out);
    return out == stdout ? 0 : 2;
}

struct Filter {
    long long sinceDay = 0; // YYYYMMDD; 0: every day
    std::string program;    // upper case; empty: every program
    bool denied = false;
    bool json = false;
};

long long DayKey(const std::tm& day) { return (day.tm_year + 1900) * 10000LL + (day.tm_mon + 1) * 100 + day.tm_mday; }

// The day of a daily file, from its name "D_M_YYYY_qrb.log".
long long DayOfFile(const std::string& path)
{
    int day = 0, month = 0, year = 0;
    std::sscanf(std::string(text::FileNamePart(path)).c_str(), "%d_%d_%d", &day, &month, &year);
    return year * 10000LL + month * 100 + day;
}

std::optional<long long> DayOfText(std::string_view text)
{
    int year = 0, month = 0, day = 0;
    char end = 0;
    if (std::sscanf(std::string(text).c_str(), "%4d-%2d-%2d%c", &year, &month, &day, &end) != 3 || month < 1
        || month > 12 || day < 1 || day > 31)
        return std::nullopt;
    return year * 10000LL + month * 100 + day;
}

bool Passes(const protocol::LogEntry& entry, const Filter& filter)
{
    if (entry.kind != protocol::LogEntry::Kind::kConnection)
        return false;
    if (filter.denied && entry.permission == "1")
        return false;
    return filter.program.empty() || text::ToUpper(entry.application) == filter.program
        || rules::rules_format::CarrierExeName(entry.exePath) == filter.program;
}

void Print(const protocol::LogEntry& entry, const Filter& filter)
{
    const bool incoming = entry.direction == "0";
    const std::string verdict = entry.permission == "1" ? "allowed" : "denied";
    const std::string protocol = entry.protocol == "1" ? "TCP" : "UDP";
    const std::string& port = incoming ? entry.localPort : entry.remotePort;
    if (filter.json) {
        nlohmann::ordered_json line = {{"date", entry.date},       {"time", entry.time},
                                       {"program", entry.application}, {"path", entry.exePath},
                                       {"direction", incoming ? "in" : "out"}, {"verdict", verdict},
                                       {"protocol", protocol},      {"peer", entry.ip},
                                       {"port", port},              {"host", entry.host},
                                       {"reason", entry.reason}};
        std::printf("%s\n", line.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace).c_str());
    } else {
        // A record of an older engine has no reason: "-" keeps the columns.
        std::printf("%-10s %-8s %-20s %-3s %-7s %-3s %-39s %5s %-10s %s\n", entry.date.c_str(), entry.time.c_str(),
                    entry.application.c_str(), incoming ? "in" : "out", verdict.c_str(), protocol.c_str(),
                    entry.ip.c_str(), port.c_str(), entry.reason.empty() ? "-" : entry.reason.c_str(),
                    entry.host.c_str());
    }
}

// Prints the file's whole records from offset on; returns the offset after
// the last whole line.
long long PrintFrom(const std::string& path, long long offset, const Filter& filter)
{
    const auto text = os::ReadFile(path, 256u << 20);
    if (!text || static_cast<long long>(text->size()) < offset)
        return text ? 0 : offset;
    const size_t end = text->rfind('\n');
    if (end == std::string::npos || static_cast<long long>(end) < offset)
        return offset;
    text::ForEachLine(std::string_view(*text).substr(offset, end + 1 - offset), [&](std::string_view line) {
        if (const auto entry = protocol::ParseLogLine(line); entry && Passes(*entry, filter))
            Print(*entry, filter);
    });
    std::fflush(stdout);
    return static_cast<long long>(end + 1);
}

}  // namespace

int main(int argc, char** argv)
{
    // The records themselves stay as the engine wrote them, in any language.
    if (const auto answered = text::StartTool({kProgram, argc, argv, Usage}))
        return *answered;
    Filter filter;
    bool follow = false;
    const std::time_t now = std::time(nullptr);
    std::tm today {};
    ::localtime_r(&now, &today);
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg == "--today") {
            filter.sinceDay = DayKey(today);
        } else if (arg == "--since" && i + 1 < argc) {
            const auto day = DayOfText(argv[++i]);
            if (!day) {
                std::fprintf(stderr, "%s: %s\n", kProgram,
                             text::Arg(text::Tr("zel-log", "\"%1\" is no date (YYYY-MM-DD)"), {argv[i]}).c_str());
                return 2;
            }
            filter.sinceDay = *day;
        } else if (arg == "--program" && i + 1 < argc) {
            filter.program = rules::rules_format::CarrierExeName(argv[++i]);
        } else if (arg == "--denied") {
            filter.denied = true;
        } else if (arg == "--follow" || arg == "-f") {
            follow = true;
        } else if (arg == "--json") {
            filter.json = true;
        } else {
            return Usage();
        }
    }
    panel::PanelSettings settings;
    panel::GetFilesFromReg(settings);
    const std::string& folder = settings.LogFilePath;
    struct stat st {};
    if (folder.empty() || ::stat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
        std::fprintf(stderr, "%s: %s\n", kProgram,
                     text::Arg(text::Tr("zel-log", "no log folder \"%1\" (the setting LogFilesPath)"), {folder})
                         .c_str());
        return 1;
    }
    if (!filter.json)
        std::printf("%-10s %-8s %-20s %-3s %-7s %-3s %-39s %5s %-10s %s\n", "DATE", "TIME", "PROGRAM", "DIR", "VERDICT",
                    "PRO", "PEER", "PORT", "REASON", "HOST");
    std::string last;
    long long offset = 0;
    for (const std::string& path : panel::DailyFiles(folder))
        if (DayOfFile(path) >= filter.sinceDay) {
            offset = PrintFrom(path, 0, filter);
            last = path;
        }
    if (!follow)
        return std::fflush(stdout) == 0 ? 0 : 1;
    std::signal(SIGINT, OnSignal);
    std::signal(SIGTERM, OnSignal);
    std::signal(SIGPIPE, OnSignal);
    // The day's file grows; at midnight the next day's begins.
    while (!g_stop) {
        const std::string current = protocol::TrafficLogFileName(folder, std::time(nullptr));
        if (current != last) {
            last = current;
            offset = 0;
        }
        offset = PrintFrom(current, offset, filter);
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
    }
    return 0;
}
