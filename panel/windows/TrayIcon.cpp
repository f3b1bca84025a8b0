#include "windows/TrayIcon.h"

#include "core/ErrorLog.h"

#include <QAction>
#include <QCursor>
#include <QIcon>
#include <QMenu>
#include <QSystemTrayIcon>

namespace {

constexpr uint32_t kDoubleClick = 0x0203;
constexpr uint32_t kRightButtonUp = 0x0205;

}  // namespace

TrayIcon::TrayIcon(const QIcon& icon, QWidget* window) : QObject(window)
{
    setObjectName("TrayIcon");
    menu_ = new QMenu("SystrayMnu", window);
    menu_->setObjectName("SysTrayMenu");
    QAction* show = menu_->addAction("View Korvel Firewall Settings");
    show->setObjectName("MaxMnu");
    QAction* exit = menu_->addAction("Shut Down Korvel Firewall");
    exit->setObjectName("ExitMnu");
    connect(show, &QAction::triggered, this, &TrayIcon::RestoreRequested);
    connect(exit, &QAction::triggered, this, &TrayIcon::ShutDownRequested);
    if (!QSystemTrayIcon::isSystemTrayAvailable()) {
        panel::WriteErrLog("SysTrayIcon : AddIcon",
                           "the desktop has no notification area; the window stays in the task bar");
        return;
    }
    icon_ = new QSystemTrayIcon(icon, this);
    icon_->setObjectName("SystTrayIcon");
    icon_->setToolTip("Korvel Firewall");
    connect(icon_, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
        if (reason == QSystemTrayIcon::DoubleClick)
            MouseMessage(kDoubleClick);
        else if (reason == QSystemTrayIcon::Context && MouseMessage(kRightButtonUp) == 1)
            PopUpMenu();
    });
    icon_->show();
}

int TrayIcon::MouseMessage(uint32_t message)
{
    if (message == kDoubleClick) {
        emit RestoreRequested();
        return 0;
    }
    return message == kRightButtonUp ? 1 : 0;
}

void TrayIcon::PopUpMenu() { menu_->popup(QCursor::pos()); }

void TrayIcon::Hide()
{
    if (icon_)
        icon_->hide();
}

void TrayIcon::ShowBalloon(const QString& title, const QString& text, bool warning)
{
    if (icon_)
        icon_->showMessage(title, text, warning ? QSystemTrayIcon::Warning : QSystemTrayIcon::Information, 15000);
}
