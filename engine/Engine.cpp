#include "engine/Engine.h"

#include "engine/AlertLauncher.h"
#include "platform/FileDigest.h"
#include "platform/AwayDecisions.h"
#include "platform/Clock.h"
#include "platform/Constants.h"
#include "platform/Descriptors.h"
#include "platform/LogFiles.h"
#include "platform/Net.h"
#include "platform/Paths.h"
#include "platform/Presence.h"
#include "platform/Processes.h"
#include "platform/HostName.h"
#include "platform/Settings.h"
#include "platform/Text.h"
#include "platform/Windows.h"
#include "rules/TimedAnswer.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <malloc.h>
#include <pwd.h>
#include <unistd.h>

namespace engine {

namespace {

using platform::registry::kRunKey;
using platform::registry::kSettingsKey;
using platform::registry::RootKey;
using Status = platform::registry::Value::Status;

constexpr size_t kSettingBytes = 261; // settings texts are read as at most 260 bytes

// "%s:%d" of an address and port into buffer; false when it does not fit.
bool FormatPeerKey(char* buffer, size_t size, const char* address, unsigned port)
{
    const int n = std::snprintf(buffer, size, "%s:%d", address, static_cast<int>(port));
    return n >= 0 && static_cast<size_t>(n) < size;
}

// The parsed document is several times the size of the table built from it
// and is freed at once; hand those pages back so that the carrier does not
// carry them for the rest of its life.
void ReturnParserMemory() { ::malloc_trim(0); }

// A setting naming a file or folder; nullopt when it cannot be read now.
std::optional<std::string> ReadPathSetting(const platform::registry::Value& setting)
{
    std::string text;
    const Status status = setting.Fetch(text);
    if (status == Status::kUnreadable)
        return std::nullopt;
    return status == Status::kFound ? platform::SettingPath(text) : std::string();
}

}  // namespace

Engine::Engine(EngineOptions options)
    : options_(std::move(options)),
      log_(std::string()),
      rulesFileSetting_(RootKey::LocalMachine, kSettingsKey, platform::settings::kRulesFile),
      logFolderSetting_(RootKey::LocalMachine, kSettingsKey, platform::settings::kLogFilesPath),
      securityStatus_(RootKey::LocalMachine, kSettingsKey, platform::settings::kSecurityStatus, options_.settingsFreshnessMs),
      autostart_(RootKey::LocalMachine, kRunKey, platform::registry::kAutostartValue, options_.settingsFreshnessMs),
      timeEnd_(RootKey::LocalMachine, kSettingsKey, platform::settings::kTimeEnd, options_.settingsFreshnessMs),
      sharedBlockPath_(options_.sharedBlockPath.empty() ? platform::SharedBlock::DefaultPath()
                                                        : options_.sharedBlockPath),
      controlPanel_(options_.controlPanelLockPath.empty() ? platform::presence::ControlPanelLockPath()
                                                          : options_.controlPanelLockPath,
                    options_.settingsFreshnessMs)
{
    if (!options_.tickCount)
        options_.tickCount = platform::GetTickCount;
    // A root program started with its caller's variables must not take its
    // settings (nor the folder it writes its logs in) from the caller's store.
    platform::registry::ReadOnlyTrustedStore();
    // Another user's (or an open) runtime folder would let others forge what
    // the firewall reads there: it is not used, and the program is refused.
    if (options_.sharedBlockPath.empty() && options_.controlPanelLockPath.empty())
        runtimeUsable_ = !platform::RuntimeDir().empty();
    const std::string exePath = options_.exePath.empty()
        ? platform::processes::ExecutablePath(options_.procRoot, Pid())
        : options_.exePath;
    carrier_.exePath = CleanCarrierPath(exePath);
    carrier_.exeName = CarrierExeName(carrier_.exePath);
    carrier_.exePathForLog = platform::EscapeLogText(carrier_.exePath);
    carrier_.isServiceCarrier = platform::processes::IsSystemService(options_.procRoot, Pid());
    ReadPaths();
    startLogged_ = true;
    LogCarrierEvent(platform::kApplicationStartTag);
}

Engine::~Engine() = default;

const std::string& Engine::CarrierDigest(void* context)
{
    // A file that could not be read (no descriptor left) is read again the
    // next time; until then the entry asks.
    auto* engine = static_cast<Engine*>(context);
    if (engine->carrierDigest_.empty()) {
        engine->carrierDigest_ = platform::FileDigestText(
            engine->options_.exePath.empty()
                ? engine->options_.procRoot + "/" + std::to_string(engine->Pid()) + "/exe"
                : engine->options_.exePath);
    }
    return engine->carrierDigest_;
}

void Engine::ReadPaths()
{
    if (pathsKnown_)
        return;
    const auto rules = ReadPathSetting(rulesFileSetting_);
    const auto logs = ReadPathSetting(logFolderSetting_);
    if (rules)
        rulesPath_ = *rules;
    if (logs && log_.Folder().empty())
        log_.SetFolder(*logs);
    // Settings that cannot be read now (no descriptor left) are read again later.
    pathsKnown_ = rules && logs;
}

void Engine::LogCarrierEvent(const char* tag)
{
    if (log_.Folder().empty())
        return;
    log_.AppendLogRecord(platform::CarrierEventBody(tag, carrier_.exePathForLog), Now());
    if (std::strcmp(tag, platform::kApplicationStartTag) == 0)
        startedBy_ = Pid();
}

void Engine::Detach()
{
    // A forked child that never decided anything logged no start: no end either.
    if (startLogged_.load() && startedBy_.load() == Pid())
        LogCarrierEvent(platform::kApplicationEndTag);
}

pid_t Engine::Pid() const { return options_.pid ? options_.pid : ::getpid(); }

void Engine::LockForFork()
{
    reloadMutex_.lock();
    peersMutex_.lock();
    blockMutex_.lock();
    securityStatus_.LockForFork();
    autostart_.LockForFork();
    timeEnd_.LockForFork();
    controlPanel_.LockForFork();
    log_.LockForFork();
}

void Engine::UnlockAfterFork(bool inChild)
{
    log_.UnlockAfterFork();
    controlPanel_.UnlockAfterFork(inChild);
    timeEnd_.UnlockAfterFork();
    autostart_.UnlockAfterFork();
    securityStatus_.UnlockAfterFork();
    blockMutex_.unlock();
    peersMutex_.unlock();
    if (inChild) {
        // Readers of the parent's other threads may have held the table lock.
        tableMutex_.RenewInChild();
        startLogged_ = false;
    }
    reloadMutex_.unlock();
}

std::time_t Engine::Now() const { return options_.now ? options_.now() : std::time(nullptr); }

void Engine::EnsureFirstUse()
{
    if (!firstUseDone_.load(std::memory_order_acquire)) {
        std::lock_guard reload(reloadMutex_);
        if (!firstUseDone_.load(std::memory_order_relaxed)) {
            CompleteCarrierDescription(carrier_);
            if (options_.lookUpOwnAddress)
                ownAddress_ = platform::net::OwnAddress();
            // Whatever the update string names now is in the file read next.
            if (OpenSharedBlock())
                seenSequence_ = block_.Sequence();
            LoadTableLocked(false);
            firstUseDone_.store(true, std::memory_order_release);
        }
    }
    // A forked child is a carrier of its own: its start is logged with its first decision.
    if (!startLogged_.load(std::memory_order_relaxed) && !startLogged_.exchange(true))
        LogCarrierEvent(platform::kApplicationStartTag);
}

// Reads the rules file into a table: a new one (replace), or the current one
// extended (an explicit LoadRules). A file that cannot be read whole leaves
// the rules in force as they are, and is read again once it has changed.
void Engine::LoadTableLocked(bool replace)
{
    ReadPaths();
    RuleTable table = replace ? RuleTable() : RulesSnapshot();
    LoadStatus status;
    FileStamp stamp;
    ProgramIdentity program(carrier_.exeName, carrier_.exePath);
    program.digest = &Engine::CarrierDigest;
    program.digestContext = this;
    table.LoadRulesFor(rulesPath_, program, status, stamp);
    const bool whole = status == LoadStatus::kLoaded || status == LoadStatus::kMissing;
    if (whole || !firstUseDone_.load(std::memory_order_relaxed)) {
        std::unique_lock lock(tableMutex_);
        table_ = std::move(table);
    }
    // After the swap: a decision that sees the new generation sees the new table.
    NewVerdictGeneration();
    ReturnParserMemory();
    loadStatus_ = status;
    loadedStamp_ = stamp;
    loadFailed_ = status != LoadStatus::kLoaded;
    retryAt_ = platform::CoarseMilliseconds() + options_.rulesRetryMs;
    reloads_.fetch_add(1, std::memory_order_release);
}

int Engine::LoadRules()
{
    EnsureFirstUse();
    std::lock_guard reload(reloadMutex_);
    LoadTableLocked(false);
    return 0;
}

void Engine::RetryFailedLoad()
{
    if (!loadFailed_.load(std::memory_order_relaxed)
        || platform::CoarseMilliseconds() < retryAt_.load(std::memory_order_relaxed))
        return;
    std::lock_guard reload(reloadMutex_);
    if (!loadFailed_ || platform::CoarseMilliseconds() < retryAt_)
        return;
    // Read again only a file that changed since, or one that could not be read at all.
    if (loadStatus_ == LoadStatus::kUnreadable || !pathsKnown_ || StampOf(rulesPath_) != loadedStamp_)
        LoadTableLocked(true);
    else
        retryAt_ = platform::CoarseMilliseconds() + options_.rulesRetryMs;
}

RuleTable Engine::RulesSnapshot() const
{
    std::shared_lock lock(tableMutex_);
    return table_;
}

bool Engine::IsControlPanelRunning() const { return controlPanel_.IsRunning(); }

bool Engine::IsPassThrough() const
{
    std::string text;
    // Not readable now and never read: the firewall is taken to be meant to run.
    if (autostart_.Fetch(text) == Status::kMissing)
        return true;
    char stamp[kSettingBytes];
    const uint32_t lastEnd = timeEnd_.ReadInto(stamp, sizeof stamp)
        ? static_cast<uint32_t>(platform::ParseDecimal(stamp))
        : 0xFFFFFFFFu;
    return lastEnd < options_.tickCount();
}

bool Engine::OpenSharedBlock()
{
    if (blockOpen_.load(std::memory_order_acquire))
        return true;
    std::lock_guard lock(blockMutex_);
    if (!block_) {
        block_ = platform::SharedBlock::Open(sharedBlockPath_);
        if (!block_)
            return false;
        blockOpen_.store(true, std::memory_order_release);
    }
    return true;
}

void Engine::RunReloadCheck()
{
    if (!OpenSharedBlock())
        return;
    // The common case costs one load: nothing was written since the last look.
    const uint32_t sequence = block_.Sequence();
    if (block_.HasExtension() && sequence == seenSequence_.load(std::memory_order_acquire))
        return;
    std::lock_guard reload(reloadMutex_);
    platform::SharedBlock::UpdateView view;
    if (!block_.ReadUpdate(view))
        return; // a write is under way: the next decision looks again
    if (view.extended && view.sequence == seenSequence_.load(std::memory_order_relaxed))
        return; // another thread took this write meanwhile
    if (platform::SharedBlock::IsDue(view, carrier_.exeName, seenSequence_.load(), options_.tickCount())) {
        // Acknowledged before the file is read: whatever the interceptor
        // publishes after seeing this acknowledgement is in the file read now.
        PostUpdateDone();
        LoadTableLocked(true);
        rememberedIncoming_ = 0;
        rememberedOutgoing_ = 0;
        {
            std::lock_guard peers(peersMutex_);
            rememberedHosts_.clear();
            sentAnswers_.Clear();
        }
        // Nothing a verdict was taken by during the reading holds either.
        NewVerdictGeneration();
    }
    seenSequence_.store(view.sequence, std::memory_order_release);
}

bool Engine::IsLocalAddress(std::string_view remoteAddress) const
{
    // "::1" is the IPv6 loopback, as local as 127.0.0.1.
    return remoteAddress == "127.0.0.1" || remoteAddress == "0.0.0.0" || remoteAddress == "::1"
        || remoteAddress == ownAddress_;
}

uint32_t Engine::CurrentSettings()
{
    const long long now = options_.settingsFreshnessMs > 0 ? platform::CoarseMilliseconds() : 0;
    if (options_.settingsFreshnessMs > 0) {
        const uint32_t known = settings_.load(std::memory_order_acquire);
        if ((known & kSettingsKnown) && now - settingsAt_.load(std::memory_order_relaxed) < options_.settingsFreshnessMs)
            return known;
    }
    uint32_t settings = kSettingsKnown;
    if (IsControlPanelRunning())
        settings |= kPanelRunning;
    else if (IsPassThrough())
        settings |= kPassThrough;
    if (IsBlockAll())
        settings |= kBlockAll;
    settingsAt_.store(now, std::memory_order_relaxed);
    const uint32_t previous = settings_.exchange(settings, std::memory_order_acq_rel);
    // Block-all switched, filtering stopped or started: remembered verdicts are taken again.
    if ((previous & kSettingsKnown) && ((previous ^ settings) & (kBlockAll | kPassThrough)))
        NewVerdictGeneration();
    return settings;
}

uint32_t Engine::Filtering()
{
    const uint32_t settings = CurrentSettings();
    // Without its runtime folder the engine cannot know whether the panel
    // runs nor hear of rule changes: what the firewall would decide, it
    // refuses, and what the settings let pass (it is off) still passes.
    if (!runtimeUsable_)
        return (settings & kPassThrough) ? 0 : settings | kRuntimeRefused;
    if (settings & kPanelRunning)
        RunReloadCheck();
    else if (settings & kPassThrough)
        return 0;
    RetryFailedLoad();
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
    if (usedName)
        *usedName = -1;
    if (!remoteAddress)
        remoteAddress = "";
    EnsureFirstUse();
    const uint32_t settings = Filtering();
    if (settings == 0)
        return kPermit;
    if (IsLocalAddress(remoteAddress))
        return kPermit;
    // A name counts only in its normal form; anything else is no name.
    char names[kMaxPeerNames][platform::kMaxHostName + 1];
    const char* normal[kMaxPeerNames] = {};
    int given[kMaxPeerNames] = {};
    unsigned count = 0;
    for (unsigned i = 0; remoteNames && direction != kIncoming && i < nameCount && count < kMaxPeerNames; ++i)
        if (const char* name = remoteNames[i];
            name && platform::NormalizeHostName(name, strnlen(name, platform::kMaxHostName + 2), names[count],
                                                sizeof names[count]) != 0) {
            normal[count] = names[count];
            given[count++] = static_cast<int>(i);
        }
    int matched = -1;
    const char* reason = (settings & kRuntimeRefused) ? platform::log_reason::kRuntime : platform::log_reason::kBlockAll;
    const int result = (settings & (kBlockAll | kRuntimeRefused))
        ? kDeny
        : DecideConnection(localPort, direction, remoteAddress, normal, count, protocol, remotePort, &matched, reason);
    // The name a host entry decided by, else the one learnt last.
    const int used = matched >= 0 ? matched : count > 0 ? 0 : -1;
    if (usedName && used >= 0)
        *usedName = given[used];
    if (result != kAsk)
        LogConnection(protocol, direction, remoteAddress, localPort, remotePort, result,
                      used >= 0 ? normal[used] : nullptr, reason);
    return result;
}

int Engine::DecideConnection(unsigned localPort, int direction, const char* remoteAddress,
                             const char* const* hostNames, unsigned nameCount, int protocol, unsigned remotePort,
                             int* matchedName, const char*& reason)
{
    const bool datagram = protocol != 1;
    // Taken before the rules are read: a verdict of rules that changed meanwhile is of the old generation.
    const uint32_t generation = datagram ? CurrentGeneration() : 0;
    if (datagram) {
        char key[128];
        const KnownPeer known = FormatPeerKey(key, sizeof key, remoteAddress, remotePort)
            ? DatagramPeer(key, generation)
            : KnownPeer::kNone;
        if (known == KnownPeer::kCurrent) {
            reason = platform::log_reason::kPeer;
            return kPermit;
        }
        // A peer this program sent to before the rules or the settings
        // changed: its answer comes in while sending to it is still permitted.
        if (known == KnownPeer::kFormer && direction == kIncoming) {
            if (DecideConnection(localPort, kOutgoing, remoteAddress, nullptr, 0, protocol, remotePort, nullptr, reason)
                == kPermit) {
                reason = platform::log_reason::kPeer;
                return kPermit;
            }
            ForgetDatagramPeer(key);
        }
    }
    // What the rules leave to a question, the user's answers for a time
    // (their end compared with the clock, under the table's lock) and then
    // this process's answers decide (under their own lock, never both held).
    const unsigned port = direction == kIncoming ? localPort : remotePort;
    bool byEntry = false;
    bool byAnswer = false;
    int64_t answerEnd = 0;
    const auto answerTimed = [&](int result) {
        if (result != kAsk || table_.timedAnswers.Empty())
            return result;
        result = table_.timedAnswers.Match(direction, static_cast<int>(port), remoteAddress, hostNames, nameCount,
                                           Now(), &answerEnd);
        byAnswer = result != kAsk;
        return result;
    };
    const auto answerHeld = [&](int result) {
        if (result != kAsk)
            return result;
        result = HeldAnswer(direction, port, remoteAddress, hostNames, nameCount, &answerEnd);
        byAnswer = result != kAsk;
        return result;
    };
    const auto decidedBy = [&](int result) {
        namespace why = platform::log_reason;
        reason = result == kAsk ? nullptr : byAnswer ? why::kRemembered : byEntry ? why::kRule : why::kDefault;
        // A datagram verdict (remembered here and by the hook) lasts no longer than the answer it came from.
        if (datagram && byAnswer && answerEnd != 0)
            NoteVerdictEnd(answerEnd);
        return result;
    };
    if (direction == kIncoming) {
        int result;
        {
            std::shared_lock lock(tableMutex_);
            result = answerTimed(table_.MatchRules(kIncoming, static_cast<int>(localPort), remoteAddress,
                                                   std::span<const HostKey>(), nullptr, &byEntry));
        }
        return decidedBy(answerHeld(result));
    }
    int result;
    {
        std::shared_lock lock(tableMutex_);
        // Every direction other than incoming is outgoing, also in the rules.
        // The names are taken apart only when some entry names a host.
        if (table_.HasHostEntries()) {
            static_assert(kMaxPeerNames == 4);
            const auto name = [&](unsigned i) { return i < nameCount ? hostNames[i] : nullptr; };
            const HostKey keys[kMaxPeerNames] = {HostKey(name(0)), HostKey(name(1)), HostKey(name(2)),
                                                 HostKey(name(3))};
            result = table_.MatchRules(kOutgoing, static_cast<int>(remotePort), remoteAddress,
                                       std::span<const HostKey>(keys, nameCount < kMaxPeerNames ? nameCount : kMaxPeerNames),
                                       matchedName, &byEntry);
        } else {
            result = table_.MatchRules(kOutgoing, static_cast<int>(remotePort), remoteAddress,
                                       std::span<const HostKey>(), nullptr, &byEntry);
        }
        result = answerTimed(result);
    }
    result = decidedBy(answerHeld(result));
    if (result == kPermit && datagram)
        AddDatagramPeer(remoteAddress, remotePort, generation);
    return result;
}

uint32_t Engine::CurrentGeneration()
{
    const int64_t end = verdictEnd_.load(std::memory_order_acquire);
    if (end != kNoEnd && Now() >= end) {
        // The end is forgotten before the generation changes: an answer
        // noted meanwhile decided a verdict of the generation that ends now.
        int64_t expected = end;
        if (verdictEnd_.compare_exchange_strong(expected, kNoEnd, std::memory_order_acq_rel))
            NewVerdictGeneration();
    }
    return verdictGeneration_.load(std::memory_order_acquire);
}

void Engine::NoteVerdictEnd(int64_t until)
{
    int64_t known = verdictEnd_.load(std::memory_order_relaxed);
    while (until < known && !verdictEnd_.compare_exchange_weak(known, until, std::memory_order_acq_rel)) {
    }
}

bool Engine::HasDatagramPeer(std::string_view key) const
{
    return DatagramPeer(key, verdictGeneration_.load(std::memory_order_acquire)) == KnownPeer::kCurrent;
}

Engine::KnownPeer Engine::DatagramPeer(std::string_view key, uint32_t generation) const
{
    std::lock_guard lock(peersMutex_);
    const auto found = datagramPeers_.find(key);
    return found == datagramPeers_.end() ? KnownPeer::kNone
        : found->second == generation    ? KnownPeer::kCurrent
                                         : KnownPeer::kFormer;
}

void Engine::ForgetDatagramPeer(std::string_view key)
{
    std::lock_guard lock(peersMutex_);
    if (const auto found = datagramPeers_.find(key); found != datagramPeers_.end())
        datagramPeers_.erase(found);
}

void Engine::AddDatagramPeer(const char* remoteAddress, unsigned remotePort, uint32_t generation)
{
    char key[128];
    if (!FormatPeerKey(key, sizeof key, remoteAddress, remotePort))
        return;
    std::lock_guard lock(peersMutex_);
    const auto [peer, fresh] = datagramPeers_.try_emplace(key, generation);
    // A decision that began before a later one permitted the peer leaves it as that one did.
    if (!fresh && static_cast<int32_t>(generation - peer->second) > 0)
        peer->second = generation;
}

int Engine::RememberedHostAnswer(std::string_view hostName) const
{
    std::lock_guard lock(peersMutex_);
    const auto found = rememberedHosts_.find(hostName);
    return found == rememberedHosts_.end() ? 0 : found->second;
}

void Engine::RememberHostAnswer(std::string_view hostName, int remembered)
{
    std::lock_guard lock(peersMutex_);
    if (rememberedHosts_.size() >= kMaxRememberedHosts)
        rememberedHosts_.clear();
    rememberedHosts_.insert_or_assign(std::string(hostName), remembered);
}

int Engine::HeldAnswer(int direction, unsigned port, const char* remoteAddress, const char* const* names,
                       unsigned nameCount, int64_t* until) const
{
    std::lock_guard lock(peersMutex_);
    if (processAnswers_.Empty() && sentAnswers_.Empty())
        return kAsk;
    const int64_t now = Now();
    const int held = processAnswers_.Match(direction, static_cast<int>(port), remoteAddress, names, nameCount, now, until);
    return held != kAsk
        ? held
        : sentAnswers_.Match(direction, static_cast<int>(port), remoteAddress, names, nameCount, now, until);
}

void Engine::KeepScopedAnswer(const AlertChoice& choice, int answer, int direction, unsigned localPort,
                              unsigned remotePort, const char* remoteAddress, const char* hostName)
{
    rules::TimedAnswer scoped;
    scoped.direction = direction == kIncoming ? rules::Direction::kIncoming : rules::Direction::kOutgoing;
    scoped.permission = answer == kPermit ? rules::Permission::kPermit : rules::Permission::kDeny;
    if (choice.scope == AnswerScope::kPeerAndPort || choice.scope == AnswerScope::kPort)
        scoped.port = static_cast<int>(direction == kIncoming ? localPort : remotePort);
    if (choice.scope == AnswerScope::kPeerAndPort || choice.scope == AnswerScope::kHost) {
        if (hostName)
            scoped.host = hostName;
        else if (choice.scope == AnswerScope::kPeerAndPort)
            scoped.address = remoteAddress;
        else
            return; // a host without a name is not offered
    }
    if (choice.length == AnswerLength::kTimed)
        scoped.until = static_cast<int64_t>(Now()) + int64_t {60} * choice.timedMinutes;
    std::optional<engine::HeldAnswer> held = engine::HeldAnswer::Of(scoped);
    if (!held || (scoped.port == 0 && choice.scope != AnswerScope::kHost && choice.scope != AnswerScope::kAny))
        return; // a peer that is no address, a port that is none: this connection only
    {
        std::lock_guard lock(peersMutex_);
        (choice.length == AnswerLength::kProcess ? processAnswers_ : sentAnswers_).Add(std::move(*held));
    }
    if (choice.length != AnswerLength::kProcess)
        NotifyControlPanel(platform::kCodeScopedAnswer, rules::AnswerText(scoped));
}

int Engine::RememberedAnswer(int direction) const
{
    return direction == kIncoming ? rememberedIncoming_.load() : rememberedOutgoing_.load();
}

void Engine::LogConnection(int protocol, int direction, const char* remoteAddress, unsigned localPort,
                           unsigned remotePort, int permission, const char* hostName, const char* reason)
{
    if (log_.Folder().empty())
        return;
    const platform::ConnectionRecord record {&carrier_.recordHead, protocol, direction, remoteAddress, localPort, remotePort,
                                   permission, carrier_.isServiceCarrier, hostName, reason};
    platform::RecordText body;
    platform::FormatConnectionBody(record, body);
    log_.AppendLogRecord(body.View(), Now());
}

bool Engine::IsBlockAll() const
{
    char text[kSettingBytes];
    return securityStatus_.ReadInto(text, sizeof text) && platform::ParseDecimal(text) == 0;
}

int Engine::IsInService() const { return platform::processes::IsSystemService(options_.procRoot, Pid()) ? 1 : 0; }

void Engine::WriteTraffic(int counterSelect, unsigned byteCount)
{
    if (blockOpen_.load(std::memory_order_acquire))
        block_.AddTraffic(counterSelect != 0, byteCount);
}

void Engine::GetUpdateString(char* buffer)
{
    if (!buffer || !blockOpen_.load(std::memory_order_acquire))
        return;
    platform::SharedBlock::UpdateView view;
    // A string left behind by an interceptor that ended names nothing any more.
    if (block_.ReadUpdate(view) && platform::SharedBlock::RelayStopped(view, options_.tickCount()))
        buffer[0] = '\0';
    else
        block_.CopyUpdateString(buffer);
}

void Engine::PostUpdateDone()
{
    if (blockOpen_.load(std::memory_order_acquire))
        block_.PostAcknowledgement(static_cast<uint32_t>(Pid()));
}

uint32_t Engine::VerdictEpoch()
{
    // The first load, any reload due now and a change of the settings are
    // counted before the verdict is taken.
    EnsureFirstUse();
    Filtering();
    // Even: never the epoch of a verdict taken while the engine failed.
    return CurrentGeneration() << 1;
}

void Engine::PrepareForCredentialChange()
{
    // Everything a decision reads, opened or read now while it still may be:
    // the rules, the settings (their folders stay open), the presence lock,
    // the shared block and today's log file.
    EnsureFirstUse();
    std::string text;
    securityStatus_.Fetch(text);
    autostart_.Fetch(text);
    timeEnd_.Fetch(text);
    controlPanel_.IsRunning();
    OpenSharedBlock();
    log_.Prepare(Now());
    if (errorLogFd_ < 0) {
        const platform::registry::Value errorLogs(RootKey::LocalMachine, kSettingsKey, platform::settings::kErrLogs);
        const auto folder = ReadPathSetting(errorLogs);
        if (folder && !folder->empty())
            errorLogFd_ = platform::OpenRegularFile(platform::ErrorLogFileName(*folder, Now()).c_str(),
                                                    O_WRONLY | O_CREAT | O_APPEND, 0644, false);
    }
}

void Engine::CredentialsChanged()
{
    const int fd = platform::OpenRegularFile(rulesPath_.c_str(), O_RDONLY);
    if (fd >= 0)
        ::close(fd);
    else if ((errno == EACCES || errno == EPERM) && errorLogFd_ >= 0) {
        const passwd* user = ::getpwuid(::geteuid());
        const std::string description = carrier_.exePath + " (process " + std::to_string(Pid()) + ") now runs as "
            + (user && user->pw_name ? std::string(user->pw_name) : "user " + std::to_string(::geteuid()))
            + " and cannot read the rules file " + rulesPath_
            + "; it keeps deciding by the rules it started with until it is restarted";
        const std::string line = platform::ErrorLogLine("qrbruler : LoadRules", description, Now());
        [[maybe_unused]] const ssize_t written = ::write(errorLogFd_, line.data(), line.size());
    }
    if (errorLogFd_ >= 0)
        ::close(errorLogFd_);
    errorLogFd_ = -1;
}

}  // namespace engine
