#include "panel/core/KernelLayer.h"

#include "os/Files.h"
#include "os/Processes.h"
#include "text/Translate.h"

#include <climits>
#include <cstdlib>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

namespace panel {

namespace {

using text::Arg;
using text::Tr;

// What zel-backstop names as missing, in the panel's words.
const char* const kLacks[] = {
    ZEL_TEXT_NOOP("KernelLayer", "no cgroup v2 hierarchy is mounted"),
    ZEL_TEXT_NOOP("KernelLayer", "the kernel has no type information (BTF)"),
};

std::string InPanelWords(const std::string& missing)
{
    std::string words;
    size_t from = 0;
    while (from <= missing.size()) {
        size_t end = missing.find("; ", from);
        if (end == std::string::npos)
            end = missing.size();
        std::string part = missing.substr(from, end - from);
        for (const char* known : kLacks)
            if (part == known)
                part = Tr("KernelLayer", known);
        words += (words.empty() ? "" : "; ") + part;
        from = end + 2;
    }
    return words;
}

// The file and every folder above it root's, none writable by another (a
// group's only when the group is root's; a sticky folder such as /tmp lets
// nobody else move root's entries).
bool RootsAlone(const std::string& path)
{
    char resolved[PATH_MAX];
    if (!::realpath(path.c_str(), resolved))
        return false;
    std::string at = resolved;
    for (;;) {
        struct stat st {};
        if (::lstat(at.c_str(), &st) != 0)
            return false;
        const bool othersWrite = (st.st_mode & S_IWOTH) || ((st.st_mode & S_IWGRP) && st.st_gid != 0);
        const bool sticky = S_ISDIR(st.st_mode) && (st.st_mode & S_ISVTX);
        if (st.st_uid != 0 || (othersWrite && !sticky))
            return false;
        if (at == "/")
            return true;
        const size_t slash = at.rfind('/');
        at = slash == 0 ? "/" : at.substr(0, slash);
    }
}

}  // namespace

KernelLayerState ParseKernelLayerStatus(int exitStatus, const std::string& output)
{
    std::istringstream lines(output);
    const std::string lead = "zel-backstop: ";
    for (std::string line; std::getline(lines, line);) {
        if (!line.starts_with(lead))
            continue;
        line.erase(0, lead.size());
        const std::string cannot = "this kernel cannot hold the backstop: ";
        if (line.starts_with(cannot))
            return {KernelLayerState::Kind::kCannotHold, line.substr(cannot.size())};
        if (exitStatus == 0 && line.starts_with("running, ")) {
            const std::string mode = line.substr(9, line.find(' ', 9) - 9);
            if (mode == "rules" || mode == "notify" || mode == "deny")
                return {KernelLayerState::Kind::kAttached, mode};
        }
        if (exitStatus != 0 && line.starts_with("not running"))
            return {KernelLayerState::Kind::kNotAttached, {}};
    }
    // Anything else (it did not run, or says what this panel does not know):
    // not taken for attached.
    return {exitStatus == 0 ? KernelLayerState::Kind::kUnknown : KernelLayerState::Kind::kNotAttached, {}};
}

std::string KernelLayerText(const KernelLayerState& state)
{
    using Kind = KernelLayerState::Kind;
    switch (state.kind) {
    case Kind::kUnknown:
        return Tr("KernelLayer", "The kernel backstop: looking whether it runs for you.");
    case Kind::kNotInstalled:
        return Tr("KernelLayer", "The kernel backstop is not installed: programs the firewall cannot enter (statically "
                                 "linked, Go, set-user-ID, sandboxed) are not covered. ./run.sh installs it with the "
                                 "administrator's rights: see the README.");
    case Kind::kCannotHold:
        return Arg(Tr("KernelLayer", "The kernel backstop cannot run on this kernel (%1): programs the firewall cannot "
                                     "enter are not covered. The firewall still decides the programs it is in."),
                   {InPanelWords(state.detail)});
    case Kind::kNotAttached:
        return Tr("KernelLayer", "The kernel backstop is not attached for you: programs the firewall cannot enter "
                                 "(statically linked, Go, set-user-ID, sandboxed) are not covered.");
    case Kind::kAttached:
        if (state.detail == "notify")
            return Tr("KernelLayer", "The kernel backstop is attached for you: it lets the programs the firewall "
                                     "cannot enter connect, and tells you of each.");
        if (state.detail == "deny")
            return Tr("KernelLayer", "The kernel backstop is attached for you: it blocks the programs the firewall "
                                     "cannot enter.");
        return Tr("KernelLayer", "The kernel backstop is attached for you: your rules decide the programs the "
                                 "firewall cannot enter.");
    }
    return {};
}

KernelLayerPrograms FindKernelLayerPrograms(const std::initializer_list<std::string>& prefixes)
{
    for (const std::string& prefix : prefixes) {
        if (prefix.empty() || prefix.front() != '/')
            continue;
        const KernelLayerPrograms programs {prefix + "/" ZEL_SBIN_DIR "/zel-backstop", prefix + "/" ZEL_PKG_DIR "/zel-admin"};
        if (::access(programs.backstop.c_str(), X_OK) == 0 && ::access(programs.admin.c_str(), X_OK) == 0
            && RootsAlone(programs.backstop) && RootsAlone(programs.admin))
            return programs;
    }
    return {};
}

KernelLayerPrograms InstalledKernelLayerPrograms()
{
    const std::string self = os::processes::OwnExecutablePath();
    const std::string bin = self.substr(0, self.rfind('/') == std::string::npos ? 0 : self.rfind('/'));
    const std::string own = bin.ends_with("/bin") ? bin.substr(0, bin.size() - 4) : std::string();
    return FindKernelLayerPrograms({own, "/usr/local", "/usr"});
}

LoginStart DecideLoginStart(bool installed, bool systemdRuns, bool running, const std::string& markPath,
                            const std::string& login)
{
    if (!installed)
        return LoginStart::kNotInstalled;
    if (systemdRuns)
        return LoginStart::kSystemd;
    if (running)
        return LoginStart::kRunning;
    if (markPath.empty())
        return LoginStart::kAlreadyTried; // nowhere to keep the mark: never asked at every start
    // Not followed: the mark is in the user's own runtime folder.
    if (const auto mark = os::ReadFile(markPath, 4096, false); mark && *mark == login)
        return LoginStart::kAlreadyTried;
    // Marked before it is tried: a panel that dies while pkexec asks does not ask again.
    if (!os::WriteFileAtomically(markPath, login, 0600, false))
        return LoginStart::kAlreadyTried;
    return LoginStart::kStart;
}

std::string LoginName(const std::string& procRoot)
{
    const auto line = [&](const std::string& name) {
        std::string text = os::ReadFile(procRoot + "/" + name, 256).value_or("");
        return text.substr(0, text.find('\n'));
    };
    std::string session = line("self/sessionid");
    // 4294967295: no login set one (no pam_loginuid).
    if (session.empty() || session == "4294967295")
        session = "sid " + std::to_string(::getsid(0));
    return line("sys/kernel/random/boot_id") + " " + session;
}

KernelLayerWatch::Event KernelLayerWatch::Observe(bool running, bool expected)
{
    if (running) {
        misses_ = 0;
        seenRunning_ = true;
        const bool back = told_;
        told_ = false;
        return back ? Event::kBack : Event::kNone;
    }
    if (told_ || (!seenRunning_ && !expected) || ++misses_ < kMisses)
        return Event::kNone;
    told_ = true;
    const bool stopped = seenRunning_;
    seenRunning_ = false;
    return stopped ? Event::kStopped : Event::kNotStarted;
}

std::string KernelLayerEventTitle() { return Tr("KernelLayer", "Kernel backstop"); }

std::string KernelLayerEventText(KernelLayerWatch::Event event)
{
    using Event = KernelLayerWatch::Event;
    switch (event) {
    case Event::kStopped:
        return Tr("KernelLayer", "The kernel backstop stopped: programs the firewall cannot enter may no longer be "
                                 "decided by your rules. See the Protection page.");
    case Event::kNotStarted:
        return Tr("KernelLayer", "The kernel backstop could not start: programs the firewall cannot enter are not "
                                 "covered. See the Protection page.");
    case Event::kBack:
        return Tr("KernelLayer", "The kernel backstop runs again: your rules decide the programs the firewall cannot "
                                 "enter.");
    case Event::kNone:
        break;
    }
    return {};
}

}  // namespace panel
