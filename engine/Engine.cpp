#include "engine/Engine.h"

#include "engine/EncryptedDnsServices.h"
#include "os/Clock.h"
#include "os/Net.h"
#include "os/Paths.h"
#include "os/Processes.h"
#include "protocol/LogFiles.h"
#include "protocol/Presence.h"
#include "protocol/Registry.h"
#include "rules/HostListCompiler.h"
#include "rules/hooksafe/Names.h"

#include <cerrno>
#include <cstring>
#include <unistd.h>

namespace engine {

namespace {

EngineOptions WithClocks(EngineOptions options)
{
    if (!options.tickCount)
        options.tickCount = os::GetTickCount;
    if (!options.now)
        options.now = [] { return std::time(nullptr); };
    return options;
}

}  // namespace

Engine::Engine(EngineOptions options)
    : options_(WithClocks(std::move(options))),
      log_(std::string()),
      settings_(options_.controlPanelLockPath.empty() ? protocol::presence::ControlPanelLockPath()
                                                      : options_.controlPanelLockPath,
                options_.settingsFreshnessMs, options_.tickCount),
      block_(options_.sharedBlockPath.empty() ? protocol::SharedBlock::DefaultPath() : options_.sharedBlockPath),
      hostLists_(options_.hostListPath.empty() ? rules::HostListFilePath() : options_.hostListPath,
                 options_.hostListCheckMs, options_.tickCount)
{
    // A root program started with its caller's variables must not take its
    // settings (nor the folder it writes its logs in) from the caller's store.
    protocol::registry::ReadOnlyTrustedStore();
    // Another user's (or an open) runtime folder would let others forge what
    // the firewall reads there: it is not used, and the program is refused.
    if (options_.sharedBlockPath.empty() && options_.controlPanelLockPath.empty())
        runtimeUsable_ = !os::RuntimeDir().empty();
    IdentifyCarrier(carrier_, options_.procRoot, Pid(), options_.exePath, options_.start);
    const protocol::HookParent* started = options_.startParent;
    if (started && started->self > 0 && started->self != Pid()) {
        // Loaded in a fork of the program that ran exec: the identity is that
        // program's, whose parent counts while that program still has it.
        const pid_t origin = started->self;
        const std::string& procRoot = options_.procRoot;
        IdentifyParent(carrier_, procRoot, started->parent, [&procRoot, origin] {
            const auto stat = os::processes::ReadStat(procRoot, origin);
            return stat ? stat->parentPid : 0;
        });
    } else {
        IdentifyParent(carrier_, options_.procRoot, started ? started->parent : options_.parentPid(),
                       options_.parentPid);
    }
    settings_.ReadPaths(log_);
    life_.LogStart(log_, Now());
}

Engine::~Engine() = default;

void Engine::Detach() { life_.LogEnd(log_, Now()); }

void Engine::LockForFork()
{
    hostLists_.LockForFork();
    rules_.LockForFork();
    answers_.LockForFork();
    datagramPeers_.LockForFork();
    block_.LockForFork();
    settings_.LockForFork();
    asker_.LockForFork();
    log_.LockForFork();
}

void Engine::UnlockAfterFork(bool inChild)
{
    log_.UnlockAfterFork();
    asker_.UnlockAfterFork();
    settings_.UnlockAfterFork(inChild);
    block_.UnlockAfterFork();
    datagramPeers_.UnlockAfterFork();
    answers_.UnlockAfterFork();
    if (inChild)
        life_.Forked();
    rules_.UnlockAfterFork(inChild);
    hostLists_.UnlockAfterFork(inChild);
}

std::time_t Engine::Now() const { return options_.now(); }

void Engine::EnsureFirstUse()
{
    reloader_.EnsureLoaded([this] {
        CompleteCarrierDescription(carrier_);
        if (options_.lookUpOwnAddress)
            ownAddress_ = os::net::OwnAddress();
    });
    // A forked child is a carrier of its own: its start is logged with its first decision.
    if (!life_.StartLogged())
        life_.LogStart(log_, Now());
}

int Engine::LoadRules()
{
    EnsureFirstUse();
    reloader_.LoadAgain();
    return 0;
}

RuleTable Engine::RulesSnapshot() const { return rules_.Snapshot(); }

bool Engine::IsLocalAddress(std::string_view remoteAddress) const
{
    // "::1" is the IPv6 loopback, as local as 127.0.0.1.
    return remoteAddress == "127.0.0.1" || remoteAddress == "0.0.0.0" || remoteAddress == "::1"
        || remoteAddress == ownAddress_;
}

bool Engine::IsLocalConnection(std::string_view remoteAddress, std::string_view localAddress) const
{
    return IsLocalAddress(remoteAddress) && (localAddress.empty() || localAddress == "::" || IsLocalAddress(localAddress));
}

uint32_t Engine::Filtering()
{
    bool switched = false;
    const uint32_t settings = settings_.Current(switched);
    // Block-all switched, filtering stopped or started: remembered verdicts are taken again.
    if (switched)
        generations_.Begin();
    // Without its runtime folder the engine cannot know whether the panel
    // runs nor hear of rule changes: what the firewall would decide, it
    // refuses, and what the settings let pass (it is off) still passes.
    if (!runtimeUsable_)
        return (settings & SettingsCache::kPassThrough) ? 0 : settings | SettingsCache::kRuntimeRefused;
    if (settings & SettingsCache::kPanelRunning)
        reloader_.CheckUpdate();
    else if (settings & SettingsCache::kPassThrough)
        return 0;
    reloader_.RetryFailedLoad();
    return settings;
}

int Engine::Approve(unsigned localPort, int direction, const char* remoteAddress, int protocol, unsigned remotePort)
{
    return ApproveNamed(localPort, direction, remoteAddress, nullptr, protocol, remotePort);
}

int Engine::ApproveNamed(unsigned localPort, int direction, const char* remoteAddress, const char* remoteName,
                         int protocol, unsigned remotePort)
{
    return ApproveNames(localPort, direction, remoteAddress, &remoteName, remoteName ? 1 : 0, protocol, remotePort,
                        nullptr);
}

int Engine::ApproveNames(unsigned localPort, int direction, const char* remoteAddress, const char* const* remoteNames,
                         unsigned nameCount, int protocol, unsigned remotePort, int* usedName)
{
    return ApproveNamesAt(localPort, direction, remoteAddress, remoteNames, nameCount, protocol, remotePort, usedName,
                          nullptr);
}

int Engine::ApproveNamesAt(unsigned localPort, int direction, const char* remoteAddress, const char* const* remoteNames,
                           unsigned nameCount, int protocol, unsigned remotePort, int* usedName,
                           const char* localAddress)
{
    if (usedName)
        *usedName = -1;
    EnsureFirstUse();
    const uint32_t settings = Filtering();
    if (settings == 0 || IsLocalConnection(remoteAddress ? remoteAddress : "", localAddress ? localAddress : ""))
        return kPermit;
    Connection connection(localPort, direction, remoteAddress, protocol, remotePort);
    PeerNames names;
    names.Take(remoteNames, nameCount, connection.Incoming());
    connection.UseNames(names);
    const Verdict verdict = (settings & (SettingsCache::kBlockAll | SettingsCache::kRuntimeRefused))
        ? Verdict {kDeny, (settings & SettingsCache::kRuntimeRefused) ? protocol::log_reason::kRuntime
                                                                      : protocol::log_reason::kBlockAll}
        : Decide(connection);
    // The name a host entry decided by, else the one learnt last.
    const int used = verdict.matchedName >= 0 ? verdict.matchedName : names.count > 0 ? 0 : -1;
    if (usedName && used >= 0)
        *usedName = names.given[used];
    if (verdict.result != kAsk)
        LogConnection(connection, verdict.result, used >= 0 ? names.normal[used] : nullptr, verdict.reason,
                      verdict.list);
    if (settings & SettingsCache::kRuntimeRefused)
        life_.RuntimeFolderRefused(Now());
    return verdict.result;
}

int Engine::UserApprove(unsigned localPort, int direction, const char* remoteAddress, const char* remoteName,
                        int protocol, unsigned remotePort, int withdrawFd)
{
    const Connection connection(localPort, direction, remoteAddress, protocol, remotePort);
    if (!remoteName)
        remoteName = connection.addressText;
    EnsureFirstUse();
    // Taken before the question: an answer given while the rules changed is of the old generation.
    const uint32_t generation = generations_.Current();
    char name[rules::kMaxHostName + 1];
    const bool named = !connection.Incoming() && remoteName != connection.addressText
        && rules::NormalizeHostName(remoteName, strnlen(remoteName, rules::kMaxHostName + 2), name, sizeof name) != 0;
    Asker::Outcome outcome {kDeny, protocol::log_reason::kService};
    if (!carrier_.isServiceCarrier) {
        outcome = asker_.Ask(connection, remoteName, named ? name : nullptr, withdrawFd);
        if (outcome.interrupted || outcome.withdrawn) {
            // Nothing was decided: the program's call fails as interrupted, or as taken back.
            errno = outcome.interrupted ? EINTR : ECANCELED;
            return kDeny;
        }
        KeepDatagramVerdict(connection, outcome.answer, outcome.until, generation);
    }
    LogConnection(connection, outcome.answer, named ? name : nullptr, outcome.reason);
    errno = 0;
    return outcome.answer;
}

Verdict Engine::Decide(const Connection& connection)
{
    // A listed peer is refused before anything of the program's own decides,
    // unless the program's own entry leaves the lists out.
    if (!rules_.IgnoresLists()) {
        hostLists_.Refresh(false);
        if (Verdict listed {kDeny, protocol::log_reason::kList};
            hostLists_.Refuses(connection, listed.list, listed.matchedName))
            return listed;
    }
    // Taken before the rules are read: a verdict of rules that changed meanwhile is of the old generation.
    const uint32_t generation = connection.Datagram() ? generations_.Current() : 0;
    if (connection.Datagram()) {
        const DatagramPeers::Known known = datagramPeers_.Find(connection, generation);
        if (known == DatagramPeers::Known::kCurrent)
            return {kPermit, protocol::log_reason::kPeer};
        // A peer this program sent to before the rules or the settings
        // changed: its answer comes in while sending to it is still permitted.
        if (known == DatagramPeers::Known::kFormer && connection.Incoming()) {
            Connection sending = connection;
            sending.direction = kOutgoing;
            sending.names = nullptr;
            sending.nameCount = 0;
            if (Decide(sending).result == kPermit)
                return {kPermit, protocol::log_reason::kPeer};
            datagramPeers_.Forget(connection);
        }
    }
    // What the rules leave to a question, the user's answers for a time
    // (their end compared with the clock, under the table's lock) and then
    // this process's answers decide (under their own lock, never both held).
    Verdict verdict;
    bool byEntry = false;
    bool byAnswer = false;
    int64_t answerEnd = 0;
    verdict.result = rules_.Match(connection, &verdict.matchedName, byEntry, byAnswer, answerEnd);
    if (verdict.result == kAsk) {
        verdict.result = answers_.Held(connection.direction, connection.RulePort(), connection.address,
                                       connection.names, connection.nameCount, [this] { return Now(); },
                                       &answerEnd);
        byAnswer = verdict.result != kAsk;
    }
    namespace why = protocol::log_reason;
    verdict.reason = verdict.result == kAsk ? nullptr
        : byAnswer                          ? why::kRemembered
        : byEntry                           ? why::kRule
                                            : why::kDefault;
    KeepDatagramVerdict(connection, verdict.result, byAnswer ? answerEnd : 0, generation);
    return verdict;
}

void Engine::KeepDatagramVerdict(const Connection& connection, int result, int64_t until, uint32_t generation)
{
    if (!connection.Datagram())
        return;
    // Remembered here and by the hook, it lasts no longer than the answer it came from.
    if (until != 0)
        generations_.NoteEnd(until);
    if (result == kPermit && !connection.Incoming())
        datagramPeers_.Add(connection, generation);
}

bool Engine::HasDatagramPeer(std::string_view key) const
{
    return datagramPeers_.Find(key, generations_.Seen())
        == DatagramPeers::Known::kCurrent;
}

void Engine::LogConnection(const Connection& connection, int permission, const char* hostName, const char* reason,
                           const char* list)
{
    if (log_.Folder().empty())
        return;
    const protocol::ConnectionRecord record {&carrier_.recordHead,     connection.protocol,
                                             connection.direction,     connection.addressText,
                                             connection.localPort,     connection.remotePort,
                                             permission,               carrier_.isServiceCarrier,
                                             hostName,                 reason,
                                             list};
    protocol::RecordText body;
    protocol::FormatConnectionBody(record, body);
    if (rules_.ProfileInForce())
        rules_.Reading([&body](const RuleTable& table) {
            if (table.profileForLog.empty())
                return;
            body.Append(protocol::kOpenTag<protocol::record_tag::kProfile>);
            body.Append(table.profileForLog);
            body.Append(protocol::kEndTag<protocol::record_tag::kProfile>);
        });
    if (EncryptedDnsServices::Shipped().Serves(connection, hostName)) {
        body.Append(protocol::kOpenTag<protocol::record_tag::kEncryptedDns>);
        body.Append("1");
        body.Append(protocol::kEndTag<protocol::record_tag::kEncryptedDns>);
    }
    log_.AppendLogRecord(body.View(), Now());
}

int Engine::IsInService() const { return os::processes::IsSystemService(options_.procRoot, Pid()) ? 1 : 0; }

void Engine::WriteTraffic(int counterSelect, unsigned byteCount) { block_.AddTraffic(counterSelect != 0, byteCount); }

void Engine::GetUpdateString(char* buffer) { block_.CopyUpdateString(buffer, options_.tickCount); }

void Engine::PostUpdateDone() { block_.Acknowledge(Pid()); }

uint32_t Engine::VerdictEpoch()
{
    // The first load, any reload due now and a change of the settings are
    // counted before the verdict is taken.
    EnsureFirstUse();
    Filtering();
    // Even: never the epoch of a verdict taken while the engine failed.
    return generations_.Current() << 1;
}

void Engine::PrepareForCredentialChange()
{
    // Everything a decision reads, opened or read now while it still may be:
    // the rules, the settings (their folders stay open), the presence lock,
    // the shared block and today's log file.
    EnsureFirstUse();
    settings_.Prepare();
    block_.Open();
    log_.Prepare(Now());
    life_.PrepareForCredentialChange(Now());
}

void Engine::CredentialsChanged() { life_.CredentialsChanged(settings_.RulesPath(), Now()); }

}  // namespace engine
