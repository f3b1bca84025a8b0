#pragma once

#include "panel/core/FilterState.h"

#include <QIcon>
#include <QObject>

#include <cstdint>

class QAction;
class QActionGroup;
class QMenu;
class QSystemTrayIcon;
class QWidget;

namespace panel {

// The firewall in the desktop's tray: its icon and tip, which say what the
// firewall does (filtering at a level, Block All, not filtering) and in
// which mode when it does not ask, its menu (show the window, Block All,
// the level, the mode, shut down) and its balloons.
// Without a tray there is none of it, and the window keeps a way to shut
// down of its own.
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
    // A balloon that opens the Review page when clicked.
    void ShowReviewBalloon(const QString& title, const QString& text);
    // The balloons told since the start, shown or (without a tray) not,
    // and the last one's text.
    int BalloonsTold() const { return balloonsTold_; }
    const QString& LastBalloon() const { return lastBalloon_; }
    // The icon, the tip and the menu's marks after the state.
    void ShowState(const panel::FilterState& state);
    const panel::FilterState& State() const { return state_; }
    // The profile in force (empty: none), said in the tip under the state.
    void ShowProfile(const QString& name);
    // The tip as the icon shows it (also where no tray is).
    const QString& Tip() const { return tip_; }
    // The icon the tray shows for a state (a mark on the firewall's icon,
    // and a badge for a mode that does not ask).
    QIcon StateIcon(panel::Filtering filtering, protocol::mode::Mode mode = protocol::mode::Mode::kAsk) const;
    QMenu* Menu() const { return menu_; }

signals:
    void RestoreRequested();
    void ShutDownRequested();
    void BlockAllToggled(bool on);
    // A preset level (0 High, 1 Normal, 2 Low) chosen from the menu.
    void LevelChosen(int level);
    void ModeChosen(protocol::mode::Mode mode);
    void ReviewRequested();

private:
    QIcon base_;
    QMenu* menu_;
    QAction* blockAll_;
    QAction* levels_[panel::kPresetLevels];
    QAction* custom_;
    QMenu* levelMenu_;
    QAction* modes_[4];
    bool balloonOpensReview_ = false;
    int balloonsTold_ = 0;
    QString lastBalloon_;
    QSystemTrayIcon* icon_ = nullptr;
    panel::FilterState state_;
    QString profile_;
    QString tip_;
    void ShowTip();
};

}  // namespace panel
