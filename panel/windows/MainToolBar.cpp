#include "windows/MainToolBar.h"

#include "gui/Art.h"

#include <QAction>
#include <QCursor>
#include <QMenu>
#include <QToolButton>

namespace {

struct LogItem {
    const char* key;
    const char* menuText; // the toolbar names the logs as "traffic"...
    const char* caption;  // ...the views as "connection"
};

constexpr LogItem kLogItems[] = {
    {"Log1", "Allowed incoming traffic", "ALLOWED INCOMING CONNECTION"},
    {"Log2", "Allowed outgoing traffic", "ALLOWED OUTGOING CONNECTION"},
    {"Log3", "Blocked incoming traffic", "BLOCKED INCOMING CONNECTION"},
    {"Log4", "Blocked outgoing traffic", "BLOCKED OUTGOING CONNECTION"},
};

}  // namespace

MainToolBar::MainToolBar(QWidget* parent) : QToolBar("MainToolBar", parent)
{
    setObjectName("MainToolBar");
    setMovable(false);
    setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    setIconSize(QSize(24, 24));
    const auto add = [this](const char* caption, const char* key) {
        QAction* action = addAction(QIcon(art::ToolIcon(key, 48)), caption);
        action->setObjectName(key);
        return action;
    };
    add_ = add("Add Application", "App");
    connect(add_, &QAction::triggered, this, &MainToolBar::AddApplication);
    QAction* logs = add("Logs", "Logs");
    auto* logMenu = new QMenu(this);
    logMenu->setObjectName("LogMnu");
    for (const LogItem& item : kLogItems) {
        QAction* action = logMenu->addAction(item.menuText);
        action->setObjectName(item.key);
        connect(action, &QAction::triggered, this, [this, item] { emit LogChosen(item.key, item.caption); });
    }
    logs->setMenu(logMenu);
    if (auto* button = qobject_cast<QToolButton*>(widgetForAction(logs)))
        button->setPopupMode(QToolButton::InstantPopup);
    connect(add("Settings", "ToolsSet"), &QAction::triggered, this, &MainToolBar::Settings);
    addSeparator();
    blockAll_ = add("Block All", "BlockAll");
    blockAll_->setCheckable(true);
    connect(blockAll_, &QAction::triggered, this, &MainToolBar::BlockAllToggled);
    addSeparator();
    QAction* help = add("Help", "Help");
    connect(help, &QAction::triggered, this, [this, help] {
        // Just below the button.
        QWidget* button = widgetForAction(help);
        emit HelpRequested(button ? button->mapToGlobal(QPoint(0, button->height())) : QCursor::pos());
    });
}

void MainToolBar::ShowBlockAll(bool on)
{
    const QSignalBlocker quiet(blockAll_);
    blockAll_->setChecked(on);
}

void MainToolBar::SetAddEnabled(bool enabled) { add_->setEnabled(enabled); }

void MainToolBar::AddShutDown()
{
    addSeparator();
    QAction* shutDown = addAction(QIcon(art::StatusIcon(art::Mark::kBlock, 48)), "Shut down");
    shutDown->setObjectName("ExitBtn");
    shutDown->setToolTip("Shut Down Korvel Firewall");
    connect(shutDown, &QAction::triggered, this, &MainToolBar::ShutDown);
}
