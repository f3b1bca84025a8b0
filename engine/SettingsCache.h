#pragma once

#include "protocol/Presence.h"
#include "protocol/Registry.h"
#include "protocol/TrafficLog.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>

namespace engine {

// What the settings and the control panel's presence say now, looked at
// again when older than the freshness, so that a decision reads them with a
// few loads; and the settings naming the rules file and the log folder.
class SettingsCache {
public:
    enum Bits : uint32_t {
        kKnown = 1,
        kPanelRunning = 2,
        kPassThrough = 4,
        kBlockAll = 8,
        kRuntimeRefused = 16, // the runtime folder cannot be used: everything not local is denied
    };

    // freshnessMs 0 looks at every decision; tickCount is the clock the
    // panel's end stamp is compared with.
    SettingsCache(std::string controlPanelLockPath, int freshnessMs, std::function<uint32_t()> tickCount);
    SettingsCache(const SettingsCache&) = delete;
    SettingsCache& operator=(const SettingsCache&) = delete;

    // The bits above as of now; switched tells whether block-all or the
    // pass-through state changed since the last look.
    uint32_t Current(bool& switched);
    bool IsBlockAll() const;
    bool IsPassThrough() const;
    bool IsControlPanelRunning() const { return controlPanel_.IsRunning(); }
    // Whether the program's lookups of the encrypted-DNS canary name are
    // answered "no such name" (settings::kCanaryNoSuchName).
    bool AnswersDnsCanary() const;

    // The paths the settings name, read until both could be read (no
    // descriptor left: read again later). Called under the engine's reload
    // lock, which guards RulesPath and PathsKnown; the log gets its folder
    // unless it has one.
    void ReadPaths(protocol::TrafficLog& log);
    const std::string& RulesPath() const { return rulesPath_; }
    bool PathsKnown() const { return pathsKnown_; }

    // Opens or reads now everything Current reads, while the process still may.
    void Prepare();

    void LockForFork();
    void UnlockAfterFork(bool inChild);

private:
    int freshnessMs_;
    std::function<uint32_t()> tickCount_;
    protocol::registry::Value rulesFileSetting_;
    protocol::registry::Value logFolderSetting_;
    protocol::registry::Value securityStatus_;
    protocol::registry::Value autostart_;
    protocol::registry::Value timeEnd_;
    protocol::registry::Value dnsCanary_;
    mutable protocol::presence::ControlPanelWatch controlPanel_;
    std::atomic<uint32_t> settings_ {0};
    std::atomic<long long> settingsAt_ {0};
    std::string rulesPath_;
    bool pathsKnown_ = false;
};

// A setting naming a file or folder; nullopt when it cannot be read now.
std::optional<std::string> ReadPathSetting(const protocol::registry::Value& setting);

}  // namespace engine
