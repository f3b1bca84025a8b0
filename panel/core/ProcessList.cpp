#include "panel/core/ProcessList.h"

#include "os/Files.h"
#include "os/Processes.h"
#include "protocol/LogFiles.h"
#include "protocol/PanelMessages.h"
#include "rules/RulesFormat.h"
#include "text/Strings.h"

#include <algorithm>
#include <sstream>

namespace panel {

namespace processes = os::processes;

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
    const std::string name = text::ToUpper(fileName);
    return name == text::ToUpper(protocol::kControlPanelImage) || name == text::ToUpper(protocol::kInterceptorImage);
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
        const std::string_view fileName = text::FileNamePart(entry.exePath);
        if (IsOwnProgram(std::string(fileName)))
            continue;
        const bool system = processes::IsSystemService(procRoot, entry.pid);
        if (system && !showSystem)
            continue;
        const std::string name = fullPaths ? entry.exePath : std::string(fileName);
        list += separator + (system ? "+" : "") + (keepCase ? name : text::ToUpper(name));
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
            if (text::EqualsNoCase(name, fileName))
                return true;
        }
        return false;
    };
    const auto text = os::ReadFile(protocol::TrafficLogFileName(logFolder, now), 64u << 20);
    if (!text)
        return {};
    std::vector<std::string> listed;
    std::istringstream lines(*text);
    for (std::string line; std::getline(lines, line);) {
        const auto entry = protocol::ParseLogLine(line);
        if (!entry || entry->kind != protocol::LogEntry::Kind::kApplicationStart)
            continue;
        const std::string& path = entry->exePath;
        if (!isRunning(std::string(text::FileNamePart(path))))
            continue;
        if (std::none_of(listed.begin(), listed.end(), [&](const std::string& known) { return text::EqualsNoCase(known, path); }))
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
        const std::string path = rules::rules_format::CleanCarrierPath(processes::ExecutablePath(procRoot, pid));
        if (!path.empty())
            names.push_back(rules::rules_format::CarrierExeName(path));
    }
    std::sort(names.begin(), names.end());
    names.erase(std::unique(names.begin(), names.end()), names.end());
    return names;
}

std::string ServiceManagerImage(const std::string& procRoot)
{
    if (const std::string exe = os::processes::ExecutablePath(procRoot, 1); !exe.empty())
        return rules::rules_format::CarrierExeName(exe);
    if (auto comm = os::ReadFile(procRoot + "/1/comm", 64)) {
        while (!comm->empty() && (comm->back() == '\n' || comm->back() == ' '))
            comm->pop_back();
        if (!comm->empty())
            return text::ToUpper(*comm);
    }
    return "INIT";
}

}  // namespace panel
