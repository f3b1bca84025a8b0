#include "os/hooksafe/RuntimeFolder.h"

#include "os/hooksafe/Environment.h"
#include "os/hooksafe/TrustedFolder.h"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/utsname.h>
#include <unistd.h>

// Weak: a statically linked program (zel-run) does not bring in the C
// library's account lookup for it, which would load the system's account
// modules at run time; there a session without HOME has no folder found.
#pragma weak getpwuid

namespace os {

namespace {

bool Format(char* path, size_t size, const char* a, const char* b, const char* c = "")
{
    const int n = std::snprintf(path, size, "%s%s%s", a, b, c);
    return n > 0 && static_cast<size_t>(n) < size;
}

// The machine's name as one safe file name part: machines that share a home
// over the network keep their live objects apart by it. A long name is cut
// and a digest of the whole added, to keep the sockets' paths short.
void HostPart(char* part, size_t size)
{
    constexpr size_t kKept = 11;
    constexpr size_t kLongest = kKept + 9;
    struct utsname names {};
    const char* name = ::uname(&names) == 0 && names.nodename[0] ? names.nodename : "localhost";
    size_t length = 0;
    uint32_t digest = 2166136261u; // FNV-1a
    for (; name[length]; ++length)
        digest = (digest ^ static_cast<unsigned char>(name[length])) * 16777619u;
    const size_t kept = length > kLongest ? kKept : length;
    size_t i = 0;
    for (; i < kept && i + 1 < size; ++i) {
        const char c = name[i];
        const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.'
            || c == '-' || c == '_';
        part[i] = plain ? c : '_';
    }
    part[i] = '\0';
    if (length > kLongest)
        std::snprintf(part + i, size - i, "-%08x", static_cast<unsigned>(digest));
}

// The folder of a session without XDG_RUNTIME_DIR: under the state folder,
// chosen as the settings' folders are (the home from HOME, else the account).
bool HomeFolderPath(char* path, size_t size, bool& noHome)
{
    char host[72];
    HostPart(host, sizeof host);
    const char* state = GetEnv("XDG_STATE_HOME");
    if (state && state[0] == '/')
        return Format(path, size, state, "/korvel/run-", host);
    const char* home = GetEnv("HOME");
    if (home && home[0] != '/')
        home = nullptr;
    if (!home && &::getpwuid) {
        const passwd* account = ::getpwuid(::getuid());
        home = account && account->pw_dir && account->pw_dir[0] == '/' ? account->pw_dir : nullptr;
    }
    if (!home) {
        noHome = true;
        return true;
    }
    char below[96];
    return Format(below, sizeof below, "/.local/state/korvel/run-", host, "") && Format(path, size, home, below);
}

// The longest folder whose sockets still fit a socket address (108 bytes):
// a message window's ("/windows/.new.PID.SEQ/child.N.sock") takes 39 more.
constexpr size_t kMaxSocketFolder = 68;

}  // namespace

RuntimeFolderProblem ResolveRuntimeFolder(char* path, size_t size, RuntimeFolderSource* source)
{
    if (size == 0)
        return RuntimeFolderProblem::kTooLong;
    path[0] = '\0';
    bool fits;
    bool noHome = false;
    RuntimeFolderSource chosen;
    // Chosen by the variables alone, never by what is found on disk: a rule
    // that went elsewhere when a folder was spoilt would let another user
    // split the user's programs between two folders.
    const char* configured = GetEnv("ZEL_RUNTIME_DIR");
    const char* xdg = GetEnv("XDG_RUNTIME_DIR");
    if (configured && *configured) {
        chosen = RuntimeFolderSource::kConfigured;
        fits = Format(path, size, configured, "");
    } else if (xdg && xdg[0] == '/') {
        chosen = RuntimeFolderSource::kSession;
        fits = Format(path, size, xdg, "/korvel");
    } else {
        chosen = RuntimeFolderSource::kHome;
        fits = HomeFolderPath(path, size, noHome);
    }
    if (source)
        *source = chosen;
    if (noHome) {
        path[0] = '\0';
        return RuntimeFolderProblem::kNoHome;
    }
    if (!fits || (chosen == RuntimeFolderSource::kHome && std::strlen(path) > kMaxSocketFolder))
        return RuntimeFolderProblem::kTooLong;
    struct stat st {};
    if (::lstat(path, &st) != 0) {
        // Made only inside folders no other user controls, so that a
        // program run as root with its caller's variables makes nothing
        // where the caller points it.
        if (errno != ENOENT)
            return RuntimeFolderProblem::kCannotCreate;
        if (!MakeTrustedFolders(path, 0700))
            return errno == EPERM ? RuntimeFolderProblem::kUnsafeParent : RuntimeFolderProblem::kCannotCreate;
        if (::lstat(path, &st) != 0)
            return RuntimeFolderProblem::kCannotCreate;
        // Made by us just now: make sure no umask or inherited ACL opened it.
        if (S_ISDIR(st.st_mode) && st.st_uid == ::geteuid() && (st.st_mode & 077) != 0 && ::chmod(path, 0700) == 0)
            st.st_mode &= ~static_cast<mode_t>(077);
    }
    if (!S_ISDIR(st.st_mode))
        return RuntimeFolderProblem::kNotADirectory;
    if (st.st_uid != ::geteuid())
        return RuntimeFolderProblem::kForeignOwner;
    if ((st.st_mode & 077) != 0)
        return RuntimeFolderProblem::kOpenToOthers;
    if (!IsTrustedFolder(path))
        return RuntimeFolderProblem::kUnsafeParent;
    return RuntimeFolderProblem::kNone;
}

void DescribeRuntimeFolderProblem(RuntimeFolderProblem problem, RuntimeFolderSource source, const char* path,
                                  char* text, size_t size)
{
    const char* why = "";
    switch (problem) {
    case RuntimeFolderProblem::kNone: why = "is usable"; break;
    case RuntimeFolderProblem::kTooLong: why = "is too long a path for the sockets in it"; break;
    case RuntimeFolderProblem::kCannotCreate: why = "cannot be created"; break;
    case RuntimeFolderProblem::kNotADirectory: why = "is not a directory (or is a symbolic link)"; break;
    case RuntimeFolderProblem::kForeignOwner: why = "belongs to another user"; break;
    case RuntimeFolderProblem::kOpenToOthers: why = "can be opened by other users (its mode must be 0700)"; break;
    case RuntimeFolderProblem::kUnsafeParent: why = "lies in a folder another user owns or can write"; break;
    case RuntimeFolderProblem::kNoHome: why = "has no place: XDG_RUNTIME_DIR and HOME are not set"; break;
    }
    const char* mend = problem == RuntimeFolderProblem::kTooLong
        ? "Set XDG_RUNTIME_DIR to a folder of your own with a shorter path that only you can open (mode 0700)."
        : source == RuntimeFolderSource::kConfigured
        ? "Set ZEL_RUNTIME_DIR to a folder of your own that only you can open (mode 0700)."
        : source == RuntimeFolderSource::kSession
        ? "Remove it, or set XDG_RUNTIME_DIR to a folder of your own that only you can open (mode 0700)."
        : "Remove it, or make it a folder of your own that only you can open (mode 0700).";
    std::snprintf(text, size,
                  "the runtime folder%s%s %s; the firewall cannot use it, so it refuses your programs' "
                  "connections while it is on. %s",
                  path[0] ? " " : "", path, why, mend);
}

}  // namespace os
