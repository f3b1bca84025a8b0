#pragma once

#include <QDialog>

#include <string>

class MainForm;
class QCheckBox;
class QComboBox;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QSpinBox;

// The general settings: days of logs kept, start at login, whether every
// program the user starts runs under the firewall, UDP mode, the
// question before a level is applied to every application, and the graph's
// interval (shown, not stored), whether an alert nobody answers blocks
// after a time, what answers a question nobody can see (the screen locked,
// no display), and whether the log's records also go to the journal.
class ToolsOption : public QDialog {
    Q_OBJECT
public:
    ToolsOption(MainForm& main, QWidget* parent);

    void OkBtn_Click();

    QCheckBox* StartupCheck = nullptr;
    QCheckBox* DecideEveryProgramCheck = nullptr;
    QRadioButton* SecondOpt = nullptr;
    QRadioButton* SixtySecondOpt = nullptr;
    QRadioButton* ThreeHundredSecondOpt = nullptr;
    QLineEdit* LogFiles = nullptr;
    QCheckBox* UdpModeCheck = nullptr;
    QCheckBox* ApplySettingsCheck = nullptr;
    QCheckBox* AlertTimeoutCheck = nullptr;
    QSpinBox* AlertTimeoutSeconds = nullptr;
    QComboBox* AwayAnswerCombo = nullptr; // "Block", "Allow"
    QSpinBox* AwayTimeoutSeconds = nullptr;
    QCheckBox* JournalRecordsCheck = nullptr;
    QPushButton* OkBtn = nullptr;
    QPushButton* CancelBtn = nullptr;

private:
    MainForm& main_;
    // The away settings as they were read.
    std::string awayAnswer_;
    std::string awayTimeout_;
};
