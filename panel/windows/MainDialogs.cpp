#include "panel/windows/MainDialogs.h"

#include "gui/ProgramIcon.h"
#include "os/Clock.h"
#include "panel/core/ApplicationEditing.h"
#include "panel/core/FileInformation.h"
#include "panel/core/Options.h"
#include "panel/dialogs/AdvancedForm.h"
#include "panel/dialogs/ApplicationWizard.h"
#include "panel/dialogs/FirstRunWindow.h"
#include "panel/dialogs/RuleEditor.h"
#include "panel/dialogs/TimedAnswersWindow.h"
#include "panel/dialogs/ToolsOption.h"
#include "panel/dialogs/TrayNotice.h"
#include "panel/widgets/TreeImages.h"
#include "rules/RulesFormat.h"

#include <QCoreApplication>
#include <QMessageBox>
#include <QPushButton>

#include <ctime>
#include <utility>

namespace panel {

std::optional<rules::Application> RunWizard(QWidget* parent, WizardInput input)
{
    ApplicationWizard wizard(std::move(input), parent);
    if (wizard.exec() != QDialog::Accepted)
        return std::nullopt;
    return wizard.Result();
}

std::optional<rules::Rule> EditRuleFromLog(QWidget* parent, const RuleFromLogInput& input)
{
    RuleEditor::Input shown;
    shown.application = rules::IsPathKey(input.path) ? QString::fromStdString(ProgramDisplayName(input.path))
                                                     : NodeText(input.description);
    shown.icon = gui::ExecutablePixmap(QString::fromStdString(input.path), 32);
    shown.rule = input.rule;
    shown.proposed = true;
    shown.portNames = input.portNames;
    RuleEditor editor(shown, parent);
    if (editor.exec() != QDialog::Accepted)
        return std::nullopt;
    return editor.Result();
}

bool AskToShutDown(QWidget* parent)
{
    QMessageBox question(QMessageBox::Question, QCoreApplication::translate("panel::MainForm", "Shut Down Korvel Firewall"),
                         QCoreApplication::translate("panel::MainForm", "Shut down the firewall?\n\nPrograms are no longer "
                                                                 "filtered until the control panel starts again."),
                         QMessageBox::NoButton, parent);
    question.setObjectName("ShutDownQuestion");
    QPushButton* yes = question.addButton(QCoreApplication::translate("panel::MainForm", "&Shut Down"),
                                          QMessageBox::DestructiveRole);
    yes->setObjectName("ShutDownYes");
    QPushButton* no = question.addButton(QMessageBox::Cancel);
    question.setDefaultButton(no);
    question.setEscapeButton(no);
    question.exec();
    return question.clickedButton() == yes;
}

namespace {

std::string SelectedName(const PanelCore& core)
{
    const Selection selected = core.Selected();
    // The system settings by where they are selected, not by a text a
    // program's description may read too.
    return selected.view == Selection::View::kApplication ? selected.application : rules::rules_format::kGeneralApp;
}

}  // namespace

void OpenAdvanced(QWidget* parent, PanelCore& core, int level)
{
    ApplicationEditing editing(core, SelectedName(core), level);
    AdvancedForm advanced(editing, parent);
    advanced.exec();
}

int EditSelectedRule(QWidget* parent, PanelCore& core, int level, int rule)
{
    ApplicationEditing editing(core, SelectedName(core), level);
    const std::optional<size_t> put = EditRule(editing, static_cast<size_t>(rule), parent);
    return put ? static_cast<int>(*put) : rule;
}

bool OpenOptions(QWidget* parent, PanelCore& core, int tickInterval)
{
    Options current = Options::Of(core.Settings());
    ShowMode(current, core.FirewallMode(), os::WallTime());
    const ToolsOption::Store store = [&core, &current](const Options& options) {
        const OptionsStored stored = StoreOptions(core.Settings(), options, std::time(nullptr));
        // Announced, for the tray.
        if (stored.stored && ModeChosenAnew(current, options))
            core.SetFirewallMode(options.mode, os::WallTime(), options.learnDays);
        return stored;
    };
    const auto showTimed = [&core](QWidget* over) {
        TimedAnswersWindow timed(core, over);
        timed.exec();
    };
    ToolsOption options(current, tickInterval, store, parent, showTimed);
    options.exec();
    return options.SessionOptionChanged();
}

std::optional<int> ShowFirstRun(QWidget* parent, const FirstRunInput& input)
{
    FirstRunWindow window(input, parent);
    window.exec();
    return window.Level();
}

void ShowTrayNotice(QWidget* parent, PanelCore& core)
{
    TrayNotice notice(parent);
    if (notice.exec() == QDialog::Accepted)
        core.SetTrayNoticeShown(notice.ShowAgain());
}

}  // namespace panel
