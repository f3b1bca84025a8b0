#include "os/hooksafe/TrustedFolder.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace os {

bool IsTrustedFolderStat(const struct stat& st, bool last)
{
    if (!S_ISDIR(st.st_mode))
        return false;
    if (st.st_uid != 0 && st.st_uid != ::geteuid())
        return false;
    const bool othersWrite = (st.st_mode & S_IWOTH) || ((st.st_mode & S_IWGRP) && st.st_gid != ::getegid());
    return !othersWrite || (!last && (st.st_mode & S_ISVTX));
}

namespace {

// Judges every folder of an absolute path from the root down, one look
// each; a link on the way is not judged but said (link), for the caller to
// go by the real names instead.
bool JudgeChain(char* resolved, bool sticky, bool& link)
{
    const size_t length = std::strlen(resolved);
    struct stat st {};
    if (::lstat("/", &st) != 0 || !IsTrustedFolderStat(st, length == 1 && !sticky))
        return false;
    for (size_t end = 2; end <= length; ++end) {
        if (end != length && resolved[end] != '/')
            continue;
        const char kept = resolved[end];
        resolved[end] = '\0';
        const bool looked = ::lstat(resolved, &st) == 0;
        resolved[end] = kept;
        link = looked && S_ISLNK(st.st_mode);
        if (!looked || link || !IsTrustedFolderStat(st, end == length && !sticky))
            return false;
    }
    return true;
}

// An absolute path without ".", ".." or repeated slashes: when none of its
// folders is a link either, it is its own real name.
bool IsPlainPath(const char* path, size_t length)
{
    if (length == 0 || path[0] != '/' || length >= PATH_MAX)
        return false;
    for (size_t i = 0; i < length; ++i) {
        if (path[i] != '/')
            continue;
        size_t end = i + 1;
        while (end < length && path[end] != '/')
            ++end;
        const size_t n = end - i - 1;
        if ((n == 0 && end < length) || (n == 1 && path[i + 1] == '.')
            || (n == 2 && path[i + 1] == '.' && path[i + 2] == '.'))
            return false;
    }
    return true;
}

// Whether the folder at path and those above it are safe; sticky says the
// folder itself may be open to all when sticky (it is only passed through,
// or made in, not used). Every folder from the root down, by its real name:
// no link is left to follow.
bool IsTrustedChain(const char* path, bool sticky)
{
    if (!path || !*path)
        return false;
    char resolved[PATH_MAX];
    bool link = false;
    // Most paths hold no link: judged as named, without asking for the real
    // names first (which costs a look at every folder more).
    size_t length = std::strlen(path);
    while (length > 1 && path[length - 1] == '/')
        --length;
    if (IsPlainPath(path, length)) {
        std::memcpy(resolved, path, length);
        resolved[length] = '\0';
        if (JudgeChain(resolved, sticky, link))
            return true;
        if (!link)
            return false;
    }
    if (!::realpath(path, resolved))
        return false;
    return JudgeChain(resolved, sticky, link);
}

}  // namespace

bool IsTrustedFolder(const char* path) { return IsTrustedChain(path, false); }

int OpenTrustedFolder(const char* path, struct stat* st)
{
    const int fd = ::open(path, O_PATH | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return -1;
    struct stat atPath {};
    if (!IsTrustedChain(path, false) || ::fstat(fd, st) != 0 || ::stat(path, &atPath) != 0
        || atPath.st_dev != st->st_dev || atPath.st_ino != st->st_ino || !IsTrustedFolderStat(*st, true)) {
        ::close(fd);
        errno = EPERM;
        return -1;
    }
    return fd;
}

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

}  // namespace os
