#include "os/hooksafe/TrustedFile.h"

#include <climits>
#include <cstdlib>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

namespace os {

namespace {

bool OwnedByUs(const struct stat& st) { return st.st_uid == 0 || st.st_uid == ::geteuid(); }

bool WritableByOthers(const struct stat& st)
{
    return (st.st_mode & S_IWOTH) || ((st.st_mode & S_IWGRP) && st.st_gid != ::getegid());
}

}  // namespace

bool ResolveTrustedFile(const char* path, char* resolved, size_t size)
{
    char real[PATH_MAX];
    if (!path || !*path || size == 0 || !::realpath(path, real))
        return false;
    const size_t length = std::strlen(real);
    if (length + 1 > size || real[0] != '/')
        return false;
    struct stat st {};
    if (::lstat(real, &st) != 0 || !S_ISREG(st.st_mode) || !OwnedByUs(st) || WritableByOthers(st))
        return false;
    // Every folder on the way, up to the root (no link is left in a resolved
    // path): none that anyone may change, where a stranger could swap the
    // file after this look. Folders of other owners are passed: a build tree
    // under a shared or mounted folder must still be usable by root.
    char folder[PATH_MAX];
    std::memcpy(folder, real, length + 1);
    for (char* slash = std::strrchr(folder, '/'); slash; slash = std::strrchr(folder, '/')) {
        if (slash == folder)
            slash[1] = '\0';
        else
            *slash = '\0';
        if (::lstat(folder, &st) != 0 || !S_ISDIR(st.st_mode)
            || ((st.st_mode & S_IWOTH) && !(st.st_mode & S_ISVTX)))
            return false;
        if (slash == folder)
            break;
    }
    std::memcpy(resolved, real, length + 1);
    return true;
}

}  // namespace os
