#pragma once

#include "settings/AppBuffer.h"

#include <QDialog>

#include <optional>

#include <string>
#include <utility>
#include <vector>

class MainForm;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QTreeWidget;
class QTreeWidgetItem;

// The rule editor: one rule of the application in the main window's
// NewAppToAdd, edited on a copy until OK.
class EditApp_Step4 : public QDialog {
    Q_OBJECT
public:
    EditApp_Step4(MainForm& main, QWidget* parent);

    // Prepares the window for a new rule (ADD_RULE) or the rule at
    // rulePosition (EDIT_RULE); FirstSettings also shows it modally.
    void Prepare(int mode, int rulePosition);
    void FirstSettings(int mode, int rulePosition);

    void AddNew_Click();
    void EditPort_Click();
    void DeletePort_Click();
    void PortsListView_Click(QTreeWidgetItem* row);
    void FinishCmd_Click();

    const panel::AppRules& WorkingRule() const { return *working_; }
    const std::vector<std::pair<std::string, int>>& AliasTable() const { return aliases_; }

    QLabel* AppIcon = nullptr;
    QLineEdit* AppNameLabel = nullptr;
    QLineEdit* RuleName = nullptr;
    QComboBox* PermissionCombo = nullptr;
    QComboBox* DirectionCombo = nullptr;
    QTreeWidget* PortsListView = nullptr;
    QLineEdit* NewPortNum = nullptr;
    QComboBox* NewPort_alias = nullptr;
    QRadioButton* RemoteIp = nullptr;
    QRadioButton* RemoteIpRange = nullptr;
    QLineEdit* NewIpsList = nullptr;
    QRadioButton* RemoteHost = nullptr;
    QLineEdit* NewHostsList = nullptr;
    QLineEdit* IpMinRange = nullptr;
    QLineEdit* IpMaxRange = nullptr;
    QPushButton* AddNew = nullptr;
    QPushButton* EditPort = nullptr;
    QPushButton* DeletePort = nullptr;
    QPushButton* AddPort = nullptr;
    QPushButton* FinishCmd = nullptr;
    QPushButton* CancelBtn = nullptr;

private:
    void RefreshForm();
    void ClearText();
    void DisableButtons();
    void EnablePortSettings();
    panel::PortRecord CreatePortCollection();
    bool CheckRange();
    void NewPortNum_Change();
    void NewPort_alias_Click();
    void NewPort_alias_Complete(const QString& typed);
    void AddressFields_Change();
    void RemoteChoice_Click();
    // The host names field as patterns in ASCII form; nothing when an item is no pattern.
    std::optional<std::vector<std::string>> HostPatterns() const;
    // The port fields as Add and Update take them; a message names what is wrong.
    bool PortFieldsValid();
    bool FieldsEmpty() const;

    MainForm& main_;
    int mode_ = 1;
    int rulePosition_ = 0;
    std::string appName_;
    panel::RuleRecord working_;
    int selectedRow_ = 0;
    std::vector<std::pair<std::string, int>> aliases_;
    bool completing_ = false; // while the alias box completes what was typed
    QString lastTyped_;
};
