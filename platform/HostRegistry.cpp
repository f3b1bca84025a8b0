#include "platform/HostRegistry.h"

#include "platform/Files.h"
#include "platform/Paths.h"

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
    const std::string path = folder + "/" + std::to_string(pid);
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0)
        return -1;
    struct flock lock {};
    lock.l_type = F_WRLCK;
    lock.l_whence = SEEK_SET;
    if (::fcntl(fd, F_OFD_SETLK, &lock) != 0 || ::write(fd, exeName.data(), exeName.size()) < 0) {
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
        const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0)
            continue;
        struct flock query {};
        query.l_type = F_RDLCK;
        query.l_whence = SEEK_SET;
        HostRecord record;
        record.pid = static_cast<pid_t>(pid);
        record.alive = ::fcntl(fd, F_OFD_GETLK, &query) == 0 && query.l_type != F_UNLCK;
        ::close(fd);
        record.exeName = ReadFile(path, 4096).value_or(std::string());
        hosts.push_back(std::move(record));
    }
    ::closedir(dir);
    return hosts;
}

void ForgetHost(pid_t pid) { ::unlink((HostsFolder() + "/" + std::to_string(pid)).c_str()); }

}  // namespace platform::hosts
