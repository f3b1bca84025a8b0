#pragma once

#include <QDialog>

class QCheckBox;
class QLabel;
class QPushButton;
class QTreeWidgetItem;

namespace panel {

class DefaultsGroup;
class RulesList;
class ApplicationEditing;

// The advanced window: one application's (or the system settings')
// defaults and its rules, ordered, switched, added, edited and removed.
// Every rule change is saved at once; OK applies the defaults; Cancel puts
// the application back as it was when the window opened (rules switched on
// or off stay so).
class AdvancedForm : public QDialog {
    Q_OBJECT
public:
    AdvancedForm(panel::ApplicationEditing& editing, QWidget* parent);

    // The rule (0-based) the buttons act on; -1 when none was clicked since
    // the list was filled.
    int SelectedRule() const { return selectedRule_; }

    // Cancel, Escape and the close box alike put the application back.
    void reject() override;

private:
    void Refill();
    void FollowSystemClicked();
    void DefaultPicked(int direction);
    void Move(int by);
    void OpenRuleEditor(bool editSelected);
    void RemoveRule();
    void Accept();

    panel::ApplicationEditing& editing_;
    int selectedRule_ = -1;
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
