#include "platform/RuntimeFolder.h"

#include "platform/Environment.h"
#include "platform/TrustedFolder.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

namespace {

bool Format(char* path, size_t size, const char* a, const char* b)
{
    const int n = std::snprintf(path, size, "%s%s", a, b);
    return n > 0 && static_cast<size_t>(n) < size;
}

}  // namespace

RuntimeFolderProblem ResolveRuntimeFolder(char* path, size_t size)
{
    if (size == 0)
        return RuntimeFolderProblem::kTooLong;
    path[0] = '\0';
    bool fits;
    const char* configured = GetEnv("ZEL_RUNTIME_DIR");
    const char* xdg = GetEnv("XDG_RUNTIME_DIR");
    if (configured && *configured) {
        fits = Format(path, size, configured, "");
    } else if (xdg && xdg[0] == '/') {
        fits = Format(path, size, xdg, "/korvel");
    } else {
        char uid[24];
        std::snprintf(uid, sizeof uid, "%u", static_cast<unsigned>(::getuid()));
        fits = Format(path, size, "/tmp/korvel-", uid);
    }
    if (!fits)
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

void DescribeRuntimeFolderProblem(RuntimeFolderProblem problem, const char* path, char* text, size_t size)
{
    const char* why = "";
    switch (problem) {
    case RuntimeFolderProblem::kNone: why = "is usable"; break;
    case RuntimeFolderProblem::kTooLong: why = "is too long a path"; break;
    case RuntimeFolderProblem::kCannotCreate: why = "cannot be created"; break;
    case RuntimeFolderProblem::kNotADirectory: why = "is not a directory (or is a symbolic link)"; break;
    case RuntimeFolderProblem::kForeignOwner: why = "belongs to another user"; break;
    case RuntimeFolderProblem::kOpenToOthers: why = "can be opened by other users (its mode must be 0700)"; break;
    case RuntimeFolderProblem::kUnsafeParent: why = "lies in a folder another user owns or can write"; break;
    }
    std::snprintf(text, size,
                  "the runtime folder %s %s; the firewall does not use it and lets programs pass unfiltered. "
                  "Remove it or set XDG_RUNTIME_DIR to a private folder.",
                  path, why);
}

}  // namespace platform
