#include "core/SessionCoverage.h"

#include "core/ErrorLog.h"
#include "core/SettingValues.h"
#include "platform/Registry.h"
#include "platform/SessionLogin.h"
#include "platform/Settings.h"

#include <cerrno>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace panel {

namespace session = platform::session;

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
        return "Only programs you start with zel-run are decided by your rules. To have every program you start "
               "decided, tick \"Decide every program I start\" in Settings.";
    case Coverage::kHookUnusable:
        return "Programs you start are not decided: " + session::HookProblemText(facts.problem, facts.hook)
            + ". Install the firewall again.";
    case Coverage::kFromNow:
        return "Programs you start from now on are decided by your rules; programs already running are not: "
               "restart them or log in again";
    case Coverage::kWholeSession:
        return "Programs you start are decided by your rules.";
    }
    return {};
}

bool SaveSessionOption(bool on)
{
    return SaveString(RootKey::LocalMachine, platform::registry::kSettingsKey, platform::settings::kDecideEveryProgram,
                      on ? "1" : "0");
}

bool ApplySessionOption(bool on, const std::string& installDir, bool updateRunningSession)
{
    const std::string program = installDir + session::kSessionProgramName;
    bool ok = true;
    if (on && !session::IsMachineWide(installDir, ZEL_PKG_DIR)) {
        if (!session::WriteLoginFiles(program)) {
            WriteErrLogErrno("SessionCoverage : ApplySessionOption", "the session's start-up files cannot be written", errno);
            ok = false;
        }
    } else if (session::HasLoginFiles() && !session::RemoveLoginFiles()) {
        WriteErrLogErrno("SessionCoverage : ApplySessionOption", "the session's start-up files cannot be removed", errno);
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
        while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
        }
    }).detach();
    return ok;
}

namespace {

using platform::coverage::Program;
using platform::coverage::Reason;
using platform::coverage::State;

std::string Programs(size_t count) { return std::to_string(count) + (count == 1 ? " program" : " programs"); }

}  // namespace

std::string StateText(State state)
{
    switch (state) {
    case State::kFirewall:
        return "Firewall";
    case State::kBackstop:
        return "Kernel backstop";
    case State::kNotCovered:
        return "Not covered";
    }
    return {};
}

std::string ReasonText(const Program& program, const std::string& owner)
{
    switch (program.reason) {
    case Reason::kNone:
        return program.registered ? "Its connections are decided by your rules."
                                  : "Under the firewall: its next connection is decided by your rules.";
    case Reason::kStartedWithout:
        return "Started before protection was on (or by a program that was), so the firewall is not in it.";
    case Reason::kHookNotLoaded:
        return "The firewall was named for it but could not be loaded when it started.";
    case Reason::kStatic:
        return "Statically linked: the firewall cannot enter it.";
    case Reason::kOwnSystemCalls:
        return "Makes its own system calls (a Go program): the firewall does not see its connections.";
    case Reason::kForeignArchitecture:
        return "A program of another word size (32-bit): the firewall's hook is built for 64-bit programs.";
    case Reason::kSecureExecution:
        return "Set-user-ID or with file capabilities: the system keeps the firewall out of it.";
    case Reason::kSandboxed:
        return "A sandboxed bundle (Flatpak or Snap): it starts with a cleared environment, without the firewall.";
    case Reason::kOtherUser:
        return "Another user's program" + (owner.empty() ? std::string() : " (it runs as " + owner + ")")
            + ": the firewall decides only your own programs.";
    }
    return {};
}

std::string AdviceText(const Program& program, bool backstopRunning)
{
    if (program.state == State::kFirewall)
        return "Nothing to do.";
    if (program.CanRestartUnderHook())
        return "Restart it under the firewall, or log in again.";
    if (program.reason == Reason::kOtherUser)
        return "Start it as yourself to have it decided by your rules.";
    if (backstopRunning)
        return "The kernel backstop decides its connections.";
    return "Install the kernel backstop (zel-backstop, as root) to cover it; see the README.";
}

std::string SummaryText(const std::vector<Program>& programs)
{
    size_t firewall = 0, backstop = 0, open = 0;
    for (const Program& program : programs)
        (program.state == State::kFirewall ? firewall : program.state == State::kBackstop ? backstop : open)++;
    if (programs.empty())
        return "Protection: no program of yours has a network connection.";
    std::string text = "Protection: " + Programs(firewall) + " decided by your rules";
    if (backstop)
        text += ", " + std::to_string(backstop) + " by the kernel backstop";
    if (open)
        text += ", " + std::to_string(open) + " not covered";
    return text + ".";
}

std::string BackstopText(bool running)
{
    return running ? "The kernel backstop runs: it covers your programs the firewall cannot enter."
                   : "The kernel backstop is not installed: programs the firewall cannot enter (statically linked, "
                     "Go, set-user-ID, sandboxed) are not covered. It installs as root: see the README.";
}

}  // namespace panel
