#include "platform/TrustedFolder.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

namespace {

// One folder of the chain; last says it is the folder itself rather than one
// above it (then being sticky does not make up for being writable by others).
bool IsTrustedFolderStat(const struct stat& st, bool last)
{
    if (!S_ISDIR(st.st_mode))
        return false;
    if (st.st_uid != 0 && st.st_uid != ::geteuid())
        return false;
    const bool othersWrite = (st.st_mode & S_IWOTH) || ((st.st_mode & S_IWGRP) && st.st_gid != ::getegid());
    return !othersWrite || (!last && (st.st_mode & S_ISVTX));
}

// Whether the folder at path and those above it are safe; sticky says the
// folder itself may be open to all when sticky (it is only passed through,
// or made in, not used).
bool IsTrustedChain(const char* path, bool sticky)
{
    if (!path || !*path)
        return false;
    char resolved[PATH_MAX];
    if (!::realpath(path, resolved))
        return false;
    // Every folder from the root down, by its real name: no link is left to follow.
    const size_t length = std::strlen(resolved);
    struct stat st {};
    if (::lstat("/", &st) != 0 || !IsTrustedFolderStat(st, length == 1 && !sticky))
        return false;
    for (size_t end = 2; end <= length; ++end) {
        if (end != length && resolved[end] != '/')
            continue;
        const char kept = resolved[end];
        resolved[end] = '\0';
        const bool trusted = ::lstat(resolved, &st) == 0 && IsTrustedFolderStat(st, end == length && !sticky);
        resolved[end] = kept;
        if (!trusted)
            return false;
    }
    return true;
}

}  // namespace

bool IsTrustedFolder(const char* path) { return IsTrustedChain(path, false); }

bool MakeTrustedFolders(char* path, mode_t lastMode)
{
    if (!path || path[0] != '/') {
        errno = EINVAL;
        return false;
    }
    size_t length = std::strlen(path);
    while (length > 1 && path[length - 1] == '/')
        --length;
    // Each folder is made only once the one it goes in is known to be safe;
    // one that is there already is judged in turn as the next one's parent.
    for (size_t end = 1; end <= length; ++end) {
        if ((end != length && path[end] != '/') || path[end - 1] == '/')
            continue;
        const char kept = path[end];
        path[end] = '\0';
        char* cut = std::strrchr(path, '/');
        *cut = '\0';
        const bool parentTrusted = IsTrustedChain(cut == path ? "/" : path, true);
        *cut = '/';
        bool ok = parentTrusted;
        struct stat st {};
        if (!ok)
            errno = EPERM;
        else if (::lstat(path, &st) != 0)
            ok = errno == ENOENT && (::mkdir(path, end == length ? lastMode : 0755) == 0 || errno == EEXIST);
        path[end] = kept;
        if (!ok)
            return false;
    }
    struct stat st {};
    if (::stat(path, &st) != 0)
        return false;
    if (!S_ISDIR(st.st_mode)) {
        errno = ENOTDIR;
        return false;
    }
    return true;
}

}  // namespace platform
