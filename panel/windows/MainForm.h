#pragma once

#include "editing/ProcessList.h"
#include "settings/PanelState.h"
#include "logs/LogListSettings.h"
#include "windows/TrafficStats.h"

#include <QMainWindow>
#include <QPointer>

#include <functional>
#include <map>
#include <optional>
#include <set>

#include <memory>

class QAction;
class QButtonGroup;
class QCheckBox;
class QComboBox;
class QFrame;
class QGroupBox;
class QLabel;
class QListWidget;
class QMenu;
class QPushButton;
class QRadioButton;
class QSlider;
class QSocketNotifier;
class QSystemTrayIcon;
class QTimer;
class QToolBar;
class QTreeWidget;
class QTreeWidgetItem;
class ProtectionView;
class QUrl;
class AwayNotice;
class TrafficChart;

namespace panel {
class InterceptorLibrary;
struct BackstopNotice;
}
class BackstopAlerts;

namespace platform::windows {
class Window;
}

// The control panel's main window and the owner of its state. Other
// processes find it by its title and reach its message box (`Picture2`)
// through the window registry. Controls carry the names the other windows
// and modules (and the tests) find them by.
class MainForm : public QMainWindow {
    Q_OBJECT
public:
    explicit MainForm(panel::PanelState& state, QWidget* parent = nullptr);
    ~MainForm() override;

    panel::PanelState& State() { return state_; }

    // The load sequence, up to the window being ready to show.
    void Form_Load();
    // Registers the window and its message box with the window registry;
    // false (logged) when the runtime folder cannot hold it.
    bool RegisterWindow();
    // The interceptor's library, started after the window is shown and
    // stopped at every end.
    void SetInterceptor(panel::InterceptorLibrary* interceptor) { interceptor_ = interceptor; }
    // Watches the interceptor's process from now on: when it ends while the
    // panel runs, it is logged and started again at once (after a second
    // when it ended soon after its start, later when starting fails), and
    // the update list is published to the new one. Costs nothing while it
    // runs: the kernel tells of its end.
    void WatchInterceptor();

    // Apply: the shown application's defaults saved and published.
    void ApplyBtn_Click();
    void UpdateBlockAllButton();
    // Shown again, in normal state (tray, second copy).
    void RestoreWindow();
    // The ends of the program: the tray's shutdown saves the rules and takes
    // the icon away; every end writes "SecurityMode" and "VRNTIMEEND" and
    // stops the interceptor, once.
    void ShutDown();
    void EndOfProgram();

    // Part of the message channel: one message of the message box.
    void Picture2_MouseMove(uint32_t wParam, int64_t lParam, const std::string& messageData = {});
    // Tray events, as the message channel gets them (0x0203 double click,
    // 0x0205 right button up); 1 when the tray menu is to be shown.
    int MouseMoveSub(uint32_t mouseMessage);
    // The once-a-second statistics tick.
    void Timer1_Timer();

    // Navigation tree.
    void LoadTreeView();
    int GetNodeNoByName(const QString& name) const;
    QTreeWidgetItem* NodeAt(int number) const;
    void SelectNodeByName(const std::string& name);
    void MainTreeView_NodeClick(QTreeWidgetItem* node);
    void UpdateListViewData(int view, int direction);

    // Lists of the right-hand side.
    void ReadSelectedNode(const std::string& name, const std::string& view, QWidget* form, const std::string& key);
    void ShowAppRules(const std::string& exeName);
    void SetAppListView(const QString& groupText);
    void DeleteRule(int position, const std::string& exeName);
    // The rule editor for a new rule or the rule at position; the list is
    // shown again afterwards.
    void AddRule(const std::string& exeName);
    void EditRule(int position, const std::string& exeName);
    // Rule check boxes of the main and the advanced window.
    void MainListView_ItemCheck(QTreeWidgetItem* item);
    // The window the rule lists are filled on (main or advanced).
    void SetCurrentForm(QWidget* form) { currentForm_ = form; }
    // The add-application wizard, with the defaults for a new application.
    void OpenWizard();
    // Right button in the tree: the menu of the node under the pointer.
    void MainTreeView_MouseDown(const QPoint& at);
    QMenu* PopupMenu() const { return popupMenu_; }
    QMenu* AddNewMenu() const { return addNewMenu_; }
    void SetPopUpMenuChecked(const std::string& text);
    void SetAppPermission(bool incoming, const std::string& def);
    void DelApp_Click();
    // The strip of programs started today that still run.
    void RunningProcessesIcons();

    // Log views and statistics.
    void FillLogView(const std::string& key);
    void SetStatLogInfo();
    void ShowProgramsOnReplacedEngine();
    void UpdateAppStatistics(const std::string& exeName);
    void MenuSetLogWindow(const QString& key, const QString& caption);
    // The application of the selected log row, with the general defaults.
    void AddNewLogMnu_Click();
    void MainListView_MouseDown(const QPoint& at);
    QMenu* LogMenu() const { return logMenu_; }
    QMenu* HelpMenu() const { return helpMenu_; }
    // Opens a page or a mail link with the desktop's handler (tests record instead).
    std::function<bool(const QUrl&)> OpenUrl;

    // Security levels.
    void SetMainInfoText();
    void CheckSecureMode() { SetMainInfoText(); }
    void SetNormalSecurity();
    void SetPic2WindowText(const std::string& text);

    // The security menu (High, Normal, Low) popped up over the system settings.
    QMenu* SecurityMenu() const { return securityMenu_; }
    void UpdateSecurityMenuChecks();
    void SecurityMenu_Click(int level);
    // The session is ending: the window closes instead of hiding.
    void AllowClose() { shuttingDown_ = true; }

    // The tray icon; null when the desktop has none.
    QSystemTrayIcon* TrayIcon() const { return trayIcon_; }
    // The Protection page and its lines in the side column.
    ProtectionView* Protection() const { return protection_; }

    // Controls, by the names the design gives them.
    QToolBar* MainToolBar = nullptr;
    QTreeWidget* MainTreeView = nullptr;
    QTreeWidget* AppListView = nullptr;
    QTreeWidget* MainListView = nullptr;
    QFrame* Frame3 = nullptr;
    QLabel* Label7 = nullptr;
    QLabel* AppName = nullptr;
    QLabel* AppIcon = nullptr;
    QLabel* StatText = nullptr;
    QLabel* EngineNotice = nullptr; // programs still running a replaced engine; hidden when none
    QLabel* BackstopNoticeLabel = nullptr; // the latest connection the kernel backstop reported; hidden until one
    AwayNotice* AwayNoticeButton = nullptr;  // what was decided while nobody was there; hidden while nothing was
    QGroupBox* Frame2 = nullptr;
    QGroupBox* Frame5 = nullptr;
    QRadioButton* InAllow = nullptr;
    QRadioButton* InAsk = nullptr;
    QRadioButton* InBlock = nullptr;
    QRadioButton* OutAllow = nullptr;
    QRadioButton* OutAsk = nullptr;
    QRadioButton* OutBlock = nullptr;
    QCheckBox* ApplyCustomCheck = nullptr;
    QPushButton* CmdAdvanced = nullptr;
    QCheckBox* ShowServicesCheck = nullptr;
    QLabel* AdditionalRuleNote = nullptr;
    QGroupBox* AppStatFrame = nullptr;
    QLabel* AppStatText = nullptr;
    QGroupBox* SystemFrame = nullptr;
    QComboBox* SecurityCombo = nullptr;
    QSlider* SecSlider = nullptr;
    QLabel* HighLabel = nullptr;
    QLabel* NormalLabel = nullptr;
    QLabel* LowLabel = nullptr;
    QLabel* SecInfoText = nullptr;
    QLabel* BlockActive = nullptr;
    QPushButton* ApplyBtn = nullptr;
    QGroupBox* Frame1 = nullptr;
    TrafficChart* TChart1 = nullptr;
    QLabel* IncomingLabel = nullptr;
    QLabel* OutgoingLabel = nullptr;
    QTimer* Timer1 = nullptr;
    QWidget* Picture2 = nullptr;
    QListWidget* RunProcIconList = nullptr;
    QLabel* LBLIP_B = nullptr;
    QLabel* LBLVersion = nullptr;
    QLabel* HelpLink = nullptr;
    QLabel* KorvelLink = nullptr;

    // Bytes since the last statistics tick.
    panel::TrafficStats Traffic;

    // True while a click comes from the user: code that sets the option
    // buttons or the check box clears them so that their events do nothing.
    bool ButtonchangedByUser = true;
    bool ApplyCustomCheckChangedByUser = true;

    // The notice shown when the close box hides the window.
    void ShowTrayNotice();
    // An alert's answer (codes 1 to 4) or an ended program (code 5).
    void SetNewApp(int code, uint32_t processId, const std::string& messageData = {});
    // Answers that arrived together: stored with one save and one rebuild of
    // the tree; held until the rules file has been read when it cannot be.
    void StoreAnswers(std::vector<panel::AlertAnswer> answers);
    // An answer's message as the rules keep it, its program found now;
    // nullopt (logged) when the program cannot be found.
    std::optional<panel::AlertAnswer> TakeAnswer(int code, uint32_t processId, const std::string& messageData);

    // The rules file that could not be read: what the window says and
    // refuses meanwhile, and the next try (every few seconds until it is
    // read, when the window shows the rules and works as usual).
    void ShowRulesState(const panel::AppBuffer::LoadResult& loaded);
    void RetryRules();
    bool RulesEditable() const { return state_.RulesReadable(); }
    QFrame* RulesNotice = nullptr;
    QLabel* RulesNoticeTitle = nullptr;
    QLabel* RulesNoticeText = nullptr;
    QTimer* RulesRetry = nullptr;
    void ShowAlertedApp(const std::string& exeName);
    void ShowBackstopNotice(const std::string& messageData);
    // A question of the kernel backstop (its rules said ASK): asked in an
    // alert, the answer stored as an alert's is.
    void AskBackstopQuestion(const panel::BackstopNotice& notice);

signals:
    // Every half minute: the shown log and the statistics are read again.
    void HalfMinute();

protected:
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QWidget* BuildApplicationView();
    QWidget* BuildSystemView();
    QWidget* BuildStatusArea();
    QWidget* BuildRulesNotice();
    void BuildToolBar();
    void BuildTray();
    void MainToolBar_ButtonClick(QAction* button);
    void LogMenu_Click(QAction* item);
    void PermissionButton_Click(const QString& direction);
    void ApplyCustomCheck_Click();
    void SecSlider_Change();
    void SecurityCombo_Click();
    void CmdAdvanced_Click();
    void AppListView_DblClick(QTreeWidgetItem* item);
    void Picture2_Messages();
    void SetAppListViewByDef(QTreeWidgetItem* group);
    void SetStateLook(QTreeWidgetItem* item, bool on);
    void OpenRuleEditor(int mode, int position, const std::string& exeName);
    void RememberHosts();
    void InterceptorEnded();
    void RestartInterceptor();
    void StopWatchingInterceptor();
    // The rules' part of the start: levels, tree and the system settings shown.
    void ShowLoadedRules();
    void SetRulesEditing(bool enabled);
    void BuildPopupMenus();
    void BuildLogAndHelpMenus();
    QIcon TreeImage(const char* key) const;

    panel::PanelState& state_;
    panel::InterceptorLibrary* interceptor_ = nullptr;
    ProtectionView* protection_ = nullptr;
    QAction* blockAllButton_ = nullptr;
    QButtonGroup* inGroup_ = nullptr;
    QButtonGroup* outGroup_ = nullptr;
    QMenu* trayMenu_ = nullptr;
    QMenu* securityMenu_ = nullptr;
    QSystemTrayIcon* trayIcon_ = nullptr;
    QPointer<QWidget> currentForm_;
    QMenu* popupMenu_ = nullptr;
    QMenu* addNewMenu_ = nullptr;
    QMenu* logMenu_ = nullptr;
    QMenu* helpMenu_ = nullptr;
    std::unique_ptr<panel::LogReader> logReader_;
    // The log rows the list shows, so that a refresh with nothing new leaves it be.
    std::string shownLogKey_;
    std::vector<panel::LogRow> shownLogRows_;
    void ForgetShownLog()
    {
        shownLogKey_.clear();
        shownLogRows_.clear();
    }
    // Executable names of the programs with an engine, by process: an ended
    // program's name is still known when its end is reported.
    std::map<uint32_t, std::string> knownHosts_;
    std::set<std::string> backstopNoticesShown_;
    std::vector<panel::AlertAnswer> heldAnswers_; // while the rules file cannot be read
    std::shared_ptr<BackstopAlerts> backstopAlerts_;
    std::unique_ptr<platform::windows::Window> registration_;
    QSocketNotifier* messages_ = nullptr;
    // The interceptor's process: its end as a readable descriptor, or a
    // look once a second where the system gives none.
    QSocketNotifier* interceptorEnd_ = nullptr;
    QTimer* interceptorCheck_ = nullptr;
    QTimer* interceptorRestart_ = nullptr;
    pid_t watchedInterceptor_ = 0;
    qint64 interceptorStartedAt_ = 0;
    int interceptorFailures_ = 0;
    bool ended_ = false;
    bool shuttingDown_ = false;
};
