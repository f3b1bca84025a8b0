#pragma once

#include <QDialog>

#include <optional>

class QCheckBox;
class QLabel;
class QPushButton;
class QTreeWidgetItem;

namespace panel {

class DefaultsGroup;
class RulesList;
class ApplicationEditing;

// The rule editor over parent on the rule (none: a new one) of the
// application edited; the rule, if accepted, saved at once. Where the rule
// is now (last), none when cancelled.
std::optional<size_t> EditRule(panel::ApplicationEditing& editing, std::optional<size_t> rule, QWidget* parent);

// The advanced window: one application's (or the system settings')
// defaults and its rules, ordered, switched, added, edited and removed.
// Every rule change is saved at once; OK applies the defaults; Cancel puts
// the application back as it was when the window opened (rules switched on
// or off stay so).
class AdvancedForm : public QDialog {
    Q_OBJECT
public:
    AdvancedForm(panel::ApplicationEditing& editing, QWidget* parent);

    // The rule (0-based) the buttons act on: the current row's (the one
    // with the focus mark, clicked or reached by keyboard); -1 for none.
    int SelectedRule() const;

    // Cancel, Escape and the close box alike put the application back.
    void reject() override;

private:
    void Refill();
    void FollowSystemClicked();
    void DefaultPicked(int direction);
    void Move(int by);
    void OpenRuleEditor(std::optional<int> rule);
    void RemoveRule();
    void Accept();

    panel::ApplicationEditing& editing_;
    QLabel* icon_;
    QLabel* name_;
    DefaultsGroup* defaults_;
    QCheckBox* check_;
    QLabel* checkCaption_;
    RulesList* rules_;
    QPushButton* edit_;
    QPushButton* remove_;
};

}  // namespace panel
