#include "panel/core/SessionCoverage.h"

#include "os/hooksafe/Retry.h"
#include "panel/core/ErrorLog.h"
#include "panel/core/SettingValues.h"
#include "protocol/Registry.h"
#include "protocol/SettingNames.h"
#include "session/SessionLogin.h"
#include "text/Translate.h"

#include <cerrno>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <unordered_map>

extern char** environ;

namespace panel {

namespace {

// Why the hook cannot be named for the session's programs, as one sentence.
std::string HookUnusableText(session::HookProblem problem, const std::string& hook)
{
    const char* text = "";
    switch (problem) {
    case session::HookProblem::kNone:
        return {};
    case session::HookProblem::kMissing:
        text = ZEL_TEXT_NOOP("SessionCoverage", "Programs you start are not decided: the firewall's hook %1 is missing. "
                                                "Install the firewall again.");
        break;
    case session::HookProblem::kUnusablePath:
        text = ZEL_TEXT_NOOP("SessionCoverage", "Programs you start are not decided: the firewall's hook %1 lies in a "
                                                "folder whose name holds a blank, a colon or a sign the loader reads. "
                                                "Install the firewall again.");
        break;
    case session::HookProblem::kWritableByOthers:
        text = ZEL_TEXT_NOOP("SessionCoverage", "Programs you start are not decided: the firewall's hook %1 could be "
                                                "changed by other users. Install the firewall again.");
        break;
    }
    return text::Arg(text::Tr("SessionCoverage", text), {hook});
}

}  // namespace

SessionFacts ReadSessionFacts(const std::string& installDir, bool startedUnderHook)
{
    SessionFacts facts;
    facts.optionOn = session::IsOptionOn();
    facts.hook = installDir + session::kHookFileName;
    facts.problem = session::CheckHook(facts.hook, ::getuid());
    facts.startedUnderHook = startedUnderHook;
    return facts;
}

Coverage CoverageOf(const SessionFacts& facts)
{
    if (!facts.optionOn)
        return Coverage::kOff;
    if (facts.problem != session::HookProblem::kNone)
        return Coverage::kHookUnusable;
    return facts.startedUnderHook && !facts.switchedOnNow ? Coverage::kWholeSession : Coverage::kFromNow;
}

std::string CoverageText(const SessionFacts& facts)
{
    switch (CoverageOf(facts)) {
    case Coverage::kOff:
        return text::Tr("SessionCoverage", "Only programs you start with zel-run are decided by your rules. To have "
                                               "every program you start decided, tick \"Decide every program I start\" "
                                               "in Settings.");
    case Coverage::kHookUnusable:
        return HookUnusableText(facts.problem, facts.hook);
    case Coverage::kFromNow:
        return text::Tr("SessionCoverage", "Programs you start from now on are decided by your rules; programs "
                                               "already running are not: restart them or log in again");
    case Coverage::kWholeSession:
        return text::Tr("SessionCoverage", "Programs you start are decided by your rules.");
    }
    return {};
}

SessionFacts AtNextLogin(const SessionFacts& now)
{
    SessionFacts next = now;
    next.startedUnderHook = now.optionOn;
    next.switchedOnNow = false;
    return next;
}

bool SaveSessionOption(bool on)
{
    return SaveString(RootKey::LocalMachine, protocol::registry::kSettingsKey, protocol::settings::kDecideEveryProgram,
                      on ? "1" : "0");
}

bool ApplySessionOption(bool on, const std::string& installDir, bool updateRunningSession)
{
    const std::string program = installDir + session::kSessionProgramName;
    bool ok = true;
    std::string why;
    if (on && !session::IsMachineWide(installDir, ZEL_PKG_DIR)) {
        if (!session::WriteLoginFiles(program, &why)) {
            WriteErrLog("SessionCoverage : ApplySessionOption", "the session's start-up files cannot be written: " + why);
            ok = false;
        }
    } else if (session::HasLoginFiles() && !session::RemoveLoginFiles(&why)) {
        WriteErrLog("SessionCoverage : ApplySessionOption", "the session's start-up files cannot be removed: " + why);
        ok = false;
    }
    if (!updateRunningSession || ::access(program.c_str(), X_OK) != 0)
        return ok;
    // The session's manager may be slow to answer: nothing waits for it
    // but a thread that collects the program when it ends.
    char* const arguments[] = {const_cast<char*>(program.c_str()), const_cast<char*>("--update-session"), nullptr};
    pid_t child = -1;
    if (::posix_spawn(&child, program.c_str(), nullptr, nullptr, arguments, environ) != 0) {
        WriteErrLogErrno("SessionCoverage : ApplySessionOption", "cannot start " + program, errno);
        return false;
    }
    std::thread([child] {
        int status = 0;
        os::RetryOnInterrupt([&] { return ::waitpid(child, &status, 0); });
    }).detach();
    return ok;
}

namespace {

using session::coverage::Program;
using session::coverage::Reason;
using session::coverage::State;
using text::Tr;

}  // namespace

std::string StateText(State state)
{
    switch (state) {
    case State::kFirewall:
        return Tr("SessionCoverage", "Firewall");
    case State::kBackstop:
        return Tr("SessionCoverage", "Kernel backstop");
    case State::kNotCovered:
        return Tr("SessionCoverage", "Not covered");
    }
    return {};
}

std::string ReasonText(const Program& program, const std::string& owner)
{
    switch (program.reason) {
    case Reason::kNone:
        return program.registered
            ? Tr("SessionCoverage", "Its connections are decided by your rules.")
            : Tr("SessionCoverage", "Under the firewall: its next connection is decided by your rules.");
    case Reason::kStartedWithout:
        return Tr("SessionCoverage",
                  "Started before protection was on (or by a program that was), so the firewall is not in it.");
    case Reason::kHookNotLoaded:
        return Tr("SessionCoverage", "The firewall was named for it but could not be loaded when it started.");
    case Reason::kStatic:
        return Tr("SessionCoverage", "Statically linked: the firewall cannot enter it.");
    case Reason::kOwnSystemCalls:
        return Tr("SessionCoverage",
                  "Makes its own system calls (a Go program): the firewall does not see its connections.");
    case Reason::kForeignArchitecture:
        return Tr("SessionCoverage",
                  "A program of another word size (32-bit): the firewall's hook is built for 64-bit programs.");
    case Reason::kSecureExecution:
        return Tr("SessionCoverage", "Set-user-ID or with file capabilities: the system keeps the firewall out of it.");
    case Reason::kSandboxed:
        return Tr("SessionCoverage",
                  "A sandboxed bundle (Flatpak or Snap): it starts with a cleared environment, without the firewall.");
    case Reason::kOtherUser:
        if (owner.empty())
            return Tr("SessionCoverage", "Another user's program: the firewall decides only your own programs.");
        return text::Arg(
            Tr("SessionCoverage", "Another user's program (it runs as %1): the firewall decides only your own programs."),
            {owner});
    }
    return {};
}

std::string AdviceText(const Program& program, bool backstopRunning)
{
    if (program.state == State::kFirewall)
        return Tr("SessionCoverage", "Nothing to do.");
    if (program.CanRestartUnderHook())
        return Tr("SessionCoverage", "Restart it under the firewall, or log in again.");
    if (program.reason == Reason::kOtherUser)
        return Tr("SessionCoverage", "Start it as yourself to have it decided by your rules.");
    if (backstopRunning)
        return Tr("SessionCoverage", "The kernel backstop decides its connections.");
    return Tr("SessionCoverage", "Install the kernel backstop (zel-backstop, as root) to cover it; see the README.");
}

std::vector<ProgramProcesses> GroupByProgram(const std::vector<Program>& processes)
{
    std::vector<ProgramProcesses> programs;
    std::unordered_map<std::string, size_t> byFile;
    for (const Program& process : processes) {
        if (process.exePath.empty()) {
            programs.push_back({&process});
            continue;
        }
        const auto [at, added] = byFile.try_emplace(process.exePath, programs.size());
        if (added)
            programs.emplace_back();
        ProgramProcesses& group = programs[at->second];
        // The states run from covered to not covered: the least covered goes first.
        const bool weaker = !group.empty() && static_cast<int>(process.state) > static_cast<int>(group.front()->state);
        group.insert(weaker ? group.begin() : group.end(), &process);
    }
    return programs;
}

std::string SummaryText(const std::vector<Program>& processes)
{
    const std::vector<ProgramProcesses> programs = GroupByProgram(processes);
    int firewall = 0, backstop = 0, open = 0;
    for (const ProgramProcesses& program : programs)
        (program.front()->state == State::kFirewall   ? firewall
         : program.front()->state == State::kBackstop ? backstop
                                                      : open)++;
    if (programs.empty())
        return Tr("SessionCoverage", "Protection: no program of yours has a network connection.");
    // English words its singular apart, as it has no translation of its own;
    // a translation gives the plural forms of the second.
    const std::string decided = firewall == 1
        ? Tr("SessionCoverage", "1 program decided by your rules")
        : Tr("SessionCoverage", "%n programs decided by your rules", nullptr, firewall);
    const std::string byBackstop = Tr("SessionCoverage", "%n by the kernel backstop", nullptr, backstop);
    const std::string notCovered = Tr("SessionCoverage", "%n not covered", nullptr, open);
    if (backstop && open)
        return text::Arg(Tr("SessionCoverage", "Protection: %1, %2, %3."), {decided, byBackstop, notCovered});
    if (backstop || open)
        return text::Arg(Tr("SessionCoverage", "Protection: %1, %2."), {decided, backstop ? byBackstop : notCovered});
    return text::Arg(Tr("SessionCoverage", "Protection: %1."), {decided});
}

std::string RuntimeFolderText(const os::RuntimeFolderState& state)
{
    if (!state.problem.empty())
        return text::Arg(Tr("SessionCoverage", "Your programs' connections are refused while the firewall is on: "
                                                   "it cannot use its runtime folder. In detail: %1"),
                             {state.problem});
    if (state.underHome)
        return text::Arg(Tr("SessionCoverage", "This session has no XDG_RUNTIME_DIR, so the firewall keeps its live "
                                                   "files in %1, a folder of yours that only you can open (never in "
                                                   "/tmp, where another user could make the folder first)."),
                             {state.path});
    return {};
}

}  // namespace panel
