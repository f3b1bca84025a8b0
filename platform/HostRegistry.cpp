#include "platform/HostRegistry.h"

#include "platform/Files.h"
#include "platform/Paths.h"
#include "platform/Presence.h"

#include <cerrno>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

namespace platform::hosts {

std::string HostsFolder() { return RuntimeDir() + "/hosts"; }

int RegisterHost(pid_t pid, const std::string& exeName)
{
    const std::string folder = HostsFolder();
    if (!MakeDirectories(folder, 0700))
        return -1;
    const int fd = presence::HoldLockFile(folder + "/" + std::to_string(pid));
    if (fd < 0)
        return -1;
    // A process id used again after a crash finds the old name: replace it.
    if (::ftruncate(fd, 0) != 0 || ::pwrite(fd, exeName.data(), exeName.size(), 0) < 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

std::vector<HostRecord> ListHosts()
{
    std::vector<HostRecord> hosts;
    const std::string folder = HostsFolder();
    DIR* dir = ::opendir(folder.c_str());
    if (!dir)
        return hosts;
    while (const dirent* entry = ::readdir(dir)) {
        char* end = nullptr;
        const long pid = std::strtol(entry->d_name, &end, 10);
        if (pid <= 0 || *end != '\0')
            continue;
        const std::string path = folder + "/" + entry->d_name;
        HostRecord record;
        record.pid = static_cast<pid_t>(pid);
        record.alive = presence::IsLockFileHeld(path);
        record.exeName = ReadFile(path, 4096).value_or(std::string());
        hosts.push_back(std::move(record));
    }
    ::closedir(dir);
    return hosts;
}

void ForgetHost(pid_t pid) { ::unlink((HostsFolder() + "/" + std::to_string(pid)).c_str()); }

}  // namespace platform::hosts
