#pragma once

#include "panel/core/LogReader.h"
#include "panel/core/PanelCore.h"
#include "panel/core/Selection.h"

#include <QFrame>

#include <optional>
#include <string>

class QCheckBox;
class QGroupBox;
class QLabel;
class QPushButton;

namespace panel {

class CoreSignals;
class DefaultsGroup;
class LogPage;
class RulesList;
class SecurityLevelBox;

// The main window's right-hand side for one node: the system settings and
// their level, a program's defaults, rules and statistics, or a traffic
// log. What the user changes here goes to the panel's core at once.
class ApplicationPane : public QFrame {
    Q_OBJECT
public:
    ApplicationPane(panel::PanelCore& core, QWidget* parent);

    // Shows the core's selection (the system settings, a program, a log).
    void ShowSelection();
    // The name over the view ("System settings", a log's caption).
    void SetCaption(const QString& caption);
    // The log shown is read again (the half-minute refresh).
    void RefreshLog();
    // The level and status of the system settings, from the core.
    void ShowSecurity();
    // Block All as the toolbar's button says.
    void ShowBlockAll(bool on);
    // Without the rules nothing can be changed here (the logs stay).
    void SetRulesEditing(bool enabled);

    // Shows what the core announces: the level and Block All as they change.
    void Follow(const CoreSignals* changes);
    // The level the slider shows.
    int Level() const;
    // The row selected in the log shown, if any.
    std::optional<panel::LogRow> SelectedLogRow() const;
    // The cursor into the log's search (Ctrl+F).
    void FocusLogSearch();

    // Makes the rule's row current again (after its editor closed).
    void SelectRule(int rule);

signals:
    void AdvancedRequested();
    // Return, a double click or the menu on a rule of the list.
    void EditRuleRequested(int rule);
    // The log's menu: add the row's program, or make a rule from the row.
    void AddProgramRequested();
    void MakeRuleRequested();

private:
    void ShowApplication(const std::string& name);
    void ShowParts(panel::Selection::View view);
    void Apply();
    void DefaultPicked(rules::Direction direction);
    void FollowSystemClicked();
    void LevelChosen(int level);
    void PresetChosen(int level);
    void RuleSwitched(int rule, bool inForce);
    void ShowStatistics(const rules::Application* app);
    void ShowLogView();

    panel::PanelCore& core_;
    // The application the settings are for: a program's name, or "ANY".
    std::string current_;
    QLabel* icon_;
    QLabel* name_;
    QLabel* path_;
    SecurityLevelBox* security_;
    QGroupBox* settings_;
    DefaultsGroup* defaults_;
    QCheckBox* followSystem_;
    QCheckBox* contentCheck_;
    QCheckBox* ignoreLists_;
    QPushButton* advanced_;
    QPushButton* apply_;
    RulesList* rules_;
    LogPage* log_;
    QCheckBox* showServices_;
    QLabel* note_;
    QLabel* blockActive_;
    QGroupBox* statisticsFrame_;
    QLabel* statistics_;
};

}  // namespace panel
