#include "panel/dialogs/ToolsOption.h"

#include "panel/widgets/DialogButtons.h"
#include "panel/widgets/WindowTools.h"
#include "protocol/SettingNames.h"
#include "rules/TimedAnswer.h"

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
#include <QVBoxLayout>

#include <algorithm>
#include <iterator>

namespace panel {

namespace {

using protocol::mode::Mode;

constexpr Mode kModes[] = {Mode::kAsk, Mode::kQuietAllow, Mode::kQuietBlock, Mode::kLearn};

QGroupBox* Frame(const char* name, const QString& caption, QWidget* parent)
{
    return Named(new QGroupBox(caption, parent), name);
}

}  // namespace

ToolsOption::ToolsOption(const panel::Options& current, int graphIntervalMs, Store store, QWidget* parent,
                         std::function<void(QWidget*)> showTimedAnswers)
    : QDialog(parent), store_(std::move(store))
{
    setObjectName("ToolsOption");
    setWindowTitle(tr("  General Settings"));
    setModal(true);
    auto* layout = new QVBoxLayout(this);
    auto* tabs = Named(new QTabWidget(this), "SSTab1");
    auto* general = new QWidget(tabs);
    auto* page = new QVBoxLayout(general);
    tabs->addTab(general, tr("General"));

    auto* frame1 = Frame("Frame1", tr("  General Korvel Firewall settings"), general);
    startup_ = Named(new QCheckBox(tr("Load Korvel Firewall at startup"), frame1), "StartupCheck");
    decideEveryProgram_ = Named(new QCheckBox(tr("Decide every program I start"), frame1), "DecideEveryProgramCheck");
    decideEveryProgram_->setToolTip(tr("Programs of your session and your services start under the firewall "
                                       "(from now on, and at every login); otherwise only programs started with zel-run."));
    auto* general1 = new QVBoxLayout(frame1);
    general1->addWidget(startup_);
    general1->addWidget(decideEveryProgram_);
    page->addWidget(frame1);

    auto* frame2 = Frame("Frame2", tr("  Graph settings"), general);
    auto* graph = new QHBoxLayout(frame2);
    graph->addWidget(Named(new QLabel(tr("Update graph every :"), frame2), "Label4"));
    const struct {
        const char* name;
        const char* caption;
        int interval;
    } intervals[] = {{"SecondOpt", QT_TR_NOOP("1 second"), 1000}, {"SixtySecondOpt", QT_TR_NOOP("1 Minute"), 60000},
                     {"ThreeHundredSecondOpt", QT_TR_NOOP("5 Minutes"), 300000}};
    for (const auto& interval : intervals) {
        auto* option = Named(new QRadioButton(tr(interval.caption), frame2), interval.name);
        // Shown, not chosen here: the chart's second is part of its design.
        option->setEnabled(false);
        option->setChecked(graphIntervalMs == interval.interval);
        graph->addWidget(option);
    }
    graph->addStretch(1);
    page->addWidget(frame2);
    // The chart moves every second by design: a choice that could never be
    // made is not shown.
    frame2->hide();

    auto* frame3 = Frame("Frame3", tr("  Log file settings"), general);
    auto* logRows = new QVBoxLayout(frame3);
    auto* logs = new QHBoxLayout;
    logRows->addLayout(logs);
    logDays_ = Named(new QLineEdit(frame3), "LogFiles");
    logDays_->setMaximumWidth(80);
    logs->addWidget(logDays_);
    logs->addWidget(Named(new QLabel(tr("Number of days to save the log"), frame3), "Label2"));
    logs->addStretch(1);
    journalRecords_ = Named(new QCheckBox(tr("Also send each record to the system journal"), frame3), "JournalRecordsCheck");
    journalRecords_->setToolTip(tr("Every connection logged also goes to the journal (journalctl -t tessary), "
                                   "so that the machine's log forwarding takes it; the daily log stays as it is."));
    logRows->addWidget(journalRecords_);
    page->addWidget(frame3);

    auto* frame4 = Frame("Frame4", tr("  UDP mode"), general);
    udpMode_ = Named(new QCheckBox(tr("Use UDP full mode state"), frame4), "UdpModeCheck");
    (new QVBoxLayout(frame4))->addWidget(udpMode_);
    page->addWidget(frame4);
    // Datagrams are decided per peer whatever it says: the setting is kept
    // as stored, and not offered as if it changed anything.
    frame4->hide();

    auto* frame5 = Frame("Frame5", tr("  Security settings"), general);
    askBeforeApplying_ = Named(new QCheckBox(tr("Ask for applying system security settings to all applications"), frame5),
                               "ApplySettingsCheck");
    auto* security = new QVBoxLayout(frame5);
    security->addWidget(askBeforeApplying_);
    // Off by default: an alert waits for the user. On, nobody at the screen
    // does not hold a program up for ever; the answer is Block.
    auto* timeout = new QHBoxLayout;
    alertTimeout_ = Named(new QCheckBox(tr("Answer for me after"), frame5), "AlertTimeoutCheck");
    alertSeconds_ = Named(new QSpinBox(frame5), "AlertTimeoutSeconds");
    alertSeconds_->setRange(5, protocol::settings::kMaxAlertTimeout);
    alertSeconds_->setValue(60);
    timeout->addWidget(alertTimeout_);
    timeout->addWidget(alertSeconds_);
    timeout->addWidget(Named(new QLabel(tr("seconds (the answer is Block)"), frame5), "AlertTimeoutLabel"));
    timeout->addStretch(1);
    security->addLayout(timeout);
    connect(alertTimeout_, &QCheckBox::toggled, alertSeconds_, &QWidget::setEnabled);
    // Nobody can see the question (the screen locked, no display): the
    // program is not held up until somebody comes back.
    auto* away = new QHBoxLayout;
    auto* awayLabel = Named(new QLabel(tr("When nobody is at the screen, &answer"), frame5), "AwayAnswerLabel");
    awayAnswer_ = Named(new QComboBox(frame5), "AwayAnswerCombo");
    awayAnswer_->addItems({tr("Block"), tr("Allow")});
    awayLabel->setBuddy(awayAnswer_);
    auto* afterLabel = Named(new QLabel(tr("a&fter"), frame5), "AwayAfterLabel");
    awaySeconds_ = Named(new QSpinBox(frame5), "AwayTimeoutSeconds");
    awaySeconds_->setRange(0, protocol::settings::kMaxAlertTimeout);
    afterLabel->setBuddy(awaySeconds_);
    away->addWidget(awayLabel);
    away->addWidget(awayAnswer_);
    away->addWidget(afterLabel);
    away->addWidget(awaySeconds_);
    away->addWidget(Named(new QLabel(tr("seconds"), frame5), "AwaySecondsLabel"));
    away->addStretch(1);
    security->addLayout(away);
    // The alert's "for a time" lasts this long; the answers given so far
    // are listed with their time left.
    auto* timed = new QHBoxLayout;
    auto* timedLabel = Named(new QLabel(tr("An answer \"for a time\" &lasts"), frame5), "TimedAnswerLabel");
    timedMinutes_ = Named(new QSpinBox(frame5), "TimedAnswerMinutes");
    timedMinutes_->setRange(1, rules::kMaxTimedAnswerMinutes);
    timedLabel->setBuddy(timedMinutes_);
    timed->addWidget(timedLabel);
    timed->addWidget(timedMinutes_);
    timed->addWidget(Named(new QLabel(tr("minutes"), frame5), "TimedMinutesLabel"));
    if (showTimedAnswers) {
        auto* list = Named(new QPushButton(tr("Answers for a &time..."), frame5), "TimedAnswersButton");
        list->setAutoDefault(false);
        connect(list, &QPushButton::clicked, this, [this, showTimedAnswers] { showTimedAnswers(this); });
        timed->addWidget(list);
    }
    timed->addStretch(1);
    security->addLayout(timed);
    // What becomes of a question: asked, decided quietly (and listed for
    // review), or allowed and listed while learning for some days.
    auto* modeRow = new QHBoxLayout;
    auto* modeLabel = Named(new QLabel(tr("&Mode:"), frame5), "ModeLabel");
    mode_ = Named(new QComboBox(frame5), "ModeCombo");
    mode_->addItems({tr("Ask me"), tr("Quiet: allow"), tr("Quiet: block"), tr("Learn for")});
    modeLabel->setBuddy(mode_);
    learnDays_ = Named(new QSpinBox(frame5), "LearnDays");
    learnDays_->setRange(1, protocol::settings::kMaxLearnDays);
    learnDays_->setAccessibleName(tr("Days to learn"));
    modeRow->addWidget(modeLabel);
    modeRow->addWidget(mode_);
    modeRow->addWidget(learnDays_);
    modeRow->addWidget(Named(new QLabel(tr("days"), frame5), "LearnDaysLabel"));
    modeRow->addStretch(1);
    security->addLayout(modeRow);
    connect(mode_, &QComboBox::currentIndexChanged, learnDays_,
            [this](int index) { learnDays_->setEnabled(index == 3); });
    page->addWidget(frame5);
    layout->addWidget(tabs);

    AddOkCancel(this, layout, "OkBtn", &ToolsOption::Ok);

    // Load, in the documented order.
    logDays_->setText(QString::fromStdString(current.logDays));
    startup_->setChecked(current.startAtLogin);
    decideEveryProgram_->setChecked(current.decideEveryProgram);
    udpMode_->setChecked(current.udpFullMode);
    askBeforeApplying_->setChecked(current.askBeforeApplyingToAll);
    alertTimeout_->setChecked(current.alertTimeout.has_value());
    alertSeconds_->setEnabled(current.alertTimeout.has_value());
    if (current.alertTimeout)
        alertSeconds_->setValue(*current.alertTimeout);
    awayAnswer_->setCurrentIndex(current.awayAllows ? 1 : 0);
    awaySeconds_->setValue(current.awaySeconds);
    timedMinutes_->setValue(current.timedAnswerMinutes);
    journalRecords_->setChecked(current.journalRecords);
    for (int i = 0; i < static_cast<int>(std::size(kModes)); ++i)
        if (kModes[i] == current.mode)
            mode_->setCurrentIndex(i);
    learnDays_->setValue(current.learnDays);
    learnDays_->setEnabled(current.mode == Mode::kLearn);
    adjustSize();
    panel::CenterForm(this);
}

void ToolsOption::Ok()
{
    panel::Options options;
    options.logDays = logDays_->text().toStdString();
    options.startAtLogin = startup_->isChecked();
    options.decideEveryProgram = decideEveryProgram_->isChecked();
    options.udpFullMode = udpMode_->isChecked();
    options.askBeforeApplyingToAll = askBeforeApplying_->isChecked();
    if (alertTimeout_->isChecked())
        options.alertTimeout = alertSeconds_->value();
    options.awayAllows = awayAnswer_->currentIndex() == 1;
    options.awaySeconds = awaySeconds_->value();
    options.timedAnswerMinutes = timedMinutes_->value();
    options.journalRecords = journalRecords_->isChecked();
    options.mode = kModes[std::clamp(mode_->currentIndex(), 0, static_cast<int>(std::size(kModes)) - 1)];
    options.learnDays = learnDays_->value();
    const panel::OptionsStored stored = store_(options);
    sessionChanged_ = sessionChanged_ || stored.sessionChanged;
    if (stored.stored)
        accept();
}

}  // namespace panel
