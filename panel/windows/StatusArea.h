#pragma once

#include "panel/core/TrafficStats.h"

#include <QStringList>
#include <QWidget>

#include <optional>
#include <string>
#include <vector>

class QLabel;
class QListWidget;

namespace panel {

class TrafficChart;

// The foot of the main window: the live traffic chart and rates, the
// programs started today that still run, this computer's addresses,
// today's blocked intruders, the lines of the Protection page and of what
// needs the user's attention, the version and the links.
class StatusArea : public QWidget {
    Q_OBJECT
public:
    // coverage and summary: the Protection page's two lines for the side
    // column; away: the line of what was decided while nobody was there.
    StatusArea(QLabel* coverage, QLabel* summary, QWidget* away, QWidget* parent);

    void ShowTraffic(const panel::TrafficStats::Tick& tick);
    void ShowRunning(const std::vector<std::string>& paths);
    void ShowAddresses(const QStringList& addresses);
    void ShowBlockedIntruders(int count);
    // The profile in force, shown while there is one (empty: none).
    void ShowProfile(const QString& name);
    // Programs still running an engine an update replaced; hidden when none.
    void ShowReplacedEngine(const std::vector<std::string>& names);
    // The latest connection the kernel backstop reported.
    void ShowBackstopNotice(const QString& summary, const QString& text);
    // The firewall was shut down before this start (EarlierShutdownText).
    void ShowEarlierShutdown(const QString& text);
    // The kernel backstop stopped, could not start, or runs again.
    void ShowKernelLayerChange(const QString& text, bool warning);

signals:
    // The "help" link: the help page, as F1 opens it.
    void HelpRequested();
    // A line that needs the user's attention appeared (the area may be folded away).
    void NoticeShown();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    TrafficChart* chart_;
    QLabel* incoming_;
    QLabel* outgoing_;
    QListWidget* running_;
    QLabel* addresses_;
    QLabel* blocked_;
    QLabel* profile_;
    QLabel* engineNotice_;
    QLabel* backstopNotice_;
    QLabel* kernelLayer_;
    QLabel* earlierShutdown_;
    QLabel* helpLink_;
    QLabel* siteLink_;
    std::optional<std::vector<std::string>> shownRunning_;
};

}  // namespace panel
