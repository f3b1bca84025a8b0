#include "os/SocketOwners.h"

#include "os/Processes.h"

#include <algorithm>
#include <cstdlib>
#include <dirent.h>
#include <iterator>
#include <fcntl.h>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>

namespace os::sockdiag {

SocketOwners::SocketOwners(uid_t owner, std::string procRoot, Limits limits)
    : owner_(owner), procRoot_(std::move(procRoot)), limits_(limits)
{
}

pid_t SocketOwners::Owner(uint64_t inode) const
{
    const auto found = entries_.find(inode);
    return found == entries_.end() ? 0 : found->second.pid;
}

void SocketOwners::Refresh(std::span<const uint64_t> inodes, std::span<const pid_t> candidates)
{
    ++refreshes_;
    size_t wanted = 0;
    for (const uint64_t inode : inodes) {
        auto [entry, added] = entries_.try_emplace(inode);
        if (added)
            entry->second.round = rounds_;
        entry->second.refresh = refreshes_;
        wanted += Wanted(entry->second);
    }
    std::erase_if(entries_, [this](const auto& entry) { return entry.second.refresh != refreshes_; });
    if (wanted == 0)
        return;

    std::vector<pid_t> pids = processes::ProcessIds(procRoot_, owner_);
    ++counts_.listings;
    const auto alive = [&pids](pid_t pid) { return std::binary_search(pids.begin(), pids.end(), pid); };
    // A socket whose owner ended may live on in a child that inherited it.
    for (auto& [inode, entry] : entries_) {
        if (entry.pid != 0 && !alive(entry.pid)) {
            entry = {0, entry.refresh, rounds_};
            ++wanted;
        }
    }

    const auto deadline = std::chrono::steady_clock::now() + limits_.maxTime;
    descriptorsLeft_ = limits_.maxDescriptors;
    size_t looks = 0;
    std::vector<pid_t> visited;
    const auto visit = [&](pid_t pid) {
        if (wanted == 0 || looks >= limits_.maxProcesses || descriptorsLeft_ == 0
            || std::chrono::steady_clock::now() >= deadline)
            return false;
        if (std::find(visited.begin(), visited.end(), pid) == visited.end()) {
            visited.push_back(pid);
            ++looks;
            wanted -= std::min(wanted, Look(pid, deadline));
        }
        return true;
    };

    bool more = true;
    for (const pid_t pid : candidates)
        if (alive(pid) && !(more = visit(pid)))
            break;
    // Processes started since the last listing (at the first, none is new);
    // those not reached come in their turn.
    if (more && counts_.listings > 1) {
        std::vector<pid_t> started;
        std::set_difference(pids.begin(), pids.end(), known_.begin(), known_.end(), std::back_inserter(started));
        for (const pid_t pid : started)
            if (!(more = visit(pid)))
                break;
    }
    // The rest in turn, from where the last refresh stopped.
    if (more && !pids.empty()) {
        size_t at = std::upper_bound(pids.begin(), pids.end(), cursor_) - pids.begin();
        for (size_t step = 0; step < pids.size(); ++step, ++at) {
            if (at == pids.size()) {
                at = 0;
                ++rounds_;
            }
            if (!visit(pids[at]))
                break;
            cursor_ = pids[at];
        }
    }
    known_ = std::move(pids);
}

size_t SocketOwners::Look(pid_t pid, std::chrono::steady_clock::time_point deadline)
{
    const std::string path = procRoot_ + "/" + std::to_string(pid) + "/fd";
    const int folder = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC | O_NOFOLLOW);
    if (folder < 0)
        return 0;
    ++counts_.looks;
    struct stat info;
    // The process may have changed its user (a set-uid program) since the listing.
    DIR* dir = ::fstat(folder, &info) == 0 && info.st_uid == owner_ ? ::fdopendir(folder) : nullptr;
    if (!dir) {
        ::close(folder);
        return 0;
    }
    // A table too long for one refresh is read on from where the last one
    // stopped (the folder lists descriptors in ascending order).
    const long skipThrough = resume_.pid == pid ? resume_.descriptor : -1;
    resume_ = {};
    size_t found = 0;
    unsigned count = 0;
    while (const dirent* item = ::readdir(dir)) {
        const long descriptor = std::atol(item->d_name);
        if (item->d_name[0] == '.' || descriptor <= skipThrough)
            continue;
        if (descriptorsLeft_ == 0 || (++count % 256 == 0 && std::chrono::steady_clock::now() >= deadline)) {
            resume_ = {pid, descriptor - 1};
            break;
        }
        --descriptorsLeft_;
        char target[64];
        const ssize_t length = ::readlinkat(folder, item->d_name, target, sizeof target);
        constexpr std::string_view prefix = "socket:[";
        const std::string_view link(target, length > 0 ? static_cast<size_t>(length) : 0);
        if (!link.starts_with(prefix) || !link.ends_with(']'))
            continue;
        uint64_t inode = 0;
        for (const char digit : link.substr(prefix.size(), link.size() - prefix.size() - 1))
            inode = inode * 10 + static_cast<uint64_t>(digit - '0');
        const auto entry = entries_.find(inode);
        if (entry == entries_.end() || entry->second.pid != 0)
            continue;
        found += Wanted(entry->second);
        entry->second.pid = pid;
    }
    ::closedir(dir);
    return found;
}

}  // namespace os::sockdiag
