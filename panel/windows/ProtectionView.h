#pragma once

#include "panel/control/StoppedNotice.h"
#include "panel/core/KernelLayer.h"
#include "panel/core/SessionCoverage.h"
#include "panel/core/SystemServices.h"
#include "session/ProgramCoverage.h"

#include <QPointer>
#include <QStringList>
#include <QWidget>

#include <chrono>
#include <functional>
#include <string>
#include <vector>

class QLabel;
class QMenu;
class QProcess;
class QPushButton;
class QSocketNotifier;
class QTreeWidget;
namespace gui {
class Timer;
}

namespace panel {

class ServiceDefaults;

// The Protection page: the user's running programs that have network
// connections, whether the firewall, the kernel backstop or nothing decides
// them, why, and what fixes it; where the firewall keeps its live files when
// the session names no place for them, or why it cannot keep them anywhere
// (and refuses the user's programs). It also keeps the two lines of the
// main window's side column: what "Decide every program I start" covers
// now, and a one-line summary of the page. It takes the place of the main
// window's right-hand side while shown (Pages), and reads the process table every
// 2 s then (every 30 s for the summary otherwise).
// What a shutdown before this start left undecided, in one or two sentences.
QString EarlierShutdownText(const panel::stopped_notice::Trace& trace);

class ProtectionView : public QWidget {
    Q_OBJECT
public:
    ProtectionView(std::string procRoot, QWidget* parent);
    ~ProtectionView() override;

    // The installation folder (ending in "/") and whether the panel was
    // started with the hook named; the side column's text follows.
    void SetSession(const std::string& installDir, bool startedUnderHook);
    // The firewall was shut down before this start: said at the page's top.
    void ShowEarlierShutdown(const panel::stopped_notice::Trace& trace);
    // "Decide every program I start" was switched in Settings.
    void SessionOptionChanged(bool on);
    const panel::SessionFacts& Session() const { return session_; }

    // Reads the process table now.
    void Refresh();
    const std::vector<session::coverage::Program>& Programs() const { return programs_; }

    // "Restart under the firewall" for the selected program, after asking.
    void RestartSelected();

    // The kernel backstop as last looked at; looks again in the background
    // (the page does every 10 s while shown, 30 s otherwise).
    const panel::KernelLayerState& KernelLayer() const { return kernelLayer_; }
    void LookAtKernelLayer();
    // "Protect the programs the firewall cannot enter": zel-admin through
    // pkexec, in the background; the state is looked at again when it ends.
    void Protect();

    // The side column's lines, for the main window to place.
    QLabel* CoverageLine() const { return coverageLine_; }
    QLabel* SummaryLine() const { return summaryLine_; }

    // The system services with network sockets and what decides them,
    // listed for an administrator (read in the background on showing, then
    // every 10 s); ServicesListed follows.
    void ListServices();
    const panel::services::Listing& Services() const { return services_; }
    // Whether the user may see the services (root or of the administrators'
    // group), and where they are read from; tests give their own.
    bool Administrator = panel::services::IsAdministrator();
    panel::services::Places ServicePlaces = panel::services::Places::OfThisMachine();
    // Sets the selected service's defaults (its menu, from the list's
    // context menu and the button below it): through zel-admin and pkexec,
    // in the background; the services listed again when it ends. Tests
    // give it their own command.
    panel::ServiceDefaults& ServiceEditor() { return *serviceDefaults_; }

    // The launcher a restart goes through (zel-run beside the panel).
    std::string ZelRunProgram;
    // What the kernel backstop's line and button run, program first: the
    // installed zel-backstop's "status --user UID" as the user, and pkexec
    // by its full path with the installed zel-admin; empty when it is not
    // installed (root's alone). Tests put stand-ins here.
    QStringList KernelStatusCommand;
    QStringList ProtectCommand;
    // Asks the user; tests answer instead.
    std::function<bool(const QString& question)> Confirm;
    // Tells the user something went wrong; tests record instead.
    std::function<void(const QString& text)> Tell;

signals:
    // The summary was clicked: the main window shows the page.
    void Requested();
    // A program was started again under the firewall (its new process).
    void Restarted(qint64 pid);
    // The services were read and listed.
    void ServicesListed();

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void ShowSession();
    // The option and the hook read again: the side column says what holds now.
    void ReadSessionAgain();
    void ShowSummaryColour();
    void FillList();
    void SelectionChanged();
    void StartAgain(const session::coverage::Launch& launch);
    void StatusEnded(int exitStatus, const QString& output);
    void ProtectEnded(int exitStatus, const QString& problem);
    void ShowKernelLayer();
    void ShowServices(panel::services::Listing listing);
    void ShowServicesState();
    const panel::services::Service* SelectedService() const;

    QLabel* coverageLine_ = nullptr;
    QLabel* summaryLine_ = nullptr;
    QLabel* pageCoverage_ = nullptr;
    QLabel* earlierShutdown_ = nullptr;
    QLabel* backstopState_ = nullptr;
    QPushButton* protect_ = nullptr;
    QLabel* runtimeState_ = nullptr;
    QTreeWidget* programList_ = nullptr;
    QLabel* advice_ = nullptr;
    QPushButton* restart_ = nullptr;
    QWidget* servicesPart_ = nullptr;
    QLabel* servicesState_ = nullptr;
    QTreeWidget* serviceList_ = nullptr;
    QPushButton* serviceChange_ = nullptr;
    QMenu* serviceMenu_ = nullptr;
    panel::ServiceDefaults* serviceDefaults_ = nullptr;
    QString servicesOutcome_; // of the last change, shown after the state
    bool servicesAgain_ = false; // list again when the read under way ends
    panel::services::Listing services_;
    bool servicesReading_ = false;
    std::chrono::steady_clock::time_point servicesListedAt_ {};
    std::string procRoot_;
    std::string installDir_;
    panel::SessionFacts session_;
    session::coverage::Scanner scanner_;
    std::vector<session::coverage::Program> programs_;
    bool backstop_ = false;
    panel::KernelLayerState kernelLayer_;
    std::chrono::steady_clock::time_point kernelLookedAt_ {};
    QProcess* statusRun_ = nullptr;
    gui::Timer* statusLimit_ = nullptr;
    bool lookAgain_ = false;
    QProcess* protectRun_ = nullptr;
    QString protectProblem_;
    QPointer<QLabel> sideCoverage_;
    QPointer<QLabel> sideSummary_;
    gui::Timer* pageTimer_ = nullptr;
    gui::Timer* summaryTimer_ = nullptr;
    gui::Timer* firstSummary_ = nullptr;
    // A restart in progress: the program's end is awaited.
    QSocketNotifier* ending_ = nullptr;
    gui::Timer* endingTimeout_ = nullptr;
    int endingFd_ = -1;
    session::coverage::Launch pending_;
};

}  // namespace panel
