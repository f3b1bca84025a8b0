#pragma once

#include "panel/control/EndedAnswersFlow.h"
#include "panel/control/FirstRunFlow.h"
#include "panel/control/LogRuleFlow.h"
#include "panel/control/ShutdownFlow.h"
#include "panel/control/WizardFlow.h"
#include "panel/core/AnswerQueue.h"
#include "panel/core/FilterState.h"
#include "panel/core/PanelCore.h"
#include "panel/windows/MainDialogs.h"
#include "panel/windows/NavigationTree.h"
#include "panel/windows/Pages.h"

#include <QMainWindow>

#include <memory>
#include <optional>
#include <string>

class QSplitter;
namespace gui {
class Timer;
}

namespace panel {

class AddNewMenu;
class ApplicationPane;
class AwayNotice;
class BlockAllBanner;
class BackstopQuestions;
class KernelLayerNotices;
class CoreSignals;
class GroupView;
class HelpMenu;
class InterceptorWatch;
class MainToolBar;
class MessageChannel;
class PeriodicWork;
class ProgramMenu;
class ProtectionView;
class RulesFileWatch;
class RulesNotice;
class StatusArea;
class TrayIcon;

// The control panel's main window: it assembles its parts (the toolbar, the
// navigation tree, the application pane, the list of a group, the
// Protection page, the status area, the tray and the message box) on the
// panel's core, and hands the flows (control/) the dialogs they show. The
// parts follow the core's changes themselves (CoreSignals). Other processes
// find it by its title through the window registry.
class MainForm : public QMainWindow {
    Q_OBJECT
public:
    explicit MainForm(panel::PanelCore& core, QWidget* parent = nullptr);
    ~MainForm() override;

    // The load sequence, up to the window being ready to show.
    void Load();
    // Registers the window and its message box with the window registry;
    // false (logged) when the runtime folder cannot hold it.
    bool RegisterWindow();
    // The interceptor's library: its process is watched from WatchInterceptor
    // on and started again when it ends while the panel runs.
    void SetInterceptor(panel::InterceptorLibrary* interceptor);
    void WatchInterceptor();
    // The kernel backstop: started once at login where nothing else starts
    // it (through pkexec), and its stops told. Not in the constructor: a
    // window made by a test must not start a root service.
    void WatchBackstop();

    // Shown again, in normal state (tray, second copy).
    void RestoreWindow();
    // The ends of the program (ShutdownFlow): the shutdown, once the user
    // has said yes (AskShutDown), and every end.
    void ShutDown() { shutdown_->ShutDown(); }
    void AskShutDown() { shutdown_->Ask(); }
    void EndOfProgram() { shutdown_->End(); }
    // The session is ending: the window closes instead of hiding.
    void AllowClose() { shutdown_->AllowClose(); }

    // The first-run window over the shown window, unless it was shown at an
    // earlier start (a window started in the tray shows it at a later one).
    void OfferFirstRun();
    panel::FirstRunFlow& FirstRun() { return firstRun_; }

    bool HasTray() const;
    // What the firewall does, as the tray shows it.
    panel::FilterState Filtering() const;
    // The Protection page and its lines in the side column.
    ProtectionView* Protection() const { return protection_; }

signals:
    // Every half minute: the shown log and the statistics are read again.
    void HalfMinute();

protected:
    void closeEvent(QCloseEvent* event) override;
    // No menu to hide the toolbar with.
    QMenu* createPopupMenu() override { return nullptr; }

private:
    void ConnectCore();
    void ConnectCommands();
    void ConnectChannel();
    // As large as the parts would like, within the screen.
    void FitToScreen(QWidget* central, QWidget* right, QSplitter* parts);
    void ShowRulesState(const panel::RulesStore::LoadResult& loaded);
    void RetryRules();
    // The tray and the banner after Block All and the level.
    void ShowFiltering();
    void ChooseLevel(int level);
    // Learning that ran out: the firewall asks again, and the tray says
    // what is left to review (once: asking again is the mark).
    void EndLearningIfOver();
    void TreeMenuRequested(const QPoint& at, const NavigationTree::MenuTarget& target);
    void ShowStored(const std::optional<panel::AlertedApp>& app);

    panel::PanelCore& core_;
    CoreSignals* changes_;
    MainToolBar* toolBar_;
    NavigationTree* tree_;
    GroupView* group_;
    ApplicationPane* pane_;
    ProtectionView* protection_;
    std::unique_ptr<Pages> pages_;
    RulesNotice* rulesNotice_;
    BlockAllBanner* banner_;
    StatusArea* status_;
    AwayNotice* away_;
    MessageChannel* channel_;
    TrayIcon* tray_ = nullptr;
    InterceptorWatch* watch_;
    BackstopQuestions* backstop_;
    ProgramMenu* programMenu_;
    AddNewMenu* addNewMenu_;
    HelpMenu* helpMenu_;
    PeriodicWork* periodic_;
    KernelLayerNotices* kernelLayer_ = nullptr;
    gui::Timer* rulesRetry_;
    RulesFileWatch* rulesWatch_;
    // The program of the tree's program menu.
    std::string menuProgram_;
    panel::AnswerQueue answers_ {core_};
    // The flows, with the dialogs they show over the window.
    panel::WizardFlow wizard_ {core_, [this](panel::WizardInput in) { return panel::RunWizard(this, std::move(in)); }};
    panel::LogRuleFlow logRules_ {core_,
                                  [this](const panel::RuleFromLogInput& in) { return panel::EditRuleFromLog(this, in); }};
    panel::EndedAnswersFlow endedAnswers_ {core_};
    panel::FirstRunFlow firstRun_ {core_, [this](const panel::FirstRunInput& in) { return panel::ShowFirstRun(this, in); }};
    std::unique_ptr<panel::ShutdownFlow> shutdown_;
};

}  // namespace panel
