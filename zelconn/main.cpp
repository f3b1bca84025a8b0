// zelconn: the interceptor's process. It owns the shared block, relays the
// control panel's list of changed programs to the engines, reports the
// traffic the engines counted to the control panel once a second (codes 10
// and 11, in units of 10 bytes) and the programs that ended (code 5), and,
// with the option "JournalRecords", hands the day's log records to the
// system journal; it keeps the log's index (the user's database) up to date
// and puts in force the profile of the network the computer is on.
//   zelconn [--daemon]
#include "os/Clock.h"
#include "os/Files.h"
#include "os/Paths.h"
#include "protocol/CarrierRegistry.h"
#include "protocol/PanelMessages.h"
#include "protocol/Presence.h"
#include "protocol/Registry.h"
#include "protocol/SettingNames.h"
#include "protocol/SharedBlock.h"
#include "protocol/TrafficLog.h"
#include "protocol/Windows.h"
#include "session/SessionPreload.h"
#include "text/Strings.h"
#include "text/hooksafe/Version.h"
#include "zelconn/BackstopNotices.h"
#include "zelconn/CarrierTracker.h"
#include "zelconn/IndexFeeder.h"
#include "zelconn/JournalForwarder.h"
#include "zelconn/Listener.h"
#include "zelconn/LoopSchedule.h"
#include "zelconn/ProfileSwitcher.h"
#include "zelconn/UpdateRelay.h"

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

using namespace zelconn;

namespace {

volatile std::sig_atomic_t g_stop = 0;

void OnSignal(int) { g_stop = 1; }

std::string MessageBox()
{
    const std::string window = protocol::windows::FindWindow(protocol::kMainWindowTitle);
    std::string box = protocol::windows::FindChildWindow(window, protocol::kPictureBoxClass);
    return box.empty() ? protocol::windows::FindChildWindow(window, protocol::kPictureBoxClassOld) : box;
}

bool Post(const std::string& box, uint16_t code, uint32_t argument)
{
    return protocol::windows::PostMessage(box, protocol::windows::WM_MOUSEMOVE, 0,
                                   protocol::windows::MakeCodedParam(code, argument));
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

// A connection the kernel backstop reported: a record in the day's log
// (marked as the backstop's, which readers that do not know it pass over)
// and a notice to the control panel, which asks the user when the rules
// said ASK.
void ReportBackstopNotice(const BackstopNotices::Notice& notice, const std::string& logFolder, const std::string& box)
{
    if (!logFolder.empty()) {
        const protocol::TrafficLog log(logFolder);
        const std::string name = notice.program.substr(notice.program.rfind('/') + 1);
        const std::string head = protocol::ConnectionRecordHead(text::EscapeLogText(notice.program),
                                                                text::EscapeLogText(name));
        const protocol::ConnectionRecord record {&head, notice.protocol, notice.incoming ? 0 : 1, notice.address.c_str(),
                                                 notice.localPort, notice.port, notice.denied ? 0 : 1, false};
        protocol::RecordText body;
        protocol::FormatConnectionBody(record, body);
        body.Append(protocol::kOpenTag<protocol::record_tag::kBackstop>);
        body.Append("1");
        body.Append(protocol::kEndTag<protocol::record_tag::kBackstop>);
        log.AppendLogRecord(body.View(), std::time(nullptr));
    }
    if (!box.empty()) {
        // What came in is asked about by the program's own port.
        std::string data = std::string(notice.asked ? "asked" : notice.denied ? "denied" : "passed")
            + (notice.incoming ? "-in " : " ") + notice.address + " "
            + std::to_string(notice.incoming ? notice.localPort : notice.port) + " " + notice.program;
        data.resize(std::min(data.size(), protocol::windows::kMaxMessageData));
        protocol::windows::PostMessage(box, protocol::windows::WM_MOUSEMOVE, 0,
                                       protocol::windows::MakeCodedParam(protocol::kCodeBackstopNotice,
                                                                         static_cast<uint32_t>(notice.pid)),
                                       data);
    }
}

int TakeLock()
{
    const std::string path = listener::LockPath();
    const int fd = path.empty() ? -1 : protocol::presence::HoldLockFile(path);
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
    protocol::SharedBlock block = protocol::SharedBlock::Create(protocol::SharedBlock::DefaultPath());
    if (!block) {
        std::fprintf(stderr, "zelconn: cannot create the shared block %s\n", protocol::SharedBlock::DefaultPath().c_str());
        return 1;
    }
    // A string left by an interceptor that ended names nothing any more; the
    // sequence goes on from where it was, since running engines remember it.
    protocol::SharedBlock::UpdateView left;
    block.PublishUpdate("", {}, block.ReadUpdate(left) ? left.floor : 0);
    block.ResetAcknowledgements();
    block.TakeCounterA();
    block.TakeCounterB();
    block.StampRelay(os::GetTickCount() | 1u);

    protocol::registry::Value rulesFile(protocol::registry::RootKey::LocalMachine, protocol::registry::kSettingsKey,
                                        protocol::settings::kRulesFile);
    UpdateRelay relay;
    TrafficReport incoming, outgoing;
    CarrierTracker tracker;
    const auto rulesPath = [&rulesFile] { return os::SettingPath(rulesFile.Read().value_or("")); };
    os::FileStamp rules = os::StampOf(rulesPath());
    std::string box;
    // The control panel's list and the rules file: looked at when the kernel
    // tells of a change in their folders, and once a second in case it could not.
    const auto lookAtPanel = [&] {
        box = MessageBox();
        const std::string list = protocol::windows::GetWindowText(box).value_or("");
        const std::string path = rulesPath();
        const os::FileStamp current = os::StampOf(path);
        relay.Observe(list, !(current == rules));
        rules = current;
        if (!box.empty())
            tracker.WatchFolder(box.substr(0, box.rfind('/')));
        if (const size_t slash = path.rfind('/'); slash != std::string::npos && slash > 0)
            tracker.WatchFolder(path.substr(0, slash));
    };
    protocol::registry::Value logFolder(protocol::registry::RootKey::LocalMachine, protocol::registry::kSettingsKey,
                                        protocol::settings::kLogFilesPath);
    BackstopNotices notices(BackstopNotices::SocketPath());
    // The records in the journal: the option and the folder looked at once a second.
    protocol::registry::Value journalRecords(protocol::registry::RootKey::LocalMachine, protocol::registry::kSettingsKey,
                                             protocol::settings::kJournalRecords);
    JournalForwarder journal;
    // The log index follows the same folder, on a thread of its own.
    IndexFeeder index;
    const auto configureJournal = [&] {
        const std::string folder = os::SettingPath(logFolder.Read().value_or(""));
        journal.Configure(journalRecords.Read().value_or("0") == "1", folder, os::WallTime());
        index.Follow(folder);
    };
    configureJournal();
    bool journalBehind = false;
    LoopSchedule schedule(os::MonotonicNow(),
                          std::chrono::milliseconds(protocol::SharedBlock::kRelayBeatLimitMs / 4));
    bool lookNow = true;
    std::vector<UpdateRelay::Carrier> stepCarriers;
    // The profile of the network, on a thread of its own; a switch has every engine reload.
    ProfileSwitcher profiles;

    while (!g_stop) {
        auto now = os::MonotonicNow();
        // A beat of 0 would mean "no relay": the tick count is kept odd.
        if (schedule.BeatDue(now))
            block.StampRelay(os::GetTickCount() | 1u);
        bool hostsChanged = tracker.Refresh(now);
        bool looked = false;
        if (tracker.TakeWatchedChange() || lookNow) {
            lookAtPanel();
            looked = true;
            // Hosts read after the list: a program that registers later reads
            // rules saved before the list was published.
            hostsChanged |= tracker.Refresh(now);
            lookNow = false;
        }
        const std::vector<pid_t> ended = tracker.TakeEnded();
        const bool switched = profiles.TakeSwitch();
        if (switched)
            relay.EveryoneDue();
        if (hostsChanged || !ended.empty() || looked || switched
            || (!relay.Idle() && schedule.AcknowledgementsDue(now))) {
            const std::vector<UpdateRelay::Carrier>* hosts = &tracker.Hosts();
            if (!ended.empty()) {
                stepCarriers = tracker.Hosts();
                for (const pid_t pid : ended)
                    stepCarriers.push_back({pid, std::string(), false});
                hosts = &stepCarriers;
            }
            // Acknowledgements are taken right before anything new is
            // published, so that each belongs to what the engine had seen.
            UpdateRelay::Update update;
            const bool published = relay.Step(*hosts, block.TakeAcknowledgements(), (block.Sequence() & ~1u) + 2, update);
            if (published)
                block.PublishUpdate(update.names, update.wordSequences, update.floor);
            schedule.Stepped(now, published);
        }
        while (const auto notice = notices.Next()) {
            // A panel started within the last second is not known yet: a
            // question must not be lost to it.
            if (box.empty())
                box = MessageBox();
            ReportBackstopNotice(*notice, os::SettingPath(logFolder.Read().value_or("")), box);
        }
        for (const pid_t pid : ended) {
            if (!box.empty())
                Post(box, protocol::kCodeApplicationFinished, static_cast<uint32_t>(pid));
            protocol::carriers::ForgetCarrier(pid);
        }
        journalBehind = journal.Forward(os::WallTime());
        if (schedule.SecondDue(now)) {
            configureJournal();
            lookNow = true;
            box = MessageBox();
            incoming.Add(block.TakeCounterA());
            outgoing.Add(block.TakeCounterB());
            incoming.PostTo(box, protocol::kCodeIncomingTraffic);
            outgoing.PostTo(box, protocol::kCodeOutgoingTraffic);
        }
        // Asleep until something happens, the next report or the next beat;
        // while engines still have to take a change, until their
        // acknowledgements are due. Without the kernel's notices, the
        // registry is read every 100 ms as before.
        now = os::MonotonicNow();
        LoopSchedule::Waiting waiting;
        waiting.relayBusy = !relay.Idle();
        waiting.polling = tracker.Fd() < 0;
        waiting.journal = journal.On();
        waiting.journalBehind = journalBehind;
        waiting.journalEvery = JournalForwarder::kLookEvery;
        const auto wait = schedule.Wait(now, waiting);
        pollfd descriptors[5] = {{tracker.Fd(), POLLIN, 0}, {notices.Fd(now), POLLIN, 0}, {journal.WatchFd(), POLLIN, 0},
                             {journal.BlockedFd(), POLLOUT, 0}, {profiles.Fd(), POLLIN, 0}};
        ::poll(descriptors, 5, static_cast<int>(wait.count()));
    }
    profiles.Stop();
    index.Stop();
    // Ending in the middle of a turn: nothing stays named for the engines.
    block.PublishUpdate("", {}, block.ReadUpdate(left) ? left.floor : 0);
    block.StampRelay(0);
    return 0;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc > 1 && text::IsVersionOption(argv[1]))
        return text::PrintVersion("zelconn");
    const bool daemon = argc > 1 && !std::strcmp(argv[1], "--daemon");
    if (argc > 2 || (argc > 1 && !daemon)) {
        const bool asked = text::IsHelpOption(argv[1]);
        std::fprintf(asked ? stdout : stderr, "usage: zelconn [--daemon]\n");
        if (asked)
            std::printf("The firewall's interceptor process; the control panel starts it.\n");
        return asked ? 0 : 2;
    }
    session::StartedUnderHook(argv); // never under the hook: restarted without it
    protocol::registry::ReadOnlyTrustedStore();
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
    if (os::RuntimeDir().empty()) {
        std::fprintf(stderr, "zelconn: %s\n", os::RuntimeDirProblem().c_str());
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
