#include "protocol/CarrierRegistry.h"

#include "os/Files.h"
#include "os/Paths.h"
#include "os/hooksafe/LockFiles.h"

#include <cstdlib>
#include <dirent.h>

namespace protocol::carriers {

std::string CarriersFolder() { return os::RuntimePath("hosts"); }

int RegisterCarrier(pid_t pid, const std::string& exeName)
{
    const std::string folder = os::RuntimeDir();
    return folder.empty() ? -1 : Register(folder.c_str(), pid, exeName.c_str());
}

std::vector<CarrierRecord> ListCarriers()
{
    std::vector<CarrierRecord> hosts;
    const std::string folder = CarriersFolder();
    if (folder.empty())
        return hosts;
    DIR* dir = ::opendir(folder.c_str());
    if (!dir)
        return hosts;
    while (const dirent* entry = ::readdir(dir)) {
        char* end = nullptr;
        const long pid = std::strtol(entry->d_name, &end, 10);
        if (pid <= 0 || *end != '\0')
            continue;
        const std::string path = folder + "/" + entry->d_name;
        CarrierRecord record;
        record.pid = static_cast<pid_t>(pid);
        record.alive = os::IsLockFileHeld(path.c_str());
        record.exeName = os::ReadFile(path, 4096, false).value_or(std::string());
        hosts.push_back(std::move(record));
    }
    ::closedir(dir);
    return hosts;
}

void ForgetCarrier(pid_t pid)
{
    const std::string folder = os::RuntimeDir();
    if (!folder.empty())
        Unregister(folder.c_str(), pid);
}

}  // namespace protocol::carriers
