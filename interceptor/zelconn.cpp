// zelconn: the interceptor's process. It owns the shared block, relays the
// control panel's list of changed programs to the engines, reports the
// traffic the engines counted to the control panel once a second (codes 10
// and 11, in units of 10 bytes) and the programs that ended (code 5).
//   zelconn [--daemon]
#include "Listener.h"
#include "UpdateRelay.h"
#include "platform/Clock.h"
#include "platform/Constants.h"
#include "platform/Files.h"
#include "platform/HostRegistry.h"
#include "platform/Paths.h"
#include "platform/Presence.h"
#include "platform/Registry.h"
#include "platform/Settings.h"
#include "platform/SharedBlock.h"
#include "platform/Windows.h"

#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;
volatile std::sig_atomic_t g_stop = 0;

void OnSignal(int) { g_stop = 1; }

std::string MessageBox()
{
    const std::string window = platform::windows::FindWindow(platform::kMainWindowTitle);
    std::string box = platform::windows::FindChildWindow(window, platform::kPictureBoxClass);
    return box.empty() ? platform::windows::FindChildWindow(window, platform::kPictureBoxClassOld) : box;
}

bool Post(const std::string& box, uint16_t code, uint32_t argument)
{
    return platform::windows::PostMessage(box, platform::windows::WM_MOUSEMOVE, 0,
                                   platform::windows::MakeCodedParam(code, argument));
}

// Traffic in units of 10 bytes, at most 65,535 units a message. What does
// not make a whole unit, or does not fit into the panel's message queue now,
// waits for the next second; without a panel the amounts are dropped.
class TrafficReport {
public:
    void Add(uint32_t bytes) { bytes_ += bytes; }
    void PostTo(const std::string& box, uint16_t code)
    {
        if (box.empty()) {
            bytes_ = 0;
            return;
        }
        while (bytes_ >= 10) {
            const uint32_t part = static_cast<uint32_t>(std::min<uint64_t>(bytes_ / 10, 65535));
            if (!Post(box, code, part))
                return;
            bytes_ -= 10ULL * part;
        }
    }

private:
    uint64_t bytes_ = 0;
};

int TakeLock()
{
    const std::string path = listener::LockPath();
    const int fd = path.empty() ? -1 : platform::presence::HoldLockFile(path);
    if (fd < 0)
        return -1;
    const std::string pid = std::to_string(::getpid());
    if (::ftruncate(fd, 0) != 0 || ::pwrite(fd, pid.data(), pid.size(), 0) < 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

int Run()
{
    platform::SharedBlock block = platform::SharedBlock::Create(platform::SharedBlock::DefaultPath());
    if (!block) {
        std::fprintf(stderr, "zelconn: cannot create the shared block %s\n", platform::SharedBlock::DefaultPath().c_str());
        return 1;
    }
    // A string left by an interceptor that ended names nothing any more; the
    // sequence goes on from where it was, since running engines remember it.
    platform::SharedBlock::UpdateView left;
    block.PublishUpdate("", {}, block.ReadUpdate(left) ? left.floor : 0);
    block.ResetAcknowledgements();
    block.TakeCounterA();
    block.TakeCounterB();
    block.StampRelay(platform::GetTickCount() | 1u);

    platform::registry::Value rulesFile(platform::registry::RootKey::LocalMachine, platform::registry::kSettingsKey,
                                        platform::settings::kRulesFile);
    UpdateRelay relay;
    TrafficReport incoming, outgoing;
    const auto rulesPath = [&rulesFile] { return platform::SettingPath(rulesFile.Read().value_or("")); };
    platform::FileStamp rules = platform::StampOf(rulesPath());
    auto nextSecond = Clock::now() + std::chrono::seconds(1);
    auto nextLook = Clock::now();
    std::vector<UpdateRelay::Host> hosts;

    while (!g_stop) {
        const auto now = Clock::now();
        // A beat of 0 would mean "no relay": the tick count is kept odd.
        block.StampRelay(platform::GetTickCount() | 1u);
        if (now >= nextLook) {
            nextLook = now + std::chrono::milliseconds(100);
            const std::string box = MessageBox();
            const std::string list = platform::windows::GetWindowText(box).value_or("");
            const platform::FileStamp current = platform::StampOf(rulesPath());
            relay.Observe(list, !(current == rules));
            rules = current;
            // Read after the list: a program that registers later reads rules
            // saved before the list was published.
            hosts.clear();
            for (const auto& record : platform::hosts::ListHosts())
                hosts.push_back({record.pid, record.exeName, record.alive});
        }
        // Acknowledgements are taken right before anything new is published,
        // so that each belongs to what the engine had seen.
        UpdateRelay::Update update;
        if (relay.Step(hosts, block.TakeAcknowledgements(), (block.Sequence() & ~1u) + 2, update))
            block.PublishUpdate(update.names, update.wordSequences, update.floor);
        if (now >= nextSecond) {
            nextSecond += std::chrono::seconds(1);
            const std::string box = MessageBox();
            incoming.Add(block.TakeCounterA());
            outgoing.Add(block.TakeCounterB());
            incoming.PostTo(box, platform::kCodeIncomingTraffic);
            outgoing.PostTo(box, platform::kCodeOutgoingTraffic);
            for (const auto& record : platform::hosts::ListHosts()) {
                if (record.alive)
                    continue;
                if (!box.empty())
                    Post(box, platform::kCodeApplicationFinished, static_cast<uint32_t>(record.pid));
                platform::hosts::ForgetHost(record.pid);
            }
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    // Ending in the middle of a turn: nothing stays named for the engines.
    block.PublishUpdate("", {}, block.ReadUpdate(left) ? left.floor : 0);
    block.StampRelay(0);
    return 0;
}

}  // namespace

int main(int argc, char** argv)
{
    const bool daemon = argc > 1 && !std::strcmp(argv[1], "--daemon");
    if (argc > 1 && !daemon) {
        std::fprintf(stderr, "usage: zelconn [--daemon]\n");
        return 2;
    }
    if (daemon) {
        // Leave the caller at once; the child carries on in a session of its own.
        const pid_t child = ::fork();
        if (child < 0)
            return 1;
        if (child > 0) {
            for (int i = 0; i < 200 && listener::RunningPid() != child; ++i)
                ::usleep(10000);
            return listener::RunningPid() != 0 ? 0 : 1;
        }
        ::setsid();
        const int null = ::open("/dev/null", O_RDWR);
        if (null >= 0) {
            ::dup2(null, STDIN_FILENO);
            ::dup2(null, STDOUT_FILENO);
            ::close(null);
        }
    }
    if (platform::RuntimeDir().empty()) {
        std::fprintf(stderr, "zelconn: %s\n", platform::RuntimeDirProblem().c_str());
        return 1;
    }
    const int lock = TakeLock();
    if (lock < 0) {
        std::fprintf(stderr, "zelconn: already running (pid %d)\n", static_cast<int>(listener::RunningPid()));
        return listener::RunningPid() != 0 ? 0 : 1;
    }
    struct sigaction action {};
    action.sa_handler = OnSignal;
    ::sigaction(SIGTERM, &action, nullptr);
    ::sigaction(SIGINT, &action, nullptr);
    ::sigaction(SIGHUP, &action, nullptr);
    ::signal(SIGPIPE, SIG_IGN);
    const int status = Run();
    ::ftruncate(lock, 0);
    ::close(lock);
    return status;
}
