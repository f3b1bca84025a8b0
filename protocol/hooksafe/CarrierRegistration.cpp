#include "protocol/hooksafe/CarrierRegistration.h"

#include "os/hooksafe/Descriptors.h"
#include "os/hooksafe/DirectCalls.h"
#include "os/hooksafe/LockFiles.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

namespace protocol::carriers {

namespace direct = os::direct;

namespace {

bool EntryPath(char* path, size_t size, const char* runtimeFolder, const char* name)
{
    const int n = std::snprintf(path, size, "%s/hosts/%s", runtimeFolder, name);
    return n > 0 && static_cast<size_t>(n) < size;
}

}  // namespace

int Register(const char* runtimeFolder, pid_t pid, const char* exeName)
{
    char path[PATH_MAX];
    char name[24];
    std::snprintf(name, sizeof name, "%d", static_cast<int>(pid));
    if (!EntryPath(path, sizeof path, runtimeFolder, ""))
        return -1;
    if (::mkdir(path, 0700) != 0 && errno != EEXIST)
        return -1;
    if (!EntryPath(path, sizeof path, runtimeFolder, name))
        return -1;
    int fd = -1;
    // A sweep of ended registrations may remove the file between its
    // creation and the lock: then it is made again.
    for (int attempt = 0; attempt < 3 && fd < 0; ++attempt) {
        fd = os::HoldLockFile(path);
        if (fd < 0)
            return -1;
        struct stat held {}, named {};
        if (::fstat(fd, &held) != 0 || ::stat(path, &named) != 0 || held.st_ino != named.st_ino
            || held.st_dev != named.st_dev) {
            ::close(fd);
            fd = -1;
        }
    }
    if (fd < 0)
        return -1;
    // A process id used again after a crash finds the old name: replace it.
    const size_t length = std::strlen(exeName);
    if (::ftruncate(fd, 0) != 0 || ::pwrite(fd, exeName, length, 0) != static_cast<ssize_t>(length)) {
        ::close(fd);
        return -1;
    }
    return fd;
}

void Unregister(const char* runtimeFolder, pid_t pid)
{
    char path[PATH_MAX];
    char name[24];
    std::snprintf(name, sizeof name, "%d", static_cast<int>(pid));
    // Called as the program ends, when other libraries' wrappers may be gone.
    if (EntryPath(path, sizeof path, runtimeFolder, name))
        direct::Unlink(path);
}

int RemoveEnded(const char* runtimeFolder)
{
    char path[PATH_MAX];
    if (!EntryPath(path, sizeof path, runtimeFolder, ""))
        return 0;
    DIR* dir = ::opendir(path);
    if (!dir)
        return 0;
    int removed = 0;
    while (const dirent* entry = ::readdir(dir)) {
        char* end = nullptr;
        const long pid = std::strtol(entry->d_name, &end, 10);
        if (pid <= 0 || *end != '\0' || !EntryPath(path, sizeof path, runtimeFolder, entry->d_name))
            continue;
        if (!os::IsLockFileHeld(path) && ::unlink(path) == 0)
            ++removed;
    }
    ::closedir(dir);
    return removed;
}

}  // namespace protocol::carriers
