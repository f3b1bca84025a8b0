#include "panel/windows/MainToolBar.h"

#include "gui/Art.h"
#include "panel/windows/PageTable.h"

#include <QAction>
#include <QCoreApplication>
#include <QCursor>
#include <QMenu>
#include <QToolButton>

namespace panel {

MainToolBar::MainToolBar(QWidget* parent) : QToolBar("MainToolBar", parent)
{
    setObjectName("MainToolBar");
    setMovable(false);
    setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    setIconSize(QSize(24, 24));
    // Not to be hidden: without it nothing could be added or blocked.
    setFloatable(false);
    setContextMenuPolicy(Qt::PreventContextMenu);
    toggleViewAction()->setVisible(false);
    // Each button is reached by Tab and by its shortcut, which its tip names.
    const auto add = [this](const QString& caption, const char* key, const QKeySequence& shortcut = {}) {
        QAction* action = addAction(QIcon(gui::art::ToolIcon(key, 48)), caption);
        action->setObjectName(key);
        if (!shortcut.isEmpty()) {
            action->setShortcut(shortcut);
            action->setToolTip(QString("%1 (%2)").arg(caption, shortcut.toString(QKeySequence::NativeText)));
        }
        if (QWidget* button = widgetForAction(action))
            button->setFocusPolicy(Qt::TabFocus);
        return action;
    };
    add_ = add(tr("Add Application"), "App", QKeySequence(Qt::CTRL | Qt::Key_N));
    connect(add_, &QAction::triggered, this, &MainToolBar::AddApplication);
    QAction* logs = add(tr("Logs"), "Logs", QKeySequence(Qt::CTRL | Qt::Key_L));
    auto* logMenu = new QMenu(this);
    logMenu->setObjectName("LogMnu");
    logs->setMenu(logMenu);
    if (auto* button = qobject_cast<QToolButton*>(widgetForAction(logs))) {
        button->setPopupMode(QToolButton::InstantPopup);
        // The shortcut opens the menu as a click does.
        connect(logs, &QAction::triggered, button, &QToolButton::showMenu);
    }
    // The pages the toolbar reaches, in the page table's order.
    for (const PageRow& page : PageTable()) {
        const PageRow* row = &page;
        if (page.slot == ToolSlot::kLogMenu) {
            QAction* action = logMenu->addAction(tr(page.toolText));
            action->setObjectName(page.key);
            connect(action, &QAction::triggered, this, [this, row] { emit LogChosen(row->key, QCoreApplication::translate("panel::NavigationTree", row->title)); });
        } else if (page.slot == ToolSlot::kButton) {
            connect(add(tr(page.toolText), page.key), &QAction::triggered, this, [this, row] { emit PageChosen(row->key); });
        }
    }
    // No button of its own: the window holds it, so that it works wherever the focus is.
    auto* find = new QAction(tr("Find in logs"), this);
    find->setObjectName("FindInLogs");
    find->setShortcuts(QKeySequence::Find);
    find->setShortcutContext(Qt::WindowShortcut);
    (parent ? parent : this)->addAction(find);
    connect(find, &QAction::triggered, this, &MainToolBar::FindInLogs);
    connect(add(tr("Settings"), "ToolsSet", QKeySequence(Qt::CTRL | Qt::Key_Comma)), &QAction::triggered, this, &MainToolBar::Settings);
    addSeparator();
    blockAll_ = add(tr("Block All"), "BlockAll", QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_B));
    blockAll_->setCheckable(true);
    connect(blockAll_, &QAction::triggered, this, &MainToolBar::BlockAllToggled);
    addSeparator();
    QAction* help = add(tr("Help"), "Help");
    help->setToolTip(tr("Help (the page: F1)"));
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
    QAction* shutDown = addAction(QIcon(gui::art::StatusIcon(gui::art::Mark::kBlock, 48)), tr("Shut down"));
    shutDown->setObjectName("ExitBtn");
    shutDown->setToolTip(tr("Shut Down Korvel Firewall"));
    if (QWidget* button = widgetForAction(shutDown))
        button->setFocusPolicy(Qt::TabFocus);
    connect(shutDown, &QAction::triggered, this, &MainToolBar::ShutDown);
}

}  // namespace panel
