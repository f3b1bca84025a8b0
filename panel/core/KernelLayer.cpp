#include "panel/core/KernelLayer.h"

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

}  // namespace panel
