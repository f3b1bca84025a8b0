#pragma once

#include "panel/core/KernelLayer.h"

#include <QObject>
#include <QStringList>

#include <functional>
#include <string>

class QProcess;
namespace gui {
class Timer;
}

namespace panel {

// The kernel backstop as the panel keeps an eye on it: at its first start in
// a login, where no systemd starts it, it is started for this user through
// pkexec (DecideLoginStart); then every few seconds the panel looks whether
// it answers on the user's notice socket, and a stop, a failed start or its
// return is told once (Changed) for the tray and the status line.
class BackstopWatch : public QObject {
    Q_OBJECT
public:
    static constexpr int kCheckMs = 3000;

    explicit BackstopWatch(QObject* parent);

    // What it runs and reads, set to the installed ones; tests replace them.
    QStringList StartCommand;            // pkexec ZEL-ADMIN start; empty: not installed
    std::function<bool()> Running;       // the backstop answers for this user
    std::string SystemdFolder = "/run/systemd/system";
    std::string UnitLink;                // the user's unit enabled at boot
    std::string MarkPath;                // in the runtime folder; empty: none usable
    std::string ProcRoot = "/proc";

    // The login start (when due) and the looks every kCheckMs.
    void Start();
    void Check();
    panel::LoginStart Decision() const { return decision_; }

signals:
    void Changed(const QString& title, const QString& text, bool warning);
    // The login start ended (exit status, -1 when it could not run).
    void LoginStartEnded(int exitStatus);

private:
    gui::Timer* check_;
    QProcess* start_ = nullptr;
    panel::KernelLayerWatch watch_;
    panel::LoginStart decision_ = panel::LoginStart::kNotInstalled;
    bool startedHere_ = false;
};

}  // namespace panel
