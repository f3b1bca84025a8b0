#pragma once

#include "panel/core/PanelCore.h"
#include "panel/core/SessionCoverage.h"

#include <functional>
#include <optional>
#include <string>

namespace panel {

// The two ways of living with the firewall the first-run window offers,
// as the preset levels they are.
inline constexpr int kAskEveryProgramLevel = 0; // High: outgoing connections asked, incoming blocked
inline constexpr int kAskIncomingLevel = 1;     // Normal: outgoing allowed, incoming asked

// What the first-run window is given.
struct FirstRunInput {
    // The choice shown as made: the level in force when it is one of the two.
    std::optional<int> level;
    // Whether a level can be chosen (the rules file is held as it is).
    bool canChoose = true;
    // What is decided now and after the next login, in the side column's words.
    std::string coverageNow;
    std::string coverageNextLogin;
    // Starts a terminal whose programs run under the firewall; an empty text
    // when it started, else why not. None when no terminal can be.
    std::function<std::string()> openTerminal;
};

// The control panel's first start explains itself: the first-run window,
// shown once (the "FirstRunShown" setting remembers it, whether a choice was
// made or it was skipped); a level chosen there is set as the system
// settings' page sets it.
class FirstRunFlow {
public:
    // The window as the main window shows it: the level chosen, nothing when skipped.
    using Window = std::function<std::optional<int>(const FirstRunInput&)>;

    FirstRunFlow(PanelCore& core, Window window);

    // Shows the window unless it was shown before; true when it was shown now.
    bool Run(const SessionFacts& facts);

    // zel-run beside the panel, and the terminal it starts (x-terminal-emulator
    // found on PATH); tests put their own.
    std::string ZelRunProgram;
    std::string Terminal;

private:
    std::function<std::string()> TerminalStarter(const SessionFacts& facts) const;

    PanelCore& core_;
    Window window_;
};

}  // namespace panel
