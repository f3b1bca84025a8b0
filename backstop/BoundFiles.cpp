#include "backstop/BoundFiles.h"

#include "os/FileDigest.h"

#include <climits>
#include <cstdlib>
#include <ctime>
#include <fcntl.h>
#include <fstream>
#include <sstream>
#include <sys/stat.h>

namespace backstop {

namespace {

// What statx says of a path (not following a last link), with the mount it is on.
bool Look(const std::string& path, struct statx& facts)
{
    return ::statx(AT_FDCWD, path.c_str(), AT_SYMLINK_NOFOLLOW, STATX_INO | STATX_CTIME | STATX_TYPE | STATX_MNT_ID,
                   &facts)
        == 0
        && (facts.stx_mask & STATX_MNT_ID);
}

long long Nanoseconds(const statx_timestamp& at) { return at.tv_sec * 1000000000LL + at.tv_nsec; }

}  // namespace

unsigned BoundFiles::DeviceOfMount(unsigned long long mountId)
{
    if (!mountsRead_) {
        mountsRead_ = true;
        // "ID PARENT MAJOR:MINOR ...": the device the kernel gives the
        // mount's file system, the one its inodes carry.
        std::ifstream mounts("/proc/self/mountinfo");
        std::string line;
        for (int lines = 0; lines < 100000 && std::getline(mounts, line); ++lines) {
            std::istringstream fields(line);
            unsigned long long id = 0, parent = 0;
            std::string numbers;
            if (!(fields >> id >> parent >> numbers))
                continue;
            const size_t colon = numbers.find(':');
            if (colon == std::string::npos)
                continue;
            const unsigned long major = std::strtoul(numbers.c_str(), nullptr, 10);
            const unsigned long minor = std::strtoul(numbers.c_str() + colon + 1, nullptr, 10);
            devices_[id] = static_cast<unsigned>((major << 20) | (minor & 0xfffff));
        }
    }
    const auto found = devices_.find(mountId);
    return found == devices_.end() ? 0 : found->second;
}

RulesCompiler::FileFacts BoundFiles::LookUp(const std::string& path, bool digest)
{
    RulesCompiler::FileFacts facts;
    const size_t slash = path.rfind('/');
    if (path.empty() || path[0] != '/' || slash == std::string::npos || slash + 1 == path.size())
        return facts;
    // The engine knows a program by its path with every link resolved: a
    // path through a link names no program it meets.
    const std::string folder = slash == 0 ? "/" : path.substr(0, slash);
    char resolved[PATH_MAX];
    if (!::realpath(folder.c_str(), resolved) || folder != resolved)
        return facts;
    struct statx place {};
    if (!Look(folder, place) || !S_ISDIR(place.stx_mode))
        return facts;
    facts.folder = place.stx_ino;
    facts.folderDevice = DeviceOfMount(place.stx_mnt_id);
    facts.folderFound = facts.folderDevice != 0;
    struct statx before {};
    if (!facts.folderFound || !Look(path, before) || !S_ISREG(before.stx_mode))
        return facts; // nothing there yet, or a link: no file of the entry's
    facts.fileFound = true;
    facts.file = before.stx_ino;
    facts.fileDevice = DeviceOfMount(before.stx_mnt_id);
    facts.changed = before.stx_ctime.tv_sec;
    facts.changedNs = before.stx_ctime.tv_nsec;
    if (!digest)
        return facts;
    facts.digest = os::FileDigestText(path);
    // The digest is this file's as it is while nothing changed it meanwhile,
    // and it has not changed just before (a write in the same tick keeps
    // the time).
    struct statx after {};
    timespec now {};
    ::clock_gettime(CLOCK_REALTIME, &now);
    const long long age = now.tv_sec * 1000000000LL + now.tv_nsec - Nanoseconds(before.stx_ctime);
    facts.settled = !facts.digest.empty() && Look(path, after) && after.stx_ino == before.stx_ino
        && Nanoseconds(after.stx_ctime) == Nanoseconds(before.stx_ctime) && age >= kSettleNs;
    return facts;
}

}  // namespace backstop
