#include "panel/windows/StatusArea.h"

#include "gui/ProgramIcon.h"
#include "panel/core/ErrorLog.h"
#include "panel/core/FileInformation.h"
#include "panel/core/PanelConstants.h"
#include "panel/widgets/WindowTools.h"
#include "panel/windows/TrafficChart.h"

#include <QEvent>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QUrl>
#include <QVBoxLayout>

namespace panel {

namespace {

// The version shown as major.minor.revision.
constexpr int kVersion[3] = {0, 1, 0};
constexpr int kMostRunningShown = 6;

QString IncomingRate(double kb)
{
    return StatusArea::tr("Incoming traffic : \n%1 Kb/sec").arg(QString::fromStdString(panel::TrafficStats::RateText(kb)));
}

QString OutgoingRate(double kb)
{
    return StatusArea::tr("Outgoing traffic : \n%1 Kb/sec").arg(QString::fromStdString(panel::TrafficStats::RateText(kb)));
}

QLabel* Notice(const char* name, QWidget* parent)
{
    QLabel* notice = panel::PlainLabel(name, QString(), parent);
    notice->setWordWrap(true);
    notice->setStyleSheet(panel::ReadableStyle(parent, QColor(160, 0, 0)));
    notice->hide();
    return notice;
}

}  // namespace

StatusArea::StatusArea(QLabel* coverage, QLabel* summary, QWidget* away, QWidget* parent) : QWidget(parent)
{
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(0, 4, 0, 0);
    auto* traffic = panel::Named(new QGroupBox(tr("  Traffic Status  "), this), "Frame1");
    auto* trafficLayout = new QHBoxLayout(traffic);
    chart_ = panel::Named(new TrafficChart(QColor(0, 192, 0), QColor(192, 0, 0), traffic), "TChart1");
    chart_->setMinimumSize(260, 110);
    auto* rates = new QVBoxLayout;
    incoming_ = panel::PlainLabel("IncomingLabel", QString(), traffic);
    outgoing_ = panel::PlainLabel("OutgoingLabel", QString(), traffic);
    incoming_->setStyleSheet(panel::ReadableStyle(this, QColor(0, 192, 0)));
    outgoing_->setStyleSheet(panel::ReadableStyle(this, QColor(192, 0, 0)));
    rates->addWidget(incoming_);
    rates->addWidget(outgoing_);
    rates->addStretch(1);
    trafficLayout->addWidget(chart_, 1);
    trafficLayout->addLayout(rates);
    row->addWidget(traffic, 3);

    // Two columns beside the chart keep the area as low as the chart on a
    // screen as small as 1366x768: this computer's figures and the links in
    // one, the lines of protection and of what needs attention in the other.
    auto* side = new QVBoxLayout;
    side->addWidget(panel::PlainLabel("Label5", tr("Running processes :"), this));
    running_ = panel::Named(new QListWidget(this), "RunProcIconList");
    running_->setViewMode(QListView::IconMode);
    running_->setIconSize(QSize(16, 16));
    running_->setMaximumHeight(48);
    side->addWidget(running_);
    auto* address = new QHBoxLayout;
    address->addWidget(panel::PlainLabel("LBLIP_A", tr("Local IP address :"), this), 0, Qt::AlignTop);
    addresses_ = panel::PlainLabel("LBLIP_B", QString(), this);
    address->addWidget(addresses_, 1);
    side->addLayout(address);
    blocked_ = panel::PlainLabel("StatText", QString(), this);
    side->addWidget(blocked_);
    profile_ = panel::PlainLabel("ProfileText", QString(), this);
    profile_->hide();
    side->addWidget(profile_);
    QLabel* version = panel::PlainLabel("LBLVersion", QString(), this);
    auto* links = new QHBoxLayout;
    links->addWidget(version);
    links->addSpacing(12);
    helpLink_ = panel::PlainLabel("HelpLink", tr("help"), this);
    siteLink_ = panel::PlainLabel("KorvelLink", QString(), this);
    for (QLabel* link : {helpLink_, siteLink_}) {
        link->setCursor(Qt::PointingHandCursor);
        link->setStyleSheet(panel::ReadableStyle(this, QColor(0, 0, 192)));
        link->installEventFilter(this);
        links->addWidget(link);
    }
    links->addStretch(1);
    side->addLayout(links);
    side->addStretch(1);
    row->addLayout(side, 2);

    auto* lines = new QVBoxLayout;
    lines->addWidget(coverage);
    lines->addWidget(summary);
    engineNotice_ = Notice("EngineNotice", this);
    lines->addWidget(engineNotice_);
    backstopNotice_ = Notice("BackstopNotice", this);
    lines->addWidget(backstopNotice_);
    kernelLayer_ = Notice("KernelLayerChange", this);
    lines->addWidget(kernelLayer_);
    earlierShutdown_ = Notice("EarlierShutdownNotice", this);
    lines->addWidget(earlierShutdown_);
    lines->addWidget(away);
    lines->addStretch(1);
    row->addLayout(lines, 2);
    for (QWidget* notice : {static_cast<QWidget*>(engineNotice_), static_cast<QWidget*>(backstopNotice_),
                            static_cast<QWidget*>(kernelLayer_), static_cast<QWidget*>(earlierShutdown_), away})
        notice->installEventFilter(this);

    version->setText(tr("Current version : %1").arg(QString("%1.%2.%3").arg(kVersion[0]).arg(kVersion[1]).arg(kVersion[2])));
    siteLink_->setText(panel::kWebSite);
    // The chart starts with 60 empty seconds and the first one newest.
    incoming_->setText(IncomingRate(0));
    outgoing_->setText(OutgoingRate(0));
}

void StatusArea::ShowTraffic(const panel::TrafficStats::Tick& tick)
{
    chart_->SetNewest(tick.position, tick.incomingKb, tick.outgoingKb);
    incoming_->setText(IncomingRate(tick.incomingKb));
    outgoing_->setText(OutgoingRate(tick.outgoingKb));
}

void StatusArea::ShowRunning(const std::vector<std::string>& paths)
{
    // Asked every few seconds: the icons are made again only for a change.
    if (shownRunning_ && *shownRunning_ == paths)
        return;
    shownRunning_ = paths;
    running_->clear();
    for (size_t i = 0; i < paths.size() && i < kMostRunningShown; ++i) {
        const std::string& path = paths[i];
        const QString text = QString::fromStdString(panel::StripLabel(panel::ProgramDisplayName(path)));
        const QString file = QString::fromStdString(path);
        auto* item = new QListWidgetItem(QIcon(gui::ExecutablePixmap(file, 16)), text, running_);
        item->setToolTip(text);
        item->setData(Qt::UserRole, file);
    }
}

void StatusArea::ShowAddresses(const QStringList& addresses) { addresses_->setText(addresses.join('\n')); }

void StatusArea::ShowBlockedIntruders(int count)
{
    blocked_->setText(tr("Blocked intruders today : %n", nullptr, count));
    helpLink_->setText(tr("Help"));
    siteLink_->setText(panel::kWebSite);
}

void StatusArea::ShowProfile(const QString& name)
{
    profile_->setText(tr("Profile: %1").arg(name));
    profile_->setVisible(!name.isEmpty());
}

void StatusArea::ShowReplacedEngine(const std::vector<std::string>& names)
{
    QStringList shown;
    for (const std::string& name : names)
        shown << QString::fromStdString(name);
    engineNotice_->setText(tr("Restart %1: they still run the firewall engine an update replaced, which may block "
                              "more than your rules say.",
                              nullptr, static_cast<int>(names.size()))
                               .arg(shown.join(", ")));
    engineNotice_->setVisible(!names.empty());
}

void StatusArea::ShowBackstopNotice(const QString& summary, const QString& text)
{
    backstopNotice_->setText(summary);
    backstopNotice_->setToolTip(text);
    backstopNotice_->show();
}

void StatusArea::ShowEarlierShutdown(const QString& text)
{
    earlierShutdown_->setText(text);
    earlierShutdown_->show();
}

void StatusArea::ShowKernelLayerChange(const QString& text, bool warning)
{
    kernelLayer_->setText(text);
    // In the notices' red while the backstop is missing; plain once it is back.
    kernelLayer_->setStyleSheet(warning ? panel::ReadableStyle(this, QColor(160, 0, 0)) : QString());
    kernelLayer_->show();
}

bool StatusArea::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::Show && watched != helpLink_ && watched != siteLink_)
        emit NoticeShown();
    if ((watched == helpLink_ || watched == siteLink_) && event->type() == QEvent::MouseButtonRelease) {
        if (watched == helpLink_) {
            emit HelpRequested(); // the page, in a window of the panel where no browser opens it
            return true;
        }
        const QString target = siteLink_->text();
        if (!panel::OpenUrl(QUrl(target)))
            panel::WriteErrLog("MainForm : HelpLink_Click", "cannot open " + target.toStdString());
        return true;
    }
    if ((watched == helpLink_ || watched == siteLink_) && event->type() == QEvent::Enter)
        static_cast<QLabel*>(watched)->setStyleSheet(panel::ReadableStyle(this, QColor(255, 0, 255))
                                                     + " text-decoration: underline;");
    return QWidget::eventFilter(watched, event);
}

}  // namespace panel
