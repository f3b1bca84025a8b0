#include "panel/windows/MainForm.h"

#include "gui/Art.h"
#include "gui/Timer.h"
#include "os/Clock.h"
#include "os/Net.h"
#include "panel/control/BackstopQuestions.h"
#include "panel/control/CoreSignals.h"
#include "panel/control/InterceptorWatch.h"
#include "panel/control/MessageChannel.h"
#include "panel/control/PeriodicWork.h"
#include "panel/control/RulesFileWatch.h"
#include "panel/core/ErrorLog.h"
#include "panel/widgets/WindowTools.h"
#include "panel/windows/AddNewMenu.h"
#include "panel/windows/ApplicationPane.h"
#include "panel/windows/AwayNotice.h"
#include "panel/windows/BlockAllBanner.h"
#include "panel/windows/GroupView.h"
#include "panel/windows/HelpMenu.h"
#include "panel/windows/KernelLayerNotices.h"
#include "panel/windows/MainDialogs.h"
#include "panel/windows/MainToolBar.h"
#include "panel/windows/ProgramMenu.h"
#include "panel/windows/ConnectionsView.h"
#include "panel/windows/ProtectionView.h"
#include "panel/windows/ReviewView.h"
#include "panel/windows/RulesNotice.h"
#include "panel/windows/StatusArea.h"
#include "panel/windows/TrayIcon.h"
#include "protocol/AwayDecisions.h"
#include "protocol/PanelMessages.h"
#include "protocol/SettingNames.h"
#include "rules/RulesFormat.h"

#include <QCloseEvent>
#include <QScrollArea>
#include <QShortcut>
#include <QStyle>
#include <QSplitter>
#include <QVBoxLayout>

#include <algorithm>
#include <ctime>

namespace panel {

namespace {

constexpr int kRulesRetryMs = 2000;

}  // namespace

MainForm::MainForm(PanelCore& core, QWidget* parent) : QMainWindow(parent), core_(core)
{
    setObjectName("MainForm");
    setWindowTitle(protocol::kMainWindowTitle);
    setWindowIcon(gui::art::AppIcon());
    changes_ = new CoreSignals(core_, this);
    toolBar_ = new MainToolBar(this);
    addToolBar(toolBar_);
    tree_ = new NavigationTree(this);

    // The right-hand side: a group of applications, one application, the
    // system settings or a log, or a page of its own (the page table's).
    auto* right = new QWidget(this);
    auto* rightLayout = new QVBoxLayout(right);
    rightLayout->setContentsMargins(6, 0, 0, 0);
    group_ = new GroupView(right);
    pane_ = new ApplicationPane(core_, right);
    rightLayout->addWidget(group_, 1);
    rightLayout->addWidget(pane_, 1);
    pages_ = std::make_unique<Pages>(core_, tree_, group_, pane_, rightLayout);
    protection_ = qobject_cast<ProtectionView*>(pages_->Page("Protection"));

    // What the window holds scrolls where the screen is smaller than it
    // would like (scale 2 on a small screen), so that the window itself
    // always fits and opens inside the screen: the page on the right and the
    // status area each on their own; the divider between them moves.
    auto* splitter = new QSplitter(this);
    splitter->addWidget(tree_);
    splitter->addWidget(Scrolled(this, right, "PageScroller"));
    splitter->setStretchFactor(1, 1);
    splitter->setSizes({270, 600});

    auto* central = new QWidget(this);
    auto* layout = new QVBoxLayout(central);
    layout->setContentsMargins(6, 6, 6, 6);
    banner_ = new BlockAllBanner(this);
    layout->addWidget(banner_);
    rulesNotice_ = new RulesNotice(this);
    layout->addWidget(rulesNotice_);
    away_ = new AwayNotice(core_, protocol::away::ListPath(), this);
    status_ = new StatusArea(protection_->CoverageLine(), protection_->SummaryLine(), away_, this);
    auto* parts = Named(new QSplitter(Qt::Vertical, this), "PartsSplitter");
    parts->setChildrenCollapsible(false);
    parts->addWidget(splitter);
    parts->addWidget(Scrolled(this, status_, "StatusScroller"));
    parts->setStretchFactor(0, 1);
    parts->setStretchFactor(1, 0);
    layout->addWidget(parts, 1);
    // The message box is reached by other processes only; it shows nothing.
    auto* box = Named(new QWidget(central), "Picture2");
    box->setFixedSize(0, 0);
    layout->addWidget(box);
    setCentralWidget(central);

    channel_ = new MessageChannel(core_, this);
    watch_ = new InterceptorWatch(this);
    backstop_ = new BackstopQuestions(core_, this);
    programMenu_ = new ProgramMenu(this);
    addNewMenu_ = new AddNewMenu(this);
    helpMenu_ = new HelpMenu(this);
    periodic_ = new PeriodicWork(core_, channel_, this);
    rulesRetry_ = new gui::Timer(this, kRulesRetryMs);
    // Another program's change of the rules file (zel-rules): shown as a load is.
    rulesWatch_ = new RulesFileWatch(core_, this);
    shutdown_ = std::make_unique<ShutdownFlow>(
        core_, *watch_, ShutdownFlow::Window {[this] { return AskToShutDown(this); }, [this] { ShowFiltering(); },
                                              [this] { if (tray_) tray_->Hide(); }});
    // Once, at the start after a shutdown: what went undecided meanwhile.
    if (const auto& earlier = shutdown_->EarlierShutdown()) {
        protection_->ShowEarlierShutdown(*earlier);
        status_->ShowEarlierShutdown(EarlierShutdownText(*earlier));
    }
    core_.Updates().SetPublisher([this](const std::string& text) { channel_->Publish(text); });
    ConnectCore();
    ConnectCommands();
    ConnectChannel();
    FitToScreen(central, right, parts);
}

MainForm::~MainForm() { core_.Updates().SetPublisher(nullptr); }

void MainForm::ConnectCore()
{
    // The parts show the core's changes as they are made: the application's
    // page, the tree, then the toolbar, the banner and the tray.
    pane_->Follow(changes_);
    tree_->Follow(core_, changes_);
    connect(changes_, &CoreSignals::SettingChanged, this, [this](const std::string& name) {
        if (name == protocol::settings::kSecurityStatus)
            if (const std::optional<bool> on = core_.BlockAll())
                toolBar_->ShowBlockAll(*on);
        ShowFiltering();
    });
    connect(changes_, &CoreSignals::ApplicationChanged, this, [this](const std::string& key) {
        if (key == rules::rules_format::kGeneralApp)
            ShowFiltering();
    });
    connect(changes_, &CoreSignals::RulesReplaced, this, &MainForm::ShowFiltering);
    connect(rulesWatch_, &RulesFileWatch::Changed, this, [this](const RulesStore::LoadResult& loaded) {
        pages_->ShowAgain();
        ShowRulesState(loaded);
    });
}

void MainForm::ConnectCommands()
{
    const auto addFromLog = [this] { pages_->ShowAdded(logRules_.AddProgram(pane_->SelectedLogRow())); };
    const auto addNew = [this] { pages_->ShowAdded(wizard_.Run()); };
    connect(toolBar_, &MainToolBar::AddApplication, this, [this, addNew] {
        wizard_.UseGeneralDefaults();
        addNew();
    });
    connect(toolBar_, &MainToolBar::LogChosen, this,
            [this](const std::string& key, const QString& caption) { pages_->ShowLog(key, caption); });
    connect(toolBar_, &MainToolBar::PageChosen, this, [this](const std::string& key) { pages_->ShowPage(key); });
    connect(toolBar_, &MainToolBar::Settings, this, [this] {
        if (OpenOptions(this, core_, periodic_->Interval()))
            protection_->SessionOptionChanged(core_.Settings().DecideEveryProgram);
    });
    connect(toolBar_, &MainToolBar::BlockAllToggled, this, [this](bool on) { core_.SetBlockAll(on); });
    connect(toolBar_, &MainToolBar::FindInLogs, this, [this] {
        pages_->ShowSomeLog();
        RestoreWindow();
        pane_->FocusLogSearch();
    });
    connect(banner_, &BlockAllBanner::TurnOff, this, [this] { core_.SetBlockAll(false); });
    connect(toolBar_, &MainToolBar::HelpRequested, this, [this](const QPoint& at) { helpMenu_->popup(at); });
    connect(toolBar_, &MainToolBar::ShutDown, this, &MainForm::AskShutDown);
    connect(status_, &StatusArea::HelpRequested, helpMenu_, &HelpMenu::OpenHelp);
    connect(new QShortcut(QKeySequence::HelpContents, this), &QShortcut::activated, helpMenu_, &HelpMenu::OpenHelp);
    connect(tree_, &NavigationTree::Activated, this, [this](QTreeWidgetItem* node) { pages_->ShowNode(node); });
    connect(tree_, &NavigationTree::MenuRequested, this, &MainForm::TreeMenuRequested);
    connect(group_, &GroupView::Opened, this, [this](const std::string& key) { pages_->ShowApplication(key); });
    connect(pane_, &ApplicationPane::AdvancedRequested, this, [this] {
        OpenAdvanced(this, core_, pane_->Level());
        pane_->ShowSelection();
    });
    connect(pane_, &ApplicationPane::EditRuleRequested, this, [this](int rule) {
        const int put = EditSelectedRule(this, core_, pane_->Level(), rule);
        pane_->ShowSelection();
        pane_->SelectRule(put);
    });
    connect(pane_, &ApplicationPane::AddProgramRequested, this, addFromLog);
    connect(pane_, &ApplicationPane::MakeRuleRequested, this,
            [this] { pages_->ShowAdded(logRules_.MakeRule(pane_->SelectedLogRow())); });
    connect(protection_, &ProtectionView::Requested, this, [this] { pages_->ShowPage("Protection"); });
    // A live connection's Block: the rule as the user makes it in the editor,
    // then the connection it was made for ends (new ones meet the rule).
    auto* connections = qobject_cast<ConnectionsView*>(pages_->Page("Connections"));
    connect(connections, &ConnectionsView::BlockRequested, this,
            [this, connections](const LogRow& program, const rules::Rule& rule, pid_t pid, uint64_t inode) {
                if (logRules_.MakeRuleFor(program, rule))
                    connections->EndConnection(pid, inode);
            });
    // A reviewed peer's rule, as the user makes it in the editor; the items
    // it settles leave the list once it is made.
    auto* review = qobject_cast<ReviewView*>(pages_->Page("Review"));
    connect(review, &ReviewView::RuleRequested, this,
            [this, review](const LogRow& program, const rules::Rule& rule,
                           const std::vector<protocol::review::Peer>& peers) {
                if (logRules_.MakeRuleFor(program, rule))
                    review->Settle(program.path, peers);
            });
    connect(programMenu_, &ProgramMenu::AddNew, this, addNew);
    connect(programMenu_, &ProgramMenu::Delete, this, [this] {
        core_.RemoveApplication(menuProgram_);
        pages_->ShowSystem();
    });
    connect(programMenu_, &ProgramMenu::DefaultChosen, this, [this](rules::Direction direction, rules::Permission permission) {
        if (core_.SetDefault(menuProgram_, direction, permission))
            pages_->ShowApplication(menuProgram_);
    });
    connect(addNewMenu_, &AddNewMenu::AddNew, this, addNew);
    connect(addNewMenu_, &AddNewMenu::AddFromLog, this, addFromLog);
}

void MainForm::ConnectChannel()
{
    connect(channel_, &MessageChannel::Answers, this,
            [this](const std::vector<AlertAnswer>& answers) { ShowStored(answers_.Store(answers)); });
    connect(channel_, &MessageChannel::RestoreRequested, this, &MainForm::RestoreWindow);
    connect(watch_, &InterceptorWatch::Restarted, this, [this] { core_.Updates().Publish(); });
    connect(backstop_, &BackstopQuestions::Stored, this,
            [this](const std::string& name) { ShowStored(AlertedApp {name, {}}); });
    connect(away_, &AwayNotice::MoreDecided, this, [this] {
        if (!isVisible() && tray_)
            tray_->ShowBalloon(AwayNotice::BalloonTitle(), AwayNotice::BalloonText(), false);
    });
    // The side column and the periodic work.
    connect(periodic_, &PeriodicWork::Traffic, status_, &StatusArea::ShowTraffic);
    connect(periodic_, &PeriodicWork::Running, status_, &StatusArea::ShowRunning);
    connect(periodic_, &PeriodicWork::BlockedIntruders, status_, &StatusArea::ShowBlockedIntruders);
    connect(periodic_, &PeriodicWork::Profile, status_, &StatusArea::ShowProfile);
    connect(periodic_, &PeriodicWork::ReplacedEngine, status_, &StatusArea::ShowReplacedEngine);
    connect(periodic_, &PeriodicWork::HalfMinute, this, &MainForm::HalfMinute);
    connect(rulesRetry_, &gui::Timer::timeout, this, &MainForm::RetryRules);
    connect(this, &MainForm::HalfMinute, this, [this] {
        periodic_->Refresh();
        pane_->RefreshLog();
        endedAnswers_.Run();
        // A mode set from a terminal, and the end of learning.
        ShowFiltering();
        EndLearningIfOver();
    });
}

void MainForm::FitToScreen(QWidget* central, QWidget* right, QSplitter* parts)
{
    // Wide enough on a 1366x768 screen for the status area's columns to sit
    // beside the chart: then it is no higher than the chart.
    const QSize wanted(central->sizeHint().width() + style()->pixelMetric(QStyle::PM_ScrollBarExtent),
                       toolBar_->sizeHint().height() + right->sizeHint().height() + status_->sizeHint().height() + 24);
    panel::FitToScreen(this, wanted.expandedTo(QSize(1200, 700)));
    const int width = this->width() - 12;
    const int statusHeight = std::max(status_->minimumSizeHint().height(),
                                      status_->hasHeightForWidth() ? status_->heightForWidth(width) : 0);
    // The page is what the user came for: where the status area would leave
    // it less than about eighteen lines (scale 2 on a small screen), the area
    // folds away below the divider, to be pulled up, and opens again by
    // itself for a line that needs the user's attention; the toolbar's texts
    // go beside their icons.
    const int pageLeast = fontMetrics().height() * 18;
    const bool roomy = height() - toolBar_->sizeHint().height() - 24 - statusHeight >= pageLeast;
    if (!roomy)
        toolBar_->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    const int room = height() - toolBar_->sizeHint().height() - 24;
    const int statusRoom = roomy ? statusHeight : 0;
    parts->setCollapsible(1, true);
    parts->setSizes({room - statusRoom, statusRoom});
    connect(status_, &StatusArea::NoticeShown, parts, [parts, statusHeight] {
        const QList<int> sizes = parts->sizes();
        if (sizes.size() == 2 && sizes[1] == 0)
            parts->setSizes({sizes[0] - std::min(statusHeight, sizes[0] / 3), std::min(statusHeight, sizes[0] / 3)});
    });
}

void MainForm::Load()
{
    core_.LoadSettings(std::time(nullptr));
    if (const std::optional<bool> pressed = core_.BlockAll()) {
        toolBar_->ShowBlockAll(*pressed);
        pane_->ShowBlockAll(*pressed);
        banner_->setVisible(*pressed);
    }
    const RulesStore::LoadResult loaded = core_.LoadRules();
    pages_->ShowSystem();
    CenterForm(this);
    ShowRulesState(loaded);
    endedAnswers_.Run();
    rulesWatch_->Start();
    periodic_->Start();
    tray_ = new TrayIcon(windowIcon(), this);
    tray_->ShowProfile(periodic_->ProfileName());
    connect(periodic_, &PeriodicWork::Profile, tray_, &TrayIcon::ShowProfile);
    kernelLayer_ = new KernelLayerNotices(status_, tray_, protection_, backstop_, this);
    connect(channel_, &MessageChannel::BackstopNotice, kernelLayer_, &KernelLayerNotices::ShowNotice);
    connect(tray_, &TrayIcon::RestoreRequested, this, &MainForm::RestoreWindow);
    connect(tray_, &TrayIcon::ShutDownRequested, this, &MainForm::AskShutDown);
    connect(tray_, &TrayIcon::BlockAllToggled, this, [this](bool on) { core_.SetBlockAll(on); });
    connect(tray_, &TrayIcon::LevelChosen, this, &MainForm::ChooseLevel);
    connect(tray_, &TrayIcon::ModeChosen, this, [this](protocol::mode::Mode mode) {
        core_.SetFirewallMode(mode, os::WallTime(), protocol::settings::kDefaultLearnDays);
    });
    connect(tray_, &TrayIcon::ReviewRequested, this, [this] {
        pages_->ShowPage("Review");
        RestoreWindow();
    });
    ShowFiltering();
    EndLearningIfOver();
    connect(channel_, &MessageChannel::TrayMouse, tray_, [this](uint32_t message) {
        if (tray_->MouseMessage(message) == 1)
            tray_->PopUpMenu();
    });
    // Without a tray the window stays reachable (closing minimises it) and
    // the shutdown is on the toolbar.
    if (!tray_->Available())
        toolBar_->AddShutDown();
    QStringList addresses;
    for (const std::string& address : os::net::AdapterAddresses())
        addresses << QString::fromStdString(address);
    status_->ShowAddresses(addresses);
    periodic_->Refresh();
    // The keyboard starts in the tree; Tab goes on to the page, Shift+Tab to the toolbar.
    tree_->setFocus(Qt::OtherFocusReason);
}

bool MainForm::RegisterWindow() { return channel_->Register(); }

void MainForm::SetInterceptor(InterceptorLibrary* interceptor)
{
    shutdown_->SetInterceptor(interceptor);
    watch_->SetLibrary(interceptor);
}

void MainForm::WatchInterceptor() { watch_->Watch(); }

void MainForm::WatchBackstop() { kernelLayer_->Start(); }

void MainForm::OfferFirstRun()
{
    if (!isVisible())
        return;
    // A level chosen there reaches the parts through the core's announcements;
    // the page shown is drawn again for the defaults it shows.
    if (firstRun_.Run(protection_->Session()))
        pages_->ShowAgain();
}

bool MainForm::HasTray() const { return tray_ && tray_->Available(); }

void MainForm::ShowRulesState(const RulesStore::LoadResult& loaded)
{
    rulesNotice_->Show(QString::fromStdString(core_.Settings().XmlFilePath), loaded);
    const bool readable = loaded.outcome != RulesStore::LoadOutcome::kUnreadable;
    // Without the rules nothing can be changed (the logs stay).
    pane_->SetRulesEditing(readable);
    toolBar_->SetAddEnabled(readable);
    tree_->setContextMenuPolicy(readable ? Qt::CustomContextMenu : Qt::NoContextMenu);
    if (readable)
        rulesRetry_->stop();
    else
        rulesRetry_->start();
}

void MainForm::RetryRules()
{
    const RulesStore::LoadResult loaded = core_.LoadRules();
    if (loaded.outcome == RulesStore::LoadOutcome::kUnreadable) {
        ShowRulesState(loaded); // the reason may have changed
        return;
    }
    WriteErrLog("MainForm : RetryRules", "the rules file " + core_.Settings().XmlFilePath + " is read now");
    pages_->ShowSystem();
    ShowRulesState(loaded);
    ShowStored(answers_.StoreHeld());
}

FilterState MainForm::Filtering() const
{
    return DescribeFiltering(core_.Security(), shutdown_->Stopped(), core_.FirewallMode(), os::WallTime());
}

void MainForm::EndLearningIfOver()
{
    if (!tray_ || !core_.EndLearningIfOver(os::WallTime()))
        return;
    const int programs
        = static_cast<int>(protocol::review::Group(protocol::review::ReadAll(protocol::review::ListPath())).size());
    tray_->ShowReviewBalloon(tr("Korvel Firewall"), tr("Learning ended: %n programs to review", nullptr, programs));
}

void MainForm::ShowFiltering()
{
    const FilterState state = Filtering();
    banner_->setVisible(state.filtering == panel::Filtering::kBlockAll);
    if (tray_)
        tray_->ShowState(state);
}

void MainForm::ChooseLevel(int level)
{
    if (!core_.RulesReadable())
        return; // the window says why
    core_.SetMode(SecurityMode::kNormal);
    core_.ApplyPreset(level);
    pane_->ShowSecurity();
    pane_->ShowSelection();
}

void MainForm::TreeMenuRequested(const QPoint& at, const NavigationTree::MenuTarget& target)
{
    // What the menu was opened on: the defaults a new application gets there.
    wizard_.SetDefaults(target.defaults, target.defaults);
    if (target.kind != NavigationTree::MenuTarget::Kind::kProgram) {
        addNewMenu_->popup(at);
        return;
    }
    menuProgram_ = target.program;
    programMenu_->ShowDefaults(core_.Rules().Find(menuProgram_));
    programMenu_->popup(at);
}

void MainForm::ShowStored(const std::optional<AlertedApp>& app)
{
    // An answer is the alert's business: the window is not raised, nor the
    // keyboard taken from what the user types in, nor the page changed. The
    // page shown is drawn again only when it is the program's own.
    const Selection& shown = core_.Selected();
    if (app && isVisible() && shown.Shows(Selection::View::kApplication) && shown.application == app->key)
        pages_->ShowAgain();
}

void MainForm::RestoreWindow()
{
    showNormal();
    raise();
    activateWindow();
}

void MainForm::closeEvent(QCloseEvent* event)
{
    if (shutdown_->Closing()) {
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
        ShowTrayNotice(this, core_);
    hide();
}

}  // namespace panel
