#include "zelconn/ProfileSwitcher.h"

#include "os/hooksafe/Descriptors.h"
#include "os/NetworkIdentity.h"
#include "os/NetworkManagerId.h"
#include "os/Paths.h"
#include "protocol/LogFiles.h"
#include "protocol/Profiles.h"
#include "protocol/Registry.h"
#include "protocol/SettingNames.h"

#include <algorithm>
#include <cstdint>
#include <ctime>
#include <fcntl.h>
#include <optional>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

namespace zelconn {

namespace {

namespace profiles = protocol::profiles;
using Clock = std::chrono::steady_clock;

void Signal(int fd)
{
    const uint64_t one = 1;
    [[maybe_unused]] const ssize_t written = ::write(fd, &one, sizeof one);
}

bool Take(int fd)
{
    uint64_t count = 0;
    return ::read(fd, &count, sizeof count) == sizeof count && count > 0;
}

void Tell(const std::string& description)
{
    namespace registry = protocol::registry;
    const std::string folder = os::SettingPath(
        registry::GetString(registry::RootKey::LocalMachine, registry::kSettingsKey, protocol::settings::kErrLogs));
    if (folder.empty())
        return;
    const std::time_t now = std::time(nullptr);
    const int fd = os::OpenRegularFile(protocol::ErrorLogFileName(folder, now).c_str(), O_WRONLY | O_CREAT | O_APPEND,
                                       0644, false);
    if (fd < 0)
        return;
    const std::string line = protocol::ErrorLogLine("zelconn : Profile", description, now);
    [[maybe_unused]] const ssize_t written = ::write(fd, line.data(), line.size());
    ::close(fd);
}

}  // namespace

ProfileSwitcher::ProfileSwitcher()
{
    wake_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    switched_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (wake_ >= 0 && switched_ >= 0)
        thread_ = std::thread([this] { Run(); });
}

ProfileSwitcher::~ProfileSwitcher()
{
    Stop();
    for (const int fd : {wake_, switched_})
        if (fd >= 0)
            ::close(fd);
}

void ProfileSwitcher::Stop()
{
    stop_ = true;
    if (wake_ >= 0)
        Signal(wake_);
    if (thread_.joinable())
        thread_.join();
}

bool ProfileSwitcher::TakeSwitch() { return switched_ >= 0 && Take(switched_); }

bool ProfileSwitcher::Evaluate(const std::string& network)
{
    const std::vector<profiles::Profile> all = profiles::All();
    const std::string chosen = profiles::ChosenName();
    std::optional<profiles::Profile> byHand;
    if (!chosen.empty())
        byHand = profiles::Find(chosen);
    const profiles::Profile* due = byHand ? &*byHand : chosen.empty() ? profiles::ForNetwork(all, network) : nullptr;
    const std::string key = due ? due->name + "\n" + profiles::Serialize(*due) : std::string();
    if (!first_ && key == inForce_)
        return false;
    const std::string before = profiles::ActiveName();
    if (!profiles::Apply(due)) {
        Tell("the profile's settings could not be written; they are tried again");
        return false;
    }
    const bool wasFirst = first_;
    first_ = false;
    inForce_ = key;
    // At the start nothing changed for the engines when the same profile is in force.
    if (wasFirst && before == (due ? due->name : std::string()))
        return false;
    const std::string where = network.empty() ? "no network" : "network " + network;
    Tell(due ? "profile \"" + due->name + "\" is in force (" + (byHand ? "chosen by hand" : where) + ")"
             : "no profile is in force (" + where + ")");
    return true;
}

void ProfileSwitcher::Run()
{
    os::RouteWatch routes;
    os::NetworkManagerWatch manager;
    std::string network = os::CurrentNetworkId();
    routes.FollowNeighbour(network);
    if (Evaluate(network))
        Signal(switched_);
    // While notices are settling: when to look at the network.
    bool settling = false;
    Clock::time_point settleAt, latest;
    auto lookAt = Clock::now() + kLookEvery;
    while (!stop_) {
        const auto now = Clock::now();
        auto until = lookAt;
        if (settling)
            until = std::min({until, settleAt, latest});
        const auto wait = std::chrono::duration_cast<std::chrono::milliseconds>(until - now).count();
        pollfd descriptors[3] = {{wake_, POLLIN, 0}, {routes.Fd(), POLLIN, 0}, {manager.Fd(), POLLIN, 0}};
        ::poll(descriptors, 3, static_cast<int>(std::clamp<long long>(wait, 0, kLookEvery.count())));
        if (stop_)
            break;
        bool changed = false;
        if (descriptors[1].revents)
            changed |= routes.Drain();
        if (descriptors[2].revents)
            changed |= manager.Drain();
        const auto after = Clock::now();
        if (changed) {
            // Quiet for kSettle, but never later than kMostDelay after the first notice.
            settleAt = after + kSettle;
            if (!settling)
                latest = after + kMostDelay;
            settling = true;
        }
        bool look = false;
        if (settling && (after >= settleAt || after >= latest)) {
            network = os::CurrentNetworkId();
            routes.FollowNeighbour(network);
            settling = false;
            look = true;
        }
        if (after >= lookAt) {
            lookAt = after + kLookEvery;
            look = true;
        }
        if (look && Evaluate(network))
            Signal(switched_);
    }
}

}  // namespace zelconn
