#pragma once

#include "settings/AppBuffer.h"

#include <QDialog>

#include <string>

class MainForm;
class QCheckBox;
class QGroupBox;
class QLabel;
class QPushButton;
class QRadioButton;
class QTreeWidget;
class QTreeWidgetItem;

// The advanced window: one application's (or the system settings') defaults
// and its rules, ordered, switched, added, edited and removed. Every rule
// change is saved at once; Cancel puts the application back as it was when
// the window opened.
class AdvancedForm : public QDialog {
    Q_OBJECT
public:
    AdvancedForm(MainForm& main, QWidget* parent);

    // Mode 0: the system settings; 1: the application exeName. Prepare
    // fills the window; SetAdvancedForm also shows it modally.
    void Prepare(int mode, const std::string& exeName);
    void SetAdvancedForm(int mode, const std::string& exeName);

    void ApplyCustomCheck_Click();
    void PermissionButton_Click(const QString& direction);
    void MainListView_Click(QTreeWidgetItem* row);
    void MoveUpCmd_Click();
    void MoveDownCmd_Click();
    void AddRuleBtn_Click();
    void DelRuleBtn_Click();
    void EditRuleBtn_Click();
    void CmdOk_Click();
    void CmdCancel_Click();

    int SelectedRule() const { return selectedRule_; }

    QGroupBox* Frame5 = nullptr;
    QRadioButton* InAllow = nullptr;
    QRadioButton* InAsk = nullptr;
    QRadioButton* InBlock = nullptr;
    QRadioButton* OutAllow = nullptr;
    QRadioButton* OutAsk = nullptr;
    QRadioButton* OutBlock = nullptr;
    QLabel* Label1 = nullptr;
    QLabel* Label2 = nullptr;
    QLabel* Label3 = nullptr;
    QLabel* Label4 = nullptr;
    QCheckBox* ApplyCustomCheck = nullptr;
    QLabel* AppIcon = nullptr;
    QLabel* AppName = nullptr;
    QTreeWidget* MainListView = nullptr;
    QPushButton* MoveUpCmd = nullptr;
    QPushButton* MoveDownCmd = nullptr;
    QPushButton* AddRuleBtn = nullptr;
    QPushButton* DelRuleBtn = nullptr;
    QPushButton* EditRuleBtn = nullptr;
    QPushButton* CmdOk = nullptr;
    QPushButton* CmdCancel = nullptr;

private:
    void Refill();
    void Move(int by);
    void EnableDefaults(bool on);

    MainForm& main_;
    int mode_ = 1;
    std::string exeName_;
    panel::AppRecord savedApp_;
    int selectedRule_ = 0;
};
