#pragma once

#include "engine/AlertLauncher.h"
#include "engine/HostIdentity.h"
#include "engine/RuleTable.h"
#include "engine/TrafficLog.h"
#include "platform/Presence.h"
#include "platform/Registry.h"
#include "platform/SharedBlock.h"

#include <atomic>
#include <ctime>
#include <functional>
#include <mutex>
#include <set>
#include <shared_mutex>
#include <string>
#include <sys/types.h>

namespace engine {

// Where one engine copy looks at the system. The library's copy uses the
// defaults; tests replace the clock, the process table and the host.
struct EngineOptions {
    std::string procRoot = "/proc";
    pid_t pid = 0;                    // 0: the calling process
    std::string exePath;              // empty: the process's own executable
    std::string sharedBlockPath;      // empty: the runtime folder's block
    std::string controlPanelLockPath; // empty: the runtime folder's lock
    std::function<uint32_t()> tickCount;
    std::function<std::time_t()> now;
    bool lookUpOwnAddress = true;
    // Settings and the control panel's presence are looked at again when
    // older than this; 0 looks at every decision.
    int settingsFreshnessMs = 20;
};

// The process-wide state of one loaded engine copy and what its exports do.
// Every method may be called from any thread.
class Engine {
public:
    explicit Engine(EngineOptions options = {});
    ~Engine();
    Engine(const Engine&) = delete;
    Engine& operator=(const Engine&) = delete;

    int Approve(unsigned localPort, int direction, const char* remoteAddress, int protocol, unsigned remotePort);
    int UserApprove(unsigned localPort, int direction, const char* remoteAddress, const char* remoteName, int protocol,
                    unsigned remotePort);
    int LoadRules();
    bool IsBlockAll() const;
    int IsInService() const;
    void WriteTraffic(int counterSelect, unsigned byteCount);
    void GetUpdateString(char* buffer);
    void PostUpdateDone();

    // Process detach: logs the host's end.
    void Detach();

    // Around fork(): every lock of the copy is taken before and released after,
    // in the parent and in the child alike.
    void LockForFork();
    void UnlockAfterFork(bool inChild);

    // For tests and the interceptor's own checks.
    const HostIdentity& Host() const { return host_; }
    RuleTable RulesSnapshot() const;
    bool HasDatagramPeer(std::string_view key) const;
    int RememberedAnswer(int direction) const;
    bool IsLocalAddress(std::string_view remoteAddress) const;
    bool IsControlPanelRunning() const;

private:
    void EnsureFirstUse();
    bool IsPassThrough() const;
    void RunReloadCheck();
    void Reload();
    bool OpenSharedBlock();
    int DecideConnection(unsigned localPort, int direction, const char* remoteAddress, int protocol,
                         unsigned remotePort);
    void AddDatagramPeer(const char* remoteAddress, unsigned remotePort);
    void LogConnection(int protocol, int direction, const char* remoteAddress, unsigned localPort, unsigned remotePort,
                       int permission);
    void NotifyControlPanel(int alertCode) const;
    AlertTexts PrepareAlertTexts(unsigned localPort, int direction, const char* remoteName, int protocol,
                                 unsigned remotePort) const;
    int AskUser(unsigned localPort, int direction, const char* remoteName, int protocol, unsigned remotePort,
                bool& boxTicked);
    std::time_t Now() const;
    // The host's process id: a forked child is a host of its own.
    pid_t Pid() const;

    EngineOptions options_;
    HostIdentity host_;
    std::string rulesPath_;
    TrafficLog log_;
    std::string ownAddress_;
    platform::registry::Value securityStatus_;
    platform::registry::Value autostart_;
    platform::registry::Value timeEnd_;
    std::string sharedBlockPath_;
    mutable platform::presence::ControlPanelWatch controlPanel_;

    std::once_flag firstUse_;

    // Approve reads the table under a shared lock; a reload builds the new
    // table outside the lock and swaps it in under the exclusive lock, so no
    // decision ever sees a half-filled table and none waits for the parse.
    mutable std::shared_mutex tableMutex_;
    RuleTable table_;
    std::mutex reloadMutex_;

    mutable std::mutex peersMutex_;
    std::set<std::string, std::less<>> datagramPeers_;

    std::atomic<int> rememberedIncoming_ {0};
    std::atomic<int> rememberedOutgoing_ {0};

    std::mutex blockMutex_;
    std::atomic<bool> blockOpen_ {false};
    platform::SharedBlock block_;
};

}  // namespace engine
