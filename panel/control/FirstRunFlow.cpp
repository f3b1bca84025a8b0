#include "panel/control/FirstRunFlow.h"

#include "os/Processes.h"
#include "panel/core/ErrorLog.h"

#include <QCoreApplication>
#include <QDir>
#include <QProcess>
#include <QStandardPaths>

#include <unistd.h>

namespace panel {

FirstRunFlow::FirstRunFlow(PanelCore& core, Window window) : core_(core), window_(std::move(window))
{
    const std::string self = os::processes::OwnExecutablePath();
    ZelRunProgram = self.substr(0, self.rfind('/') + 1) + "zel-run";
    Terminal = QStandardPaths::findExecutable("x-terminal-emulator").toStdString();
}

std::function<std::string()> FirstRunFlow::TerminalStarter(const SessionFacts& facts) const
{
    // zel-run names the hook for the terminal, and the terminal for every
    // program started in it: only where the hook can be named at all.
    if (facts.problem != session::HookProblem::kNone || Terminal.empty() || ZelRunProgram.empty()
        || ::access(ZelRunProgram.c_str(), X_OK) != 0 || ::access(Terminal.c_str(), X_OK) != 0)
        return {};
    return [zelRun = ZelRunProgram, terminal = Terminal] {
        QProcess process;
        process.setProgram(QString::fromStdString(zelRun));
        process.setArguments({"--", QString::fromStdString(terminal)});
        process.setWorkingDirectory(QDir::homePath());
        if (process.startDetached())
            return std::string();
        WriteErrLog("FirstRunFlow : OpenTerminal", "cannot start " + terminal + ": " + process.errorString().toStdString());
        return process.errorString().toStdString();
    };
}

bool FirstRunFlow::Run(const SessionFacts& facts)
{
    if (core_.Settings().FirstRunShown)
        return false;
    FirstRunInput input;
    input.canChoose = core_.RulesReadable();
    const SecurityDisplay security = core_.Security();
    if (!security.custom && security.level
        && (*security.level == kAskEveryProgramLevel || *security.level == kAskIncomingLevel))
        input.level = security.level;
    input.coverageNow = CoverageText(facts);
    input.coverageNextLogin = CoverageText(AtNextLogin(facts));
    input.openTerminal = TerminalStarter(facts);
    const std::optional<int> level = window_(input);
    core_.SetFirstRunShown();
    if (level && core_.RulesReadable())
        core_.ChooseLevel(*level);
    return true;
}

}  // namespace panel
