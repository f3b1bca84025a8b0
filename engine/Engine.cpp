#include "engine/Engine.h"

#include "engine/AlertLauncher.h"
#include "platform/Clock.h"
#include "platform/Constants.h"
#include "platform/Net.h"
#include "platform/Presence.h"
#include "platform/Processes.h"
#include "platform/Text.h"
#include "platform/Windows.h"

#include <cstdio>
#include <cstring>
#include <malloc.h>
#include <new>
#include <unistd.h>

namespace engine {

namespace {

using platform::registry::kRunKey;
using platform::registry::kSettingsKey;
using platform::registry::RootKey;

constexpr size_t kSettingBytes = 261; // settings texts are read as at most 260 bytes

// "%s:%d" of an address and port into buffer; false when it does not fit.
bool FormatPeerKey(char* buffer, size_t size, const char* address, unsigned port)
{
    const int n = std::snprintf(buffer, size, "%s:%d", address, static_cast<int>(port));
    return n >= 0 && static_cast<size_t>(n) < size;
}

// The parsed document is several times the size of the table built from it
// and is freed at once; hand those pages back so that the host does not
// carry them for the rest of its life.
void ReturnParserMemory() { ::malloc_trim(0); }

}  // namespace

Engine::Engine(EngineOptions options)
    : options_(std::move(options)),
      rulesPath_(platform::registry::GetString(RootKey::LocalMachine, kSettingsKey, "RulesFile")),
      log_(platform::registry::GetString(RootKey::LocalMachine, kSettingsKey, "LogFilesPath")),
      securityStatus_(RootKey::LocalMachine, kSettingsKey, "SecurityStatus", options_.settingsFreshnessMs),
      autostart_(RootKey::LocalMachine, kRunKey, platform::registry::kAutostartValue, options_.settingsFreshnessMs),
      timeEnd_(RootKey::LocalMachine, kSettingsKey, "VRNTIMEEND", options_.settingsFreshnessMs),
      sharedBlockPath_(options_.sharedBlockPath.empty() ? platform::SharedBlock::DefaultPath()
                                                        : options_.sharedBlockPath),
      controlPanel_(options_.controlPanelLockPath.empty() ? platform::presence::ControlPanelLockPath()
                                                          : options_.controlPanelLockPath,
                    options_.settingsFreshnessMs)
{
    if (!options_.tickCount)
        options_.tickCount = platform::GetTickCount;
    const std::string exePath = options_.exePath.empty()
        ? platform::processes::ExecutablePath(options_.procRoot, Pid())
        : options_.exePath;
    host_.exePath = CleanHostPath(exePath);
    host_.exeName = HostExeName(host_.exePath);
    log_.AppendLogRecord("<APPLICATIONSTART>" + host_.exePath + "</APPLICATIONSTART>", Now());
    host_.isServiceHost = platform::processes::IsSystemService(options_.procRoot, Pid());
}

Engine::~Engine() = default;

void Engine::Detach() { log_.AppendLogRecord("<APPLICATIONEND>" + host_.exePath + "</APPLICATIONEND>", Now()); }

pid_t Engine::Pid() const { return options_.pid ? options_.pid : ::getpid(); }

void Engine::LockForFork()
{
    reloadMutex_.lock();
    tableMutex_.lock();
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
    // A read-write lock knows its writer by thread id, which the child's one
    // thread does not share: the child starts with a fresh lock instead.
    if (inChild)
        new (&tableMutex_) std::shared_mutex();
    else
        tableMutex_.unlock();
    reloadMutex_.unlock();
}

std::time_t Engine::Now() const { return options_.now ? options_.now() : std::time(nullptr); }

void Engine::EnsureFirstUse()
{
    std::call_once(firstUse_, [this] {
        CompleteHostDescription(host_);
        if (options_.lookUpOwnAddress)
            ownAddress_ = platform::net::OwnAddress();
        LoadRules();
    });
}

int Engine::LoadRules()
{
    std::lock_guard reload(reloadMutex_);
    RuleTable table = RulesSnapshot();
    table.LoadRulesFor(rulesPath_, host_.exeName);
    {
        std::unique_lock lock(tableMutex_);
        table_ = std::move(table);
    }
    ReturnParserMemory();
    return 0;
}

void Engine::Reload()
{
    std::lock_guard reload(reloadMutex_);
    RuleTable table;
    table.LoadRulesFor(rulesPath_, host_.exeName);
    {
        std::unique_lock lock(tableMutex_);
        table_ = std::move(table);
    }
    ReturnParserMemory();
    rememberedIncoming_ = 0;
    rememberedOutgoing_ = 0;
}

RuleTable Engine::RulesSnapshot() const
{
    std::shared_lock lock(tableMutex_);
    return table_;
}

bool Engine::IsControlPanelRunning() const { return controlPanel_.IsRunning(); }

bool Engine::IsPassThrough() const
{
    if (!autostart_.Exists())
        return true;
    char text[kSettingBytes];
    const uint32_t lastEnd = timeEnd_.ReadInto(text, sizeof text)
        ? static_cast<uint32_t>(platform::ParseDecimal(text))
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
    OpenSharedBlock();
    // Without the block there is no update string: it counts as empty.
    char update[platform::SharedBlock::kUpdateStringSize];
    update[0] = '\0';
    GetUpdateString(update);
    if (host_.exeName.empty() || !std::strstr(update, host_.exeName.c_str()))
        return;
    Reload();
    PostUpdateDone();
}

bool Engine::IsLocalAddress(std::string_view remoteAddress) const
{
    // "::1" is the IPv6 loopback, as local as 127.0.0.1.
    return remoteAddress == "127.0.0.1" || remoteAddress == "0.0.0.0" || remoteAddress == "::1"
        || remoteAddress == ownAddress_;
}

int Engine::Approve(unsigned localPort, int direction, const char* remoteAddress, int protocol, unsigned remotePort)
{
    if (!remoteAddress)
        remoteAddress = "";
    EnsureFirstUse();
    if (IsControlPanelRunning())
        RunReloadCheck();
    else if (IsPassThrough())
        return kPermit;
    if (IsLocalAddress(remoteAddress))
        return kPermit;
    const int result = IsBlockAll() ? kDeny : DecideConnection(localPort, direction, remoteAddress, protocol, remotePort);
    if (result != kAsk)
        LogConnection(protocol, direction, remoteAddress, localPort, remotePort, result);
    return result;
}

int Engine::DecideConnection(unsigned localPort, int direction, const char* remoteAddress, int protocol,
                             unsigned remotePort)
{
    const bool datagram = protocol != 1;
    if (datagram) {
        char key[128];
        if (FormatPeerKey(key, sizeof key, remoteAddress, remotePort) && HasDatagramPeer(key))
            return kPermit;
    }
    if (direction == kIncoming) {
        std::shared_lock lock(tableMutex_);
        return table_.MatchRules(kIncoming, static_cast<int>(localPort), remoteAddress);
    }
    int result;
    {
        std::shared_lock lock(tableMutex_);
        // Every direction other than incoming is outgoing, also in the rules.
        result = table_.MatchRules(kOutgoing, static_cast<int>(remotePort), remoteAddress);
    }
    if (result == kPermit && datagram)
        AddDatagramPeer(remoteAddress, remotePort);
    return result;
}

bool Engine::HasDatagramPeer(std::string_view key) const
{
    std::lock_guard lock(peersMutex_);
    return datagramPeers_.find(key) != datagramPeers_.end();
}

void Engine::AddDatagramPeer(const char* remoteAddress, unsigned remotePort)
{
    char key[128];
    if (!FormatPeerKey(key, sizeof key, remoteAddress, remotePort))
        return;
    std::lock_guard lock(peersMutex_);
    datagramPeers_.emplace(key);
}

int Engine::RememberedAnswer(int direction) const
{
    return direction == kIncoming ? rememberedIncoming_.load() : rememberedOutgoing_.load();
}

void Engine::LogConnection(int protocol, int direction, const char* remoteAddress, unsigned localPort,
                           unsigned remotePort, int permission)
{
    if (log_.Folder().empty())
        return;
    const ConnectionRecord record {&host_.exePath, &host_.description, protocol, direction, remoteAddress,
                                   localPort, remotePort, permission, host_.isServiceHost};
    log_.AppendLogRecord(FormatConnectionBody(record), Now());
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
    if (buffer && blockOpen_.load(std::memory_order_acquire))
        block_.CopyUpdateString(buffer);
}

void Engine::PostUpdateDone()
{
    if (blockOpen_.load(std::memory_order_acquire))
        block_.PostAcknowledgement(static_cast<uint32_t>(Pid()));
}

void Engine::NotifyControlPanel(int alertCode) const
{
    const std::string window = platform::windows::FindWindow(platform::kMainWindowTitle);
    std::string box = platform::windows::FindChildWindow(window, platform::kPictureBoxClass);
    if (box.empty())
        box = platform::windows::FindChildWindow(window, platform::kPictureBoxClassOld);
    platform::windows::PostMessage(box, platform::windows::WM_MOUSEMOVE, 0,
                                   platform::windows::MakeCodedParam(static_cast<uint16_t>(alertCode),
                                                                     static_cast<uint32_t>(Pid())));
}

AlertTexts Engine::PrepareAlertTexts(unsigned localPort, int direction, const char* remoteName, int protocol,
                                     unsigned remotePort) const
{
    const bool outgoing = direction != kIncoming;
    const char* protocolText = protocol == 1 ? "TCP" : "UDP";
    char action[128];
    std::snprintf(action, sizeof action,
                  outgoing ? "create %s outgoing connection to" : "accept %s incoming connection from", protocolText);
    AlertTexts texts;
    texts.outgoing = outgoing;
    texts.checkBox = "Apply my decision to all " + host_.description
        + (outgoing ? " outgoing traffic" : " incoming traffic");
    texts.message = host_.description + " created by " + host_.company + " is trying to " + action + " " + remoteName
        + " through port:" + std::to_string(static_cast<int>(outgoing ? remotePort : localPort));
    texts.peer = remoteName;
    texts.caption = host_.description + " - " + protocolText + " Connection Alert!";
    texts.icon = host_.icon;
    return texts;
}

int Engine::AskUser(unsigned localPort, int direction, const char* remoteName, int protocol, unsigned remotePort,
                    bool& boxTicked)
{
    boxTicked = false;
    // An answer remembered for this direction closes the alert at once, as if
    // its button was pressed, with the box unticked: no window is needed.
    if (const int remembered = RememberedAnswer(direction); remembered != 0)
        return remembered == 1 ? kPermit : kDeny;
    const AlertTexts texts = PrepareAlertTexts(localPort, direction, remoteName, protocol, remotePort);
    // Each alert keeps its own answer and tick state: several may be open at once.
    const AlertResult result = RunAlert(texts, [this, direction] { return RememberedAnswer(direction); });
    boxTicked = result.ticked && result.button != 0;
    return result.button == 1 ? kPermit : kDeny;
}

int Engine::UserApprove(unsigned localPort, int direction, const char* remoteAddress, const char* remoteName,
                        int protocol, unsigned remotePort)
{
    if (!remoteAddress)
        remoteAddress = "";
    if (!remoteName)
        remoteName = remoteAddress;
    EnsureFirstUse();
    int answer = kDeny;
    if (!host_.isServiceHost) {
        const int outgoing = direction != kIncoming ? 1 : 0;
        bool boxTicked = false;
        answer = AskUser(localPort, direction, remoteName, protocol, remotePort, boxTicked);
        if (answer == kPermit && protocol != 1 && outgoing)
            AddDatagramPeer(remoteAddress, remotePort);
        if (boxTicked) {
            NotifyControlPanel(1 + answer + 2 * outgoing);
            (outgoing ? rememberedOutgoing_ : rememberedIncoming_) = 2 - answer;
        }
    }
    LogConnection(protocol, direction, remoteAddress, localPort, remotePort, answer);
    return answer;
}

}  // namespace engine
