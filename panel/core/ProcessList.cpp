#include "core/ProcessList.h"

#include "platform/Constants.h"
#include "platform/Files.h"
#include "platform/LogFiles.h"
#include "platform/Processes.h"
#include "platform/Text.h"

#include <algorithm>
#include <sstream>

namespace panel {

namespace processes = platform::processes;

namespace {

// The words of a list, split at blanks and line breaks.
std::vector<std::string> Words(const std::string& list)
{
    std::vector<std::string> words;
    std::istringstream in(list);
    for (std::string word; in >> word;)
        words.push_back(word);
    return words;
}

bool IsOwnProgram(const std::string& fileName)
{
    const std::string name = platform::ToUpper(fileName);
    return name == platform::ToUpper(platform::kControlPanelImage) || name == platform::ToUpper(platform::kInterceptorImage);
}

}  // namespace

std::string GetWindowsProcess(const std::string& separator, bool fullPaths, bool showSystem,
                              const std::string& procRoot, bool keepCase)
{
    std::string list;
    // In the order the processes started: the same list each time.
    std::vector<processes::ProcessEntry> entries = processes::Snapshot(procRoot);
    std::sort(entries.begin(), entries.end(), [](const auto& a, const auto& b) { return a.pid < b.pid; });
    for (const processes::ProcessEntry& entry : entries) {
        // Not examinable, or not a file (a program run from memory).
        if (entry.exePath.empty() || entry.exePath.front() != '/' || entry.exePath.starts_with("/memfd:"))
            continue;
        const std::string_view fileName = platform::FileNamePart(entry.exePath);
        if (IsOwnProgram(std::string(fileName)))
            continue;
        const bool system = processes::IsSystemService(procRoot, entry.pid);
        if (system && !showSystem)
            continue;
        const std::string name = fullPaths ? entry.exePath : std::string(fileName);
        list += separator + (system ? "+" : "") + (keepCase ? name : platform::ToUpper(name));
    }
    return list;
}

std::vector<std::string> StartedProgramsRunning(const std::string& logFolder, const std::string& procRoot,
                                                std::time_t now, bool withServices)
{
    const std::vector<std::string> running = Words(GetWindowsProcess(" ", false, withServices, procRoot));
    const auto isRunning = [&](const std::string& fileName) {
        for (std::string_view name : running) {
            if (name.starts_with('+'))
                name.remove_prefix(1);
            if (platform::EqualsNoCase(name, fileName))
                return true;
        }
        return false;
    };
    const auto text = platform::ReadFile(platform::TrafficLogFileName(logFolder, now), 64u << 20);
    if (!text)
        return {};
    std::vector<std::string> listed;
    std::istringstream lines(*text);
    for (std::string line; std::getline(lines, line);) {
        const auto entry = platform::ParseLogLine(line);
        if (!entry || entry->kind != platform::LogEntry::Kind::kApplicationStart)
            continue;
        const std::string& path = entry->exePath;
        if (!isRunning(std::string(platform::FileNamePart(path))))
            continue;
        if (std::none_of(listed.begin(), listed.end(), [&](const std::string& known) { return platform::EqualsNoCase(known, path); }))
            listed.push_back(path);
    }
    return listed;
}

std::vector<std::string> StillRunning(const std::vector<std::string>& paths, const std::string& procRoot)
{
    std::vector<std::string> running;
    for (const processes::ProcessEntry& entry : processes::Snapshot(procRoot))
        running.push_back(entry.exePath);
    std::sort(running.begin(), running.end());
    std::vector<std::string> still;
    for (const std::string& path : paths)
        if (std::binary_search(running.begin(), running.end(), path))
            still.push_back(path);
    return still;
}

std::vector<std::string> ProgramsOnReplacedEngine(const std::string& procRoot)
{
    std::vector<std::string> names;
    for (const pid_t pid : processes::ProcessesWithReplacedLibrary(procRoot, "libqrbruler.so")) {
        const std::string path = processes::CleanCarrierPath(processes::ExecutablePath(procRoot, pid));
        if (!path.empty())
            names.push_back(processes::CarrierExeName(path));
    }
    std::sort(names.begin(), names.end());
    names.erase(std::unique(names.begin(), names.end()), names.end());
    return names;
}

}  // namespace panel
