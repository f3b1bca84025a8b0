#pragma once

#include <cstdint>
#include <string>

namespace panel {

// The kernel backstop as the Protection page shows it: what `zel-backstop
// status`, run as the user, says of this user's backstop, and the installed
// programs the page runs (zel-backstop for the state, zel-admin through
// pkexec to protect).

struct KernelLayerState {
    enum class Kind {
        kUnknown,      // not looked at yet
        kNotInstalled, // no zel-backstop installed as root's
        kCannotHold,   // the kernel lacks what it needs (detail: what)
        kNotAttached,  // installed, not running for this user
        kAttached,     // running for this user (detail: its mode)
    };
    Kind kind = Kind::kUnknown;
    std::string detail;
};

// From the status command's exit status and its output in English (run with
// LC_ALL=C): its first line that starts "zel-backstop: ".
KernelLayerState ParseKernelLayerStatus(int exitStatus, const std::string& output);
// The page's line for the state.
std::string KernelLayerText(const KernelLayerState& state);

struct KernelLayerPrograms {
    std::string backstop; // PREFIX/SBINDIR/zel-backstop
    std::string admin;    // PREFIX/PKGDIR/zel-admin
};

// The first of the prefixes given whose zel-backstop and zel-admin are
// there and root's alone (the files and every folder above them): pkexec
// runs zel-admin as root once an administrator agrees, so a program another
// user (or a program of this user) could replace is never offered. Both
// empty when none is.
KernelLayerPrograms FindKernelLayerPrograms(const std::initializer_list<std::string>& prefixes);
// The prefixes looked in: the panel's own installation's (PREFIX/bin/zel),
// then /usr/local (where ./run.sh installs it), then /usr (the package).
KernelLayerPrograms InstalledKernelLayerPrograms();

// Whether the panel starts this user's backstop at login (pkexec zel-admin
// start, which the active session may do without a password): only where
// systemd does not run (there its unit starts it at boot), only when it is
// installed and not running, and once per login: the first look of a login
// writes the login's name (LoginName) to markPath; a later look in the same
// login finds it there.
enum class LoginStart { kStart, kNotInstalled, kSystemd, kRunning, kAlreadyTried };
LoginStart DecideLoginStart(bool installed, bool systemdRuns, bool running, const std::string& markPath,
                            const std::string& login);
// This login: the boot and the login's audit session (or, where nothing set
// one, the process session), read from procRoot.
std::string LoginName(const std::string& procRoot);

// What the panel tells of the backstop as it looks every few seconds: a
// change once, never again until the next change. A backstop seen running
// that no longer answers stopped; one expected (started at this login, or
// its unit enabled) that never answered could not start; one back after
// either is said to run again. A single miss is not taken for a stop (a
// service restarting).
class KernelLayerWatch {
public:
    enum class Event { kNone, kStopped, kNotStarted, kBack };
    static constexpr int kMisses = 2;

    Event Observe(bool running, bool expected);

private:
    bool seenRunning_ = false;
    bool told_ = false; // a stop or failed start was told and not yet taken back
    int misses_ = 0;
};
// The tray balloon's and the status line's words for an event.
std::string KernelLayerEventTitle();
std::string KernelLayerEventText(KernelLayerWatch::Event event);

}  // namespace panel
