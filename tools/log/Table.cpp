#include "tools/log/Table.h"

#include "tools/common/ToolOutput.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <sys/ioctl.h>
#include <unistd.h>
#include <vector>

namespace tools::zel_log {

namespace {

// The host, last, takes what is left of the line; the program grows first.
constexpr Column kColumns[] = {{"DATE", 10, 0},   {"TIME", 8, 0},   {"PROGRAM", 20, 7}, {"DIR", 3, 0},
                               {"VERDICT", 7, 0}, {"PRO", 3, 0},    {"PEER", 39, 14},   {"PORT", 5, 0, true},
                               {"REASON", 10, 0}, {"HOST", 24, 4}};
constexpr TableLayout kRecords {kColumns, 2, 32};

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

std::vector<int> Widths(const TableLayout& layout, int width)
{
    const std::span<const Column> columns = layout.columns;
    const size_t count = columns.size();
    std::vector<int> widths(count);
    for (size_t i = 0; i < count; ++i)
        widths[i] = columns[i].width;
    if (width <= 0)
        return widths;
    int fixed = static_cast<int>(count) - 1; // the spaces between
    int wanted = 0;
    for (const Column& column : columns)
        (column.least ? wanted : fixed) += column.width;
    const int room = width - fixed;
    if (room >= wanted) {
        const int spare = room - wanted;
        const int grown = std::min(spare, layout.growsMost - widths[layout.grows]);
        widths[layout.grows] += grown;
        widths[count - 1] += spare - grown;
        return widths;
    }
    // A column at a time gives up one: the one that kept the most of its
    // width, so that all shrink alike, down to their least.
    for (int over = wanted - room; over > 0; --over) {
        size_t giving = count;
        for (size_t i = 0; i < count; ++i)
            if (columns[i].least && widths[i] > columns[i].least
                && (giving == count || widths[i] * columns[giving].width > widths[giving] * columns[i].width))
                giving = i;
        if (giving == count)
            break;
        --widths[giving];
    }
    return widths;
}

}  // namespace

std::string TableRow(const TableLayout& layout, std::span<const std::string_view> values, int width)
{
    const std::vector<int> widths = Widths(layout, width);
    const size_t count = layout.columns.size();
    std::string row;
    for (size_t i = 0; i < count && i < values.size(); ++i) {
        std::string value = Printable(values[i]);
        if (width > 0)
            value = Cut(std::move(value), widths[i]);
        if (i == count - 1) {
            row += value;
            break;
        }
        const std::string padding(static_cast<size_t>(std::max(0, widths[i] - Columns(value))), ' ');
        row += layout.columns[i].right ? padding + value : value + padding;
        row += ' ';
    }
    // Below the least widths too, a row never runs over the terminal's edge.
    return width > 0 ? Cut(std::move(row), width) : row;
}

std::string TableHeader(const TableLayout& layout, int width)
{
    std::vector<std::string_view> titles;
    for (const Column& column : layout.columns)
        titles.emplace_back(column.title);
    return TableRow(layout, titles, width);
}

std::string TableRow(const std::string_view (&values)[10], int width)
{
    static_assert(std::size(kColumns) == 10, "a value for each column");
    return TableRow(kRecords, values, width);
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

void PrintHeader(int width) { std::printf("%s\n", TableHeader(kRecords, width).c_str()); }

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
                                             {"reason", entry.reason},    {"list", entry.list}};
        std::printf("%s\n", JsonText(line).c_str());
        return;
    }
    // A record of an older engine has no reason: "-" keeps the columns. A
    // list that refused is named after the word.
    const std::string reason = entry.reason.empty() ? std::string("-")
        : entry.list.empty()                         ? entry.reason
                                                     : entry.reason + ":" + entry.list;
    const std::string_view values[std::size(kColumns)] = {shown.date, shown.time, entry.application, incoming ? "in" : "out",
                                             verdict,    protocol,   entry.ip,          port,
                                             reason,     entry.host};
    std::printf("%s\n", TableRow(values, width).c_str());
}

}  // namespace tools::zel_log
