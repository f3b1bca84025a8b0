#include "panel/core/AlertAnswers.h"

#include "os/FileDigest.h"
#include "os/Processes.h"
#include "panel/core/ErrorLog.h"
#include "panel/core/FileInformation.h"
#include "protocol/PanelMessages.h"
#include "rules/AddressRange.h"
#include "rules/RulesFormat.h"
#include "rules/hooksafe/Names.h"

#include <algorithm>
#include <ctime>
#include <map>

namespace panel {

namespace processes = os::processes;
using rules::Direction;
using rules::Permission;

namespace {

// The program of an alerted process, as its engine names it, so that an
// entry made for it applies to it.
struct AlertedProgram {
    std::string path;
    std::string exeName;
    std::string description;
    std::optional<std::string> digest; // read when first needed
};

AlertedProgram ProgramAt(const std::string& path)
{
    AlertedProgram program;
    program.path = path;
    program.exeName = rules::rules_format::CarrierExeName(path);
    program.description = ProgramDescription(GetDisplayName(path), program.exeName);
    return program;
}

// Whether a rule is the one an answer for this host alone makes.
bool IsHostOnlyRule(const rules::Rule& rule, const std::string& hostName)
{
    return rule.direction == Direction::kOutgoing && rule.ports.size() == 1 && rule.ports[0].Number() == 0
        && rule.ports[0].ShownAddresses().empty() && rule.ports[0].hosts == std::vector<std::string> {hostName};
}

// Codes 7 and 8: a rule first among the program's rules for the host.
void StoreHostRule(rules::Application& app, int alertCode, const std::string& hostName)
{
    std::erase_if(app.rules, [&hostName](const rules::Rule& rule) { return IsHostOnlyRule(rule, hostName); });
    rules::Port port = rules::Port::Numbered(0);
    port.hosts = std::vector<std::string> {hostName};
    rules::Rule rule;
    rule.name = hostName;
    rule.permission = alertCode == protocol::kCodeOutgoingHostPermitted ? Permission::kPermit : Permission::kDeny;
    rule.direction = Direction::kOutgoing;
    rule.inForce = true;
    rule.ports = rules::PortsForOlderReaders(port, *rule.direction, *rule.permission);
    // First: the answer was asked for because no earlier rule decided, but a
    // broader rule after it (an ASK for every address) would.
    app.rules.insert(app.rules.begin(), std::move(rule));
}

// Whether the host of an answer may become a rule: only a name as the
// engine normalises it, never a pattern or a stray text (logged).
bool IsPlainHostName(const std::string& hostName, uint32_t processId, const char* caller)
{
    char normal[rules::kMaxHostName + 1];
    const size_t length = rules::NormalizeHostName(hostName.data(), hostName.size(), normal, sizeof normal);
    if (length != 0 && std::string_view(normal, length) == hostName)
        return true;
    WriteErrLog(caller, "the host name sent by process " + std::to_string(processId)
                            + " is not a plain host name; the answer is not stored");
    return false;
}

// Whether two answers cover the same connections.
bool SameScope(const rules::TimedAnswer& a, const rules::TimedAnswer& b)
{
    return a.direction == b.direction && a.port == b.port && a.address == b.address && a.host == b.host;
}

// The rule an answer "always" for a peer, a port or both makes.
rules::Rule ScopedRule(const rules::TimedAnswer& answer)
{
    rules::Port port = rules::Port::Numbered(answer.port);
    if (!answer.host.empty())
        port.hosts = std::vector<std::string> {answer.host};
    else if (!answer.address.empty())
        port.addresses = std::vector<std::string> {answer.address};
    rules::Rule rule;
    rule.name = !answer.host.empty() ? answer.host : !answer.address.empty() ? answer.address : "port " + std::to_string(answer.port);
    rule.permission = answer.permission;
    rule.direction = answer.direction;
    rule.inForce = true;
    rule.ports = rules::PortsForOlderReaders(port, answer.direction, answer.permission);
    return rule;
}

// Code 12: a timed answer first among the program's timed answers, or a
// rule first among its rules for one that lasts always; either replaces an
// earlier one of the same scope.
void StoreScopedAnswer(rules::Application& app, const rules::TimedAnswer& answer)
{
    std::erase_if(app.timed, [&answer](const rules::TimedAnswer& held) { return SameScope(held, answer); });
    if (answer.until != 0) {
        app.timed.insert(app.timed.begin(), answer);
        return;
    }
    rules::Rule rule = ScopedRule(answer);
    std::erase_if(app.rules, [&rule](const rules::Rule& earlier) {
        return earlier.direction == rule.direction && earlier.ports == rule.ports && earlier.name == rule.name;
    });
    // First, as an answer for one host is: see StoreHostRule.
    app.rules.insert(app.rules.begin(), std::move(rule));
}

// The answer of a code 12 message, when it is one the rules may keep: a
// peer that is a plain host name or one address, and a time not yet ended
// nor further away than any length the options allow (logged otherwise).
std::optional<rules::TimedAnswer> ScopedAnswerOf(const AlertAnswer& message, const char* caller)
{
    std::optional<rules::TimedAnswer> answer = rules::AnswerOfText(message.hostName);
    const auto refuse = [&](const char* why) {
        WriteErrLog(caller, "the answer sent by process " + std::to_string(message.processId) + " " + why
                                + "; it is not stored");
        return std::nullopt;
    };
    if (!answer)
        return refuse("is not one");
    if (!answer->host.empty()) {
        char normal[rules::kMaxHostName + 1];
        const size_t length = rules::NormalizeHostName(answer->host.data(), answer->host.size(), normal, sizeof normal);
        if (length == 0 || std::string_view(normal, length) != answer->host
            || answer->direction == Direction::kIncoming)
            return refuse("names no plain host");
    }
    if (!answer->address.empty() && !rules::ParseAddress(answer->address))
        return refuse("names no address");
    // Always for every connection is the program's default (codes 1 to 4).
    if (answer->until == 0 && answer->address.empty() && answer->host.empty() && answer->port == 0)
        return refuse("covers every connection always");
    const int64_t now = std::time(nullptr);
    if (answer->until != 0 && (answer->EndedAt(now) || answer->LongerThanAllowedAt(now))) {
        if (answer->until <= now)
            return std::nullopt; // ended before it arrived
        return refuse("lasts longer than any answer may");
    }
    return answer;
}

std::optional<Permission> FirstOf(std::initializer_list<std::optional<Permission>> permissions)
{
    for (const std::optional<Permission>& permission : permissions)
        if (permission)
            return permission;
    return std::nullopt;
}

}  // namespace

rules::Application& ProgramEntry(PanelCore& core, const std::string& exeName, const std::string& description,
                                 const std::string& path)
{
    if (rules::Application* app = core.Rules().Document().FindFor(exeName, path))
        return *app;
    return core.Rules().Document().Add(core.NewApplication(exeName, description, path, false));
}

void SetAnsweredDefault(const PanelCore& core, rules::Application& app, int alertCode)
{
    const Permission answer = alertCode == 1 || alertCode == 3 ? Permission::kDeny : Permission::kPermit;
    const bool followsSystem = !app.incoming;
    if (alertCode <= 2) {
        app.outgoing = followsSystem ? FirstOf({core.GeneralDefault(Direction::kOutgoing), app.outgoing, Permission::kAsk})
                                     : FirstOf({app.outgoing, Permission::kAsk});
        app.incoming = answer;
    } else {
        if (followsSystem)
            app.incoming = FirstOf({core.GeneralDefault(Direction::kIncoming), Permission::kAsk});
        app.outgoing = answer;
    }
}

std::string AnsweringProgramPath(uint32_t processId, const std::string& procRoot, const std::string& pathHint,
                                 const char* caller)
{
    std::string path = rules::rules_format::CleanCarrierPath(processes::ExecutablePath(procRoot, static_cast<pid_t>(processId)));
    const bool hintUsable = !pathHint.empty() && pathHint.front() == '/' && pathHint.size() < 4096
        && std::none_of(pathHint.begin(), pathHint.end(), [](char c) { return static_cast<unsigned char>(c) < 0x20; });
    if (path.empty() && hintUsable)
        path = rules::rules_format::CleanCarrierPath(pathHint);
    if (path.empty())
        WriteErrLog(caller, "process " + std::to_string(processId) + " cannot be examined; the answer is not stored");
    return path;
}

bool IsStoredAnswer(int alertCode)
{
    return (alertCode >= 1 && alertCode <= 4) || alertCode == protocol::kCodeOutgoingHostBlocked
        || alertCode == protocol::kCodeOutgoingHostPermitted || alertCode == protocol::kCodeScopedAnswer;
}

std::optional<AlertedApp> StoreAnswers(PanelCore& core, const std::vector<AlertAnswer>& answers)
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
        const bool forHost = answer.code == protocol::kCodeOutgoingHostBlocked
            || answer.code == protocol::kCodeOutgoingHostPermitted;
        if (forHost && !IsPlainHostName(answer.hostName, answer.processId, caller))
            continue;
        std::optional<rules::TimedAnswer> scoped;
        if (answer.code == protocol::kCodeScopedAnswer && !(scoped = ScopedAnswerOf(answer, caller)))
            continue;
        auto known = programs.find(answer.path);
        if (known == programs.end())
            known = programs.emplace(answer.path, ProgramAt(answer.path)).first;
        AlertedProgram& program = known->second;
        rules::Application& app = ProgramEntry(core, program.exeName, program.description, program.path);
        if (app.path.empty())
            app.path = program.path;
        // The answer is for the file that asked: a content check takes it
        // as the program from now on.
        if (!app.fileHash.empty()) {
            if (!program.digest)
                program.digest = os::FileDigestText(program.path);
            if (!program.digest->empty())
                app.fileHash = *program.digest;
        }
        if (scoped)
            StoreScopedAnswer(app, *scoped);
        else if (forHost)
            StoreHostRule(app, answer.code, answer.hostName);
        else
            SetAnsweredDefault(core, app, answer.code);
        if (std::find(changed.begin(), changed.end(), program.exeName) == changed.end())
            changed.push_back(program.exeName);
        shown = AlertedApp {app.Key(), app.description};
    }
    if (!shown)
        return shown;
    if (!core.Save())
        WriteErrLog(caller, "the answers are held in the window but not saved");
    // Saved first: an engine told of its change reads the new file.
    for (const std::string& name : changed)
        core.Updates().Add(name);
    for (const std::string& name : changed)
        core.Changes().Announce({Change::Kind::kApplicationChanged, name});
    return shown;
}

std::optional<AlertedApp> SetNewApp(PanelCore& core, int alertCode, uint32_t processId, const std::string& procRoot,
                                    const std::string& endedExeName, const std::string& pathHint)
{
    const char* caller = "WindowsProcessList : SetNewApp";
    if (alertCode == protocol::kCodeApplicationFinished) {
        if (!endedExeName.empty())
            core.Updates().Remove(endedExeName);
        return std::nullopt;
    }
    if (alertCode < 1 || alertCode > 4) {
        WriteErrLog(caller, "unknown alert code " + std::to_string(alertCode));
        return std::nullopt;
    }
    const std::string path = AnsweringProgramPath(processId, procRoot, pathHint, caller);
    if (path.empty())
        return std::nullopt;
    return StoreAnswers(core, {{alertCode, processId, path, {}}});
}

std::optional<AlertedApp> SetHostRule(PanelCore& core, int alertCode, uint32_t processId, const std::string& procRoot,
                                      const std::string& hostName, const std::string& pathHint)
{
    const char* caller = "WindowsProcessList : SetHostRule";
    if (alertCode != protocol::kCodeOutgoingHostBlocked && alertCode != protocol::kCodeOutgoingHostPermitted) {
        WriteErrLog(caller, "unknown alert code " + std::to_string(alertCode));
        return std::nullopt;
    }
    if (!IsPlainHostName(hostName, processId, caller))
        return std::nullopt;
    const std::string path = AnsweringProgramPath(processId, procRoot, pathHint, caller);
    if (path.empty())
        return std::nullopt;
    return StoreAnswers(core, {{alertCode, processId, path, hostName}});
}

}  // namespace panel
