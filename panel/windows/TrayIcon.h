#pragma once

#include <QObject>

#include <cstdint>

class QIcon;
class QMenu;
class QSystemTrayIcon;
class QWidget;

// The firewall in the desktop's tray: its icon, its menu (show the window,
// shut down) and its balloons. Without a tray there is none of it, and the
// window keeps a way to shut down of its own.
class TrayIcon : public QObject {
    Q_OBJECT
public:
    // The menu belongs to window.
    TrayIcon(const QIcon& icon, QWidget* window);

    bool Available() const { return icon_ != nullptr; }
    // A mouse message as the tray sends it: 0x0203 (double click) asks for
    // the window, 0x0205 (right button up) for the menu; returns 1 when the
    // menu is to be shown.
    int MouseMessage(uint32_t message);
    void PopUpMenu();
    void Hide();
    void ShowBalloon(const QString& title, const QString& text, bool warning);

signals:
    void RestoreRequested();
    void ShutDownRequested();

private:
    QMenu* menu_;
    QSystemTrayIcon* icon_ = nullptr;
};
