// The tray icon, its menu, and the notice shown when the window goes to the tray.
#include "windows/MainForm.h"

#include "gui/Art.h"
#include "settings/GeneralMdl.h"
#include "windows/WindowTools.h"
#include "platform/Registry.h"
#include "platform/Settings.h"

#include <QAction>
#include <QCheckBox>
#include <QDialog>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QPainter>
#include <QPushButton>
#include <QSystemTrayIcon>
#include <QTime>
#include <QToolBar>
#include <QVBoxLayout>

namespace {

// The notification area as the notice shows it: a strip with the icon in it.
QPixmap TrayPicture()
{
    QPixmap picture(220, 36);
    picture.fill(QColor(52, 56, 64));
    QPainter p(&picture);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QColor(200, 200, 210));
    p.drawText(QRect(130, 0, 84, 36), Qt::AlignVCenter | Qt::AlignRight, QTime::currentTime().toString("hh:mm"));
    p.drawPixmap(100, 8, art::FirewallIcon(20));
    p.setPen(QPen(QColor(255, 210, 0), 2));
    p.drawEllipse(QRect(95, 3, 30, 30));
    return picture;
}

}  // namespace

void MainForm::BuildTray()
{
    trayMenu_ = new QMenu("SystrayMnu", this);
    trayMenu_->setObjectName("SysTrayMenu");
    QAction* maxMnu = trayMenu_->addAction("View Korvel Firewall Settings");
    maxMnu->setObjectName("MaxMnu");
    QAction* exitMnu = trayMenu_->addAction("ShutDown Korvel Firewall");
    exitMnu->setObjectName("ExitMnu");
    connect(maxMnu, &QAction::triggered, this, &MainForm::RestoreWindow);
    connect(exitMnu, &QAction::triggered, this, &MainForm::ShutDown);
    if (!QSystemTrayIcon::isSystemTrayAvailable()) {
        // Without a tray the window stays reachable (closing minimises it)
        // and the shutdown is on the toolbar.
        panel::WriteErrLog("SysTrayIcon : AddIcon", "the desktop has no notification area; the window stays in the task bar");
        MainToolBar->addSeparator();
        QAction* shutDown = MainToolBar->addAction(QIcon(art::StatusIcon(art::Mark::kBlock, 48)), "Shut down");
        shutDown->setObjectName("ExitBtn");
        shutDown->setToolTip("ShutDown Korvel Firewall");
        disconnect(shutDown, nullptr, nullptr, nullptr);
        connect(shutDown, &QAction::triggered, this, &MainForm::ShutDown);
        return;
    }
    trayIcon_ = new QSystemTrayIcon(windowIcon(), this);
    trayIcon_->setObjectName("SystTrayIcon");
    trayIcon_->setToolTip("Korvel Firewall");
    connect(trayIcon_, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
        if (reason == QSystemTrayIcon::DoubleClick)
            MouseMoveSub(0x0203);
        else if (reason == QSystemTrayIcon::Context && MouseMoveSub(0x0205) == 1)
            trayMenu_->popup(QCursor::pos());
    });
    trayIcon_->show();
}

int MainForm::MouseMoveSub(uint32_t mouseMessage)
{
    if (mouseMessage == 0x0203) {
        RestoreWindow();
        return 0;
    }
    return mouseMessage == 0x0205 ? 1 : 0;
}

void MainForm::ShowTrayNotice()
{
    QDialog notice(this);
    notice.setObjectName("SysTrayMessage");
    notice.setWindowTitle("  Closing ZEL");
    auto* layout = new QVBoxLayout(&notice);
    auto* text = new QLabel("You have chossen to close Korvel Firewall Application.\nThe application's icon will appear in "
                            "the systray toolbar as shown in the picture below.",
                            &notice);
    text->setObjectName("Label1");
    text->setTextFormat(Qt::PlainText);
    text->setWordWrap(true);
    auto* picture = new QLabel(&notice);
    picture->setObjectName("Picture1");
    picture->setPixmap(TrayPicture());
    picture->setAlignment(Qt::AlignCenter);
    auto* check = new QCheckBox("Don't show this message again", &notice);
    check->setObjectName("CheckNotToShow");
    auto* ok = new QPushButton("OK", &notice);
    ok->setObjectName("OkCmd");
    ok->setDefault(true);
    layout->addWidget(text);
    layout->addWidget(picture);
    layout->addWidget(check);
    auto* row = new QHBoxLayout;
    row->addStretch(1);
    row->addWidget(ok);
    layout->addLayout(row);
    connect(ok, &QPushButton::clicked, &notice, [&] {
        state_.Settings.FirstClose = std::string(1, check->isChecked() ? '0' : '1');
        panel::SaveString(panel::RootKey::LocalMachine, platform::registry::kSettingsKey, platform::settings::kFirstClose,
                          state_.Settings.FirstClose);
        notice.accept();
    });
    notice.setFixedWidth(420);
    notice.adjustSize();
    panel::CenterForm(&notice);
    notice.exec();
}
