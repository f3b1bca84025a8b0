#pragma once

#include "engine/AnswerMemory.h"
#include "engine/Asker.h"
#include "engine/CarrierIdentity.h"
#include "engine/CarrierLife.h"
#include "engine/Connection.h"
#include "engine/DatagramPeers.h"
#include "engine/HostListGate.h"
#include "engine/RuleTable.h"
#include "engine/RulesHolder.h"
#include "engine/RulesReloader.h"
#include "engine/SettingsCache.h"
#include "engine/SharedBlockLink.h"
#include "engine/VerdictGenerations.h"
#include "os/ForkableSharedMutex.h"
#include "protocol/hooksafe/HookLink.h"
#include "protocol/TrafficLog.h"

#include <atomic>
#include <cstdint>
#include <ctime>
#include <functional>
#include <mutex>
#include <string>
#include <sys/types.h>
#include <unistd.h>

namespace engine {

// Where one engine copy looks at the system. The library's copy uses the
// defaults; tests replace the clock, the process table and the carrier.
struct EngineOptions {
    std::string procRoot = "/proc";
    pid_t pid = 0;                    // 0: the calling process
    std::string exePath;              // empty: the process's own executable
    pid_t (*parentPid)() = &::getppid; // the carrier's parent now
    // The pids the hook saw at the program's start; null: read at the engine's start.
    const protocol::HookParent* startParent = nullptr;
    // The program's arguments and folder as the hook saw them at its start;
    // null: read from the process table when the engine starts.
    const protocol::HookStart* start = nullptr;
    std::string sharedBlockPath;      // empty: the runtime folder's block
    std::string controlPanelLockPath; // empty: the runtime folder's lock
    std::function<uint32_t()> tickCount;
    std::function<std::time_t()> now;
    bool lookUpOwnAddress = true;
    // Settings and the control panel's presence are looked at again when
    // older than this; 0 looks at every decision.
    int settingsFreshnessMs = 20;
    // A rules file that could not be read whole is read again when it has
    // changed, looked at no more often than this.
    int rulesRetryMs = 1000;
    // The compiled host lists (empty: the user's); a replaced file is taken
    // at the first decision after this long.
    std::string hostListPath;
    int hostListCheckMs = 500;
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
    // The same with the name the program looked the peer up as (null or
    // empty: not known), for rules by host name and the log.
    int ApproveNamed(unsigned localPort, int direction, const char* remoteAddress, const char* remoteName,
                     int protocol, unsigned remotePort);
    // The same with every name the program knows the peer by (the most
    // recently learnt first; at most kMaxPeerNames count). usedName gets the
    // index of the name the decision went by (the one a host entry matched,
    // else the first), -1 for none: the name to ask the user about.
    int ApproveNames(unsigned localPort, int direction, const char* remoteAddress, const char* const* remoteNames,
                     unsigned nameCount, int protocol, unsigned remotePort, int* usedName);
    // The same with the socket's own address (null or empty: not known, or
    // not bound to one). A connection between two of this computer's
    // addresses passes undecided only when both ends are local ones: one
    // from 127.0.0.1 to 127.0.0.2 is decided on both sides, as the side
    // that connected to 127.0.0.2 is.
    int ApproveNamesAt(unsigned localPort, int direction, const char* remoteAddress, const char* const* remoteNames,
                       unsigned nameCount, int protocol, unsigned remotePort, int* usedName, const char* localAddress);
    static constexpr unsigned kMaxPeerNames = PeerNames::kMost;
    // Asks the user. withdrawFd (-1: none) readable takes the question
    // back: 0 with errno ECANCELED, nothing decided or logged.
    int UserApprove(unsigned localPort, int direction, const char* remoteAddress, const char* remoteName, int protocol,
                    unsigned remotePort, int withdrawFd = -1);
    int UserApproveWithdrawable(unsigned localPort, int direction, const char* remoteAddress, const char* remoteName,
                                int protocol, unsigned remotePort, int withdrawFd)
    {
        return UserApprove(localPort, direction, remoteAddress, remoteName, protocol, remotePort, withdrawFd);
    }
    int LoadRules();
    bool IsBlockAll() const { return settings_.IsBlockAll(); }
    // 1 when the program's lookups of the encrypted-DNS canary name go to its
    // resolver, 0 when the hook answers them "no such name".
    int PassesDnsCanary() const { return settings_.AnswersDnsCanary() ? 0 : 1; }
    int IsInService() const;
    void WriteTraffic(int counterSelect, unsigned byteCount);
    void GetUpdateString(char* buffer);
    void PostUpdateDone();

    // Process detach: logs the carrier's end, when this process logged its start.
    void Detach();

    // Around fork(): the copy's locks are taken before and released after,
    // in the parent and in the child alike. The child is a carrier of its own:
    // it logs its start at its first decision.
    void LockForFork();
    void UnlockAfterFork(bool inChild);

    // What the hook asks of the engine it loaded (see protocol/hooksafe/HookLink.h):
    // the generation of verdicts (below), never 0xFFFFFFFF.
    uint32_t VerdictEpoch();
    void PrepareForCredentialChange();
    void CredentialsChanged();

    // For tests and the interceptor's own checks.
    const CarrierIdentity& Carrier() const { return carrier_; }
    RuleTable RulesSnapshot() const;
    // key: "address:port".
    bool HasDatagramPeer(std::string_view key) const;
    int RememberedAnswer(int direction) const { return answers_.ForDirection(direction); }
    // An outgoing answer the user applied to one host (normalised name): 1
    // Allow, 2 Block, 0 none.
    int RememberedHostAnswer(std::string_view hostName) const { return answers_.ForHost(hostName); }
    // By the text as given: a mapped loopback ("::ffff:127.0.0.1") is not
    // local, the rules decide it.
    bool IsLocalAddress(std::string_view remoteAddress) const;
    // Both ends of a connection local; an unknown or unbound own end (empty,
    // 0.0.0.0, ::) is where the kernel takes a local peer to: local too.
    bool IsLocalConnection(std::string_view remoteAddress, std::string_view localAddress) const;
    bool IsControlPanelRunning() const { return settings_.IsControlPanelRunning(); }
    int Reloads() const { return rules_.Loads(); }

private:
    void EnsureFirstUse();
    // The reload check, or the pass-through test: the settings
    // (SettingsCache::Bits), or 0 when everything passes unfiltered.
    uint32_t Filtering();
    // What the rules, then the answers held, say of a connection not local,
    // with filtering on and neither block-all nor the runtime refusal in force.
    Verdict Decide(const Connection& connection);
    // A datagram verdict's peer and end (until; 0: none), of the generation taken before it.
    void KeepDatagramVerdict(const Connection& connection, int result, int64_t until, uint32_t generation);
    // The record writes the address, ports and protocol as given.
    void LogConnection(const Connection& connection, int permission, const char* hostName, const char* reason,
                       const char* list = nullptr);
    std::time_t Now() const;
    // The carrier's process id: a forked child is a carrier of its own.
    pid_t Pid() const { return life_.Pid(); }

    EngineOptions options_;
    CarrierIdentity carrier_;
    CarrierLife life_ {carrier_, options_.pid};
    bool runtimeUsable_ = true; // false: the runtime folder is not safe, everything not local is denied
    protocol::TrafficLog log_;
    std::string ownAddress_;
    SettingsCache settings_;
    CarrierDigest digest_ {life_, carrier_, options_.procRoot, options_.exePath};
    VerdictGenerations generations_ {options_.now};
    RulesHolder rules_ {generations_.Counter(), options_.rulesRetryMs, options_.now};
    DatagramPeers datagramPeers_;
    AnswerMemory answers_;
    SharedBlockLink block_;
    RulesReloader reloader_ {{rules_, settings_, block_, answers_, generations_, log_, carrier_, life_, digest_,
                              options_.tickCount}};
    Asker asker_ {carrier_, life_, answers_, options_.now};
    HostListGate hostLists_;
};

}  // namespace engine
