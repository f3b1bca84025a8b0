#include "panel/windows/ApplicationPane.h"

#include "gui/LocalTime.h"
#include "gui/ProgramIcon.h"
#include "panel/control/CoreSignals.h"
#include "panel/core/LogReader.h"
#include "panel/core/PanelConstants.h"
#include "panel/core/SettingValues.h"
#include "panel/widgets/DefaultsGroup.h"
#include "panel/widgets/RulesList.h"
#include "panel/widgets/TreeImages.h"
#include "panel/widgets/WindowTools.h"
#include "panel/windows/LogPage.h"
#include "panel/windows/SecurityLevelBox.h"
#include "protocol/SettingNames.h"
#include "rules/RulesFormat.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QMenu>
#include <QLabel>
#include <QPushButton>
#include <QSignalBlocker>
#include <QVBoxLayout>

#include <algorithm>
#include <ctime>

namespace panel {

namespace {

namespace rf = rules::rules_format;
using View = panel::Selection::View;

}  // namespace

ApplicationPane::ApplicationPane(panel::PanelCore& core, QWidget* parent) : QFrame(parent), core_(core)
{
    setObjectName("Frame3");
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    auto* title = new QHBoxLayout;
    icon_ = panel::PlainLabel("AppIcon", QString(), this);
    icon_->setFixedSize(32, 32);
    name_ = panel::PlainLabel("AppName", QString(), this);
    QFont heading = name_->font();
    heading.setBold(true);
    heading.setPointSizeF(heading.pointSizeF() * 1.15);
    name_->setFont(heading);
    // Which programs the entry is: the file it is bound to, or every
    // program of its name.
    path_ = panel::PlainLabel("AppPath", QString(), this);
    path_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    path_->setWordWrap(true);
    auto* naming = new QVBoxLayout;
    naming->setSpacing(0);
    naming->addWidget(name_);
    naming->addWidget(path_);
    title->addWidget(icon_);
    title->addLayout(naming, 1);
    layout->addLayout(title);

    security_ = new SecurityLevelBox(this);
    layout->addWidget(security_);
    settings_ = panel::Named(new QGroupBox(tr("  Application settings  "), this), "Frame2");
    auto* outer = new QVBoxLayout(settings_);
    defaults_ = new DefaultsGroup(tr("  Default application permission  "), settings_);
    outer->addWidget(defaults_);
    auto* row = new QHBoxLayout;
    followSystem_ = panel::Named(new QCheckBox(settings_), "ApplyCustomCheck");
    row->addWidget(followSystem_);
    row->addWidget(panel::Buddy(panel::PlainLabel("ApplyCustomLabel", tr("Apply &system rules"), settings_), followSystem_));
    row->addStretch(1);
    outer->addLayout(row);
    // For an entry bound to its file: a changed file (an upgrade, or
    // something put in its place) is asked about before it may connect.
    contentCheck_ = panel::Named(new QCheckBox(tr("Ask again when the program's &file changes"), settings_),
                                 "ContentCheck");
    contentCheck_->setToolTip(tr("Compares the file's SHA-256 digest with the one taken now"));
    outer->addWidget(contentCheck_);
    // A program of the user's own that must reach listed hosts (a tracker's
    // domain it is tested against): its rules decide them instead.
    ignoreLists_ = panel::Named(new QCheckBox(tr("I&gnore host lists"), settings_), "IgnoreListsCheck");
    ignoreLists_->setToolTip(tr("The host lists do not refuse this program's connections; its own rules and the "
                                "system settings decide them"));
    outer->addWidget(ignoreLists_);
    layout->addWidget(settings_);
    advanced_ = panel::Named(new QPushButton(tr("A&dvanced..."), this), "CmdAdvanced");
    apply_ = panel::Named(new QPushButton(tr("Apply"), this), "ApplyBtn");
    // Every choice here applies at once: the button would never be needed,
    // and a button that can never be pressed only puzzles.
    apply_->setEnabled(false);
    apply_->hide();
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(advanced_);
    buttons->addWidget(apply_);
    layout->addLayout(buttons);

    rules_ = new RulesList(this);
    rules_->setAlternatingRowColors(true);
    layout->addWidget(rules_, 1);
    log_ = new LogPage(this);
    log_->SetHasEntry([this](const std::string& name, const std::string& path) {
        return core_.Rules().Document().FindFor(name, path) != nullptr;
    });
    connect(log_, &LogPage::AddProgramRequested, this, &ApplicationPane::AddProgramRequested);
    connect(log_, &LogPage::MakeRuleRequested, this, &ApplicationPane::MakeRuleRequested);
    log_->hide();
    layout->addWidget(log_, 1);
    showServices_ = panel::Named(new QCheckBox(tr("Show ser&vices"), this), "ShowServicesCheck");
    layout->addWidget(showServices_);
    auto* notes = new QHBoxLayout;
    note_ = panel::PlainLabel("AdditionalRuleNote", QString(), this);
    blockActive_ = panel::PlainLabel("BlockActive", QString(), this);
    blockActive_->setStyleSheet(panel::ReadableStyle(this, QColor(255, 0, 0)) + " font-weight: bold;");
    notes->addWidget(note_, 1);
    notes->addWidget(blockActive_);
    layout->addLayout(notes);
    statisticsFrame_ = panel::Named(new QGroupBox(tr("  Application information"), this), "AppStatFrame");
    auto* statistics = new QVBoxLayout(statisticsFrame_);
    statistics_ = panel::PlainLabel("AppStatText", QString(), statisticsFrame_);
    statistics_->setWordWrap(true);
    statistics->addWidget(statistics_);
    layout->addWidget(statisticsFrame_);
    // Takes the room left below the system settings, which have nothing
    // that grows: they stay together at the top.
    layout->addStretch(0);

    connect(defaults_, &DefaultsGroup::Picked, this, &ApplicationPane::DefaultPicked);
    connect(followSystem_, &QCheckBox::clicked, this, &ApplicationPane::FollowSystemClicked);
    connect(contentCheck_, &QCheckBox::clicked, this, [this](bool on) {
        if (!core_.SetContentCheck(current_, on)) {
            const QSignalBlocker quiet(contentCheck_);
            contentCheck_->setChecked(!on);
            if (on)
                panel::ShowMessage(this, tr("The program's file cannot be read: its contents cannot be checked."));
        }
    });
    connect(ignoreLists_, &QCheckBox::clicked, this, [this](bool on) {
        if (!core_.SetIgnoreLists(current_, on)) {
            const QSignalBlocker quiet(ignoreLists_);
            ignoreLists_->setChecked(!on);
        }
    });
    connect(advanced_, &QPushButton::clicked, this, &ApplicationPane::AdvancedRequested);
    connect(apply_, &QPushButton::clicked, this, &ApplicationPane::Apply);
    connect(security_, &SecurityLevelBox::LevelChosen, this, &ApplicationPane::LevelChosen);
    connect(security_, &SecurityLevelBox::PresetChosen, this, &ApplicationPane::PresetChosen);
    connect(security_, &SecurityLevelBox::MenuRequested, this, [this](const QPoint& at) {
        security_->PopUpMenu(core_.Mode() == panel::SecurityMode::kCustom, at);
    });
    connect(rules_, &RulesList::Switched, this, &ApplicationPane::RuleSwitched);
    connect(rules_, &RulesList::EditRequested, this, &ApplicationPane::EditRuleRequested);
    rules_->Menu()->addAction(advanced_->text(), this, &ApplicationPane::AdvancedRequested);
    connect(showServices_, &QCheckBox::clicked, this, &ApplicationPane::RefreshLog);
}

void ApplicationPane::Follow(const CoreSignals* changes)
{
    connect(changes, &CoreSignals::RulesReplaced, this, &ApplicationPane::ShowSecurity);
    // A level chosen elsewhere (the tray, the first-run window) shows here too.
    connect(changes, &CoreSignals::ApplicationChanged, this, [this](const std::string& key) {
        if (key == rf::kGeneralApp)
            ShowSecurity();
    });
    connect(changes, &CoreSignals::SettingChanged, this, [this](const std::string& name) {
        if (name != protocol::settings::kSecurityStatus)
            return;
        if (const std::optional<bool> on = core_.BlockAll())
            ShowBlockAll(*on);
        ShowSecurity();
    });
}

void ApplicationPane::SelectRule(int rule)
{
    rules_->SelectRule(rule);
    rules_->setFocus();
}

int ApplicationPane::Level() const { return security_->Level(); }

std::optional<panel::LogRow> ApplicationPane::SelectedLogRow() const { return log_->SelectedRow(); }

void ApplicationPane::FocusLogSearch() { log_->FocusSearch(); }

void ApplicationPane::SetCaption(const QString& caption) { name_->setText(caption); }

void ApplicationPane::ShowParts(View view)
{
    const auto show = [](std::initializer_list<QWidget*> widgets, bool visible) {
        for (QWidget* widget : widgets)
            widget->setVisible(visible);
    };
    if (view == View::kLog) {
        show({security_, settings_, statisticsFrame_, advanced_, note_, blockActive_, rules_, path_}, false);
        show({log_, showServices_, name_, icon_}, true);
    } else if (view == View::kApplication) {
        show({settings_, statisticsFrame_, advanced_, note_, blockActive_, rules_}, true);
        show({showServices_, security_, log_}, false);
        defaults_->SetAskEnabled(true);
        rules_->setColumnWidth(0, 70);
        rules_->setColumnWidth(1, 150);
    } else {
        show({rules_, log_, showServices_, settings_, statisticsFrame_, blockActive_, path_}, false);
        show({security_, advanced_, note_}, true);
        icon_->setPixmap(panel::TreeImage("MyComp").pixmap(32, 32));
    }
    auto* column = static_cast<QVBoxLayout*>(layout());
    column->setStretch(column->count() - 1, view == View::kLog || view == View::kApplication ? 0 : 1);
    show({this}, true);
}

void ApplicationPane::ShowSelection()
{
    const panel::Selection& selected = core_.Selected();
    ShowParts(selected.view);
    if (selected.view == View::kLog) {
        ShowLogView();
    } else if (selected.view == View::kApplication) {
        current_ = selected.application;
        ShowApplication(current_);
    } else {
        current_ = rf::kGeneralApp;
        ShowSecurity();
        ShowApplication(current_);
    }
}

void ApplicationPane::ShowSecurity() { security_->Show(core_.Security()); }

void ApplicationPane::ShowApplication(const std::string& name)
{
    const rules::Application* app = core_.Rules().Find(name);
    const bool general = name == rf::kGeneralApp;
    defaults_->SetAskEnabled(!(app && app->service));
    {
        const QSignalBlocker quiet(followSystem_);
        if (app && !app->incoming && !app->outgoing)
            followSystem_->setChecked(true);
        else if (!general)
            followSystem_->setChecked(false);
    }
    defaults_->Show(app ? app->incoming : std::nullopt, app ? app->outgoing : std::nullopt);
    path_->setVisible(app && !general);
    contentCheck_->setVisible(app && app->IsBound());
    {
        const QSignalBlocker quiet(contentCheck_);
        contentCheck_->setChecked(app && !app->fileHash.empty());
    }
    ignoreLists_->setVisible(app && !general);
    {
        const QSignalBlocker quiet(ignoreLists_);
        ignoreLists_->setChecked(app && app->ignoreLists);
    }
    if (app && !general) {
        name_->setText(panel::EntryText(*app));
        path_->setText(app->IsBound() ? QString::fromStdString(app->path)
                                      : tr("Every program named %1").arg(QString::fromStdString(*app->name)));
        icon_->setPixmap(gui::ExecutablePixmap(QString::fromStdString(app->path), 32));
    }
    rules_->Show(app);
    const auto status = panel::TextToInteger(core_.Settings().SecurityStatus);
    ShowBlockAll(!(status && *status == 1));
    // Only when the list leaves some out: the rest are seen in the advanced window.
    const bool unlisted = app && std::any_of(app->rules.begin(), app->rules.end(), [](const rules::Rule& rule) {
        return !rule.listed;
    });
    note_->setText(unlisted ? tr("There are additional rules at the advanced mode.") : QString());
    ShowStatistics(app && !general ? app : nullptr);
}

void ApplicationPane::ShowBlockAll(bool on) { blockActive_->setText(on ? tr("Block all is now active.") : QString()); }

void ApplicationPane::ShowStatistics(const rules::Application* app)
{
    if (!app) {
        statistics_->clear();
        statisticsFrame_->hide();
        return;
    }
    const auto shownTime = [](std::time_t when) { return gui::ShortDateTime(when).toStdString(); };
    statistics_->setText(QString::fromStdString(
        panel::AppStatistics(*app, core_.Settings().LogFilePath, std::time(nullptr), shownTime)));
    statisticsFrame_->show();
}

void ApplicationPane::ShowLogView()
{
    const panel::PanelSettings& settings = core_.Settings();
    log_->Open(core_.Selected().logKey, {settings.LogFilePath, settings.VRNFolder + panel::kPortsFileName,
                                         core_.ServiceManager(), showServices_->isChecked()});
}

void ApplicationPane::RefreshLog()
{
    if (!core_.Selected().Shows(View::kLog))
        return;
    const panel::PanelSettings& settings = core_.Settings();
    log_->Refresh({settings.LogFilePath, settings.VRNFolder + panel::kPortsFileName, core_.ServiceManager(),
                   showServices_->isChecked()});
}

void ApplicationPane::SetRulesEditing(bool enabled)
{
    // Without rules there is nothing to show in the lists: what could change
    // them is switched off (the logs stay to be read); no level is known.
    settings_->setEnabled(enabled);
    advanced_->setEnabled(enabled);
    security_->SetKnown(enabled);
    if (!enabled)
        apply_->setEnabled(false);
}

void ApplicationPane::Apply()
{
    if (current_.empty())
        return;
    core_.ApplyDefaults(current_, defaults_->Chosen(), followSystem_->isChecked(), security_->Level());
    if (current_ == rf::kGeneralApp) {
        security_->ShowSliderLevel();
        ShowSecurity();
    }
}

void ApplicationPane::DefaultPicked(rules::Direction direction)
{
    {
        const QSignalBlocker quiet(followSystem_);
        followSystem_->setChecked(false);
    }
    const rules::Direction other
        = direction == rules::Direction::kIncoming ? rules::Direction::kOutgoing : rules::Direction::kIncoming;
    if (!defaults_->Chosen(other))
        defaults_->Show(other, core_.DefaultToShow(current_, other));
    Apply();
}

void ApplicationPane::FollowSystemClicked()
{
    Apply();
    ShowSelection();
}

void ApplicationPane::LevelChosen(int level)
{
    // The level is the system settings' (the box shows only with them).
    current_ = rf::kGeneralApp;
    core_.ChooseLevel(level);
    security_->ShowSliderLevel();
    ShowSecurity();
}

void ApplicationPane::PresetChosen(int level)
{
    core_.ApplyPreset(level);
    ShowSelection();
}

void ApplicationPane::RuleSwitched(int rule, bool inForce)
{
    if (!core_.RulesReadable() || rule < 0)
        return;
    core_.SetRuleInForce(current_, static_cast<size_t>(rule), inForce);
}

}  // namespace panel
