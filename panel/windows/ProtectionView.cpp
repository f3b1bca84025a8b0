#include "panel/windows/ProtectionView.h"

#include "gui/Art.h"
#include "gui/ProgramIcon.h"
#include "gui/Timer.h"
#include "os/Processes.h"
#include "panel/core/FileInformation.h"
#include "panel/widgets/WindowTools.h"
#include "protocol/CarrierRegistry.h"

#include <QApplication>
#include <QCoreApplication>
#include <QEvent>
#include <QHBoxLayout>
#include <QHash>
#include <QHeaderView>
#include <QLabel>
#include <QMessageBox>
#include <QProcess>
#include <QPushButton>
#include <QShowEvent>
#include <QSocketNotifier>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <algorithm>
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
constexpr int kPageRefreshMs = 2000;
constexpr int kSummaryRefreshMs = 30000;
constexpr int kEndWaitMs = 5000;
constexpr int kFirstSummaryMs = 1500;

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
        const std::string display = panel::GetDisplayName(program.exePath);
        found = names.insert(path, display.empty() ? path.section('/', -1) : QString::fromStdString(display));
    }
    return *found;
}

QIcon ProgramIcon(const std::string& exePath)
{
    static QHash<QString, QIcon> icons;
    const QString path = QString::fromStdString(exePath);
    auto found = icons.find(path);
    if (found == icons.end())
        found = icons.insert(path, QIcon(gui::ExecutablePixmap(path, 16)));
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
    pageCoverage_ = WrappedLabel("PageCoverage", this);
    layout->addWidget(pageCoverage_);
    backstopState_ = WrappedLabel("BackstopState", this);
    layout->addWidget(backstopState_);
    runtimeState_ = WrappedLabel("RuntimeFolderState", this);
    runtimeState_->hide();
    layout->addWidget(runtimeState_);

    programList_ = Named(new QTreeWidget(this), "ProgramList");
    programList_->setRootIsDecorated(false);
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
    actions->addWidget(advice_, 1);
    actions->addWidget(restart_, 0, Qt::AlignTop);
    layout->addLayout(actions);
    connect(restart_, &QPushButton::clicked, this, &ProtectionView::RestartSelected);

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

    const std::string self = os::processes::OwnExecutablePath();
    ZelRunProgram = self.substr(0, self.rfind('/') + 1) + "zel-run";
    Confirm = [this](const QString& question) {
        return QMessageBox::question(this, tr("Restart under the firewall"), question) == QMessageBox::Yes;
    };
    Tell = [this](const QString& text) { QMessageBox::warning(this, tr("Restart under the firewall"), text); };
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

void ProtectionView::TakePlaceOf(const QList<QWidget*>& others)
{
    for (QWidget* other : others) {
        others_.append(other);
        other->installEventFilter(this);
    }
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

void ProtectionView::Refresh()
{
    coverage::ScanSettings settings;
    settings.procRoot = procRoot_;
    settings.uid = ::getuid();
    settings.self = ::getpid();
    for (const protocol::carriers::CarrierRecord& host : protocol::carriers::ListCarriers())
        if (host.alive)
            settings.registered.insert(host.pid);
    backstop_ = coverage::BackstopRunning();
    settings.backstop = backstop_;
    programs_ = scanner_.Scan(settings);
    backstopState_->setText(QString::fromStdString(panel::BackstopText(backstop_)));
    // Looked at every time: a folder spoilt while the panel runs refuses
    // the programs started since.
    const os::RuntimeFolderState runtime = os::RuntimeDirState();
    const QString runtimeText = QString::fromStdString(panel::RuntimeFolderText(runtime));
    runtimeState_->setText(runtimeText);
    runtimeState_->setVisible(!runtimeText.isEmpty());
    summaryLine_->setText(runtime.problem.empty()
                              ? QString::fromStdString(panel::SummaryText(programs_))
                              : tr("Protection: your programs' connections are refused, see why here."));
    if (isVisible())
        FillList();
}

void ProtectionView::FillList()
{
    const qint64 selected = programList_->currentItem() ? programList_->currentItem()->data(0, kPidRole).toLongLong() : 0;
    const QSignalBlocker quiet(programList_);
    programList_->setUpdatesEnabled(false);
    programList_->clear();
    QTreeWidgetItem* current = nullptr;
    for (const coverage::Program& program : programs_) {
        const std::string owner = program.reason == coverage::Reason::kOtherUser ? UserName(program.uid) : std::string();
        auto* item = new QTreeWidgetItem(programList_, {ProgramName(program), QString::number(program.pid),
                                                       QString::fromStdString(panel::StateText(program.state)),
                                                       QString::fromStdString(panel::ReasonText(program, owner))});
        item->setData(0, kPidRole, static_cast<qint64>(program.pid));
        item->setIcon(0, ProgramIcon(program.exePath));
        item->setIcon(2, StateIcon(program.state));
        item->setToolTip(0, QString::fromStdString(program.exePath.empty() ? program.command : program.exePath));
        item->setToolTip(3, item->text(3));
        if (program.pid == selected)
            current = item;
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
    restart_->setEnabled(program && program->CanRestartUnderHook() && !ending_);
    // The program, why it is decided so, and what to do about it.
    advice_->setText(program ? tr("%1: %2 %3").arg(item->text(0), item->text(3),
                                                   QString::fromStdString(panel::AdviceText(*program, backstop_)))
                             : tr("Select a program to see what covers it."));
}

void ProtectionView::RestartSelected()
{
    const QTreeWidgetItem* item = programList_->currentItem();
    if (!item || ending_)
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

void ProtectionView::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    if (!event->spontaneous())
        for (QWidget* other : others_)
            if (other)
                other->hide();
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
    if (event->type() == QEvent::Show && !event->spontaneous() && watched != summaryLine_)
        hide();
    return QWidget::eventFilter(watched, event);
}

}  // namespace panel
