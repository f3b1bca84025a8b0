#pragma once

#include "rules/Rule.h"

#include <QDialog>
#include <QPixmap>

#include <optional>
#include <string>
#include <utility>
#include <vector>

class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QTreeWidget;
class QTreeWidgetItem;

namespace panel {

// The rule editor: one rule of an application, edited on a copy; OK hands
// the rule over (Result), which goes last among the application's rules.
class RuleEditor : public QDialog {
    Q_OBJECT
public:
    struct Input {
        QString application; // as the window shows it
        QPixmap icon;
        std::optional<rules::Rule> rule; // the rule edited; none: a new rule
        bool proposed = false;           // rule is a new one to start from (made from a log row)
        std::vector<std::pair<std::string, int>> portNames; // the ports list: names and numbers
    };

    RuleEditor(const Input& input, QWidget* parent);

    // The rule as OK leaves it: in force, listed, its host names written so
    // that engines without them never permit more (PortsForOlderReaders).
    rules::Rule Result() const;

private:
    void RefreshForm();
    // After a port was added, changed or deleted: the list anew, the fields
    // empty, nothing selected.
    void PortsChanged();
    std::optional<size_t> SelectedPort() const;
    void ClearText();
    void DisableButtons();
    rules::Port CreatePort();
    bool CheckRange();
    void AddNewClicked();
    void EditPortClicked();
    void DeletePortClicked();
    void PortClicked(QTreeWidgetItem* row);
    void NewPortNumChanged();
    void AliasChosen();
    void AliasTyped(const QString& typed);
    void AddressFieldsChanged();
    void RemoteChoiceChanged();
    // The host names field as patterns in ASCII form; nothing when an item is no pattern.
    std::optional<std::vector<std::string>> HostPatterns() const;
    // The port fields as Add and Update take them; a message names what is wrong.
    bool PortFieldsValid();
    bool FieldsEmpty() const;
    // OK: a port typed but not added goes in as Add (or Update, for the
    // port chosen in the list) would put it; a rule that covers no port is
    // refused. The dialog stays open on any refusal.
    void FinishClicked();
    void FieldsTyped();

    std::vector<std::pair<std::string, int>> aliases_;
    rules::Rule working_;
    int selectedRow_ = 0;
    bool completing_ = false; // while the alias box completes what was typed
    bool typed_ = false;      // the port fields hold what the user typed since the list last changed or was clicked
    QString lastTyped_;

    QLineEdit* ruleName_;
    QComboBox* permission_;
    QComboBox* direction_;
    QTreeWidget* ports_;
    QLineEdit* number_;
    QComboBox* alias_;
    QRadioButton* remoteIp_;
    QRadioButton* remoteIpRange_;
    QRadioButton* remoteHost_;
    QLineEdit* ips_;
    QLineEdit* hosts_;
    QLineEdit* ipMin_;
    QLineEdit* ipMax_;
    QPushButton* addNew_;
    QPushButton* editPort_;
    QPushButton* deletePort_;
};

}  // namespace panel
