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

std::optional<long long> DayOfText(std::string_view text)
{
    int year = 0, month = 0, day = 0;
    char end = 0;
    if (std::sscanf(std::string(text).c_str(), "%4d-%2d-%2d%c", &year, &month, &day, &end) != 3 || month < 1
        || month > 12 || day < 1 || day > 31)
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
