#include "panel/core/LogReader.h"

#include "os/Files.h"
#include "os/Processes.h"
#include "panel/core/ErrorLog.h"
#include "panel/core/RulesStore.h"
#include "panel/core/SettingValues.h"
#include "protocol/LogFiles.h"
#include "protocol/RecordTime.h"
#include "protocol/RecordWords.h"
#include "rules/AddressRange.h"
#include "rules/RulesFormat.h"
#include "text/Strings.h"
#include "text/Translate.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <dirent.h>
#include <sys/stat.h>

namespace panel {

namespace {

// Logs larger than this are read no further: a day of a busy machine is far below it.
constexpr size_t kMaxLogBytes = 256u << 20;

std::string Upper(std::string_view text) { return text::ToUpper(text); }

// The raw text between "<tag>" and "</tag>", found without regard to case.
std::string_view RawField(std::string_view line, std::string_view tag)
{
    const std::string upperLine = Upper(line);
    const std::string open = "<" + Upper(tag) + ">";
    const size_t start = upperLine.find(open);
    if (start == std::string::npos)
        return {};
    const size_t from = start + open.size();
    const size_t end = upperLine.find("</" + Upper(tag) + ">", from);
    if (end == std::string::npos)
        return {};
    return line.substr(from, end - from);
}

// A record's PERMISSION: "1" permitted; "0" denied, and anything else
// (an "Ask" no answer decided) was not let through either.
bool Permitted(std::string_view value) { return value == "1"; }

std::string PermissionText(std::string_view value)
{
    if (value == "0")
        return text::Tr("LogReader", "Deny");
    return Permitted(value) ? text::Tr("LogReader", "Permit") : text::Tr("LogReader", "Ask");
}

bool IsServiceManager(const std::string& path, const std::string& serviceManager)
{
    return !serviceManager.empty() && Upper(text::FileNamePart(path)) == serviceManager;
}

// The traffic logs of the folder with their dates (yyyymmdd), oldest first.
std::vector<std::pair<long long, std::string>> DatedFiles(const std::string& folder)
{
    std::vector<std::pair<long long, std::string>> files;
    DIR* dir = folder.empty() ? nullptr : ::opendir(folder.c_str());
    if (!dir)
        return {};
    while (const dirent* entry = ::readdir(dir)) {
        const auto day = protocol::DayOfLogFile(entry->d_name);
        if (day)
            files.emplace_back(day->year * 10000LL + day->month * 100 + day->day, folder + "/" + entry->d_name);
    }
    ::closedir(dir);
    std::sort(files.begin(), files.end());
    return files;
}

}  // namespace

std::vector<std::string> DailyFiles(const std::string& folder)
{
    std::vector<std::string> paths;
    for (auto& [date, path] : DatedFiles(folder))
        paths.push_back(std::move(path));
    return paths;
}

std::vector<LogDay> LogDays(const std::string& folder)
{
    std::vector<LogDay> days;
    for (std::string& path : DailyFiles(folder)) {
        const protocol::CalendarDay named = protocol::DayOfLogFile(path).value_or(protocol::CalendarDay {});
        LogDay day;
        day.year = named.year;
        day.month = named.month;
        day.day = named.day;
        day.path = std::move(path);
        days.push_back(std::move(day));
    }
    std::reverse(days.begin(), days.end());
    return days;
}

std::string ReasonText(std::string_view reason, bool backstop, std::string_view list)
{
    if (const protocol::ReasonWord* known = protocol::FindReasonWord(reason)) {
        std::string shown = text::Tr(protocol::kReasonTextContext, known->text);
        if (!list.empty())
            shown.append(": ").append(list);
        return shown;
    }
    if (reason.empty() && backstop)
        return text::Tr(protocol::kReasonTextContext, protocol::kBackstopReasonText);
    // A word of a newer engine: shown as it is.
    return std::string(reason);
}

std::string GetPhrase(std::string_view line, std::string_view tag)
{
    const std::string value = text::UnescapeLogText(RawField(line, tag));
    const std::string name = Upper(tag);
    namespace field = protocol::record_tag;
    if (name == field::kProtocol)
        return value.empty() ? value : value == "1" ? "TCP" : "UDP";
    if (name == field::kDirection)
        return value.empty() ? value
            : value == "0"   ? text::Tr("LogReader", "Incoming")
                             : text::Tr("LogReader", "Outgoing");
    if (name == field::kPermission)
        return value.empty() ? value : PermissionText(value);
    if (name == field::kService)
        return value.empty() ? "0" : value;
    return value;
}

std::string AddressSortKey(std::string_view address)
{
    const auto parsed = rules::ParseAddress(address);
    if (!parsed)
        return "9" + std::string(address);
    char key[40];
    if (parsed->family == rules::AddressFamily::kIpv4)
        std::snprintf(key, sizeof key, "4%08llx", static_cast<unsigned long long>(parsed->value.low));
    else
        std::snprintf(key, sizeof key, "6%016llx%016llx", static_cast<unsigned long long>(parsed->value.high),
                      static_cast<unsigned long long>(parsed->value.low));
    return key;
}

const LogReader::File& LogReader::Read(const std::string& path, const std::string& serviceManager, bool allServices)
{
    struct stat st {};
    std::shared_ptr<File>& cached = files_[path];
    if (::stat(path.c_str(), &st) != 0) {
        cached = std::make_shared<File>();
        return *cached;
    }
    if (cached && cached->size == st.st_size && cached->modified == st.st_mtim.tv_sec
        && cached->modifiedNanoseconds == st.st_mtim.tv_nsec)
        return *cached;
    auto file = std::make_shared<File>();
    file->size = st.st_size;
    file->modified = st.st_mtim.tv_sec;
    file->modifiedNanoseconds = st.st_mtim.tv_nsec;
    errno = 0;
    // Each record's date is read against its file's day (only such files are read).
    protocol::RecordTimeReader times(protocol::DayOfLogFile(path).value_or(protocol::CalendarDay {1970, 1, 1}));
    if (const auto text = os::ReadFile(path, kMaxLogBytes)) {
        text::ForEachLine(*text, [&](std::string_view line) {
            // Only whole connection records: start and end records, cut or
            // foreign lines are left out.
            const auto entry = protocol::ParseLogLine(line);
            if (!entry || entry->kind != protocol::LogEntry::Kind::kConnection)
                return;
            Record record;
            record.dateTime = entry->date + " " + entry->time;
            record.application = entry->application;
            record.ip = entry->ip;
            record.path = entry->exePath;
            record.localPort = entry->localPort;
            record.remotePort = entry->remotePort;
            record.tcp = entry->protocol == "1";
            record.incoming = entry->direction == "0";
            record.denied = !Permitted(entry->permission);
            record.service = allServices || entry->service == "1" || IsServiceManager(entry->exePath, serviceManager);
            const protocol::RecordWhen read = times.Read(entry->date, entry->time);
            record.when = read.when;
            record.dated = read.dated;
            record.host = entry->host;
            const bool backstop = std::any_of(entry->others.begin(), entry->others.end(), [](const auto& field) {
                return field.first == protocol::record_tag::kBackstop;
            });
            record.reason = ReasonText(entry->reason, backstop, entry->list);
            if (entry->date.empty() || entry->time.empty() || record.application.empty() || entry->protocol.empty()
                || record.ip.empty())
                return;
            file->records.push_back(std::move(record));
        });
    } else {
        WriteErrLogErrno("LogListSettings : FillLogView", "cannot read " + path, errno ? errno : EIO);
    }
    cached = std::move(file);
    return *cached;
}

bool LogReader::Matches(const Record& record, const std::string& port, const std::vector<std::string>& words)
{
    if (words.empty())
        return true;
    if (record.searchText.empty())
        record.searchText = Upper(record.application + "\n" + record.path + "\n" + record.host + "\n" + record.ip);
    for (const std::string& word : words)
        if (word != port && record.searchText.find(word) == std::string::npos)
            return false;
    return true;
}

std::vector<LogRow> LogReader::FillLogView(const std::string& folder, const std::string& key, bool showServices,
                                           const PortNames& ports, const std::string& serviceManager,
                                           const LogFilter& filter, const std::string& servicesFolder)
{
    const bool incoming = key == "Log1" || key == "Log3";
    const bool denied = key == "Log3" || key == "Log4";
    std::vector<LogRow> rows;
    // Each day's file of the user's folder and of the services', newest day first.
    std::map<long long, std::pair<std::string, std::string>, std::greater<>> days;
    for (auto& [date, path] : DatedFiles(folder))
        days[date].first = std::move(path);
    // Never the user's own folder twice.
    if (showServices && !servicesFolder.empty() && servicesFolder != folder)
        for (auto& [date, path] : DatedFiles(servicesFolder))
            days[date].second = std::move(path);
    // Files that left the folders are forgotten.
    for (auto it = files_.begin(); it != files_.end();) {
        const bool kept = std::any_of(days.begin(), days.end(), [&](const auto& day) {
            return day.second.first == it->first || day.second.second == it->first;
        });
        it = kept ? std::next(it) : files_.erase(it);
    }
    std::vector<std::string> words;
    for (size_t at = 0; at < filter.search.size();) {
        const size_t end = std::min(filter.search.find_first_of(" \t", at), filter.search.size());
        if (end > at)
            words.push_back(Upper(std::string_view(filter.search).substr(at, end - at)));
        at = end + 1;
    }
    std::map<std::string, std::string, std::less<>> portTexts; // a port's name is looked up once
    const auto take = [&](const Record& record, bool machine) {
        if ((record.service && !showServices) || record.incoming != incoming || record.denied != denied)
            return;
        const std::string& port = incoming ? record.localPort : record.remotePort;
        if (port.empty() || !Matches(record, port, words))
            return;
        LogRow row;
        char number[16];
        std::snprintf(number, sizeof number, "%6zu", rows.size() + 1);
        row.number = number;
        row.dateTime = record.dateTime;
        row.when = record.when;
        row.dated = record.dated;
        row.application = record.application;
        row.protocol = record.tcp ? "TCP" : "UDP";
        row.ip = record.ip;
        auto named = portTexts.find(port);
        if (named == portTexts.end())
            named = portTexts.emplace(port, port + ports.NameOf(port)).first;
        row.port = named->second;
        row.path = record.path;
        row.service = record.service ? "1" : "0";
        row.host = record.host;
        row.reason = record.reason;
        row.portNumber = port;
        row.outgoing = !incoming;
        row.denied = denied;
        row.machine = machine;
        rows.push_back(std::move(row));
    };
    // A day chosen by its file: the services' file of that day with it.
    const std::string_view dayName = text::FileNamePart(filter.dayFile);
    const std::vector<Record> none;
    for (const auto& [date, paths] : days) {
        const bool own = !paths.first.empty() && (filter.dayFile.empty() || paths.first == filter.dayFile);
        const bool theirs = !paths.second.empty() && (filter.dayFile.empty() || text::FileNamePart(paths.second) == dayName);
        const std::vector<Record>& mine = own ? Read(paths.first, serviceManager).records : none;
        const std::vector<Record>& services = theirs ? Read(paths.second, serviceManager, true).records : none;
        // Both newest first, the later of the two taken each time.
        auto a = mine.rbegin();
        auto b = services.rbegin();
        while (a != mine.rend() || b != services.rend()) {
            if (a == mine.rend() || (b != services.rend() && b->when > a->when))
                take(*b++, true);
            else
                take(*a++, false);
        }
    }
    return rows;
}

int CountBlockedIntruders(const std::string& folder, std::time_t now)
{
    if (folder.empty())
        return 0;
    const auto text = os::ReadFile(protocol::TrafficLogFileName(folder, now), kMaxLogBytes);
    if (!text)
        return 0;
    int count = 0;
    text::ForEachLine(*text, [&](std::string_view line) {
        const auto entry = protocol::ParseLogLine(line);
        if (entry && entry->kind == protocol::LogEntry::Kind::kConnection && entry->direction == "0"
            && !Permitted(entry->permission))
            ++count;
    });
    return count;
}

std::string AppStatistics(const rules::Application& app, const std::string& folder, std::time_t now,
                          const std::function<std::string(std::time_t)>& shownTime)
{
    std::string lastAccess;
    std::vector<std::string> remote, local, hosts;
    const auto collect = [](std::vector<std::string>& list, const std::string& port) {
        if (!port.empty() && port != "0" && list.size() < 4 && std::find(list.begin(), list.end(), port) == list.end())
            list.push_back(port);
    };
    const std::string name = app.path.empty() ? app.name.value_or(std::string()) : std::string(text::FileNamePart(app.path));
    const std::string path = folder.empty() ? std::string() : protocol::TrafficLogFileName(folder, now);
    const auto text = path.empty() ? std::nullopt : os::ReadFile(path, kMaxLogBytes);
    protocol::RecordTimeReader times(protocol::DayOfLogFile(path).value_or(protocol::CalendarDay {1970, 1, 1}));
    if (text) {
        text::ForEachLine(*text, [&](std::string_view line) {
            const auto entry = protocol::ParseLogLine(line);
            // The program's own records: its file's, for an entry bound to
            // it; else those of its file name, whole.
            if (!entry || entry->kind != protocol::LogEntry::Kind::kConnection
                || (app.IsBound() ? entry->exePath != app.path
                                  : !text::EqualsNoCase(text::FileNamePart(entry->exePath), name)))
                return;
            const protocol::RecordWhen read = times.Read(entry->date, entry->time);
            lastAccess = read.dated && shownTime ? shownTime(read.when) : entry->date + " " + entry->time;
            collect(remote, entry->remotePort);
            collect(local, entry->localPort);
            if (!entry->host.empty())
                collect(hosts, entry->host);
        });
    }
    const auto joined = [](const std::vector<std::string>& list) {
        std::string items;
        for (const std::string& item : list)
            items += (items.empty() ? "" : ", ") + item;
        return items;
    };
    std::string statistics;
    if (!lastAccess.empty()) {
        statistics += text::Arg(text::Tr("LogReader", "Application last time accessed : %1"), {lastAccess}) + "\n";
        statistics += text::Arg(text::Tr("LogReader", "Remote ports used : %1"), {joined(remote)}) + "\n";
        statistics += text::Arg(text::Tr("LogReader", "Local ports used : %1"), {joined(local)}) + "\n";
        // Only when the program looked its peers up by name.
        if (!hosts.empty())
            statistics += text::Arg(text::Tr("LogReader", "Remote hosts used : %1"), {joined(hosts)}) + "\n";
    }
    if (app.service)
        statistics += text::Tr("LogReader", "Note : Application is a system service and will not allow ask as a "
                                                "permission.")
            + "\n";
    if (lastAccess.empty())
        statistics += "\n\n" + text::Tr("LogReader", "No statistics are available at the moment");
    return statistics;
}

rules::Application ApplicationFromLog(const std::string& application, const std::string& path,
                                      const std::string& service, std::optional<rules::Permission> generalIncoming,
                                      std::optional<rules::Permission> generalOutgoing,
                                      const std::string& serviceManager)
{
    rules::Application app;
    // Named as the engine names the program; the path kept as it is, since
    // Linux file names are case-sensitive.
    app.name = rules::rules_format::CarrierExeName(rules::rules_format::CleanCarrierPath(path));
    app.description = ProgramDescription(text::ToUpper(application), *app.name);
    app.path = path;
    BindToPath(app);
    app.service = service == "1" || IsServiceManager(path, serviceManager);
    const auto own = [&](std::optional<rules::Permission> permission) {
        return app.service && permission == rules::Permission::kAsk ? rules::Permission::kDeny : permission;
    };
    app.incoming = own(generalIncoming);
    app.outgoing = own(generalOutgoing);
    return app;
}

rules::Rule RuleFromLog(const LogRow& row)
{
    const bool denied = row.denied;
    rules::Rule rule;
    const bool byHost = row.outgoing && !row.host.empty();
    const std::string& peer = byHost ? row.host : row.ip;
    rule.direction = row.outgoing ? rules::Direction::kOutgoing : rules::Direction::kIncoming;
    rule.permission = denied ? rules::Permission::kDeny : rules::Permission::kPermit;
    // Named as the rule lists word a rule: "Block example.org port 443". In
    // English whatever the user's language: the name is kept in the rules file.
    rule.name = std::string(denied ? "Block" : "Allow") + " " + peer + " port " + row.portNumber;
    rule.inForce = true;
    rules::Port port;
    port.number = row.portNumber;
    // "443(https)" names the port "https".
    if (const size_t open = row.port.find('('); open != std::string::npos && row.port.back() == ')')
        port.alias = row.port.substr(open + 1, row.port.size() - open - 2);
    if (byHost)
        port.hosts = std::vector<std::string> {row.host};
    else
        port.addresses = std::vector<std::string> {row.ip};
    rule.ports.push_back(std::move(port));
    return rule;
}

}  // namespace panel
