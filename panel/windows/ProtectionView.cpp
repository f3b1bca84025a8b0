#include "panel/windows/ProtectionView.h"

#include "gui/Art.h"
#include "gui/ProgramIcon.h"
#include "gui/Timer.h"
#include "os/Processes.h"
#include "panel/core/FileInformation.h"
#include "panel/windows/ServiceDefaults.h"
#include "panel/widgets/WindowTools.h"
#include "protocol/CarrierRegistry.h"

#include <QApplication>
#include <QCoreApplication>
#include <QDateTime>
#include <QLocale>
#include <QEvent>
#include <QHBoxLayout>
#include <QHash>
#include <QHeaderView>
#include <QMetaObject>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QProcess>
#include <QPushButton>
#include <QScrollBar>
#include <QShowEvent>
#include <QSet>
#include <QSocketNotifier>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <algorithm>
#include <memory>
#include <thread>
#include <cerrno>
#include <cmath>
#include <csignal>
#include <cstring>
#include <pwd.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace panel {

namespace {

namespace coverage = session::coverage;

constexpr int kPidRole = Qt::UserRole;
// A program's row over several processes: it speaks of the least covered one.
constexpr int kManyRole = Qt::UserRole + 1;
constexpr int kPageRefreshMs = 2000;
constexpr int kSummaryRefreshMs = 30000;
constexpr int kEndWaitMs = 5000;
constexpr int kFirstSummaryMs = 1500;
// The kernel backstop's state is looked at this often while the page shows;
// a look that takes longer than the limit is given up.
constexpr auto kKernelLookInterval = std::chrono::seconds(10);
constexpr int kKernelLookLimitMs = 10000;
// pkexec's exit statuses when the administrator did not agree.
constexpr int kPkexecDismissed = 126;
constexpr int kPkexecNotAuthorized = 127;
// The services are listed again this often while the page shows.
constexpr auto kServicesInterval = std::chrono::seconds(10);

QLabel* WrappedLabel(const char* name, QWidget* parent)
{
    auto* label = Named(new QLabel(parent), name);
    label->setTextFormat(Qt::PlainText);
    label->setWordWrap(true);
    return label;
}

std::string UserName(uid_t uid)
{
    passwd entry {};
    passwd* found = nullptr;
    char buffer[4096];
    if (::getpwuid_r(uid, &entry, buffer, sizeof buffer, &found) == 0 && found && found->pw_name)
        return found->pw_name;
    return QCoreApplication::translate("panel::ProtectionView", "user %1").arg(uid).toStdString();
}

// The name the user knows the program by: its menu entry's, else its file's.
QString ProgramName(const coverage::Program& program)
{
    static QHash<QString, QString> names;
    const QString path = QString::fromStdString(program.exePath);
    if (path.isEmpty())
        return QString::fromStdString(program.command);
    auto found = names.find(path);
    if (found == names.end()) {
        found = names.insert(path, QString::fromStdString(panel::ProgramDisplayName(program.exePath)));
    }
    return *found;
}

QIcon StateIcon(coverage::State state)
{
    static const QIcon icons[] = {QIcon(gui::art::StatusIcon(gui::art::Mark::kAllow, 32)), QIcon(gui::art::StatusIcon(gui::art::Mark::kAsk, 32)),
                                  QIcon(gui::art::StatusIcon(gui::art::Mark::kBlock, 32))};
    return icons[static_cast<int>(state)];
}

int OpenPidFd(pid_t pid) { return static_cast<int>(::syscall(SYS_pidfd_open, pid, 0)); }

}  // namespace

ProtectionView::ProtectionView(std::string procRoot, QWidget* parent) : QWidget(parent), procRoot_(std::move(procRoot))
{
    setObjectName("ProtectionView");
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    auto* heading = Named(new QLabel(tr("Protection"), this), "ProtectionHeading");
    QFont bold = heading->font();
    bold.setBold(true);
    bold.setPointSizeF(bold.pointSizeF() * 1.15);
    heading->setFont(bold);
    layout->addWidget(heading);
    earlierShutdown_ = WrappedLabel("EarlierShutdown", this);
    earlierShutdown_->hide();
    layout->addWidget(earlierShutdown_);
    pageCoverage_ = WrappedLabel("PageCoverage", this);
    layout->addWidget(pageCoverage_);
    backstopState_ = WrappedLabel("BackstopState", this);
    layout->addWidget(backstopState_);
    // Below the line, which keeps the page's width to wrap in.
    protect_ = Named(new QPushButton(tr("Protect the programs the firewall cannot enter"), this), "ProtectKernelLayer");
    protect_->hide();
    layout->addWidget(protect_, 0, Qt::AlignLeft);
    connect(protect_, &QPushButton::clicked, this, &ProtectionView::Protect);
    runtimeState_ = WrappedLabel("RuntimeFolderState", this);
    runtimeState_->hide();
    layout->addWidget(runtimeState_);

    programList_ = Named(new QTreeWidget(this), "ProgramList");
    programList_->setRootIsDecorated(true);
    programList_->setUniformRowHeights(true);
    programList_->setIconSize(QSize(16, 16));
    programList_->setHeaderLabels({tr("Program"), tr("Process"), tr("Decided by"), tr("Why")});
    programList_->header()->setSectionResizeMode(0, QHeaderView::ResizeToContents);
    programList_->header()->setSectionResizeMode(1, QHeaderView::ResizeToContents);
    programList_->header()->setSectionResizeMode(2, QHeaderView::ResizeToContents);
    programList_->header()->setStretchLastSection(true);
    programList_->setWordWrap(false);
    layout->addWidget(programList_, 1);
    connect(programList_, &QTreeWidget::currentItemChanged, this, &ProtectionView::SelectionChanged);
    connect(programList_, &QTreeWidget::itemActivated, this, [this] {
        if (restart_->isEnabled())
            RestartSelected();
    });

    auto* actions = new QHBoxLayout;
    advice_ = WrappedLabel("ProtectionAdvice", this);
    restart_ = Named(new QPushButton(tr("Restart under the firewall"), this), "RestartUnderFirewall");
    restart_->setEnabled(false);
    // Room for a few lines of advice whatever is selected: a row chosen with
    // the mouse does not move the lists or the button under it.
    advice_->setMinimumHeight(advice_->fontMetrics().lineSpacing() * 3);
    advice_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    actions->addWidget(advice_, 1);
    actions->addWidget(restart_, 0, Qt::AlignTop);
    layout->addLayout(actions);
    connect(restart_, &QPushButton::clicked, this, &ProtectionView::RestartSelected);

    // An administrator's: the system services.
    servicesPart_ = Named(new QWidget(this), "ServicesPart");
    auto* services = new QVBoxLayout(servicesPart_);
    services->setContentsMargins(0, 0, 0, 0);
    auto* servicesHeading = Named(new QLabel(tr("System services"), servicesPart_), "ServicesHeading");
    servicesHeading->setFont(bold);
    services->addWidget(servicesHeading);
    servicesState_ = WrappedLabel("ServicesState", servicesPart_);
    services->addWidget(servicesState_);
    serviceList_ = Named(new QTreeWidget(servicesPart_), "ServiceList");
    serviceList_->setRootIsDecorated(false);
    serviceList_->setUniformRowHeights(true);
    serviceList_->setWordWrap(false);
    // What decides last, where it may be cut (its tool tip has it whole);
    // the name as wide as it needs up to a limit (the path in its tool tip).
    serviceList_->setHeaderLabels({tr("Service"), tr("Process"), tr("User"), tr("Incoming"), tr("Outgoing"), tr("Decided by")});
    for (int column = 1; column < 5; ++column)
        serviceList_->header()->setSectionResizeMode(column, QHeaderView::ResizeToContents);
    serviceList_->header()->setStretchLastSection(true);
    // A few rows of each list at least: the programs' do not crowd the
    // services out.
    programList_->setMinimumHeight(programList_->fontMetrics().height() * 4);
    serviceList_->setMinimumHeight(serviceList_->fontMetrics().height() * 6);
    services->addWidget(serviceList_, 1);
    // The selected service's defaults: from its context menu (the menu key
    // too) or the button's.
    serviceDefaults_ = new panel::ServiceDefaults(this);
    serviceMenu_ = Named(new QMenu(this), "ServiceMenu");
    connect(serviceMenu_, &QMenu::aboutToShow, this, [this] { serviceDefaults_->FillMenu(serviceMenu_, SelectedService()); });
    serviceList_->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(serviceList_, &QWidget::customContextMenuRequested, this, [this](const QPoint& at) {
        if (SelectedService())
            serviceMenu_->popup(serviceList_->viewport()->mapToGlobal(at));
    });
    serviceChange_ = Named(new QPushButton(tr("Set its &defaults"), servicesPart_), "ServiceDefaults");
    serviceChange_->setMenu(serviceMenu_);
    serviceChange_->setEnabled(false);
    services->addWidget(serviceChange_, 0, Qt::AlignRight);
    connect(serviceList_, &QTreeWidget::currentItemChanged, this, &ProtectionView::ShowServicesState);
    connect(serviceDefaults_, &panel::ServiceDefaults::Started, this, [this] {
        servicesOutcome_ = tr("Waiting for an administrator to agree.");
        ShowServicesState();
    });
    connect(serviceDefaults_, &panel::ServiceDefaults::Ended, this, [this](const QString& problem) {
        servicesOutcome_ = problem.isEmpty() ? tr("The services' rules were changed.") : problem;
        ShowServicesState();
        ListServices();
    });
    layout->addWidget(servicesPart_, 2);
    servicesPart_->hide();

    coverageLine_ = WrappedLabel("CoverageText", nullptr);
    summaryLine_ = Named(new QLabel, "ProtectionSummary");
    summaryLine_->setTextFormat(Qt::PlainText);
    summaryLine_->setWordWrap(true);
    QFont underlined = summaryLine_->font();
    underlined.setUnderline(true);
    summaryLine_->setFont(underlined);
    ShowSummaryColour();
    summaryLine_->setCursor(Qt::PointingHandCursor);
    summaryLine_->setToolTip(tr("Show which of your programs are protected"));
    summaryLine_->installEventFilter(this);
    sideCoverage_ = coverageLine_;
    sideSummary_ = summaryLine_;

    pageTimer_ = new gui::Timer(this, kPageRefreshMs);
    connect(pageTimer_, &gui::Timer::timeout, this, &ProtectionView::Refresh);
    const auto refreshSummary = [this] {
        if (!isVisible())
            Refresh();
    };
    summaryTimer_ = new gui::Timer(this, kSummaryRefreshMs);
    connect(summaryTimer_, &gui::Timer::timeout, this, refreshSummary);
    summaryTimer_->start();
    firstSummary_ = new gui::Timer(this, kFirstSummaryMs, true);
    connect(firstSummary_, &gui::Timer::timeout, this, refreshSummary);
    endingTimeout_ = new gui::Timer(this, kEndWaitMs, true);
    statusLimit_ = new gui::Timer(this, kKernelLookLimitMs, true);
    connect(statusLimit_, &gui::Timer::timeout, this, [this] {
        if (statusRun_)
            statusRun_->kill(); // it ends, and is taken for not attached
    });

    const std::string self = os::processes::OwnExecutablePath();
    ZelRunProgram = self.substr(0, self.rfind('/') + 1) + "zel-run";
    Confirm = [this](const QString& question) {
        return QMessageBox::question(this, tr("Restart under the firewall"), question) == QMessageBox::Yes;
    };
    Tell = [this](const QString& text) { QMessageBox::warning(this, tr("Restart under the firewall"), text); };
    // Never by a search of PATH: what pkexec runs as root is named in full.
    if (const panel::KernelLayerPrograms installed = panel::InstalledKernelLayerPrograms(); !installed.admin.empty()) {
        // For this user: root's "status" alone would speak of every user's.
        KernelStatusCommand = {QString::fromStdString(installed.backstop), "status", "--user", QString::number(::getuid())};
        ProtectCommand = {"/usr/bin/pkexec", QString::fromStdString(installed.admin), "protect"};
        serviceDefaults_->Command = {"/usr/bin/pkexec", QString::fromStdString(installed.admin), "services-rules"};
    }
    ShowKernelLayer();
    hide();
}

ProtectionView::~ProtectionView()
{
    // The side column's lines belong to the window whose layout took them.
    for (const QPointer<QLabel>& line : {sideCoverage_, sideSummary_})
        if (line && !line->parent())
            delete line.data();
    if (endingFd_ >= 0)
        ::close(endingFd_);
}

void ProtectionView::SetSession(const std::string& installDir, bool startedUnderHook)
{
    installDir_ = installDir;
    session_ = panel::ReadSessionFacts(installDir, startedUnderHook);
    ShowSession();
    // The summary a moment after the window is up (not in the way of the
    // start), then every half minute.
    firstSummary_->start();
}

QString EarlierShutdownText(const panel::stopped_notice::Trace& trace)
{
    const auto tr = [](const char* text) { return QCoreApplication::translate("panel::ProtectionView", text); };
    const QString meanwhile = tr("Connections made until it started again were neither decided by your rules nor logged.");
    if (!trace.shutDownAt)
        return tr("The firewall was shut down before this start.") + ' ' + meanwhile;
    const QString at = QLocale().toString(QDateTime::fromSecsSinceEpoch(*trace.shutDownAt), QLocale::ShortFormat);
    return tr("The firewall was shut down at %1.").arg(at) + ' ' + meanwhile;
}

void ProtectionView::ShowEarlierShutdown(const panel::stopped_notice::Trace& trace)
{
    earlierShutdown_->setText(EarlierShutdownText(trace));
    earlierShutdown_->setStyleSheet(ReadableStyle(this, QColor(160, 0, 0)));
    earlierShutdown_->show();
}

void ProtectionView::SessionOptionChanged(bool on)
{
    const bool started = session_.startedUnderHook;
    session_ = panel::ReadSessionFacts(installDir_, started);
    session_.optionOn = on;
    session_.switchedOnNow = on;
    ShowSession();
    Refresh();
}

void ProtectionView::ShowSession()
{
    const QString text = QString::fromStdString(panel::CoverageText(session_));
    coverageLine_->setText(text);
    pageCoverage_->setText(text);
}

void ProtectionView::ReadSessionAgain()
{
    if (installDir_.empty())
        return;
    panel::SessionFacts now = panel::ReadSessionFacts(installDir_, session_.startedUnderHook);
    // Switched on from outside the panel (zel-reg): what runs started without it.
    now.switchedOnNow = session_.switchedOnNow || (now.optionOn && !session_.optionOn);
    if (now.optionOn == session_.optionOn && now.problem == session_.problem && now.switchedOnNow == session_.switchedOnNow)
        return;
    session_ = std::move(now);
    ShowSession();
}

void ProtectionView::Refresh()
{
    ReadSessionAgain();
    coverage::ScanSettings settings;
    settings.procRoot = procRoot_;
    settings.uid = ::getuid();
    settings.self = ::getpid();
    for (const protocol::carriers::CarrierRecord& host : protocol::carriers::ListCarriers())
        if (host.alive)
            settings.registered.insert(host.pid);
    const auto now = std::chrono::steady_clock::now();
    if (!statusRun_ && (kernelLookedAt_ == std::chrono::steady_clock::time_point {} || now - kernelLookedAt_ >= kKernelLookInterval))
        LookAtKernelLayer();
    backstop_ = kernelLayer_.kind == panel::KernelLayerState::Kind::kAttached || coverage::BackstopRunning();
    settings.backstop = backstop_;
    programs_ = scanner_.Scan(settings);
    // Looked at every time: a folder spoilt while the panel runs refuses
    // the programs started since.
    const os::RuntimeFolderState runtime = os::RuntimeDirState();
    const QString runtimeText = QString::fromStdString(panel::RuntimeFolderText(runtime));
    runtimeState_->setText(runtimeText);
    runtimeState_->setVisible(!runtimeText.isEmpty());
    summaryLine_->setText(runtime.problem.empty()
                              ? QString::fromStdString(panel::SummaryText(programs_))
                              : tr("Protection: your programs' connections are refused, see why here."));
    if (isVisible()) {
        FillList();
        if (servicesListedAt_ == std::chrono::steady_clock::time_point {} || now - servicesListedAt_ >= kServicesInterval)
            ListServices();
    }
}

void ProtectionView::ListServices()
{
    servicesPart_->setVisible(Administrator);
    servicesAgain_ = servicesReading_;
    if (!Administrator || servicesReading_)
        return;
    serviceDefaults_->Places = ServicePlaces;
    servicesListedAt_ = std::chrono::steady_clock::now();
    servicesReading_ = true;
    // Off the window's thread: reading a process's command line waits for
    // its memory map, which a program of a system user can hold up (a page
    // fault on a file system of its own) for as long as it likes. One read
    // at a time; a page gone meanwhile takes nothing.
    std::thread([places = ServicePlaces, page = QPointer<ProtectionView>(this)] {
        auto listing = std::make_shared<panel::services::Listing>(panel::services::List(places));
        QMetaObject::invokeMethod(qApp, [page, listing] {
            if (page)
                page->ShowServices(std::move(*listing));
        }, Qt::QueuedConnection);
    }).detach();
}

void ProtectionView::ShowServices(panel::services::Listing listing)
{
    servicesReading_ = false;
    services_ = std::move(listing);
    using By = panel::services::DecidedBy;
    const auto permission = [this](std::optional<rules::Permission> value) {
        return !value ? tr("Not set")
            : *value == rules::Permission::kPermit ? tr("Permit")
            : *value == rules::Permission::kDeny   ? tr("Block")
                                                   : tr("Ask");
    };
    const qint64 selected = serviceList_->currentItem() ? serviceList_->currentItem()->data(0, kPidRole).toLongLong() : 0;
    const QSignalBlocker quiet(serviceList_);
    serviceList_->setUpdatesEnabled(false);
    serviceList_->clear();
    for (const panel::services::Service& service : services_.services) {
        const QString entry = QString::fromStdString(service.entry);
        const QString decidedBy = service.decidedBy == By::kEntry
            ? (service.rules ? tr("Its entry, %1, with %n rule(s)", nullptr, static_cast<int>(service.rules)).arg(entry)
                             : tr("Its entry, %1").arg(entry))
            : service.decidedBy == By::kDefault ? tr("The services' default")
            : service.decidedBy == By::kShipped ? tr("The shipped default")
                                                : tr("Unknown");
        const QString path = QString::fromStdString(service.exePath);
        const QString name = path.isEmpty() ? QString::fromStdString(service.command) : path.section('/', -1);
        auto* item = new QTreeWidgetItem(serviceList_, {name, QString::number(service.pid), QString::fromStdString(UserName(service.uid)),
                                                        permission(service.incoming), permission(service.outgoing), decidedBy});
        item->setData(0, kPidRole, static_cast<qint64>(service.pid));
        item->setToolTip(0, service.pathFromCommandLine ? tr("%1 (as the program names itself: it cannot be looked into)").arg(path)
                                                        : path);
        item->setToolTip(5, decidedBy);
        if (service.pid == selected)
            serviceList_->setCurrentItem(item);
    }
    serviceList_->resizeColumnToContents(0);
    serviceList_->setColumnWidth(0, std::min(serviceList_->columnWidth(0), serviceList_->fontMetrics().averageCharWidth() * 18));
    // Six rows in view at least, at any scale: below the header, beside a
    // scroll bar the columns may need, as tall as the rows turn out.
    if (serviceList_->topLevelItemCount() > 0)
        serviceList_->setMinimumHeight(serviceList_->header()->sizeHint().height() + 6 * serviceList_->sizeHintForRow(0)
                                       + serviceList_->horizontalScrollBar()->sizeHint().height()
                                       + 2 * serviceList_->frameWidth());
    serviceList_->setUpdatesEnabled(true);
    ShowServicesState();
    emit ServicesListed();
    // A change ended while this was read: what it made.
    if (servicesAgain_)
        ListServices();
}

void ProtectionView::ShowServicesState()
{
    QStringList state;
    state << (services_.backstopRuns ? tr("The services' kernel backstop runs: it decides these programs by %1.")
                                           .arg(QString::fromStdString(ServicePlaces.rulesFile))
                                     : tr("The services' kernel backstop is not running: nothing decides these programs."));
    if (services_.rulesMissing)
        state << tr("There is no services' rules file: every service is permitted both ways and recorded.");
    else if (!services_.rulesProblem.empty())
        state << tr("The services' rules cannot be read: %1").arg(QString::fromStdString(services_.rulesProblem));
    if (services_.unseen > 0)
        state << tr("%n of root's programs are not listed: only root can see their sockets.", nullptr,
                    static_cast<int>(services_.unseen));
    if (services_.truncated)
        state << tr("Only the first %n are listed.", nullptr, static_cast<int>(services_.services.size()));
    if (!servicesOutcome_.isEmpty())
        state << servicesOutcome_;
    servicesState_->setText(state.join(' '));
    const panel::services::Service* service = SelectedService();
    serviceChange_->setEnabled(serviceDefaults_->CanChange(service));
    serviceChange_->setToolTip(serviceDefaults_->Command.isEmpty() ? tr("The administrator's helper is not installed.")
                               : !service                          ? tr("Select a service.")
                               : service->exePath.empty()          ? tr("Its program file is not known.")
                                                                   : tr("Asks for an administrator's password, then sets "
                                                                        "the service's defaults in %1.")
                                                                         .arg(QString::fromStdString(ServicePlaces.rulesFile)));
}

const panel::services::Service* ProtectionView::SelectedService() const
{
    const QTreeWidgetItem* item = serviceList_->currentItem();
    if (!item)
        return nullptr;
    for (const panel::services::Service& service : services_.services)
        if (service.pid == item->data(0, kPidRole).toLongLong())
            return &service;
    return nullptr;
}

void ProtectionView::FillList()
{
    const qint64 selected = programList_->currentItem() ? programList_->currentItem()->data(0, kPidRole).toLongLong() : 0;
    const bool selectedProgram = programList_->currentItem() && programList_->currentItem()->data(0, kManyRole).toBool();
    QSet<QString> expanded;
    for (int i = 0; i < programList_->topLevelItemCount(); ++i)
        if (programList_->topLevelItem(i)->isExpanded())
            expanded << programList_->topLevelItem(i)->toolTip(0);
    const QSignalBlocker quiet(programList_);
    programList_->setUpdatesEnabled(false);
    programList_->clear();
    QTreeWidgetItem* current = nullptr;
    const auto add = [&](QTreeWidgetItem* item, const coverage::Program& process, const QString& processText) {
        const std::string owner = process.reason == coverage::Reason::kOtherUser ? UserName(process.uid) : std::string();
        item->setText(0, ProgramName(process));
        item->setText(1, processText);
        item->setText(2, QString::fromStdString(panel::StateText(process.state)));
        item->setText(3, QString::fromStdString(panel::ReasonText(process, owner)));
        item->setData(0, kPidRole, static_cast<qint64>(process.pid));
        item->setIcon(0, gui::ExecutableIcon(process.exePath));
        item->setIcon(2, StateIcon(process.state));
        item->setToolTip(0, QString::fromStdString(process.exePath.empty() ? process.command : process.exePath));
        item->setToolTip(3, item->text(3));
    };
    // One row a program; one with several processes lists them under it
    // and reads as its least covered one.
    for (const panel::ProgramProcesses& program : panel::GroupByProgram(programs_)) {
        auto* row = new QTreeWidgetItem(programList_);
        const coverage::Program& first = *program.front();
        if (program.size() == 1) {
            add(row, first, QString::number(first.pid));
        } else {
            add(row, first, tr("%n processes", nullptr, static_cast<int>(program.size())));
            row->setData(0, kManyRole, true);
            for (const coverage::Program* process : program) {
                auto* child = new QTreeWidgetItem(row);
                add(child, *process, QString::number(process->pid));
                if (process->pid == selected && !selectedProgram)
                    current = child;
            }
            row->setExpanded(expanded.contains(row->toolTip(0)));
        }
        if (first.pid == selected && (selectedProgram || program.size() == 1))
            current = row;
    }
    if (current)
        programList_->setCurrentItem(current);
    programList_->setUpdatesEnabled(true);
    SelectionChanged();
}

void ProtectionView::SelectionChanged()
{
    const QTreeWidgetItem* item = programList_->currentItem();
    const coverage::Program* program = nullptr;
    if (item)
        for (const coverage::Program& candidate : programs_)
            if (candidate.pid == item->data(0, kPidRole).toLongLong())
                program = &candidate;
    // A program of several processes is restarted a process at a time, from
    // the rows under it: never all of a browser's at one click.
    restart_->setEnabled(program && program->CanRestartUnderHook() && !ending_ && !item->data(0, kManyRole).toBool());
    // The program, why it is decided so, and what to do about it.
    advice_->setText(program ? tr("%1: %2 %3").arg(item->text(0), item->text(3),
                                                   QString::fromStdString(panel::AdviceText(*program, backstop_)))
                             : tr("Select a program to see what covers it."));
}

void ProtectionView::RestartSelected()
{
    const QTreeWidgetItem* item = programList_->currentItem();
    if (!item || ending_ || item->data(0, kManyRole).toBool())
        return;
    const auto pid = static_cast<pid_t>(item->data(0, kPidRole).toLongLong());
    const coverage::Program* program = nullptr;
    for (const coverage::Program& candidate : programs_)
        if (candidate.pid == pid)
            program = &candidate;
    if (!program || !program->CanRestartUnderHook())
        return;
    const QString name = ProgramName(*program);
    // Held from here on, the process cannot be mistaken for a later one
    // that got its number.
    const int fd = OpenPidFd(pid);
    if (fd < 0) {
        Tell(tr("%1 has ended.").arg(name));
        Refresh();
        return;
    }
    const coverage::Launch launch = coverage::LaunchOf(procRoot_, pid);
    if (launch.arguments.empty()) {
        ::close(fd);
        Tell(tr("The command line of %1 cannot be read: start it again yourself.").arg(name));
        return;
    }
    const QString question = tr("Restart %1 (process %2) under the firewall?\n\nIt is ended and started again with "
                                "the same command line, in the same folder. Work not saved in it is lost.")
                                 .arg(name)
                                 .arg(pid);
    if (!Confirm(question)) {
        ::close(fd);
        return;
    }
    if (::syscall(SYS_pidfd_send_signal, fd, SIGTERM, nullptr, 0) != 0) {
        const int error = errno;
        ::close(fd);
        if (error == ESRCH)
            StartAgain(launch);
        else
            Tell(tr("%1 cannot be ended: %2").arg(name, QString::fromLocal8Bit(std::strerror(error))));
        return;
    }
    pending_ = launch;
    endingFd_ = fd;
    ending_ = new QSocketNotifier(fd, QSocketNotifier::Read, this);
    const auto finish = [this](bool ended) {
        endingTimeout_->stop();
        ending_->deleteLater();
        ending_ = nullptr;
        ::close(endingFd_);
        endingFd_ = -1;
        if (ended)
            StartAgain(pending_);
        pending_ = {};
        Refresh();
    };
    connect(ending_, &QSocketNotifier::activated, this, [finish] { finish(true); });
    endingTimeout_->disconnect();
    connect(endingTimeout_, &gui::Timer::timeout, this, [this, finish, name] {
        finish(false);
        Tell(tr("%1 did not end within %n seconds: it was not restarted.", nullptr, kEndWaitMs / 1000).arg(name));
    });
    endingTimeout_->start(kEndWaitMs);
    restart_->setEnabled(false);
}

void ProtectionView::StartAgain(const coverage::Launch& launch)
{
    QProcess process;
    process.setProgram(QString::fromStdString(ZelRunProgram));
    QStringList arguments;
    for (const std::string& argument : launch.arguments)
        arguments << QString::fromStdString(argument);
    process.setArguments(arguments);
    process.setWorkingDirectory(QString::fromStdString(launch.folder));
    QProcessEnvironment environment;
    for (const std::string& entry : launch.environment) {
        const size_t equals = entry.find('=');
        if (equals != std::string::npos && equals > 0)
            environment.insert(QString::fromStdString(entry.substr(0, equals)), QString::fromStdString(entry.substr(equals + 1)));
    }
    process.setProcessEnvironment(environment);
    qint64 pid = 0;
    if (process.startDetached(&pid))
        emit Restarted(pid);
    else
        Tell(tr("It cannot be started again under the firewall: %1").arg(process.errorString()));
}

void ProtectionView::LookAtKernelLayer()
{
    if (statusRun_) {
        lookAgain_ = true;
        return;
    }
    kernelLookedAt_ = std::chrono::steady_clock::now();
    if (KernelStatusCommand.isEmpty()) {
        kernelLayer_ = {panel::KernelLayerState::Kind::kNotInstalled, {}};
        ShowKernelLayer();
        return;
    }
    statusRun_ = new QProcess(this);
    // Its words in English, which are read here; its own folder, not ours.
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("LC_ALL", "C");
    environment.insert("LANGUAGE", "");
    statusRun_->setProcessEnvironment(environment);
    statusRun_->setProcessChannelMode(QProcess::MergedChannels);
    statusRun_->setWorkingDirectory("/");
    QProcess* run = statusRun_;
    connect(run, &QProcess::finished, this, [this, run](int exitStatus, QProcess::ExitStatus how) {
        StatusEnded(how == QProcess::NormalExit ? exitStatus : -1, QString::fromLocal8Bit(run->read(65536)));
    });
    connect(run, &QProcess::errorOccurred, this, [this](QProcess::ProcessError error) {
        if (error == QProcess::FailedToStart)
            StatusEnded(-2, {});
    });
    statusLimit_->start();
    run->start(KernelStatusCommand.first(), KernelStatusCommand.mid(1));
}

void ProtectionView::StatusEnded(int exitStatus, const QString& output)
{
    statusLimit_->stop();
    statusRun_->deleteLater();
    statusRun_ = nullptr;
    kernelLayer_ = exitStatus == -2 ? panel::KernelLayerState {panel::KernelLayerState::Kind::kNotInstalled, {}}
                                    : panel::ParseKernelLayerStatus(exitStatus, output.toStdString());
    ShowKernelLayer();
    if (lookAgain_) {
        lookAgain_ = false;
        LookAtKernelLayer();
    }
}

void ProtectionView::Protect()
{
    if (protectRun_ || ProtectCommand.isEmpty() || kernelLayer_.kind != panel::KernelLayerState::Kind::kNotAttached)
        return;
    protectProblem_.clear();
    protectRun_ = new QProcess(this);
    protectRun_->setWorkingDirectory("/");
    QProcess* run = protectRun_;
    connect(run, &QProcess::finished, this, [this, run](int exitStatus, QProcess::ExitStatus how) {
        // zel-admin says why it failed on its last line.
        const QStringList said = QString::fromLocal8Bit(run->readAllStandardError().right(4096)).split('\n', Qt::SkipEmptyParts);
        ProtectEnded(how == QProcess::NormalExit ? exitStatus : -1, said.isEmpty() ? QString() : said.last());
    });
    connect(run, &QProcess::errorOccurred, this, [this](QProcess::ProcessError error) {
        if (error == QProcess::FailedToStart)
            ProtectEnded(-2, tr("%1 cannot be started.").arg(ProtectCommand.first()));
    });
    run->start(ProtectCommand.first(), ProtectCommand.mid(1));
    ShowKernelLayer();
}

void ProtectionView::ProtectEnded(int exitStatus, const QString& problem)
{
    protectRun_->deleteLater();
    protectRun_ = nullptr;
    if (exitStatus == kPkexecDismissed || exitStatus == kPkexecNotAuthorized)
        protectProblem_ = tr("Nothing was changed: no administrator agreed.");
    else if (exitStatus != 0)
        protectProblem_ = problem.isEmpty() ? tr("It could not be started.") : tr("It could not be started: %1").arg(problem);
    LookAtKernelLayer();
    ShowKernelLayer();
}

void ProtectionView::ShowKernelLayer()
{
    using Kind = panel::KernelLayerState::Kind;
    QString line = QString::fromStdString(panel::KernelLayerText(kernelLayer_));
    if (protectRun_)
        line += " " + tr("Waiting for an administrator to agree.");
    else if (!protectProblem_.isEmpty())
        line += " " + protectProblem_;
    backstopState_->setText(line);
    // Offered wherever it could help; why not, where it cannot.
    protect_->setVisible(kernelLayer_.kind != Kind::kAttached && kernelLayer_.kind != Kind::kUnknown);
    protect_->setEnabled(kernelLayer_.kind == Kind::kNotAttached && !ProtectCommand.isEmpty() && !protectRun_);
    protect_->setToolTip(kernelLayer_.kind == Kind::kCannotHold
                             ? tr("This kernel cannot run the kernel backstop.")
                         : kernelLayer_.kind == Kind::kNotInstalled || ProtectCommand.isEmpty()
                             ? tr("The kernel backstop is not installed.")
                             : tr("Asks for an administrator's password, then starts the kernel backstop for you, now "
                                  "and at every start of the computer."));
}

void ProtectionView::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    Refresh();
    pageTimer_->start();
}

void ProtectionView::hideEvent(QHideEvent* event)
{
    QWidget::hideEvent(event);
    pageTimer_->stop();
}

void ProtectionView::ShowSummaryColour()
{
    QPalette palette = summaryLine_->palette();
    palette.setColor(QPalette::WindowText, panel::ReadableLink(QApplication::palette(summaryLine_)));
    summaryLine_->setPalette(palette);
}

bool ProtectionView::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == summaryLine_ && event->type() == QEvent::ApplicationPaletteChange)
        ShowSummaryColour();
    if (watched == summaryLine_ && event->type() == QEvent::MouseButtonRelease) {
        emit Requested();
        return true;
    }
    return QWidget::eventFilter(watched, event);
}

}  // namespace panel
