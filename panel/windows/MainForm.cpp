#include "windows/MainForm.h"

#include "settings/GeneralMdl.h"
#include "windows/WindowTools.h"
#include "platform/Constants.h"
#include "platform/Paths.h"
#include "platform/Registry.h"
#include "platform/Settings.h"
#include "platform/Windows.h"

#include <QAction>
#include <QActionGroup>
#include <QIcon>
#include <QLabel>
#include <QMenu>
#include <QSignalBlocker>
#include <QSocketNotifier>
#include <QToolBar>
#include <QToolButton>
#include <QVBoxLayout>

#include <ctime>

namespace windows = platform::windows;

namespace {

struct ToolButton {
    const char* caption;
    const char* key;
    const char* icon;
};

constexpr ToolButton kLogItems[] = {
    {"Permitted incoming traffic", "Log1", nullptr},
    {"Permitted outgoing traffic", "Log2", nullptr},
    {"Denied incoming traffic", "Log3", nullptr},
    {"Denied outgoing traffic", "Log4", nullptr},
};

}  // namespace

MainForm::MainForm(panel::PanelState& state, QWidget* parent) : QMainWindow(parent), state_(state)
{
    setObjectName("MainForm");
    setWindowTitle(platform::kMainWindowTitle);
    BuildToolBar();

    auto* central = new QWidget(this);
    auto* layout = new QVBoxLayout(central);
    auto* listOf = new QLabel("List of", central);
    listOf->setObjectName("Label7");
    AppName = new QLabel(central);
    AppName->setObjectName("AppName");
    StatText = new QLabel(central);
    StatText->setObjectName("StatText");
    BlockActive = new QLabel(central);
    BlockActive->setObjectName("BlockActive");
    BlockActive->setStyleSheet("color: rgb(255, 0, 0);");
    // The message box is reached by other processes only; it shows nothing.
    Picture2 = new QWidget(central);
    Picture2->setObjectName("Picture2");
    Picture2->setFixedSize(0, 0);
    for (QLabel* label : {listOf, AppName, StatText, BlockActive})
        label->setTextFormat(Qt::PlainText);
    layout->addWidget(listOf);
    layout->addWidget(AppName);
    layout->addWidget(StatText);
    layout->addStretch(1);
    layout->addWidget(BlockActive);
    layout->addWidget(Picture2);
    setCentralWidget(central);
    resize(760, 520);
}

MainForm::~MainForm() = default;

void MainForm::BuildToolBar()
{
    MainToolBar = addToolBar("MainToolBar");
    MainToolBar->setObjectName("MainToolBar");
    MainToolBar->setMovable(false);
    MainToolBar->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    const auto add = [this](const char* caption, const char* key, const char* icon) {
        QAction* action = MainToolBar->addAction(QIcon::fromTheme(icon), caption);
        action->setObjectName(key);
        return action;
    };
    add("Add Application", "App", "list-add");
    QAction* logs = add("Logs", "Logs", "text-x-generic");
    auto* logMenu = new QMenu(this);
    for (const ToolButton& item : kLogItems)
        logMenu->addAction(item.caption)->setObjectName(item.key);
    logs->setMenu(logMenu);
    if (auto* button = qobject_cast<QToolButton*>(MainToolBar->widgetForAction(logs)))
        button->setPopupMode(QToolButton::InstantPopup);
    add("Settings", "ToolsSet", "preferences-system");
    MainToolBar->addSeparator();
    blockAllButton_ = add("Block All", "BlockAll", "process-stop");
    blockAllButton_->setCheckable(true);
    MainToolBar->addSeparator();
    add("Help", "Help", "help-browser");
    connect(MainToolBar, &QToolBar::actionTriggered, this, &MainForm::MainToolBar_ButtonClick);
}

void MainForm::Form_Load()
{
    state_.LoadSettings(std::time(nullptr));
    UpdateBlockAllButton();
    state_.LoadBuffer();
    panel::CenterForm(this);
    AppName->setText("SYSTEM SETTINGS");
    StatText->setText(QString("Applications in the rules: %1").arg(state_.CurrBuffer.AllRules.size()));
}

bool MainForm::RegisterWindow()
{
    registration_ = windows::Window::Register(platform::kMainWindowTitle, {platform::kPictureBoxClass});
    if (!registration_) {
        panel::WriteErrLog("MainForm : Form_Load", "the window cannot be registered: " + platform::RuntimeDirProblem());
        return false;
    }
    messages_ = new QSocketNotifier(registration_->ChildSocket(0), QSocketNotifier::Read, this);
    connect(messages_, &QSocketNotifier::activated, this, &MainForm::Picture2_Messages);
    SetPic2WindowText(state_.Pic2WindowText);
    return true;
}

void MainForm::SetPic2WindowText(const std::string& text)
{
    state_.Pic2WindowText = text;
    if (registration_ && !windows::SetWindowText(registration_->ChildHandle(0), text))
        panel::WriteErrLog("MainForm : SetPic2WindowText", "the update list cannot be published");
}

void MainForm::UpdateBlockAllButton()
{
    const auto pressed = panel::BlockAllPressed(state_.Settings.SecurityStatus);
    if (!pressed)
        return;
    const QSignalBlocker quiet(blockAllButton_);
    blockAllButton_->setChecked(*pressed);
    BlockActive->setText(*pressed ? "Block all is now active." : "");
}

void MainForm::RestoreWindow()
{
    showNormal();
    raise();
    activateWindow();
}

void MainForm::MainToolBar_ButtonClick(QAction* button)
{
    if (button == blockAllButton_) {
        const bool down = blockAllButton_->isChecked();
        state_.Settings.SecurityStatus = down ? "0" : "1";
        BlockActive->setText(down ? "Block all is now active." : "");
        panel::SaveString(panel::RootKey::LocalMachine, platform::registry::kSettingsKey,
                          platform::settings::kSecurityStatus, state_.Settings.SecurityStatus);
    }
}

void MainForm::Picture2_Messages()
{
    // Everything queued now; a bounded number per wake-up keeps the window responsive.
    for (int i = 0; i < 256; ++i) {
        const auto message = windows::ReceiveMessage(registration_->ChildSocket(0));
        if (!message)
            return;
        if (message->message == windows::WM_MOUSEMOVE)
            MouseMoveSub(message->wParam, message->lParam);
    }
}

void MainForm::MouseMoveSub(uint32_t, int64_t lParam)
{
    switch (windows::ParamCode(lParam)) {
    case platform::kCodeRestoreWindow:
        RestoreWindow();
        break;
    default:
        // Not handled yet: alert answers, traffic amounts, ended programs, the tray.
        break;
    }
}
