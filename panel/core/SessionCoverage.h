#pragma once

#include "os/Paths.h"
#include "session/ProgramCoverage.h"
#include "session/SessionPreload.h"

#include <string>
#include <vector>

namespace panel {

// "Decide every program I start": what the choice covers now, in words for
// the main window, and making the session's start-up files and the running
// session follow it.

struct SessionFacts {
    bool optionOn = false;
    std::string hook; // the installation's hook
    session::HookProblem problem = session::HookProblem::kNone;
    // The panel itself was started with the hook named: the desktop that
    // started it gives it to what it starts.
    bool startedUnderHook = false;
    // Switched on while the panel runs: programs already running started without it.
    bool switchedOnNow = false;
};

enum class Coverage {
    kOff,          // only programs started with zel-run
    kHookUnusable, // on, but the hook cannot be named
    kFromNow,      // on; this session's programs that already run started without it
    kWholeSession, // on, and this session started with it
};

// The facts for the installation folder (ending in "/").
SessionFacts ReadSessionFacts(const std::string& installDir, bool startedUnderHook);
Coverage CoverageOf(const SessionFacts& facts);
// What is decided now, as one or two sentences for the main window.
std::string CoverageText(const SessionFacts& facts);
// The facts as the next login will have them: with the option on, the
// session starts with the hook named (the start-up files name it).
SessionFacts AtNextLogin(const SessionFacts& now);

// Stores the choice ("DecideEveryProgram"); false (logged) when it could not be.
bool SaveSessionOption(bool on);

// Makes the user's start-up files follow the choice (an installation for
// the machine brings its own, so the user's are taken away) and, when asked,
// starts zel-session to update the running session's services without
// waiting for it. False (logged) when a file could not be written or removed.
bool ApplySessionOption(bool on, const std::string& installDir, bool updateRunningSession);

// The words of the Protection view for a program's state, the reason the
// hook is not in it (owner: the user name of another user's program), what
// fixes it, and the one line that sums up all programs.
std::string StateText(session::coverage::State state);
std::string ReasonText(const session::coverage::Program& program, const std::string& owner);
std::string AdviceText(const session::coverage::Program& program, bool backstopRunning);
std::string SummaryText(const std::vector<session::coverage::Program>& programs);

// The processes of one program, by its executable file (nine browser
// processes are one program): the least covered one first, whose state and
// reason are the program's. A process whose file cannot be read is a
// program of its own. In the order the programs were first met.
using ProgramProcesses = std::vector<const session::coverage::Program*>;
std::vector<ProgramProcesses> GroupByProgram(const std::vector<session::coverage::Program>& processes);
// The runtime folder's line: why the user's programs are refused when it
// cannot be used, where it is when the session gives none; empty otherwise.
std::string RuntimeFolderText(const os::RuntimeFolderState& state);

}  // namespace panel
