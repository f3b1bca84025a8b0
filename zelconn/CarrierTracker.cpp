#include "zelconn/CarrierTracker.h"

#include "os/Files.h"
#include "os/hooksafe/LockFiles.h"
#include "os/hooksafe/Retry.h"
#include "protocol/CarrierRegistry.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <optional>
#include <cstdlib>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

namespace zelconn {

namespace {

constexpr uint32_t kHostEvents = IN_CREATE | IN_MODIFY | IN_CLOSE_WRITE | IN_DELETE | IN_MOVED_TO | IN_MOVED_FROM;
// A registration being made is not locked yet: only these tell of an end.
constexpr uint32_t kEndEvents = IN_CLOSE_WRITE | IN_DELETE | IN_MOVED_FROM;
constexpr uint32_t kFolderEvents = IN_CLOSE_WRITE | IN_MOVED_TO | IN_DELETE | IN_CREATE;

std::optional<pid_t> PidOfName(const char* name)
{
    char* end = nullptr;
    const long pid = std::strtol(name, &end, 10);
    if (pid <= 0 || pid > INT_MAX || *end != '\0')
        return std::nullopt;
    return static_cast<pid_t>(pid);
}

}  // namespace

CarrierTracker::CarrierTracker() : folder_(protocol::carriers::CarriersFolder())
{
    if (folder_.empty())
        return;
    fd_ = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (fd_ >= 0 && !WatchCarriers()) {
        ::close(fd_);
        fd_ = -1;
    }
}

bool CarrierTracker::WatchCarriers()
{
    // Watched before anything is read, so that no registration goes unseen.
    ::mkdir(folder_.c_str(), 0700);
    hostsWatch_ = ::inotify_add_watch(fd_, folder_.c_str(), kHostEvents | IN_DELETE_SELF | IN_MOVE_SELF);
    return hostsWatch_ >= 0;
}

CarrierTracker::~CarrierTracker()
{
    if (fd_ >= 0)
        ::close(fd_);
}

void CarrierTracker::WatchFolder(const std::string& folder)
{
    if (fd_ < 0 || folder.empty())
        return;
    for (const auto& [watch, watched] : watchedFolders_)
        if (watched == folder)
            return;
    const int watch = ::inotify_add_watch(fd_, folder.c_str(), kFolderEvents);
    if (watch >= 0 && watch != hostsWatch_)
        watchedFolders_[watch] = folder;
}

bool CarrierTracker::TakeWatchedChange()
{
    const bool changed = watchedChanged_;
    watchedChanged_ = false;
    return changed;
}

bool CarrierTracker::Refresh(std::chrono::steady_clock::time_point now)
{
    const size_t before = list_.size();
    bool changed = false;
    bool readAll = fd_ < 0 || now >= nextFullReading_;
    if (fd_ >= 0) {
        alignas(inotify_event) char buffer[16384];
        for (;;) {
            const ssize_t n = os::RetryOnInterrupt([&] { return ::read(fd_, buffer, sizeof buffer); });
            if (n <= 0)
                break;
            for (ssize_t at = 0; at < n;) {
                const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
                at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
                if (event->mask & IN_Q_OVERFLOW) {
                    readAll = true;
                } else if (event->wd == hostsWatch_) {
                    if (event->mask & (IN_DELETE_SELF | IN_MOVE_SELF | IN_IGNORED)) {
                        // The folder went (or moved away): watch the one hosts register in now.
                        ::inotify_rm_watch(fd_, hostsWatch_);
                        WatchCarriers();
                        readAll = true;
                    }
                    else if (const auto pid = event->len ? PidOfName(event->name) : std::nullopt) {
                        Look(*pid, event->mask & kEndEvents);
                        changed = true;
                    }
                } else if (event->mask & IN_IGNORED) {
                    watchedFolders_.erase(event->wd); // the folder went: found again by the caller
                } else {
                    watchedChanged_ = true;
                }
            }
        }
    }
    if (readAll) {
        ReadAll();
        nextFullReading_ = now + kFullReading;
        changed = true;
    }
    if (changed)
        Rebuild();
    return changed || list_.size() != before;
}

void CarrierTracker::Look(pid_t pid, bool mayHaveEnded)
{
    const std::string path = folder_ + "/" + std::to_string(pid);
    const auto known = hosts_.find(pid);
    const bool alive = os::IsLockFileHeld(path.c_str());
    if (!alive) {
        if (!mayHaveEnded)
            return; // made but not locked yet: its name is written next
        // Ended (or a registration given up): reported once if it was known.
        if (known != hosts_.end()) {
            hosts_.erase(known);
            ended_.push_back(pid);
        } else if (::access(path.c_str(), F_OK) == 0) {
            ended_.push_back(pid); // an end never seen alive: the file is still forgotten
        }
        return;
    }
    const std::string name = os::ReadFile(path, 4096, false).value_or(std::string());
    hosts_[pid] = {pid, name, true};
}

void CarrierTracker::ReadAll()
{
    std::map<pid_t, UpdateRelay::Carrier> now;
    for (const auto& record : protocol::carriers::ListCarriers()) {
        if (record.alive)
            now[record.pid] = {record.pid, record.exeName, true};
        else
            ended_.push_back(record.pid);
    }
    for (const auto& [pid, host] : hosts_)
        if (now.find(pid) == now.end())
            ended_.push_back(pid);
    hosts_ = std::move(now);
}

void CarrierTracker::Rebuild()
{
    list_.clear();
    list_.reserve(hosts_.size());
    for (const auto& [pid, host] : hosts_)
        list_.push_back(host);
}

std::vector<pid_t> CarrierTracker::TakeEnded()
{
    std::vector<pid_t> ended;
    ended.swap(ended_);
    std::sort(ended.begin(), ended.end());
    ended.erase(std::unique(ended.begin(), ended.end()), ended.end());
    return ended;
}

}  // namespace zelconn
