#pragma once

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

}  // namespace panel
