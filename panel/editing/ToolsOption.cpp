#include "editing/ToolsOption.h"

#include "logs/LogCleanup.h"
#include "settings/GeneralMdl.h"
#include "settings/SessionCoverage.h"
#include "windows/MainForm.h"
#include "windows/ProtectionView.h"
#include "windows/WindowTools.h"
#include "platform/Autostart.h"
#include "platform/Processes.h"
#include "platform/Registry.h"
#include "platform/Settings.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QTabWidget>
#include <QTimer>
#include <QVBoxLayout>

#include <ctime>

namespace {

using panel::Named;

QGroupBox* Frame(const char* name, const char* caption, QWidget* parent)
{
    return Named(new QGroupBox(caption, parent), name);
}

}  // namespace

ToolsOption::ToolsOption(MainForm& main, QWidget* parent) : QDialog(parent), main_(main)
{
    setObjectName("ToolsOption");
    setWindowTitle("  General Settings");
    setModal(true);
    auto* layout = new QVBoxLayout(this);
    auto* tabs = Named(new QTabWidget(this), "SSTab1");
    auto* general = new QWidget(tabs);
    auto* page = new QVBoxLayout(general);
    tabs->addTab(general, "General");

    auto* frame1 = Frame("Frame1", "  General Korvel firewall settings", general);
    StartupCheck = Named(new QCheckBox("Load Korvel firewall at startup", frame1), "StartupCheck");
    DecideEveryProgramCheck = Named(new QCheckBox("Decide every program I start", frame1), "DecideEveryProgramCheck");
    DecideEveryProgramCheck->setToolTip("Programs of your session and your services start under the firewall "
                                        "(from now on, and at every login); otherwise only programs started with zel-run.");
    auto* general1 = new QVBoxLayout(frame1);
    general1->addWidget(StartupCheck);
    general1->addWidget(DecideEveryProgramCheck);
    page->addWidget(frame1);

    auto* frame2 = Frame("Frame2", "  Graph settings", general);
    auto* graph = new QHBoxLayout(frame2);
    graph->addWidget(Named(new QLabel("Update graph every :", frame2), "Label4"));
    SecondOpt = Named(new QRadioButton("1 second", frame2), "SecondOpt");
    SixtySecondOpt = Named(new QRadioButton("1 Minute", frame2), "SixtySecondOpt");
    ThreeHundredSecondOpt = Named(new QRadioButton("5 Minutes", frame2), "ThreeHundredSecondOpt");
    for (QRadioButton* option : {SecondOpt, SixtySecondOpt, ThreeHundredSecondOpt}) {
        // Shown, not chosen here: the chart's second is part of its design.
        option->setEnabled(false);
        graph->addWidget(option);
    }
    graph->addStretch(1);
    page->addWidget(frame2);

    auto* frame3 = Frame("Frame3", "  Log file settings", general);
    auto* logRows = new QVBoxLayout(frame3);
    auto* logs = new QHBoxLayout;
    logRows->addLayout(logs);
    LogFiles = Named(new QLineEdit(frame3), "LogFiles");
    LogFiles->setMaximumWidth(80);
    logs->addWidget(LogFiles);
    logs->addWidget(Named(new QLabel("Number of days to save the log", frame3), "Label2"));
    logs->addStretch(1);
    JournalRecordsCheck = Named(new QCheckBox("Also send each record to the system journal", frame3), "JournalRecordsCheck");
    JournalRecordsCheck->setToolTip("Every connection logged also goes to the journal (journalctl -t tessary), "
                                    "so that the machine's log forwarding takes it; the daily log stays as it is.");
    logRows->addWidget(JournalRecordsCheck);
    page->addWidget(frame3);

    auto* frame4 = Frame("Frame4", "  UDP mode", general);
    UdpModeCheck = Named(new QCheckBox("Use udp full mode state", frame4), "UdpModeCheck");
    (new QVBoxLayout(frame4))->addWidget(UdpModeCheck);
    page->addWidget(frame4);

    auto* frame5 = Frame("Frame5", "  Security settings", general);
    ApplySettingsCheck = Named(new QCheckBox("Ask for applying system security settings to all applications", frame5),
                               "ApplySettingsCheck");
    auto* security = new QVBoxLayout(frame5);
    security->addWidget(ApplySettingsCheck);
    // Off by default: an alert waits for the user. On, nobody at the screen
    // does not hold a program up for ever; the answer is Block.
    auto* timeout = new QHBoxLayout;
    AlertTimeoutCheck = Named(new QCheckBox("Answer for me after", frame5), "AlertTimeoutCheck");
    AlertTimeoutSeconds = Named(new QSpinBox(frame5), "AlertTimeoutSeconds");
    AlertTimeoutSeconds->setRange(5, platform::settings::kMaxAlertTimeout);
    AlertTimeoutSeconds->setValue(60);
    timeout->addWidget(AlertTimeoutCheck);
    timeout->addWidget(AlertTimeoutSeconds);
    timeout->addWidget(Named(new QLabel("seconds (the answer is Block)", frame5), "AlertTimeoutLabel"));
    timeout->addStretch(1);
    security->addLayout(timeout);
    connect(AlertTimeoutCheck, &QCheckBox::toggled, AlertTimeoutSeconds, &QWidget::setEnabled);
    // Nobody can see the question (the screen locked, no display): the
    // program is not held up until somebody comes back.
    auto* away = new QHBoxLayout;
    auto* awayLabel = Named(new QLabel("When nobody is at the screen, &answer", frame5), "AwayAnswerLabel");
    AwayAnswerCombo = Named(new QComboBox(frame5), "AwayAnswerCombo");
    AwayAnswerCombo->addItems({"Block", "Allow"});
    awayLabel->setBuddy(AwayAnswerCombo);
    auto* afterLabel = Named(new QLabel("a&fter", frame5), "AwayAfterLabel");
    AwayTimeoutSeconds = Named(new QSpinBox(frame5), "AwayTimeoutSeconds");
    AwayTimeoutSeconds->setRange(0, platform::settings::kMaxAlertTimeout);
    AwayTimeoutSeconds->setValue(platform::settings::kDefaultAwayTimeout);
    afterLabel->setBuddy(AwayTimeoutSeconds);
    away->addWidget(awayLabel);
    away->addWidget(AwayAnswerCombo);
    away->addWidget(afterLabel);
    away->addWidget(AwayTimeoutSeconds);
    away->addWidget(Named(new QLabel("seconds", frame5), "AwaySecondsLabel"));
    away->addStretch(1);
    security->addLayout(away);
    page->addWidget(frame5);
    layout->addWidget(tabs);

    auto* buttons = new QHBoxLayout;
    OkBtn = Named(new QPushButton("OK", this), "OkBtn");
    OkBtn->setDefault(true);
    CancelBtn = Named(new QPushButton("Cancel", this), "CancelBtn");
    buttons->addStretch(1);
    buttons->addWidget(OkBtn);
    buttons->addWidget(CancelBtn);
    layout->addLayout(buttons);
    connect(OkBtn, &QPushButton::clicked, this, &ToolsOption::OkBtn_Click);
    connect(CancelBtn, &QPushButton::clicked, this, &QDialog::reject);

    // Load, in the documented order.
    const panel::PanelSettings& settings = main_.State().Settings;
    const int interval = main_.Timer1->interval();
    SecondOpt->setChecked(interval == 1000);
    SixtySecondOpt->setChecked(interval == 60000);
    ThreeHundredSecondOpt->setChecked(interval == 300000);
    LogFiles->setText(QString::fromStdString(settings.LOGFileCount));
    StartupCheck->setChecked(!settings.LoadAtStartup.empty());
    DecideEveryProgramCheck->setChecked(settings.DecideEveryProgram);
    UdpModeCheck->setChecked(settings.UdpMode == "1");
    ApplySettingsCheck->setChecked(settings.ApplySettingsMode);
    const auto seconds = panel::TextToInteger(settings.AlertTimeout);
    const bool timesOut = seconds && *seconds >= 1 && *seconds <= platform::settings::kMaxAlertTimeout;
    AlertTimeoutCheck->setChecked(timesOut);
    AlertTimeoutSeconds->setEnabled(timesOut);
    if (timesOut)
        AlertTimeoutSeconds->setValue(*seconds);
    awayAnswer_ = panel::GetString(panel::RootKey::LocalMachine, platform::registry::kSettingsKey,
                                   platform::settings::kAwayAnswer);
    awayTimeout_ = panel::GetString(panel::RootKey::LocalMachine, platform::registry::kSettingsKey,
                                    platform::settings::kAwayTimeout);
    AwayAnswerCombo->setCurrentIndex(awayAnswer_ == "1" ? 1 : 0);
    const auto awaySeconds = panel::TextToInteger(awayTimeout_);
    if (awaySeconds && *awaySeconds >= 0 && *awaySeconds <= platform::settings::kMaxAlertTimeout)
        AwayTimeoutSeconds->setValue(*awaySeconds);
    JournalRecordsCheck->setChecked(platform::registry::GetString(platform::registry::RootKey::LocalMachine,
                                                                  platform::registry::kSettingsKey,
                                                                  platform::settings::kJournalRecords)
                                    == "1");
    adjustSize();
    panel::CenterForm(this);
}

void ToolsOption::OkBtn_Click()
{
    panel::PanelSettings& settings = main_.State().Settings;
    using platform::registry::kSettingsKey;
    namespace names = platform::settings;
    const std::string days = LogFiles->text().toStdString();
    panel::SaveString(panel::RootKey::LocalMachine, kSettingsKey, names::kLogFileCount, days);
    settings.LOGFileCount = days;
    const auto count = panel::TextToInteger(days);
    if (!count) {
        panel::WriteErrLog("ToolsOption : OkBtn_Click", "\"" + days + "\" is not a number of days");
        return;
    }
    panel::DeleteOldLogFiles(settings.LogFilePath, *count, std::time(nullptr));

    settings.UdpMode = UdpModeCheck->isChecked() ? "1" : "0";
    panel::SaveString(panel::RootKey::LocalMachine, kSettingsKey, names::kUpdFullMode, settings.UdpMode);

    if (StartupCheck->isChecked()) {
        const std::string program = platform::processes::OwnExecutablePath();
        if (!platform::autostart::Enable(program))
            panel::WriteErrLog("ToolsOption : OkBtn_Click", "the autostart entry cannot be written");
        settings.LoadAtStartup = program;
    } else {
        if (!platform::autostart::Disable())
            panel::WriteErrLog("ToolsOption : OkBtn_Click", "the autostart entry cannot be removed");
        settings.LoadAtStartup.clear();
    }

    if (const bool decide = DecideEveryProgramCheck->isChecked(); decide != settings.DecideEveryProgram) {
        if (panel::SaveSessionOption(decide)) {
            settings.DecideEveryProgram = decide;
            panel::ApplySessionOption(decide, settings.VRNFolder, true);
            main_.Protection()->SessionOptionChanged(decide);
        }
    }

    if (ApplySettingsCheck->isChecked() != settings.ApplySettingsMode) {
        settings.ApplySettingsMode = ApplySettingsCheck->isChecked();
        panel::SaveString(panel::RootKey::LocalMachine, kSettingsKey, names::kApplySettings,
                          settings.ApplySettingsMode ? "True" : "False");
    }

    const std::string timeout = AlertTimeoutCheck->isChecked() ? std::to_string(AlertTimeoutSeconds->value()) : "0";
    if (timeout != settings.AlertTimeout && !(timeout == "0" && settings.AlertTimeout.empty())) {
        settings.AlertTimeout = timeout;
        panel::SaveString(panel::RootKey::LocalMachine, kSettingsKey, names::kAlertTimeout, timeout);
    }
    // Written when changed, or when it was not there: the engines read it at each alert.
    const std::string awayAnswer = AwayAnswerCombo->currentIndex() == 1 ? "1" : "2";
    if (awayAnswer != awayAnswer_)
        panel::SaveString(panel::RootKey::LocalMachine, kSettingsKey, names::kAwayAnswer, awayAnswer);
    const std::string awayTimeout = std::to_string(AwayTimeoutSeconds->value());
    if (awayTimeout != awayTimeout_)
        panel::SaveString(panel::RootKey::LocalMachine, kSettingsKey, names::kAwayTimeout, awayTimeout);

    // Read by the interceptor's process within a second.
    const bool journal = JournalRecordsCheck->isChecked();
    if ((platform::registry::GetString(panel::RootKey::LocalMachine, kSettingsKey, names::kJournalRecords) == "1") != journal)
        panel::SaveString(panel::RootKey::LocalMachine, kSettingsKey, names::kJournalRecords, journal ? "1" : "0");
    accept();
}
