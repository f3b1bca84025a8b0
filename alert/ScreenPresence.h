#pragma once

#include "gui/Timer.h"

#include <QObject>

#include <map>
#include <string>

class QDBusPendingCallWatcher;

namespace alert {

// Whether anyone can see the alerts: nobody is there while the session's
// screen is locked (the login manager's LockedHint for it), while it is not
// the session in front on its seat (another user's is), or while the
// desktop's screen saver is on (the screen saver services desktops run on
// the session bus: freedesktop, GNOME, MATE, Cinnamon, Xfce). Asked every
// kIntervalMs while questions wait, without blocking the window. A source
// that does not answer (no bus, no such service) says nothing: a question is
// never answered for the user on a guess.
class ScreenPresence : public QObject {
    Q_OBJECT

public:
    static constexpr int kIntervalMs = 2000;

    explicit ScreenPresence(QObject* parent = nullptr, int intervalMs = kIntervalMs);
    ~ScreenPresence() override;

    bool Away() const { return away_; }
    // Looks now and every kIntervalMs while watching.
    void Watch(bool watching);
    // What one source says (for the sources above, and for tests).
    void Report(const std::string& source, bool away);

signals:
    void Changed(bool away);

private:
    void Look();
    void Ask(const QString& source, const QString& service, const QString& path, const QString& interface);
    void AskSession();

    // Connections of our own, made only to a bus that is there: a desktop
    // without a session bus never has one started for us.
    QString sessionName_;
    QString systemName_;
    gui::Timer interval_ {this}; // on the Qt programs' one clock
    std::map<std::string, bool> said_;
    bool away_ = false;
};

}  // namespace alert
