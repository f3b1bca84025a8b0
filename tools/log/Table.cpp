#include "tools/log/Table.h"

#include "tools/common/ToolOutput.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <sys/ioctl.h>
#include <unistd.h>

namespace tools::zel_log {

namespace {

struct Column {
    const char* title;
    int width; // as wide as it is when there is room
    int least; // the narrowest it becomes when it gives up room; 0: it keeps its width
    bool right = false;
};
// The host, last, takes what is left of the line.
constexpr Column kColumns[] = {{"DATE", 10, 0},   {"TIME", 8, 0},   {"PROGRAM", 20, 7}, {"DIR", 3, 0},
                               {"VERDICT", 7, 0}, {"PRO", 3, 0},    {"PEER", 39, 14},   {"PORT", 5, 0, true},
                               {"REASON", 10, 0}, {"HOST", 24, 4}};
constexpr size_t kCount = std::size(kColumns);
constexpr size_t kProgram = 2;
constexpr size_t kHost = kCount - 1;
// How wide the program grows on a wide terminal; the host takes the rest.
constexpr int kProgramMost = 32;

bool Continues(char c) { return (static_cast<unsigned char>(c) & 0xC0) == 0x80; }

// The columns a text takes on the screen: one a character.
int Columns(std::string_view text)
{
    int columns = 0;
    for (const char c : text)
        columns += !Continues(c);
    return columns;
}

// A value as the terminal is given it: a control character (C0, DEL, C1)
// from a hostile record would move the cursor or retitle the window.
std::string Printable(std::string_view text)
{
    std::string shown;
    shown.reserve(text.size());
    for (size_t at = 0; at < text.size(); ++at) {
        const auto c = static_cast<unsigned char>(text[at]);
        const bool c1 = c == 0xC2 && at + 1 < text.size() && static_cast<unsigned char>(text[at + 1]) < 0xA0
            && Continues(text[at + 1]);
        if (c < 0x20 || c == 0x7F || c1) {
            shown += '?';
            at += c1;
        } else {
            shown += text[at];
        }
    }
    return shown;
}

// The text in at most columns, its last one "…" when it was cut.
std::string Cut(std::string text, int columns)
{
    if (Columns(text) <= columns)
        return text;
    if (columns <= 0)
        return {};
    int kept = 0;
    size_t end = 0;
    for (; end < text.size(); ++end)
        if (!Continues(text[end]) && kept++ == columns - 1)
            break;
    text.resize(end);
    return text + "\u2026";
}

std::array<int, kCount> Widths(int width)
{
    std::array<int, kCount> widths {};
    for (size_t i = 0; i < kCount; ++i)
        widths[i] = kColumns[i].width;
    if (width <= 0)
        return widths;
    int fixed = static_cast<int>(kCount) - 1; // the spaces between
    int wanted = 0;
    for (const Column& column : kColumns)
        (column.least ? wanted : fixed) += column.width;
    const int room = width - fixed;
    if (room >= wanted) {
        const int spare = room - wanted;
        const int grown = std::min(spare, kProgramMost - widths[kProgram]);
        widths[kProgram] += grown;
        widths[kHost] += spare - grown;
        return widths;
    }
    // A column at a time gives up one: the one that kept the most of its
    // width, so that all shrink alike, down to their least.
    for (int over = wanted - room; over > 0; --over) {
        size_t giving = kCount;
        for (size_t i = 0; i < kCount; ++i)
            if (kColumns[i].least && widths[i] > kColumns[i].least
                && (giving == kCount || widths[i] * kColumns[giving].width > widths[giving] * kColumns[i].width))
                giving = i;
        if (giving == kCount)
            break;
        --widths[giving];
    }
    return widths;
}

}  // namespace

std::string TableRow(const std::string_view (&values)[10], int width)
{
    static_assert(std::size(kColumns) == 10, "a value for each column");
    const std::array<int, kCount> widths = Widths(width);
    std::string row;
    for (size_t i = 0; i < kCount; ++i) {
        std::string value = Printable(values[i]);
        if (width > 0)
            value = Cut(std::move(value), widths[i]);
        if (i == kHost) {
            row += value;
            break;
        }
        const std::string padding(static_cast<size_t>(std::max(0, widths[i] - Columns(value))), ' ');
        row += kColumns[i].right ? padding + value : value + padding;
        row += ' ';
    }
    // Below the least widths too, a row never runs over the terminal's edge.
    return width > 0 ? Cut(std::move(row), width) : row;
}

int TerminalWidth()
{
    if (!::isatty(STDOUT_FILENO))
        return 0;
    winsize size {};
    if (::ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0)
        return size.ws_col;
    const char* columns = std::getenv("COLUMNS");
    char* end = nullptr;
    const long value = columns ? std::strtol(columns, &end, 10) : 0;
    return columns && *columns && !*end && value > 0 && value <= 100000 ? static_cast<int>(value) : 0;
}

ShownTime IsoDateAndTime(const protocol::LogEntry& entry, protocol::RecordTimeReader& times)
{
    const protocol::RecordWhen read = times.Read(entry.date, entry.time);
    std::tm local {};
    char date[32];
    char time[16];
    if (!read.dated || !::localtime_r(&read.when, &local) || std::strftime(date, sizeof date, "%Y-%m-%d", &local) == 0
        || std::strftime(time, sizeof time, "%H:%M:%S", &local) == 0)
        return {entry.date, entry.time};
    return {date, time};
}

void PrintHeader(int width)
{
    std::string_view titles[kCount];
    for (size_t i = 0; i < kCount; ++i)
        titles[i] = kColumns[i].title;
    std::printf("%s\n", TableRow(titles, width).c_str());
}

void PrintRecord(const protocol::LogEntry& entry, protocol::RecordTimeReader& times, bool json, int width)
{
    const bool incoming = entry.direction == "0";
    const std::string verdict = entry.permission == "1" ? "allowed" : "denied";
    const std::string protocol = entry.protocol == "1" ? "TCP" : "UDP";
    const std::string& port = incoming ? entry.localPort : entry.remotePort;
    const ShownTime shown = IsoDateAndTime(entry, times);
    if (json) {
        const nlohmann::ordered_json line = {{"date", shown.date},       {"time", shown.time},
                                             {"program", entry.application}, {"path", entry.exePath},
                                             {"direction", incoming ? "in" : "out"}, {"verdict", verdict},
                                             {"protocol", protocol},      {"peer", entry.ip},
                                             {"port", port},              {"host", entry.host},
                                             {"reason", entry.reason}};
        std::printf("%s\n", JsonText(line).c_str());
        return;
    }
    // A record of an older engine has no reason: "-" keeps the columns.
    const std::string_view reason = entry.reason.empty() ? std::string_view("-") : std::string_view(entry.reason);
    const std::string_view values[kCount] = {shown.date, shown.time, entry.application, incoming ? "in" : "out",
                                             verdict,    protocol,   entry.ip,          port,
                                             reason,     entry.host};
    std::printf("%s\n", TableRow(values, width).c_str());
}

}  // namespace tools::zel_log
