#include "zelconn/BackstopNotices.h"
#include "zelconn/CarrierTracker.h"
#include "zelconn/UpdateRelay.h"

#include "protocol/BackstopSocket.h"
#include "protocol/CarrierRegistry.h"
#include "protocol/SharedBlock.h"
#include "session/ProgramCoverage.h"
#include "tests/Sandbox.h"

#include <chrono>
#include <csignal>
#include <functional>
#include <gtest/gtest.h>
#include <cstring>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace zelconn;

using Carrier = UpdateRelay::Carrier;
using Update = UpdateRelay::Update;

namespace {

// The relay's steps as the interceptor's process runs them, with the
// sequence going up by two for every write.
struct Relay {
    UpdateRelay relay;
    uint32_t sequence = 0;
    Update last;

    // The string after a step; unchanged when the step wrote nothing.
    std::string Step(const std::vector<Carrier>& hosts, const std::vector<uint32_t>& acks = {})
    {
        Update update;
        if (relay.Step(hosts, acks, sequence + 2, update)) {
            sequence += 2;
            last = update;
        }
        return last.names;
    }
    uint32_t SequenceOf(size_t word) const { return last.wordSequences.at(word); }
};

}  // namespace

TEST(UpdateRelay, NameStaysUntilEveryEngineItNamesHasAcknowledgedOrEnded)
{
    Relay r;
    r.relay.Observe("", false);
    r.relay.Observe(" FIREFOX", false);
    std::vector<Carrier> hosts = {{10, "FIREFOX", true}, {11, "FIREFOX", true}, {12, "CURL", true}, {13, "FIREFOX", true}};
    EXPECT_EQ(r.Step(hosts), " FIREFOX");
    EXPECT_EQ(r.Step(hosts, {10, 10}), " FIREFOX");
    // However many steps an idle engine takes, the name waits for it.
    for (int i = 0; i < 1000; ++i)
        ASSERT_EQ(r.Step(hosts), " FIREFOX");
    EXPECT_EQ(r.Step(hosts, {11}), " FIREFOX");
    hosts[3].alive = false;
    EXPECT_EQ(r.Step(hosts), "");
    EXPECT_TRUE(r.relay.Idle());
}

TEST(UpdateRelay, NewNamesAndSavedRulesArePublishedWithTheirOwnSequence)
{
    Relay r;
    const std::vector<Carrier> hosts = {{1, "A.EXE", true}, {2, "B.EXE", true}};
    // Listed before the first look: engines running since may have missed it.
    r.relay.Observe(" A.EXE", false);
    EXPECT_EQ(r.Step(hosts), " A.EXE");
    const uint32_t first = r.SequenceOf(0);
    r.relay.Observe(" A.EXE B.EXE", false);
    EXPECT_EQ(r.Step(hosts), " A.EXE B.EXE");
    EXPECT_EQ(r.SequenceOf(0), first); // taken already by whoever saw it: no reload again
    EXPECT_GT(r.SequenceOf(1), first);
    EXPECT_EQ(r.Step(hosts, {1, 2}), "");
    r.relay.Observe(" A.EXE B.EXE", false);
    EXPECT_EQ(r.Step(hosts), "");
    // The rules were saved again while both names stay listed: both are due.
    r.relay.Observe(" A.EXE B.EXE", true);
    EXPECT_EQ(r.Step(hosts), " A.EXE B.EXE");
    EXPECT_EQ(r.SequenceOf(0), r.sequence);
    EXPECT_EQ(r.SequenceOf(1), r.sequence);
}

TEST(UpdateRelay, NamesWithoutARunningEngineAreNotPublished)
{
    Relay r;
    r.relay.Observe("", false);
    r.relay.Observe(" NOTEPAD.EXE", false);
    EXPECT_EQ(r.Step({{1, "OTHER", true}}), "");
    EXPECT_TRUE(r.relay.Idle());
    // A name inside another one reloads that engine too, so it is waited for.
    r.relay.Observe(" NOTEPAD.EXE", true);
    EXPECT_EQ(r.Step({{2, "PAD.EXE", true}}), " NOTEPAD.EXE");
}

TEST(UpdateRelay, FullStringMakesRoomAndRaisesTheFloorForWhatLeft)
{
    Relay r;
    r.relay.Observe("", false);
    std::vector<Carrier> hosts;
    std::string list;
    for (int i = 0; i < 60; ++i) {
        const std::string name = "PROGRAM" + std::to_string(100 + i) + ".EXE";
        list += " " + name;
        hosts.push_back({1000 + i, name, true});
    }
    ASSERT_GT(list.size(), 511u);
    r.relay.Observe(list, false);
    const std::string names = r.Step(hosts);
    ASSERT_LE(names.size(), 511u);
    // The newest names stay; engines of the ones that left reload by the floor.
    EXPECT_NE(names.find("PROGRAM159.EXE"), std::string::npos);
    EXPECT_EQ(names.find("PROGRAM100.EXE"), std::string::npos);
    EXPECT_EQ(r.last.floor, r.sequence);
    EXPECT_EQ(r.last.wordSequences.size(), SplitNames(names).size());
    // A profile switched: the next write raises the floor past every engine,
    // the names still waiting kept; then the relay is idle again.
    const uint32_t before = r.sequence;
    r.relay.EveryoneDue();
    EXPECT_FALSE(r.relay.Idle());
    EXPECT_EQ(r.Step(hosts), names);
    EXPECT_EQ(r.sequence, before + 2);
    EXPECT_EQ(r.last.floor, r.sequence);
    r.Step(hosts, {});
    EXPECT_EQ(r.sequence, before + 2);
}

// The engine side of the same bookkeeping: which writes make an engine reload.
TEST(UpdateRelay, EnginesReloadOncePerPublishedChange)
{
    using protocol::SharedBlock;
    SharedBlock::UpdateView view;
    view.extended = true;
    std::snprintf(view.names, sizeof view.names, " NOTEPAD.EXE IEXPLORE.EXE");
    view.sequence = 10;
    view.wordSequences[0] = 6;
    view.wordSequences[1] = 10;
    struct Case {
        const char* exeName;
        uint32_t seen;
        bool due;
    } cases[] = {
        {"IEXPLORE.EXE", 8, true},   // published after what it saw
        {"IEXPLORE.EXE", 10, false}, // taken already
        {"NOTEPAD.EXE", 6, false},   // a later write of the string does not make it due again
        {"NOTEPAD.EXE", 4, true},    // idle since before it was published
        {"PAD.EXE", 4, true},        // named inside another name
        {"OTHER", 0, false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(SharedBlock::IsDue(view, c.exeName, c.seen, 1000), c.due) << c.exeName << " seen " << c.seen;
    // Names taken off for room: whoever had not seen them reloads.
    view.floor = 8;
    EXPECT_TRUE(SharedBlock::IsDue(view, "OTHER", 6, 1000));
    EXPECT_FALSE(SharedBlock::IsDue(view, "OTHER", 8, 1000));
    // A string left by an interceptor that stopped beating names nothing.
    view.floor = 0;
    view.relayBeat = 1001;
    EXPECT_TRUE(SharedBlock::IsDue(view, "IEXPLORE.EXE", 8, 2000));
    EXPECT_FALSE(SharedBlock::IsDue(view, "IEXPLORE.EXE", 8, 1001 + SharedBlock::kRelayBeatLimitMs + 1));
    // A beat stamped just after this process read the clock is alive, not
    // four billion milliseconds old: the change must not be passed over.
    EXPECT_TRUE(SharedBlock::IsDue(view, "IEXPLORE.EXE", 8, 1000));
    view.relayBeat = 5;
    EXPECT_TRUE(SharedBlock::IsDue(view, "IEXPLORE.EXE", 8, 0xFFFFFFF0u)); // across the counter's wrap
}

// The interceptor learns of hosts from the kernel's notices: a new host is
// seen once it is registered, its end within a fraction of a second (long
// before the full reading every ten seconds), and a registration left by a
// host that ended before the tracker started is reported at the start.
TEST(CarrierTracker, SeesHostsComeAndGoByTheKernelsNotices)
{
    testing_support::Sandbox sandbox;
    {
        // Ended before: a registration whose lock nobody holds.
        const int fd = protocol::carriers::RegisterCarrier(999999, "GONE");
        ASSERT_GE(fd, 0);
        ::close(fd);
    }
    const auto start = std::chrono::steady_clock::now();
    CarrierTracker tracker;
    ASSERT_GE(tracker.Fd(), 0);
    tracker.Refresh(start);
    EXPECT_TRUE(tracker.Hosts().empty());
    EXPECT_EQ(tracker.TakeEnded(), std::vector<pid_t> {999999});

    // Waits for the tracker's descriptor and refreshes, until done says so.
    const auto until = [&](const std::function<bool()>& done) {
        for (int i = 0; i < 200 && !done(); ++i) {
            pollfd waiting {tracker.Fd(), POLLIN, 0};
            ::poll(&waiting, 1, 10);
            tracker.Refresh(start); // never due for a full reading
        }
        return done();
    };
    int ready[2], hold[2];
    ASSERT_EQ(::pipe(ready), 0);
    ASSERT_EQ(::pipe(hold), 0);
    // A host: registers, says so, and waits until the test lets go.
    const auto startHost = [&] {
        const pid_t pid = ::fork();
        if (pid == 0) {
            const int fd = protocol::carriers::RegisterCarrier(::getpid(), "TOOL.EXE");
            char byte = fd >= 0 ? 'y' : 'n';
            [[maybe_unused]] ssize_t n = ::write(ready[1], &byte, 1);
            n = ::read(hold[0], &byte, 1);
            ::_exit(0);
        }
        char byte = 0;
        EXPECT_EQ(::read(ready[0], &byte, 1), 1);
        EXPECT_EQ(byte, 'y');
        return pid;
    };
    const pid_t child = startHost();
    EXPECT_TRUE(until([&] { return tracker.Hosts().size() == 1; }));
    ASSERT_EQ(tracker.Hosts().size(), 1u);
    EXPECT_EQ(tracker.Hosts()[0].pid, child);
    EXPECT_EQ(tracker.Hosts()[0].exeName, "TOOL.EXE");
    EXPECT_TRUE(tracker.TakeEnded().empty());

    ::kill(child, SIGKILL);
    ::waitpid(child, nullptr, 0);
    const auto killed = std::chrono::steady_clock::now();
    std::vector<pid_t> ended;
    EXPECT_TRUE(until([&] {
        for (const pid_t pid : tracker.TakeEnded())
            ended.push_back(pid);
        return !ended.empty();
    }));
    EXPECT_EQ(ended, std::vector<pid_t> {child});
    EXPECT_TRUE(tracker.Hosts().empty());
    EXPECT_LT(std::chrono::steady_clock::now() - killed, std::chrono::seconds(1));

    // The folder removed (a cleaner of the runtime folder) and made again by
    // the next registration: still watched.
    for (const pid_t pid : {child, pid_t {999999}})
        protocol::carriers::ForgetCarrier(pid);
    ASSERT_EQ(::rmdir(protocol::carriers::CarriersFolder().c_str()), 0);
    for (int i = 0; i < 5; ++i) { // the notices of the removal
        pollfd waiting {tracker.Fd(), POLLIN, 0};
        ::poll(&waiting, 1, 10);
        tracker.Refresh(start);
    }
    const pid_t next = startHost();
    EXPECT_TRUE(until([&] { return tracker.Hosts().size() == 1; }));
    ::kill(next, SIGKILL);
    ::waitpid(next, nullptr, 0);
    for (int fd : {ready[0], ready[1], hold[0], hold[1]})
        ::close(fd);
}

// The backstop's lines come from a root service, but through a socket path
// that could be another's: only well-formed notices are taken.
TEST(BackstopNotices, OnlyWellFormedLinesAreNotices)
{
    const auto notice = BackstopNotices::Parse("denied 4242 10.0.0.7 443 TCP /opt/go tools/fetch");
    ASSERT_TRUE(notice);
    EXPECT_TRUE(notice->denied);
    EXPECT_EQ(notice->pid, 4242);
    EXPECT_EQ(notice->address, "10.0.0.7");
    EXPECT_EQ(notice->port, 443u);
    EXPECT_EQ(notice->protocol, 1);
    EXPECT_EQ(notice->program, "/opt/go tools/fetch"); // blanks in a path kept
    const auto datagram = BackstopNotices::Parse("passed 7 fd00::2 53 UDP dig");
    ASSERT_TRUE(datagram);
    EXPECT_FALSE(datagram->denied);
    EXPECT_EQ(datagram->protocol, 2);
    // The rules said ASK: refused, and a question for the user.
    const auto asked = BackstopNotices::Parse("asked 9 10.0.0.8 8443 TCP fetch");
    ASSERT_TRUE(asked);
    EXPECT_TRUE(asked->asked);
    EXPECT_TRUE(asked->denied);
    EXPECT_FALSE(notice->asked);
    EXPECT_FALSE(notice->incoming);
    // A peer that connected to the program: its port, then the program's.
    const auto incoming = BackstopNotices::Parse("asked-in 12 10.0.0.9 40001 8080 TCP /srv/server");
    ASSERT_TRUE(incoming);
    EXPECT_TRUE(incoming->incoming && incoming->asked);
    EXPECT_EQ(incoming->port, 40001u);
    EXPECT_EQ(incoming->localPort, 8080u);
    EXPECT_EQ(incoming->program, "/srv/server");
    for (const char* line : {"", "blocked 1 10.0.0.1 80 TCP x", "denied 0 10.0.0.1 80 TCP x", "denied 1 10.0.0.1 99999 TCP x",
                             "denied 1 10.0.0.1 80 ICMP x", "denied 1 10.0.0.1 80 TCP", "denied x 10.0.0.1 80 TCP y",
                             "state rules", "denied-in 1 10.0.0.1 80 TCP x", "denied-in 1 10.0.0.1 80 99999 TCP x",
                             "blocked-in 1 10.0.0.1 80 81 TCP x"})
        EXPECT_FALSE(BackstopNotices::Parse(line)) << line;
}

// Each user hears their own backstop, on a socket named by their uid; a
// socket whose listener is not the service's user (root) is not listened to,
// whoever put it at the path.
TEST(AttackBackstopNotices, ListensOnlyToTheServiceOfThisUser)
{
    ::unsetenv("ZEL_BACKSTOP_SOCKET");
    EXPECT_EQ(BackstopNotices::SocketPath(), "/run/zel-backstop/" + std::to_string(::getuid()) + ".sock");
    testing_support::Sandbox sandbox;
    const std::string path = sandbox.root + "/backstop.sock";
    const int listener = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address {};
    address.sun_family = AF_UNIX;
    ASSERT_LT(path.size(), sizeof address.sun_path);
    std::memcpy(address.sun_path, path.data(), path.size());
    ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(::listen(listener, 4), 0);
    const auto now = std::chrono::steady_clock::now();

    BackstopNotices impostor(path, ::getuid() + 1); // the listener here is not that user
    EXPECT_LT(impostor.Fd(now), 0);
    ::close(::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC)); // the connection it gave up

    BackstopNotices service(path, ::getuid());
    ASSERT_GE(service.Fd(now), 0);
    const int accepted = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
    ASSERT_GE(accepted, 0);
    const std::string line = "denied 42 10.0.0.7 443 TCP /opt/fetch\n";
    ASSERT_EQ(::send(accepted, line.data(), line.size(), MSG_NOSIGNAL), static_cast<ssize_t>(line.size()));
    pollfd wait {service.Fd(now), POLLIN, 0};
    ASSERT_EQ(::poll(&wait, 1, 5000), 1);
    const auto notice = service.Next();
    ASSERT_TRUE(notice);
    EXPECT_EQ(notice->program, "/opt/fetch");
    ::close(accepted);

    // The panel's "the backstop runs" asks the same question of the same path.
    ::setenv("ZEL_BACKSTOP_SOCKET", path.c_str(), 1);
    EXPECT_EQ(session::coverage::BackstopRunning(), ::getuid() == 0); // only root's listener is the backstop
    EXPECT_TRUE(protocol::backstop_socket::Answers(path, ::getuid()));
    EXPECT_FALSE(protocol::backstop_socket::Answers(path, ::getuid() + 1));
    for (int i = 0; i < 3; ++i)
        ::close(::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK));
    ::close(listener);
    EXPECT_FALSE(protocol::backstop_socket::Answers(path, ::getuid())); // nobody listens
    ::unlink(path.c_str());
    EXPECT_FALSE(protocol::backstop_socket::Answers(path, ::getuid())); // nothing there
    ::unsetenv("ZEL_BACKSTOP_SOCKET");
}
