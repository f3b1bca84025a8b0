#include "editing/ProcessList.h"

#include "editing/FileInformation.h"
#include "settings/GeneralMdl.h"
#include "settings/SaveChanges.h"
#include "platform/Constants.h"
#include "platform/Files.h"
#include "platform/HostName.h"
#include "platform/LogFiles.h"
#include "platform/Processes.h"
#include "platform/Text.h"

#include <algorithm>
#include <map>
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

std::string UpdateLspWithRelatedProcList(PanelState& state, bool fullPaths, bool showSystem,
                                         const std::string& procRoot, std::time_t now)
{
    const std::vector<std::string> running = Words(GetWindowsProcess(" ", false, showSystem, procRoot));
    const auto isRunning = [&](const std::string& fileName) {
        for (std::string name : running) {
            if (!name.empty() && name.front() == '+')
                name.erase(0, 1);
            if (platform::EqualsNoCase(name, fileName))
                return true;
        }
        return false;
    };
    const auto text = platform::ReadFile(platform::TrafficLogFileName(state.Settings.LogFilePath, now), 64u << 20);
    if (!text)
        return {};
    std::string result;
    std::vector<std::string> listed;
    std::istringstream lines(*text);
    for (std::string line; std::getline(lines, line);) {
        const auto entry = platform::ParseLogLine(line);
        if (!entry || entry->kind != platform::LogEntry::Kind::kApplicationStart)
            continue;
        const std::string& path = entry->exePath;
        const std::string fileName(platform::FileNamePart(path));
        if (!isRunning(fileName))
            continue;
        if (fullPaths) {
            bool seen = false;
            for (const std::string& known : listed)
                seen = seen || platform::EqualsNoCase(known, path);
            if (!seen) {
                listed.push_back(path);
                result += "$$" + path;
            }
        } else {
            UpdateAppChanges(state, fileName, 1);
        }
    }
    return result;
}

std::vector<std::string> ProgramsOnReplacedEngine(const std::string& procRoot)
{
    std::vector<std::string> names;
    for (const pid_t pid : processes::ProcessesWithReplacedLibrary(procRoot, "libqrbruler.so")) {
        const std::string path = processes::CleanHostPath(processes::ExecutablePath(procRoot, pid));
        if (!path.empty())
            names.push_back(processes::HostExeName(path));
    }
    std::sort(names.begin(), names.end());
    names.erase(std::unique(names.begin(), names.end()), names.end());
    return names;
}

namespace {

// The program of an alerted process, as its engine names it, so that an
// entry made for it applies to it.
struct AlertedProgram {
    std::string path;
    std::string exeName;
    std::string description;
};

AlertedProgram ProgramAt(const std::string& path)
{
    AlertedProgram program;
    program.path = path;
    program.exeName = processes::HostExeName(path);
    program.description = ProgramDescription(GetDisplayName(path), program.exeName);
    return program;
}

// Whether a rule is the one an answer for this host alone makes.
bool IsHostOnlyRule(const AppRules& rule, const std::string& hostName)
{
    return rule.Direction == "OUTGOING" && rule.PORTS.size() == 1 && rule.PORTS[0]->nPort == 0
        && rule.PORTS[0]->WrittenIps().empty() && rule.PORTS[0]->Hosts == std::vector<std::string> {hostName};
}

std::string FirstOf(std::initializer_list<const std::string*> texts)
{
    for (const std::string* text : texts)
        if (!text->empty())
            return *text;
    return {};
}



// Codes 7 and 8: a rule first among the program's rules for the host.
void StoreHostRule(PanelState& state, XmlStrRules& app, int alertCode, const std::string& hostName)
{
    std::erase_if(app.RULES, [&hostName](const RuleRecord& rule) { return rule && IsHostOnlyRule(*rule, hostName); });
    auto port = std::make_shared<AppPorts>();
    port->nPort = 0;
    port->Hosts = {hostName};
    auto rule = std::make_shared<AppRules>();
    rule->RuleName = hostName;
    rule->Permission = alertCode == platform::kCodeOutgoingHostPermitted ? state.AppConsts.PERMIT : state.AppConsts.DENY;
    rule->Direction = "OUTGOING";
    rule->State = "1";
    rule->Enable = 1;
    rule->PORTS.push_back(std::move(port));
    // First: the answer was asked for because no earlier rule decided, but a
    // broader rule after it (an ASK for every address) would.
    app.RULES.insert(app.RULES.begin(), std::move(rule));
}

// Whether the host of an answer may become a rule: only a name as the
// engine normalises it, never a pattern or a stray text (logged).
bool IsPlainHostName(const std::string& hostName, uint32_t processId, const char* caller)
{
    char normal[platform::kMaxHostName + 1];
    const size_t length = platform::NormalizeHostName(hostName.data(), hostName.size(), normal, sizeof normal);
    if (length != 0 && std::string_view(normal, length) == hostName)
        return true;
    WriteErrLog(caller, "the host name sent by process " + std::to_string(processId)
                            + " is not a plain host name; the answer is not stored");
    return false;
}

}  // namespace

AppRecord ProgramEntry(PanelState& state, const std::string& exeName, const std::string& description,
                       const std::string& path)
{
    for (const AppRecord& app : state.CurrBuffer.AllRules)
        if (platform::EqualsNoCase(app->ExeName, exeName))
            return app;
    auto record = std::make_shared<XmlStrRules>();
    record->ExeName = exeName;
    record->DescriptionFile = ProgramDescription(description, exeName);
    record->AppPath = path;
    record->IsService = "0";
    record->InDef = state.GenAppInDef;
    record->OutDef = state.GenAppOutDef;
    state.CurrBuffer.AddRuleToBuffer(record);
    return record;
}

void SetAnsweredDefault(PanelState& state, XmlStrRules& app, int alertCode)
{
    const ConstForApp& words = state.AppConsts;
    const std::string answer = alertCode == 1 || alertCode == 3 ? words.DENY : words.PERMIT;
    const bool followsSystem = app.InDef.empty();
    if (alertCode <= 2) {
        app.OutDef = followsSystem ? FirstOf({&state.GenAppOutDef, &app.OutDef, &words.ASK})
                                   : FirstOf({&app.OutDef, &words.ASK});
        app.InDef = answer;
    } else {
        if (followsSystem)
            app.InDef = FirstOf({&state.GenAppInDef, &words.ASK});
        app.OutDef = answer;
    }
}

std::string AnsweringProgramPath(uint32_t processId, const std::string& procRoot, const std::string& pathHint,
                                 const char* caller)
{
    std::string path = processes::CleanHostPath(processes::ExecutablePath(procRoot, static_cast<pid_t>(processId)));
    const bool hintUsable = !pathHint.empty() && pathHint.front() == '/' && pathHint.size() < 4096
        && std::none_of(pathHint.begin(), pathHint.end(), [](char c) { return static_cast<unsigned char>(c) < 0x20; });
    if (path.empty() && hintUsable)
        path = processes::CleanHostPath(pathHint);
    if (path.empty())
        WriteErrLog(caller, "process " + std::to_string(processId) + " cannot be examined; the answer is not stored");
    return path;
}

bool IsStoredAnswer(int alertCode)
{
    return (alertCode >= 1 && alertCode <= 4) || alertCode == platform::kCodeOutgoingHostBlocked
        || alertCode == platform::kCodeOutgoingHostPermitted;
}

std::optional<AlertedApp> StoreAnswers(PanelState& state, const std::vector<AlertAnswer>& answers)
{
    const char* caller = "WindowsProcessList : StoreAnswers";
    std::optional<AlertedApp> shown;
    // Programs asked about many times at once are looked up once.
    std::map<std::string, AlertedProgram> programs;
    std::vector<std::string> changed;
    for (const AlertAnswer& answer : answers) {
        if (!IsStoredAnswer(answer.code)) {
            WriteErrLog(caller, "unknown alert code " + std::to_string(answer.code));
            continue;
        }
        if (answer.path.empty())
            continue;
        const bool forHost = answer.code == platform::kCodeOutgoingHostBlocked
            || answer.code == platform::kCodeOutgoingHostPermitted;
        if (forHost && !IsPlainHostName(answer.hostName, answer.processId, caller))
            continue;
        auto known = programs.find(answer.path);
        if (known == programs.end())
            known = programs.emplace(answer.path, ProgramAt(answer.path)).first;
        const AlertedProgram& program = known->second;
        const AppRecord app = ProgramEntry(state, program.exeName, program.description, program.path);
        if (app->AppPath.empty())
            app->AppPath = program.path;
        if (forHost)
            StoreHostRule(state, *app, answer.code, answer.hostName);
        else
            SetAnsweredDefault(state, *app, answer.code);
        if (std::find(changed.begin(), changed.end(), app->ExeName) == changed.end())
            changed.push_back(app->ExeName);
        shown = AlertedApp {app->ExeName, app->DescriptionFile};
    }
    if (!shown)
        return shown;
    if (!state.SaveAndLoad())
        WriteErrLog(caller, "the answers are held in the window but not saved");
    // Saved first: an engine told of its change reads the new file.
    for (const std::string& name : changed)
        UpdateAppChanges(state, name, 1);
    return shown;
}

std::optional<AlertedApp> SetNewApp(PanelState& state, int alertCode, uint32_t processId, const std::string& procRoot,
                                    const std::string& endedExeName, const std::string& pathHint)
{
    const char* caller = "WindowsProcessList : SetNewApp";
    if (alertCode == platform::kCodeApplicationFinished) {
        if (!endedExeName.empty())
            UpdateAppChanges(state, endedExeName, 0);
        return std::nullopt;
    }
    if (alertCode < 1 || alertCode > 4) {
        WriteErrLog(caller, "unknown alert code " + std::to_string(alertCode));
        return std::nullopt;
    }
    const std::string path = AnsweringProgramPath(processId, procRoot, pathHint, caller);
    if (path.empty())
        return std::nullopt;
    return StoreAnswers(state, {{alertCode, processId, path, {}}});
}

std::optional<AlertedApp> SetHostRule(PanelState& state, int alertCode, uint32_t processId,
                                      const std::string& procRoot, const std::string& hostName,
                                      const std::string& pathHint)
{
    const char* caller = "WindowsProcessList : SetHostRule";
    if (alertCode != platform::kCodeOutgoingHostBlocked && alertCode != platform::kCodeOutgoingHostPermitted) {
        WriteErrLog(caller, "unknown alert code " + std::to_string(alertCode));
        return std::nullopt;
    }
    if (!IsPlainHostName(hostName, processId, caller))
        return std::nullopt;
    const std::string path = AnsweringProgramPath(processId, procRoot, pathHint, caller);
    if (path.empty())
        return std::nullopt;
    return StoreAnswers(state, {{alertCode, processId, path, hostName}});
}

}  // namespace panel
