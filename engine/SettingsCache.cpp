#include "engine/SettingsCache.h"

#include "os/Clock.h"
#include "os/Paths.h"
#include "protocol/SettingNames.h"
#include "text/Strings.h"

namespace engine {

namespace {

using protocol::registry::kRunKey;
using protocol::registry::kSettingsKey;
using protocol::registry::RootKey;
using Status = protocol::registry::Value::Status;

constexpr size_t kSettingBytes = 261; // settings texts are read as at most 260 bytes

}  // namespace

std::optional<std::string> ReadPathSetting(const protocol::registry::Value& setting)
{
    std::string text;
    const Status status = setting.Fetch(text);
    if (status == Status::kUnreadable)
        return std::nullopt;
    return status == Status::kFound ? os::SettingPath(text) : std::string();
}

SettingsCache::SettingsCache(std::string controlPanelLockPath, int freshnessMs, std::function<uint32_t()> tickCount)
    : freshnessMs_(freshnessMs),
      tickCount_(std::move(tickCount)),
      rulesFileSetting_(RootKey::LocalMachine, kSettingsKey, protocol::settings::kRulesFile),
      logFolderSetting_(RootKey::LocalMachine, kSettingsKey, protocol::settings::kLogFilesPath),
      securityStatus_(RootKey::LocalMachine, kSettingsKey, protocol::settings::kSecurityStatus, freshnessMs),
      autostart_(RootKey::LocalMachine, kRunKey, protocol::registry::kAutostartValue, freshnessMs),
      timeEnd_(RootKey::LocalMachine, kSettingsKey, protocol::settings::kTimeEnd, freshnessMs),
      dnsCanary_(RootKey::LocalMachine, kSettingsKey, protocol::settings::kCanaryNoSuchName, freshnessMs),
      controlPanel_(std::move(controlPanelLockPath), freshnessMs)
{
}

uint32_t SettingsCache::Current(bool& switched)
{
    switched = false;
    const long long now = freshnessMs_ > 0 ? os::CoarseMilliseconds() : 0;
    if (freshnessMs_ > 0) {
        const uint32_t known = settings_.load(std::memory_order_acquire);
        if ((known & kKnown) && now - settingsAt_.load(std::memory_order_relaxed) < freshnessMs_)
            return known;
    }
    uint32_t settings = kKnown;
    if (IsControlPanelRunning())
        settings |= kPanelRunning;
    else if (IsPassThrough())
        settings |= kPassThrough;
    if (IsBlockAll())
        settings |= kBlockAll;
    settingsAt_.store(now, std::memory_order_relaxed);
    const uint32_t previous = settings_.exchange(settings, std::memory_order_acq_rel);
    switched = (previous & kKnown) && ((previous ^ settings) & (kBlockAll | kPassThrough));
    return settings;
}

bool SettingsCache::IsBlockAll() const
{
    char text[kSettingBytes];
    return securityStatus_.ReadInto(text, sizeof text) && text::ParseDecimal(text) == 0;
}

bool SettingsCache::IsPassThrough() const
{
    std::string text;
    // Not readable now and never read: the firewall is taken to be meant to run.
    if (autostart_.Fetch(text) == Status::kMissing)
        return true;
    char stamp[kSettingBytes];
    const uint32_t lastEnd = timeEnd_.ReadInto(stamp, sizeof stamp)
        ? static_cast<uint32_t>(text::ParseDecimal(stamp))
        : 0xFFFFFFFFu;
    return lastEnd < tickCount_();
}

bool SettingsCache::AnswersDnsCanary() const
{
    char text[kSettingBytes];
    return !dnsCanary_.ReadInto(text, sizeof text) || text::TrimBlanks(text) != "0";
}

void SettingsCache::ReadPaths(protocol::TrafficLog& log)
{
    if (pathsKnown_)
        return;
    const auto rules = ReadPathSetting(rulesFileSetting_);
    const auto logs = ReadPathSetting(logFolderSetting_);
    if (rules)
        rulesPath_ = *rules;
    if (logs && log.Folder().empty())
        log.SetFolder(*logs);
    pathsKnown_ = rules && logs;
}

void SettingsCache::Prepare()
{
    std::string text;
    securityStatus_.Fetch(text);
    autostart_.Fetch(text);
    timeEnd_.Fetch(text);
    dnsCanary_.Fetch(text);
    controlPanel_.IsRunning();
}

void SettingsCache::LockForFork()
{
    securityStatus_.LockForFork();
    autostart_.LockForFork();
    timeEnd_.LockForFork();
    dnsCanary_.LockForFork();
    controlPanel_.LockForFork();
}

void SettingsCache::UnlockAfterFork(bool inChild)
{
    controlPanel_.UnlockAfterFork(inChild);
    dnsCanary_.UnlockAfterFork();
    timeEnd_.UnlockAfterFork();
    autostart_.UnlockAfterFork();
    securityStatus_.UnlockAfterFork();
}

}  // namespace engine
