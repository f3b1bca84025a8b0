#include "os/Processes.h"

#include "os/Files.h"
#include "text/Strings.h"

#include <algorithm>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <limits.h>
#include <unistd.h>

namespace os::processes {

namespace {

std::string ProcPath(const std::string& procRoot, pid_t pid, const char* leaf)
{
    return procRoot + "/" + std::to_string(pid) + "/" + leaf;
}

std::optional<pid_t> ParentPid(const std::string& procRoot, pid_t pid)
{
    const auto stat = ReadFile(ProcPath(procRoot, pid, "stat"), 4096);
    if (!stat)
        return std::nullopt;
    // The command name may hold blanks and parentheses: fields start after the last ')'.
    const size_t close = stat->rfind(')');
    if (close == std::string::npos || close + 4 > stat->size())
        return std::nullopt;
    // ") S PPID ..."
    const size_t ppidStart = stat->find(' ', close + 2);
    if (ppidStart == std::string::npos)
        return std::nullopt;
    return static_cast<pid_t>(text::ParseDecimal(std::string_view(*stat).substr(ppidStart + 1)));
}

// The fields after the command name: "S PPID ...".
std::optional<std::string_view> FieldsAfterName(std::string_view stat)
{
    // The command name may hold blanks and parentheses: fields start after the last ')'.
    const size_t close = stat.rfind(')');
    if (close == std::string_view::npos || close + 4 > stat.size())
        return std::nullopt;
    return stat.substr(close + 2);
}

std::optional<uid_t> RealUid(const std::string& procRoot, pid_t pid)
{
    const auto status = ReadFile(ProcPath(procRoot, pid, "status"), 16384);
    if (!status)
        return std::nullopt;
    const std::string_view uid = StatusField(*status, "Uid");
    if (uid.empty())
        return std::nullopt;
    return static_cast<uid_t>(text::ParseDecimal(uid));
}

bool IsPidName(const char* name)
{
    if (!*name)
        return false;
    for (; *name; ++name)
        if (*name < '0' || *name > '9')
            return false;
    return true;
}

}  // namespace

std::string ExecutablePath(const std::string& procRoot, pid_t pid)
{
    char buffer[PATH_MAX];
    const ssize_t n = ::readlink(ProcPath(procRoot, pid, "exe").c_str(), buffer, sizeof buffer - 1);
    if (n <= 0)
        return {};
    std::string path(buffer, static_cast<size_t>(n));
    constexpr std::string_view deleted = " (deleted)";
    if (path.ends_with(deleted))
        path.resize(path.size() - deleted.size());
    return path;
}

std::optional<ProcessStat> ReadStat(const std::string& procRoot, pid_t pid)
{
    const auto stat = ReadFile(ProcPath(procRoot, pid, "stat"), 4096);
    if (!stat)
        return std::nullopt;
    const auto fields = FieldsAfterName(*stat);
    if (!fields)
        return std::nullopt;
    // The state (field 3 of proc(5)), then one field after each blank: the
    // parent is field 4, the start time field 22.
    ProcessStat read;
    size_t at = 0;
    for (int field = 4; field <= 22; ++field) {
        at = fields->find(' ', at);
        if (at == std::string_view::npos)
            return std::nullopt;
        ++at;
        if (field == 4)
            read.parentPid = static_cast<pid_t>(text::ParseDecimal(fields->substr(at)));
        else if (field == 22)
            read.startTime = std::strtoull(std::string(fields->substr(at, 24)).c_str(), nullptr, 10);
    }
    return read;
}

std::string OwnExecutablePath() { return ExecutablePath(kProcRoot, ::getpid()); }

std::optional<ProcessEntry> ReadProcess(const std::string& procRoot, pid_t pid)
{
    const auto parent = ParentPid(procRoot, pid);
    if (!parent)
        return std::nullopt;
    ProcessEntry entry;
    entry.pid = pid;
    entry.parentPid = *parent;
    entry.exePath = ExecutablePath(procRoot, pid);
    entry.imageName = text::ToUpper(text::FileNamePart(entry.exePath));
    return entry;
}

std::vector<ProcessEntry> Snapshot(const std::string& procRoot)
{
    std::vector<ProcessEntry> entries;
    DIR* dir = ::opendir(procRoot.c_str());
    if (!dir)
        return entries;
    while (const dirent* item = ::readdir(dir)) {
        if (!IsPidName(item->d_name))
            continue;
        // A process may end between the listing and the read: skip it.
        if (auto entry = ReadProcess(procRoot, static_cast<pid_t>(std::atol(item->d_name))))
            entries.push_back(std::move(*entry));
    }
    ::closedir(dir);
    return entries;
}

std::vector<pid_t> ProcessIds(const std::string& procRoot, uid_t owner)
{
    std::vector<pid_t> found;
    DIR* dir = ::opendir(procRoot.c_str());
    if (!dir)
        return found;
    while (const dirent* item = ::readdir(dir)) {
        struct stat info;
        if (IsPidName(item->d_name) && ::fstatat(::dirfd(dir), item->d_name, &info, AT_SYMLINK_NOFOLLOW) == 0
            && info.st_uid == owner)
            found.push_back(static_cast<pid_t>(std::atol(item->d_name)));
    }
    ::closedir(dir);
    std::sort(found.begin(), found.end());
    return found;
}

std::vector<pid_t> ProcessesWithReplacedLibrary(const std::string& procRoot, std::string_view fileName)
{
    std::vector<pid_t> found;
    DIR* dir = ::opendir(procRoot.c_str());
    if (!dir)
        return found;
    const std::string replaced = "/" + std::string(fileName) + " (deleted)\n";
    while (const dirent* item = ::readdir(dir)) {
        if (!IsPidName(item->d_name))
            continue;
        const auto pid = static_cast<pid_t>(std::atol(item->d_name));
        // The mapping's path is the line's last field; a large program's map
        // runs to a few hundred kilobytes.
        const auto maps = ReadFile(ProcPath(procRoot, pid, "maps"), 8 << 20);
        if (maps && maps->find(replaced) != std::string::npos)
            found.push_back(pid);
    }
    ::closedir(dir);
    std::sort(found.begin(), found.end());
    return found;
}

bool IsSystemService(const std::string& procRoot, pid_t pid)
{
    if (const auto cgroup = ReadFile(ProcPath(procRoot, pid, "cgroup"), 16384)) {
        bool hasHierarchy = false;
        size_t start = 0;
        while (start < cgroup->size()) {
            size_t end = cgroup->find('\n', start);
            if (end == std::string::npos)
                end = cgroup->size();
            const std::string_view line = std::string_view(*cgroup).substr(start, end - start);
            // "ID:CONTROLLERS:PATH"; the path may itself hold colons.
            const size_t first = line.find(':');
            const size_t second = first == std::string_view::npos ? first : line.find(':', first + 1);
            if (second != std::string_view::npos) {
                const std::string_view path = line.substr(second + 1);
                if (path.starts_with("/system.slice/"))
                    return true;
                if (path != "/" && !path.empty())
                    hasHierarchy = true;
            }
            start = end + 1;
        }
        if (hasHierarchy)
            return false;
    }
    const auto parent = ParentPid(procRoot, pid);
    const auto uid = RealUid(procRoot, pid);
    return parent && *parent == 1 && uid && *uid < 1000;
}

std::string_view StatusField(std::string_view status, std::string_view name)
{
    for (size_t at = 0; at < status.size();) {
        size_t end = status.find('\n', at);
        if (end == std::string_view::npos)
            end = status.size();
        const std::string_view line = status.substr(at, end - at);
        if (line.size() > name.size() && line.starts_with(name) && line[name.size()] == ':') {
            std::string_view value = line.substr(name.size() + 1);
            while (!value.empty() && (value.front() == '\t' || value.front() == ' '))
                value.remove_prefix(1);
            return value;
        }
        at = end + 1;
    }
    return {};
}

std::pair<uid_t, uid_t> OrdinaryUsers(const std::string& loginDefs)
{
    uid_t first = 1000, last = 60000;
    text::ForEachLine(ReadFile(loginDefs, 1 << 20).value_or(std::string()), [&](std::string_view line) {
        const std::vector<std::string_view> words = text::Words(line, 2);
        if (words.size() < 2 || words[1].find_first_not_of("0123456789") != std::string_view::npos)
            return;
        const int64_t value = text::ParseDecimal(words[1]);
        if (value == 0 || value > 0x7fffffff)
            return;
        if (words[0] == "UID_MIN")
            first = static_cast<uid_t>(value);
        else if (words[0] == "UID_MAX")
            last = static_cast<uid_t>(value);
    });
    return first <= last ? std::pair {first, last} : std::pair {uid_t {1000}, uid_t {60000}};
}

}  // namespace os::processes
