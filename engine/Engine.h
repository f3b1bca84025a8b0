#pragma once

#include "engine/AlertLauncher.h"
#include "engine/CarrierIdentity.h"
#include "engine/HeldAnswers.h"
#include "engine/RuleTable.h"
#include "engine/TrafficLog.h"
#include "platform/ForkableSharedMutex.h"
#include "platform/Presence.h"
#include "platform/Registry.h"
#include "platform/SharedBlock.h"

#include <atomic>
#include <cstdint>
#include <ctime>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <sys/types.h>

namespace engine {

// Where one engine copy looks at the system. The library's copy uses the
// defaults; tests replace the clock, the process table and the carrier.
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
    // A rules file that could not be read whole is read again when it has
    // changed, looked at no more often than this.
    int rulesRetryMs = 1000;
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
    static constexpr unsigned kMaxPeerNames = 4;
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
    bool IsBlockAll() const;
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

    // What the hook asks of the engine it loaded (see platform/HookLink.h):
    // the generation of verdicts (below), never 0xFFFFFFFF.
    uint32_t VerdictEpoch();
    void PrepareForCredentialChange();
    void CredentialsChanged();

    // For tests and the interceptor's own checks.
    const CarrierIdentity& Carrier() const { return carrier_; }
    RuleTable RulesSnapshot() const;
    bool HasDatagramPeer(std::string_view key) const;
    int RememberedAnswer(int direction) const;
    // An outgoing answer the user applied to one host (normalised name): 1
    // Allow, 2 Block, 0 none.
    int RememberedHostAnswer(std::string_view hostName) const;
    bool IsLocalAddress(std::string_view remoteAddress) const;
    bool IsControlPanelRunning() const;
    int Reloads() const { return reloads_.load(); }

private:
    void EnsureFirstUse();
    void ReadPaths();
    bool IsPassThrough() const;
    // What the settings and the control panel's presence say now: looked at
    // again when older than the settings' freshness, so that a decision reads
    // them with a few loads.
    enum SettingsBits : uint32_t {
        kSettingsKnown = 1,
        kPanelRunning = 2,
        kPassThrough = 4,
        kBlockAll = 8,
        kRuntimeRefused = 16, // the runtime folder cannot be used: everything not local is denied
    };
    uint32_t CurrentSettings();
    // The reload check, or the pass-through test: the settings, or 0 when
    // everything passes unfiltered.
    uint32_t Filtering();
    void RunReloadCheck();
    void RetryFailedLoad();
    void LoadTableLocked(bool replace);
    bool OpenSharedBlock();
    int DecideConnection(unsigned localPort, int direction, const char* remoteAddress, const char* const* hostNames,
                         unsigned nameCount, int protocol, unsigned remotePort, int* matchedName,
                         const char*& reason);
    // Verdicts remembered beyond one decision (the datagram peers here, the
    // hook's datagram verdicts) belong to a generation: they hold only while
    // it lasts. A new one begins when the rules are loaded again, when
    // block-all or the pass-through state changes, and when an answer for a
    // time that decided such a verdict ends.
    uint32_t CurrentGeneration();
    void NewVerdictGeneration() { verdictGeneration_.fetch_add(1, std::memory_order_acq_rel); }
    // A verdict of the current generation came from an answer that ends at until.
    void NoteVerdictEnd(int64_t until);
    // A peer permitted by a decision that began in generation (a later
    // generation's permission is kept).
    void AddDatagramPeer(const char* remoteAddress, unsigned remotePort, uint32_t generation);
    // Whether key ("address:port") was permitted in generation, or only in an earlier one.
    enum class KnownPeer { kNone, kFormer, kCurrent };
    KnownPeer DatagramPeer(std::string_view key, uint32_t generation) const;
    void ForgetDatagramPeer(std::string_view key);
    void LogConnection(int protocol, int direction, const char* remoteAddress, unsigned localPort, unsigned remotePort,
                       int permission, const char* hostName, const char* reason);
    void LogCarrierEvent(const char* tag);
    // firstLine: the message's first line of data (a host name, an answer).
    void NotifyControlPanel(int alertCode, std::string_view firstLine = {}) const;
    AlertTexts PrepareAlertTexts(unsigned localPort, int direction, const char* remoteName, const char* hostName,
                                 int protocol, unsigned remotePort) const;
    // What the user chose beside the button.
    struct AlertChoice {
        bool ticked = false;      // apply the answer to all of the direction's traffic...
        bool hostOnly = false;    // ...or, for an outgoing connection to a known name, to that host
        bool interrupted = false; // a signal ended the wait: nothing was decided
        bool withdrawn = false;   // the question was taken back: nothing was decided
        bool away = false;        // nobody was at the screen: the away setting answered
        AnswerLength length = AnswerLength::kOnce;
        AnswerScope scope = AnswerScope::kPeerAndPort;
        int timedMinutes = 0;
        int64_t heldUntil = 0;        // the end of the held answer that answered (0: none)
        const char* reason = nullptr; // why the answer is what it is (log_reason)
    };
    // An answer for longer than one connection that is neither for all of
    // a direction nor for one host always: held by this process, and sent to
    // the control panel to store unless it lasts until the program quits.
    void KeepScopedAnswer(const AlertChoice& choice, int answer, int direction, unsigned localPort,
                          unsigned remotePort, const char* remoteAddress, const char* hostName);
    // What the answers held by this process say to a question (kAsk: none);
    // until (when given) gets the deciding answer's end (0: none).
    int HeldAnswer(int direction, unsigned port, const char* remoteAddress, const char* const* names,
                   unsigned nameCount, int64_t* until = nullptr) const;
    int AskUser(unsigned localPort, int direction, const char* remoteAddress, const char* remoteName,
                const char* hostName, int protocol, unsigned remotePort, int withdrawFd, AlertChoice& choice);
    // A decision made while nobody was at the screen, for the panel to list.
    void RecordAwayDecision(int direction, int protocol, const char* remoteAddress, unsigned remotePort,
                            unsigned localPort, const char* hostName, int answer) const;
    void RememberHostAnswer(std::string_view hostName, int remembered);
    std::time_t Now() const;
    // The carrier's process id: a forked child is a carrier of its own.
    pid_t Pid() const;

    EngineOptions options_;
    CarrierIdentity carrier_;
    bool runtimeUsable_ = true; // false: the runtime folder is not safe, everything not local is denied
    std::string rulesPath_;
    bool pathsKnown_ = false;   // the settings naming the rules and the log folder were read
    TrafficLog log_;
    std::string ownAddress_;
    platform::registry::Value rulesFileSetting_;
    platform::registry::Value logFolderSetting_;
    platform::registry::Value securityStatus_;
    platform::registry::Value autostart_;
    platform::registry::Value timeEnd_;
    std::string sharedBlockPath_;
    mutable platform::presence::ControlPanelWatch controlPanel_;
    std::atomic<uint32_t> settings_ {0};
    std::atomic<long long> settingsAt_ {0};

    // The digest of the carrier's file, read (under reloadMutex_) the first
    // time an entry with a content check applies; the running image's, so
    // an upgrade that replaces the file under a running program changes
    // nothing for it.
    static const std::string& CarrierDigest(void* engine);
    std::string carrierDigest_;

    // Guards loading and reloading, and the first use, which loads.
    std::mutex reloadMutex_;
    std::atomic<bool> firstUseDone_ {false};
    std::atomic<bool> startLogged_ {false};
    std::atomic<pid_t> startedBy_ {0};

    // Approve reads the table under a shared lock; a reload builds the new
    // table outside the lock and swaps it in under the exclusive lock, so no
    // decision ever sees a half-filled table and none waits for the parse.
    mutable platform::ForkableSharedMutex tableMutex_;
    RuleTable table_;
    std::atomic<int> reloads_ {0};
    // How the last reading of the rules file went; when it did not parse or
    // could not be read, it is read again once the file changed.
    LoadStatus loadStatus_ = LoadStatus::kMissing;
    FileStamp loadedStamp_;
    std::atomic<bool> loadFailed_ {false};
    std::atomic<long long> retryAt_ {0};

    std::atomic<uint32_t> verdictGeneration_ {0};
    // The earliest end of an answer for a time that decided a remembered
    // verdict of this generation; kNoEnd: none.
    static constexpr int64_t kNoEnd = INT64_MAX;
    std::atomic<int64_t> verdictEnd_ {kNoEnd};

    mutable std::mutex peersMutex_;
    // The datagram peers this process was permitted to send to, each with
    // the generation it was last permitted in: their answers may come in
    // whatever the rules say, while that generation lasts.
    std::map<std::string, uint32_t, std::less<>> datagramPeers_;
    // Answers applied to one host, until the rules that the control panel
    // writes for them are loaded; bounded, as a program may meet many hosts.
    std::map<std::string, int, std::less<>> rememberedHosts_;
    static constexpr size_t kMaxRememberedHosts = 256;
    // Answers until the program quits, kept for the process's life; and
    // answers sent to the control panel, held until the rules it writes for
    // them are loaded (a timed one answers nothing past its end).
    HeldAnswers processAnswers_;
    HeldAnswers sentAnswers_;

    std::atomic<int> rememberedIncoming_ {0};
    std::atomic<int> rememberedOutgoing_ {0};

    std::mutex blockMutex_;
    std::atomic<bool> blockOpen_ {false};
    platform::SharedBlock block_;
    // The last write of the update string this copy has taken into account.
    std::atomic<uint32_t> seenSequence_ {0};

    // Open between PrepareForCredentialChange and CredentialsChanged: the
    // error log, written to when the change cut the program off its rules.
    int errorLogFd_ = -1;
};

}  // namespace engine
