#pragma once

#include "core/AnswerQueue.h"
#include "core/FilterState.h"
#include "core/PanelCore.h"
#include "core/TrafficStats.h"
#include "windows/NavigationTree.h"

#include <QMainWindow>

#include <optional>
#include <set>
#include <string>
#include <vector>

namespace panel {
struct LogRow;
}

class AddNewMenu;
class ApplicationPane;
class AwayNotice;
class BlockAllBanner;
class BackstopQuestions;
class GroupView;
class HelpMenu;
class InterceptorWatch;
class MainToolBar;
class MessageChannel;
class PanelTimer;
class ProgramMenu;
class ProtectionView;
class RulesFileWatch;
class RulesNotice;
class StatusArea;
class TrayIcon;

namespace panel {
class InterceptorLibrary;
}

// The control panel's main window: it assembles its parts (the toolbar, the
// navigation tree, the application pane, the list of a group, the
// Protection page, the status area, the tray and the message box) on the
// panel's core, and shows what the user and other programs change. Other
// processes find it by its title through the window registry.
class MainForm : public QMainWindow {
    Q_OBJECT
public:
    explicit MainForm(panel::PanelCore& core, QWidget* parent = nullptr);
    ~MainForm() override;

    // The load sequence, up to the window being ready to show.
    void Form_Load();
    // Registers the window and its message box with the window registry;
    // false (logged) when the runtime folder cannot hold it.
    bool RegisterWindow();
    // The interceptor's library: its process is watched from WatchInterceptor
    // on and started again when it ends while the panel runs.
    void SetInterceptor(panel::InterceptorLibrary* interceptor);
    void WatchInterceptor();

    // Shown again, in normal state (tray, second copy).
    void RestoreWindow();
    // The ends of the program: the tray's shutdown saves the rules and takes
    // the icon away; every end writes "SecurityMode" and "VRNTIMEEND" and
    // stops the interceptor, once.
    void ShutDown();
    // Shut down as the tray and the toolbar offer it: only once the user
    // has said yes, since it stops the filtering.
    void AskShutDown();
    void EndOfProgram();
    // The session is ending: the window closes instead of hiding.
    void AllowClose() { shuttingDown_ = true; }

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
    void ShowLoadedRules();
    void ShowRulesState(const panel::RulesStore::LoadResult& loaded);
    void SetRulesEditing(bool enabled);
    void RetryRules();
    void ShowBlockAll();
    // Block All switched by the user (toolbar, banner, tray, shortcut).
    void SetBlockAll(bool on);
    // The tray, the banner and the toolbar after Block All and the level.
    void ShowFiltering();
    void ChooseLevel(int level);
    void FindInLogs();
    // Shows a selection on the right-hand side and marks its node.
    void Show(const panel::Selection& selection, const QString& caption);
    void ShowApplication(const std::string& name);
    void ShowSystem();
    void NodeActivated(QTreeWidgetItem* node);
    void ReloadTree();
    void TreeMenuRequested(const QPoint& at, const NavigationTree::MenuTarget& target);
    void OpenWizard();
    void OpenAdvanced();
    void OpenOptions();
    // Takes the timed answers that have ended out of the rules file.
    void RemoveEndedAnswers();
    // The program of the selected log row as a new entry would be made,
    // its row in row when given; nothing (and why in the error log) when
    // no row is selected or the rules cannot be changed.
    std::optional<rules::Application> ProgramOfLogRow(const char* label, panel::LogRow* row);
    void AddFromLog();
    // The rule editor with a rule for the selected log row; OK puts it
    // first among the program's rules (adding the program when it has no
    // entry yet).
    void MakeRuleFromLog();
    void ShowStored(const std::optional<panel::AlertedApp>& app);
    void ShowBackstopNotice(const std::string& message);
    void Tick();
    void RefreshSideColumn();
    void ShowTrayNotice();

    panel::PanelCore& core_;
    MainToolBar* toolBar_;
    NavigationTree* tree_;
    GroupView* group_;
    ApplicationPane* pane_;
    ProtectionView* protection_;
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
    PanelTimer* tick_;
    PanelTimer* rulesRetry_;
    RulesFileWatch* rulesWatch_;
    panel::InterceptorLibrary* interceptor_ = nullptr;
    panel::TrafficStats traffic_;
    int ticks_ = 0;
    // What the tree's menu was opened on: the defaults a new application
    // gets there, and the program of a program's menu.
    std::optional<rules::Permission> newIncoming_;
    std::optional<rules::Permission> newOutgoing_;
    std::string menuProgram_;
    std::set<std::string> backstopNoticesShown_;
    // The programs today's log says were started and were running at the last look.
    std::vector<std::string> startedRunning_;
    panel::AnswerQueue answers_ {core_};
    bool ended_ = false;
    bool shuttingDown_ = false;
    bool stopped_ = false;
};
