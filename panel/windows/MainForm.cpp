#include "windows/MainForm.h"

#include "control/BackstopQuestions.h"
#include "control/InterceptorWatch.h"
#include "control/MessageChannel.h"
#include "control/PanelTimer.h"
#include "control/RulesFileWatch.h"
#include "core/ApplicationEditing.h"
#include "core/BackstopNotice.h"
#include "core/TimedAnswers.h"
#include "core/ErrorLog.h"
#include "core/InterceptorLibrary.h"
#include "core/LogReader.h"
#include "core/Options.h"
#include "core/ProcessList.h"
#include "dialogs/AdvancedForm.h"
#include "dialogs/CreateNewApp_Step1.h"
#include "dialogs/EditApp_Step4.h"
#include "dialogs/TimedAnswersWindow.h"
#include "dialogs/ToolsOption.h"
#include "dialogs/TrayNotice.h"
#include "gui/Art.h"
#include "gui/ProgramIcon.h"
#include "core/PanelConstants.h"
#include "core/RuleChecks.h"
#include "widgets/TreeImages.h"
#include "widgets/WindowTools.h"
#include "windows/AddNewMenu.h"
#include "windows/ApplicationPane.h"
#include "windows/AwayNotice.h"
#include "windows/BlockAllBanner.h"
#include "windows/GroupView.h"
#include "windows/HelpMenu.h"
#include "windows/LogPage.h"
#include "windows/LogView.h"
#include "windows/MainToolBar.h"
#include "windows/ProgramMenu.h"
#include "windows/ProtectionView.h"
#include "windows/RulesNotice.h"
#include "windows/SecurityLevelBox.h"
#include "windows/StatusArea.h"
#include "windows/TrayIcon.h"
#include "platform/AwayDecisions.h"
#include "platform/Clock.h"
#include "platform/Constants.h"
#include "platform/Net.h"
#include "platform/RulesFormat.h"

#include <QApplication>
#include <QCloseEvent>
#include <QMessageBox>
#include <QPushButton>
#include <QScrollArea>
#include <QShortcut>
#include <QStyle>
#include <QSplitter>
#include <QVBoxLayout>

#include <algorithm>
#include <ctime>
#include <utility>

namespace {

namespace rf = platform::rules_format;
using View = panel::Selection::View;

constexpr int kTickMs = 1000;
constexpr int kTicksPerHalfMinute = 30;
constexpr int kTicksPerRunningCheck = 3;
constexpr int kRulesRetryMs = 2000;

}  // namespace

MainForm::MainForm(panel::PanelCore& core, QWidget* parent) : QMainWindow(parent), core_(core)
{
    setObjectName("MainForm");
    setWindowTitle(platform::kMainWindowTitle);
    setWindowIcon(art::AppIcon());
    toolBar_ = new MainToolBar(this);
    addToolBar(toolBar_);
    tree_ = new NavigationTree(this);

    // The right-hand side: a group of applications, one application, the
    // system settings or a log, or the Protection page.
    auto* right = new QWidget(this);
    auto* rightLayout = new QVBoxLayout(right);
    rightLayout->setContentsMargins(6, 0, 0, 0);
    group_ = new GroupView(right);
    pane_ = new ApplicationPane(core_, right);
    rightLayout->addWidget(group_, 1);
    rightLayout->addWidget(pane_, 1);
    protection_ = new ProtectionView(core_.ProcRoot(), right);
    protection_->TakePlaceOf({group_, pane_});
    rightLayout->addWidget(protection_, 1);

    // What the window holds scrolls where the screen is smaller than it
    // would like (scale 2 on a small screen), so that the window itself
    // always fits and opens inside the screen: the page on the right and the
    // status area each on their own; the divider between them moves.
    const auto scrolled = [this](QWidget* inside, const char* name) {
        auto* scroller = panel::Named(new QScrollArea(this), name);
        scroller->setWidgetResizable(true);
        scroller->setFrameShape(QFrame::NoFrame);
        // No stop of its own for Tab: the focus moving inside scrolls to it.
        scroller->setFocusPolicy(Qt::NoFocus);
        scroller->setWidget(inside);
        return scroller;
    };
    auto* splitter = new QSplitter(this);
    splitter->addWidget(tree_);
    splitter->addWidget(scrolled(right, "PageScroller"));
    splitter->setStretchFactor(1, 1);
    splitter->setSizes({270, 600});

    auto* central = new QWidget(this);
    auto* layout = new QVBoxLayout(central);
    layout->setContentsMargins(6, 6, 6, 6);
    banner_ = new BlockAllBanner(this);
    layout->addWidget(banner_);
    rulesNotice_ = new RulesNotice(this);
    layout->addWidget(rulesNotice_);
    away_ = new AwayNotice(core_, platform::away::ListPath(), this);
    status_ = new StatusArea(protection_->CoverageLine(), protection_->SummaryLine(), away_, this);
    auto* parts = panel::Named(new QSplitter(Qt::Vertical, this), "PartsSplitter");
    parts->setChildrenCollapsible(false);
    parts->addWidget(splitter);
    parts->addWidget(scrolled(status_, "StatusScroller"));
    parts->setStretchFactor(0, 1);
    parts->setStretchFactor(1, 0);
    layout->addWidget(parts, 1);
    // The message box is reached by other processes only; it shows nothing.
    auto* box = panel::Named(new QWidget(central), "Picture2");
    box->setFixedSize(0, 0);
    layout->addWidget(box);
    setCentralWidget(central);

    channel_ = new MessageChannel(core_, this);
    watch_ = new InterceptorWatch(this);
    backstop_ = new BackstopQuestions(core_, this);
    programMenu_ = new ProgramMenu(this);
    addNewMenu_ = new AddNewMenu(this);
    helpMenu_ = new HelpMenu(this);
    tick_ = new PanelTimer(this, kTickMs);
    rulesRetry_ = new PanelTimer(this, kRulesRetryMs);
    // Another program's change of the rules file (zel-rules): shown as a load is.
    rulesWatch_ = new RulesFileWatch(core_, this);
    // The page shown stays, unless it was of a program the change removed.
    connect(rulesWatch_, &RulesFileWatch::Changed, this, [this](const panel::RulesStore::LoadResult& loaded) {
        const panel::Selection& selected = core_.Selected();
        pane_->ShowSecurity();
        ReloadTree();
        if (selected.view == View::kApplication && !core_.Rules().Find(selected.application))
            ShowSystem();
        else
            pane_->ShowSelection();
        ShowRulesState(loaded);
        ShowFiltering();
    });
    core_.Updates().SetPublisher([this](const std::string& text) { channel_->Publish(text); });

    connect(toolBar_, &MainToolBar::AddApplication, this, [this] {
        newIncoming_ = core_.GeneralDefault(rules::Direction::kIncoming);
        newOutgoing_ = core_.GeneralDefault(rules::Direction::kOutgoing);
        OpenWizard();
    });
    connect(toolBar_, &MainToolBar::LogChosen, this, [this](const std::string& key, const QString& caption) {
        panel::Selection selection;
        selection.view = View::kLog;
        selection.logKey = key;
        Show(selection, caption);
    });
    connect(toolBar_, &MainToolBar::Settings, this, &MainForm::OpenOptions);
    connect(toolBar_, &MainToolBar::BlockAllToggled, this, &MainForm::SetBlockAll);
    connect(toolBar_, &MainToolBar::FindInLogs, this, &MainForm::FindInLogs);
    connect(banner_, &BlockAllBanner::TurnOff, this, [this] { SetBlockAll(false); });
    connect(toolBar_, &MainToolBar::HelpRequested, this, [this](const QPoint& at) { helpMenu_->popup(at); });
    connect(toolBar_, &MainToolBar::ShutDown, this, &MainForm::AskShutDown);
    connect(status_, &StatusArea::HelpRequested, helpMenu_, &HelpMenu::OpenHelp);
    auto* help = new QShortcut(QKeySequence::HelpContents, this);
    connect(help, &QShortcut::activated, helpMenu_, &HelpMenu::OpenHelp);
    // A level chosen in the window: the tray follows.
    connect(pane_->Security(), &SecurityLevelBox::LevelChosen, this, &MainForm::ShowFiltering);
    connect(pane_->Security(), &SecurityLevelBox::PresetChosen, this, &MainForm::ShowFiltering);
    connect(tree_, &NavigationTree::Activated, this, &MainForm::NodeActivated);
    connect(tree_, &NavigationTree::MenuRequested, this, &MainForm::TreeMenuRequested);
    connect(group_, &GroupView::Opened, this, &MainForm::ShowApplication);
    connect(pane_, &ApplicationPane::RulesChanged, this, [this](const std::string&) { ReloadTree(); });
    connect(pane_, &ApplicationPane::AdvancedRequested, this, &MainForm::OpenAdvanced);
    connect(pane_->Log(), &LogView::AddProgramRequested, this, &MainForm::AddFromLog);
    connect(pane_->Log(), &LogView::MakeRuleRequested, this, &MainForm::MakeRuleFromLog);
    connect(protection_, &ProtectionView::Requested, this, [this] {
        tree_->Select(tree_->FindNode("Protection"));
        protection_->show();
    });
    connect(programMenu_, &ProgramMenu::AddNew, this, &MainForm::OpenWizard);
    connect(programMenu_, &ProgramMenu::Delete, this, [this] {
        core_.RemoveApplication(menuProgram_);
        ReloadTree();
        ShowSystem();
    });
    connect(programMenu_, &ProgramMenu::DefaultChosen, this, [this](rules::Direction direction, rules::Permission permission) {
        if (core_.SetDefault(menuProgram_, direction, permission)) {
            ReloadTree();
            ShowApplication(menuProgram_);
        }
    });
    connect(addNewMenu_, &AddNewMenu::AddNew, this, &MainForm::OpenWizard);
    connect(addNewMenu_, &AddNewMenu::AddFromLog, this, &MainForm::AddFromLog);
    connect(channel_, &MessageChannel::Answers, this,
            [this](const std::vector<panel::AlertAnswer>& answers) { ShowStored(answers_.Store(answers)); });
    connect(channel_, &MessageChannel::RestoreRequested, this, &MainForm::RestoreWindow);
    connect(channel_, &MessageChannel::BackstopNotice, this, &MainForm::ShowBackstopNotice);
    connect(channel_, &MessageChannel::Traffic, this, [this](bool incoming, uint32_t amount) {
        incoming ? traffic_.AddIncoming(amount) : traffic_.AddOutgoing(amount);
    });
    connect(watch_, &InterceptorWatch::Restarted, this, [this] { core_.Updates().Publish(); });
    connect(backstop_, &BackstopQuestions::Stored, this,
            [this](const std::string& name) { ShowStored(panel::AlertedApp {name, {}}); });
    connect(tick_, &PanelTimer::timeout, this, &MainForm::Tick);
    connect(rulesRetry_, &PanelTimer::timeout, this, &MainForm::RetryRules);
    connect(this, &MainForm::HalfMinute, this, [this] {
        RefreshSideColumn();
        pane_->RefreshLog();
        RemoveEndedAnswers();
    });
    connect(away_, &AwayNotice::RuleMade, this, &MainForm::ReloadTree);
    connect(away_, &AwayNotice::MoreDecided, this, [this] {
        if (!isVisible() && tray_)
            tray_->ShowBalloon(AwayNotice::BalloonTitle(), AwayNotice::BalloonText(), false);
    });
    // As large as the parts would like, within the screen.
    const int statusHeight = status_->sizeHint().height();
    const QSize wanted(central->sizeHint().width() + style()->pixelMetric(QStyle::PM_ScrollBarExtent),
                       toolBar_->sizeHint().height() + right->sizeHint().height() + statusHeight + 24);
    panel::FitToScreen(this, wanted.expandedTo(QSize(880, 640)));
    const int room = height() - toolBar_->sizeHint().height() - 24;
    // The page is what the user came for: the status area gets at most a third.
    parts->setSizes({room - std::min(statusHeight, room / 3), std::min(statusHeight, room / 3)});
}

MainForm::~MainForm() { core_.Updates().SetPublisher(nullptr); }

void MainForm::Form_Load()
{
    core_.LoadSettings(std::time(nullptr));
    ShowBlockAll();
    const panel::RulesStore::LoadResult loaded = core_.LoadRules();
    ShowLoadedRules();
    panel::CenterForm(this);
    ShowRulesState(loaded);
    RemoveEndedAnswers();
    rulesWatch_->Start();
    tick_->start();
    tray_ = new TrayIcon(windowIcon(), this);
    connect(tray_, &TrayIcon::RestoreRequested, this, &MainForm::RestoreWindow);
    connect(tray_, &TrayIcon::ShutDownRequested, this, &MainForm::AskShutDown);
    connect(tray_, &TrayIcon::BlockAllToggled, this, &MainForm::SetBlockAll);
    connect(tray_, &TrayIcon::LevelChosen, this, &MainForm::ChooseLevel);
    ShowFiltering();
    connect(channel_, &MessageChannel::TrayMouse, tray_, [this](uint32_t message) {
        if (tray_->MouseMessage(message) == 1)
            tray_->PopUpMenu();
    });
    // Without a tray the window stays reachable (closing minimises it) and
    // the shutdown is on the toolbar.
    if (!tray_->Available())
        toolBar_->AddShutDown();
    QStringList addresses;
    for (const std::string& address : platform::net::AdapterAddresses())
        addresses << QString::fromStdString(address);
    status_->ShowAddresses(addresses);
    RefreshSideColumn();
    // The keyboard starts in the tree; Tab goes on to the page, Shift+Tab to the toolbar.
    tree_->setFocus(Qt::OtherFocusReason);
}

bool MainForm::RegisterWindow() { return channel_->Register(); }

void MainForm::SetInterceptor(panel::InterceptorLibrary* interceptor)
{
    interceptor_ = interceptor;
    watch_->SetLibrary(interceptor);
}

void MainForm::WatchInterceptor() { watch_->Watch(); }

bool MainForm::HasTray() const { return tray_ && tray_->Available(); }

void MainForm::ShowLoadedRules()
{
    pane_->ShowSecurity();
    ReloadTree();
    ShowSystem();
}

void MainForm::ShowRulesState(const panel::RulesStore::LoadResult& loaded)
{
    rulesNotice_->Show(QString::fromStdString(core_.Settings().XmlFilePath), loaded);
    const bool readable = loaded.outcome != panel::RulesStore::LoadOutcome::kUnreadable;
    SetRulesEditing(readable);
    if (readable)
        rulesRetry_->stop();
    else
        rulesRetry_->start();
}

void MainForm::SetRulesEditing(bool enabled)
{
    pane_->SetRulesEditing(enabled);
    toolBar_->SetAddEnabled(enabled);
    tree_->setContextMenuPolicy(enabled ? Qt::CustomContextMenu : Qt::NoContextMenu);
}

void MainForm::RetryRules()
{
    const panel::RulesStore::LoadResult loaded = core_.LoadRules();
    if (loaded.outcome == panel::RulesStore::LoadOutcome::kUnreadable) {
        ShowRulesState(loaded); // the reason may have changed
        return;
    }
    panel::WriteErrLog("MainForm : RetryRules", "the rules file " + core_.Settings().XmlFilePath + " is read now");
    ShowLoadedRules();
    ShowRulesState(loaded);
    ShowStored(answers_.StoreHeld());
}

void MainForm::ShowBlockAll()
{
    const std::optional<bool> pressed = core_.BlockAll();
    if (!pressed)
        return;
    toolBar_->ShowBlockAll(*pressed);
    pane_->ShowBlockAll(*pressed);
    banner_->setVisible(*pressed);
}

void MainForm::SetBlockAll(bool on)
{
    core_.SetBlockAll(on);
    toolBar_->ShowBlockAll(on);
    pane_->ShowBlockAll(on);
    pane_->ShowSecurity();
    ShowFiltering();
}

panel::FilterState MainForm::Filtering() const { return panel::DescribeFiltering(core_.Security(), stopped_); }

void MainForm::ShowFiltering()
{
    const panel::FilterState state = Filtering();
    banner_->setVisible(state.filtering == panel::Filtering::kBlockAll);
    if (tray_)
        tray_->ShowState(state);
}

void MainForm::ChooseLevel(int level)
{
    if (!core_.RulesReadable())
        return; // the window says why
    core_.SetMode(panel::SecurityMode::kNormal);
    core_.ApplyPreset(level);
    pane_->ShowSecurity();
    pane_->ShowSelection();
    ReloadTree();
    ShowFiltering();
}

void MainForm::FindInLogs()
{
    // The log shown stays; otherwise the blocked outgoing connections, the
    // usual question ("why can this program not connect?").
    if (!core_.Selected().Shows(View::kLog)) {
        panel::Selection selection;
        selection.view = View::kLog;
        selection.logKey = "Log4";
        Show(selection, tr("BLOCKED OUTGOING CONNECTION"));
    }
    RestoreWindow();
    pane_->LogPart()->FocusSearch();
}

void MainForm::Show(const panel::Selection& selection, const QString& caption)
{
    core_.Selected() = selection;
    group_->hide();
    pane_->SetCaption(caption);
    pane_->ShowSelection();
    tree_->SelectShown(selection);
}

void MainForm::ShowApplication(const std::string& name)
{
    panel::Selection selection;
    selection.view = View::kApplication;
    selection.application = name;
    QTreeWidgetItem* node = tree_->ApplicationNode(name);
    Show(selection, node ? node->text(0) : QString::fromStdString(name));
}

void MainForm::ShowSystem() { Show(panel::Selection {}, tr("System settings")); }

void MainForm::NodeActivated(QTreeWidgetItem* node)
{
    const std::optional<panel::Selection> selection = NavigationTree::SelectionOf(node);
    if (!selection)
        return;
    if (selection->view == View::kProtection) {
        protection_->show();
    } else if (selection->view == View::kGroup) {
        group_->show();
        pane_->hide();
        group_->Show(node, core_.Rules().Document(), core_.GeneralDefault(rules::Direction::kIncoming),
                     core_.GeneralDefault(rules::Direction::kOutgoing));
    } else {
        core_.Selected() = *selection;
        group_->hide();
        pane_->SetCaption(node->text(0));
        pane_->ShowSelection();
    }
}

void MainForm::ReloadTree()
{
    tree_->Load(core_.Rules().Document(), core_.GeneralDefault(rules::Direction::kIncoming),
                core_.GeneralDefault(rules::Direction::kOutgoing));
    tree_->SelectShown(core_.Selected());
}

void MainForm::TreeMenuRequested(const QPoint& at, const NavigationTree::MenuTarget& target)
{
    using Kind = NavigationTree::MenuTarget::Kind;
    newIncoming_ = target.defaults ? target.defaults : core_.GeneralDefault(rules::Direction::kIncoming);
    newOutgoing_ = target.defaults ? target.defaults : core_.GeneralDefault(rules::Direction::kOutgoing);
    if (target.kind != Kind::kProgram) {
        addNewMenu_->popup(at);
        return;
    }
    menuProgram_ = target.program;
    programMenu_->ShowDefaults(core_.Rules().Find(menuProgram_));
    programMenu_->popup(at);
}

void MainForm::OpenWizard()
{
    if (!core_.RulesReadable())
        return; // the window says why
    CreateNewApp_Step1::Input input;
    const std::string procRoot = core_.ProcRoot();
    input.runningPrograms = [procRoot](bool showSystem) {
        return panel::GetWindowsProcess("\n", true, showSystem, procRoot, true);
    };
    input.hasEntry = [this](const std::string& name, const std::string& path) {
        return core_.Rules().Document().FindFor(name, path) != nullptr;
    };
    input.incoming = newIncoming_;
    input.outgoing = newOutgoing_;
    CreateNewApp_Step1 wizard(std::move(input), this);
    if (wizard.exec() != QDialog::Accepted || !wizard.Result())
        return;
    const std::string key = wizard.Result()->Key();
    core_.AddApplication(*wizard.Result());
    ReloadTree();
    ShowApplication(key);
}

void MainForm::OpenAdvanced()
{
    const panel::Selection selected = core_.Selected();
    // The system settings by where they are selected, not by a text a
    // program's description may read too.
    const std::string name = selected.view == View::kApplication ? selected.application : rf::kGeneralApp;
    panel::ApplicationEditing editing(core_, name, pane_->Security()->Level());
    AdvancedForm advanced(editing, this);
    advanced.exec();
    pane_->ShowSelection();
    ReloadTree();
}

void MainForm::RemoveEndedAnswers()
{
    // Never written over a file that could not be read.
    if (core_.RulesReadable())
        panel::RemoveEndedAnswers(core_, std::time(nullptr));
}

void MainForm::OpenOptions()
{
    const ToolsOption::Store store = [this](const panel::Options& options) {
        return panel::StoreOptions(core_.Settings(), options, std::time(nullptr));
    };
    const auto showTimed = [this](QWidget* parent) {
        TimedAnswersWindow timed(core_, parent);
        timed.exec();
    };
    ToolsOption options(panel::Options::Of(core_.Settings()), tick_->interval(), store, this, showTimed);
    options.exec();
    if (options.SessionOptionChanged())
        protection_->SessionOptionChanged(core_.Settings().DecideEveryProgram);
}

std::optional<rules::Application> MainForm::ProgramOfLogRow(const char* label, panel::LogRow* row)
{
    const std::optional<panel::LogRow> selected = pane_->Log()->SelectedRow();
    if (!core_.Selected().Shows(View::kLog) || !selected) {
        panel::WriteErrLog(label, "no log row is selected");
        return std::nullopt;
    }
    if (!core_.RulesReadable())
        return std::nullopt; // the window says why
    if (row)
        *row = *selected;
    return panel::ApplicationFromLog(selected->application, selected->path, selected->service,
                                     core_.GeneralDefault(rules::Direction::kIncoming),
                                     core_.GeneralDefault(rules::Direction::kOutgoing), core_.ServiceManager());
}

void MainForm::AddFromLog()
{
    const std::optional<rules::Application> app = ProgramOfLogRow("AddNewRightclick : AddNewLogMnu_Click", nullptr);
    if (!app)
        return;
    core_.AddApplication(*app);
    ReloadTree();
    ShowApplication(app->Key());
}

void MainForm::MakeRuleFromLog()
{
    panel::LogRow row;
    const std::optional<rules::Application> made = ProgramOfLogRow("LogRowMenu : MakeRuleFromLog", &row);
    if (!made)
        return;
    // The entry the engine reads for the row's program, if it has one: by
    // its key, since the rules may be read again while the editor is open.
    const rules::Application* known
        = core_.Rules().Document().FindFor(*made->name, made->IsBound() ? made->path : std::string());
    const std::string key = known ? known->Key() : made->Key();
    const bool isNew = !known;
    EditApp_Step4::Input input;
    input.application = panel::NodeText(known && !known->description.empty() ? known->description : made->description);
    input.icon = gui::ExecutablePixmap(QString::fromStdString(row.path), 32);
    input.rule = panel::RuleFromLog(row);
    input.proposed = true;
    input.portNames = panel::LoadPortsFile(core_.Settings().VRNFolder + panel::kPortsFileName);
    EditApp_Step4 editor(input, this);
    if (editor.exec() != QDialog::Accepted)
        return;
    // Nothing is added until the rule is: a cancelled editor leaves the rules as they were.
    if (isNew && !core_.Rules().Find(key))
        core_.AddApplication(*made);
    core_.PutFirstRule(key, editor.Result());
    ReloadTree();
    ShowApplication(key);
}

void MainForm::ShowStored(const std::optional<panel::AlertedApp>& app)
{
    if (!app)
        return;
    ReloadTree();
    ShowApplication(app->key);
    RestoreWindow();
}

void MainForm::ShowBackstopNotice(const std::string& message)
{
    const auto notice = panel::ParseBackstopNotice(message);
    if (!notice)
        return;
    // The side column keeps the latest; a balloon comes once per program
    // while the panel runs (the backstop already says each program once in a
    // while), so that a program retrying does not flood the desktop.
    status_->ShowBackstopNotice(QString::fromStdString(notice->summary), QString::fromStdString(notice->text));
    if (HasTray() && backstopNoticesShown_.insert(notice->program).second && backstopNoticesShown_.size() < 4096)
        tray_->ShowBalloon(QString::fromStdString(notice->title), QString::fromStdString(notice->text),
                           notice->denied);
    if (notice->asked)
        backstop_->Ask(*notice);
}

void MainForm::Tick()
{
    status_->ShowTraffic(traffic_.NextTick());
    channel_->RememberCarriers();
    if (++ticks_ % kTicksPerHalfMinute == 0)
        emit HalfMinute();
    else if (ticks_ % kTicksPerRunningCheck == 0)
        // A program that ended leaves the list within seconds, without the
        // day's log being read again.
        status_->ShowRunning(panel::StillRunning(startedRunning_, core_.ProcRoot()));
}

void MainForm::RefreshSideColumn()
{
    const std::time_t now = std::time(nullptr);
    startedRunning_ = panel::StartedProgramsRunning(core_.Settings().LogFilePath, core_.ProcRoot(), now, false);
    status_->ShowRunning(panel::StillRunning(startedRunning_, core_.ProcRoot()));
    status_->ShowBlockedIntruders(panel::CountBlockedIntruders(core_.Settings().LogFilePath, now));
    status_->ShowReplacedEngine(panel::ProgramsOnReplacedEngine(core_.ProcRoot()));
}

void MainForm::RestoreWindow()
{
    showNormal();
    raise();
    activateWindow();
}

void MainForm::closeEvent(QCloseEvent* event)
{
    if (ended_ || shuttingDown_) {
        event->accept();
        return;
    }
    // The close box hides the window to the tray: the firewall keeps
    // running. Without a tray there would be no way back: minimised instead.
    event->ignore();
    if (!HasTray()) {
        showMinimized();
        return;
    }
    if (core_.Settings().FirstClose == "1")
        ShowTrayNotice();
    hide();
}

void MainForm::ShowTrayNotice()
{
    TrayNotice notice(this);
    if (notice.exec() == QDialog::Accepted)
        core_.SetTrayNoticeShown(notice.ShowAgain());
}

void MainForm::AskShutDown()
{
    QMessageBox question(QMessageBox::Question, tr("Shut Down Korvel Firewall"),
                         tr("Shut down the firewall?\n\nPrograms are no longer filtered until the control panel "
                            "starts again."),
                         QMessageBox::NoButton, this);
    question.setObjectName("ShutDownQuestion");
    QPushButton* yes = question.addButton(tr("&Shut Down"), QMessageBox::DestructiveRole);
    yes->setObjectName("ShutDownYes");
    QPushButton* no = question.addButton(QMessageBox::Cancel);
    question.setDefaultButton(no);
    question.setEscapeButton(no);
    question.exec();
    if (question.clickedButton() == yes)
        ShutDown();
}

void MainForm::ShutDown()
{
    shuttingDown_ = true;
    stopped_ = true;
    ShowFiltering();
    core_.Save();
    if (tray_)
        tray_->Hide();
    EndOfProgram();
    QApplication::exit(0);
}

void MainForm::EndOfProgram()
{
    if (ended_)
        return;
    ended_ = true;
    watch_->Stop();
    core_.SaveOnExit(platform::GetTickCount());
    panel::TheErrorLog().Close();
    if (interceptor_)
        interceptor_->StopListen();
}
