#pragma once

#include "panel/control/FirstRunFlow.h"
#include "panel/control/LogRuleFlow.h"
#include "panel/control/WizardFlow.h"
#include "panel/core/PanelCore.h"

#include <optional>

class QWidget;

namespace panel {

// The dialogs the main window opens over itself (parent): those the flows
// show through functions, and those of its own commands.

// The add-application wizard; the application it made, none when cancelled.
std::optional<rules::Application> RunWizard(QWidget* parent, WizardInput input);
// The rule editor on a rule made from a log row; the rule, none when cancelled.
std::optional<rules::Rule> EditRuleFromLog(QWidget* parent, const RuleFromLogInput& input);
// Whether the user says yes to shutting the firewall down.
bool AskToShutDown(QWidget* parent);
// The advanced settings of the program selected, else of the system settings.
void OpenAdvanced(QWidget* parent, PanelCore& core, int level);
// The rule editor on a rule (0-based) of the program selected, else of the
// system settings; the rule's place after (last), the same when cancelled.
int EditSelectedRule(QWidget* parent, PanelCore& core, int level, int rule);
// The options; true when the session's option changed.
bool OpenOptions(QWidget* parent, PanelCore& core, int tickInterval);
// The notice that the window went to the tray (and whether it shows again).
void ShowTrayNotice(QWidget* parent, PanelCore& core);
// The first start's window; the level chosen, none when skipped.
std::optional<int> ShowFirstRun(QWidget* parent, const FirstRunInput& input);

}  // namespace panel
