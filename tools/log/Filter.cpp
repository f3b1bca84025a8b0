#include "tools/log/Filter.h"

#include "panel/core/PanelSettings.h"
#include "rules/RulesFormat.h"
#include "text/Strings.h"
#include "text/Translate.h"
#include "tools/log/Modes.h"

#include <cstdio>
#include <ctime>
#include <string_view>
#include <sys/stat.h>

namespace tools::zel_log {

namespace {

long long DayKey(const std::tm& day) { return (day.tm_year + 1900) * 10000LL + (day.tm_mon + 1) * 100 + day.tm_mday; }

// A day of the calendar written as ISO 8601 has it, YYYY-MM-DD, and no other way.
std::optional<long long> DayOfText(std::string_view text)
{
    static constexpr int kDays[] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (text.size() != 10 || text[4] != '-' || text[7] != '-')
        return std::nullopt;
    for (const size_t at : {0u, 1u, 2u, 3u, 5u, 6u, 8u, 9u})
        if (text[at] < '0' || text[at] > '9')
            return std::nullopt;
    const auto number = [&](size_t at, size_t digits) {
        int value = 0;
        for (size_t i = at; i < at + digits; ++i)
            value = value * 10 + (text[i] - '0');
        return value;
    };
    const int year = number(0, 4);
    const int month = number(5, 2);
    const int day = number(8, 2);
    const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    if (month < 1 || month > 12 || day < 1 || day > kDays[month - 1] || (month == 2 && day == 29 && !leap))
        return std::nullopt;
    return year * 10000LL + month * 100 + day;
}

}  // namespace

std::optional<int> TakeFilterOption(Arguments& args, Filter& filter)
{
    if (args.Take("--today")) {
        const std::time_t now = std::time(nullptr);
        std::tm today {};
        ::localtime_r(&now, &today);
        filter.sinceDay = DayKey(today);
    } else if (const auto since = args.TakeValue("--since")) {
        const auto day = DayOfText(*since);
        if (!day)
            return Fail(kMisused, text::Arg(text::Tr("zel-log", "\"%1\" is no date (YYYY-MM-DD)"), {*since}));
        filter.sinceDay = *day;
    } else if (const auto program = args.TakeValue("--program")) {
        filter.program = rules::rules_format::CarrierExeName(*program);
    } else if (args.Take("--denied")) {
        filter.denied = true;
    } else if (args.Take("--json")) {
        filter.json = true;
    } else {
        return std::nullopt;
    }
    return 0;
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

long long DayOfFile(const std::string& path)
{
    int day = 0, month = 0, year = 0;
    std::sscanf(std::string(text::FileNamePart(path)).c_str(), "%d_%d_%d", &day, &month, &year);
    return year * 10000LL + month * 100 + day;
}

std::optional<std::string> LogFolder()
{
    panel::PanelSettings settings;
    panel::GetFilesFromReg(settings);
    const std::string& folder = settings.LogFilePath;
    struct stat st {};
    if (folder.empty() || ::stat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
        Fail(kFailed, text::Arg(text::Tr("zel-log", "no log folder \"%1\" (the setting LogFilesPath)"), {folder}));
        return std::nullopt;
    }
    return folder;
}

}  // namespace tools::zel_log
