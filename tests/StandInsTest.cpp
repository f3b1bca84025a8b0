// Sockets that stand aside while the user decides, tested in-process with a
// stand-in for the user: the kernel's view of the program's descriptor while
// a question is open, and after its answer.
#include "hook/decisions/Datagrams.h"
#include "hook/decisions/Questions.h"
#include "hook/descriptors/SocketTable.h"
#include "hook/decisions/StandIns.h"

#include <arpa/inet.h>
#include <atomic>
#include <condition_variable>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <mutex>
#include <netinet/in.h>
#include <poll.h>
#include <random>
#include <string>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

using namespace hook;
using namespace std::chrono_literals;

namespace {

// The user: answers what the test writes into a pipe ("1" Allow, "2" Block),
// one question at a time, or sees a question withdrawn.
struct User {
    int answers[2] = {-1, -1};
    std::atomic<int> asked {0};
    std::atomic<int> withdrawn {0};
    std::atomic<int> asking {0}, mostAtOnce {0};
    std::mutex mutex;
    std::condition_variable changed; // a question asked
    std::vector<std::string> peers;

    User() { EXPECT_EQ(::pipe2(answers, O_CLOEXEC), 0); ::fcntl(answers[1], F_SETFL, O_NONBLOCK); }
    ~User()
    {
        ::close(answers[0]);
        ::close(answers[1]);
    }
    bool Answer(char button) { return ::write(answers[1], &button, 1) == 1; }
    // Waits, bounded, until at least count questions were asked.
    bool Asked(int count)
    {
        std::unique_lock lock(mutex);
        return changed.wait_for(lock, 10s, [&] { return asked >= count; });
    }
};

User* g_user = nullptr;

UserAnswer Ask(const Question& question, int withdrawFd)
{
    User& user = *g_user;
    {
        std::lock_guard lock(user.mutex);
        user.peers.push_back(std::string(question.address) + ":" + std::to_string(question.remotePort));
        ++user.asked;
    }
    user.changed.notify_all();
    const int atOnce = ++user.asking;
    for (int most = user.mostAtOnce; atOnce > most && !user.mostAtOnce.compare_exchange_weak(most, atOnce);) {
    }
    const auto answer = [&] {
        for (;;) {
            pollfd waiting[2] = {{withdrawFd, POLLIN, 0}, {user.answers[0], POLLIN, 0}};
            if (::poll(waiting, 2, 10000) <= 0)
                return UserAnswer::kDenied; // nobody answered: a failing test ends
            if (waiting[0].revents) {
                ++user.withdrawn;
                return UserAnswer::kWithdrawn;
            }
            char button = 0;
            if (::read(user.answers[0], &button, 1) == 1)
                return button == '1' ? UserAnswer::kPermitted : UserAnswer::kDenied;
        }
    }();
    --user.asking;
    return answer;
}

sockaddr_in Loopback(unsigned port)
{
    sockaddr_in address {};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return address;
}

int Listener(unsigned& port, bool nonBlocking = false)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | (nonBlocking ? SOCK_NONBLOCK : 0), 0);
    sockaddr_in address = Loopback(0);
    socklen_t length = sizeof address;
    EXPECT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    EXPECT_EQ(::listen(fd, 16), 0);
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    port = ntohs(address.sin_port);
    SetKind(fd, kTcpSocket);
    return fd;
}

int Client()
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
    SetKind(fd, kTcpSocket);
    return fd;
}

Question QuestionFor(unsigned port)
{
    Question question;
    question.direction = 1;
    question.protocol = 1;
    question.remotePort = port;
    std::strcpy(question.address, "127.0.0.1");
    return question;
}

short Ready(int fd, short events, int ms)
{
    pollfd waiting {fd, events, 0};
    return ::poll(&waiting, 1, ms) > 0 ? waiting.revents : 0;
}

int SocketError(int fd)
{
    int error = -1;
    socklen_t size = sizeof error;
    ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &size);
    return error;
}

// Whether any of the program's own numbers (below where the firewall keeps
// its descriptors) still has a mark of the firewall's.
bool AnyProgramNumberMarked()
{
    for (int fd = 0; fd < 900; ++fd)
        if (MarksOf(fd))
            return true;
    return false;
}

// Waits, bounded, until no question is open any more.
bool QuestionsEnd()
{
    // Fixed: the count is the stand-ins' own, which tells nobody when it
    // changes (a question ends after its asker has returned).
    for (int i = 0; i < 500 && OpenQuestions() > 0; ++i)
        std::this_thread::sleep_for(10ms);
    return OpenQuestions() == 0;
}

class StandInsTest : public testing::Test {
protected:
    User user;
    void SetUp() override
    {
        g_user = &user;
        SetAsker(Ask);
    }
    void TearDown() override
    {
        EXPECT_TRUE(QuestionsEnd());
        g_user = nullptr;
    }
};

}  // namespace

// Nothing reaches the peer before the answer; the program's epoll set,
// which held the socket before it connected, reports it once connected.
TEST_F(StandInsTest, ConnectionWaitsUnseenAndArrivesInTheProgramsEpollSet)
{
    unsigned port = 0;
    const int listener = Listener(port);
    const int fd = Client();
    const int set = ::epoll_create1(EPOLL_CLOEXEC);
    epoll_event interest {};
    interest.events = EPOLLOUT | EPOLLET;
    interest.data.u64 = 0x5EED;
    ASSERT_EQ(::epoll_ctl(set, EPOLL_CTL_ADD, fd, &interest), 0);
    const sockaddr_in to = Loopback(port);
    ASSERT_TRUE(StandInForConnection(fd, reinterpret_cast<const sockaddr*>(&to), sizeof to, QuestionFor(port), 77, false));

    EXPECT_EQ(Ready(fd, POLLIN | POLLOUT, 200), 0);
    epoll_event event {};
    EXPECT_EQ(::epoll_wait(set, &event, 1, 100), 0);
    EXPECT_EQ(Ready(listener, POLLIN, 0), 0); // no connection was started
    // The socket's state is the socket's, read through the number.
    const int kept = HoldKeptSocket(fd);
    ASSERT_GE(kept, 0);
    int type = 0;
    socklen_t size = sizeof type;
    EXPECT_EQ(::getsockopt(kept, SOL_SOCKET, SO_TYPE, &type, &size), 0);
    ReleaseKeptSocket();
    EXPECT_EQ(type, SOCK_STREAM);
    int again = 0;
    ASSERT_TRUE(ConnectAgain(fd, again));
    EXPECT_EQ(again, -1);
    EXPECT_EQ(errno, EALREADY);

    EXPECT_TRUE(user.Answer('1'));
    ASSERT_EQ(::epoll_wait(set, &event, 1, 5000), 1);
    EXPECT_EQ(event.data.u64, 0x5EEDu);
    EXPECT_TRUE(event.events & EPOLLOUT);
    EXPECT_EQ(::epoll_wait(set, &event, 1, 100), 0); // one edge
    EXPECT_EQ(SocketError(fd), 0);
    EXPECT_FALSE(MarksOf(fd) & kMarkStandsIn);
    EXPECT_EQ(DecidedPeer(fd), 77u);
    sockaddr_in peer {};
    socklen_t length = sizeof peer;
    EXPECT_EQ(::getpeername(fd, reinterpret_cast<sockaddr*>(&peer), &length), 0);
    EXPECT_EQ(ntohs(peer.sin_port), port);
    const int accepted = ::accept(listener, nullptr, nullptr);
    EXPECT_GE(accepted, 0);
    for (const int open : {accepted, fd, set, listener})
        ::close(open);
    Forget(fd);
}

// A refused connection: unconnected, polling writable and hung up, and
// telling ECONNREFUSED once. A poll already waiting on the number wakes.
TEST_F(StandInsTest, DeniedConnectionComesBackRefusedOnce)
{
    unsigned port = 0;
    const int listener = Listener(port);
    const int fd = Client();
    const sockaddr_in to = Loopback(port);
    ASSERT_TRUE(StandInForConnection(fd, reinterpret_cast<const sockaddr*>(&to), sizeof to, QuestionFor(port), 1, false));
    std::thread answer([this] {
        // Fixed: the answer must come while the poll below waits, and nothing
        // tells that the poll has begun.
        std::this_thread::sleep_for(200ms);
        EXPECT_TRUE(user.Answer('2'));
    });
    const auto start = std::chrono::steady_clock::now();
    const short events = Ready(fd, POLLOUT, 5000);
    answer.join();
    EXPECT_GE(std::chrono::steady_clock::now() - start, 150ms);
    EXPECT_EQ(events, POLLOUT | POLLHUP);
    EXPECT_TRUE(TakeRefusal(fd));
    EXPECT_FALSE(TakeRefusal(fd));
    EXPECT_EQ(Ready(listener, POLLIN, 100), 0);
    ::close(fd);
    Forget(fd);
    ::close(listener);
}

// The program closes the number: the question is taken back, and the socket
// it stood in for never connects.
TEST_F(StandInsTest, ClosingWithdrawsTheQuestion)
{
    unsigned port = 0;
    const int listener = Listener(port);
    const int fd = Client();
    const sockaddr_in to = Loopback(port);
    ASSERT_TRUE(StandInForConnection(fd, reinterpret_cast<const sockaddr*>(&to), sizeof to, QuestionFor(port), 1, false));
    ASSERT_TRUE(user.Asked(1));
    Withdraw(fd);
    ::close(fd);
    Forget(fd);
    EXPECT_TRUE(QuestionsEnd());
    EXPECT_EQ(user.withdrawn, 1);
    EXPECT_EQ(Ready(listener, POLLIN, 100), 0);
    EXPECT_FALSE(AnyProgramNumberMarked());
    ::close(listener);
}

// A connection held back from accept: the listener is readable for others
// meanwhile, and for the held one once it is permitted.
TEST_F(StandInsTest, HeldConnectionIsHandedOverOncePermitted)
{
    unsigned port = 0;
    const int listener = Listener(port, true);
    const sockaddr_in at = Loopback(port);
    const auto connectFrom = [&at] {
        const int client = ::socket(AF_INET, SOCK_STREAM, 0);
        EXPECT_EQ(::connect(client, reinterpret_cast<const sockaddr*>(&at), sizeof at), 0);
        return client;
    };
    const int first = connectFrom();
    sockaddr_in from {};
    socklen_t length = sizeof from;
    const int held = ::accept4(listener, reinterpret_cast<sockaddr*>(&from), &length, 0);
    ASSERT_GE(held, 0);
    Question question = QuestionFor(ntohs(from.sin_port));
    question.direction = 0;
    ASSERT_TRUE(HoldConnection(listener, held, reinterpret_cast<sockaddr*>(&from), length, question));
    EXPECT_TRUE(MarksOf(listener) & kMarkStandsIn);
    EXPECT_EQ(Ready(listener, POLLIN, 100), 0);
    bool handedOver = true;
    sockaddr_in peer {};
    length = sizeof peer;
    EXPECT_EQ(AcceptOnStandIn(listener, reinterpret_cast<sockaddr*>(&peer), &length, 0, handedOver), -1);
    EXPECT_EQ(errno, EAGAIN);

    // Another connection comes through the stand-in as it came.
    const int second = connectFrom();
    EXPECT_TRUE(Ready(listener, POLLIN, 2000) & POLLIN);
    const int other = AcceptOnStandIn(listener, reinterpret_cast<sockaddr*>(&peer), &length, 0, handedOver);
    EXPECT_GE(other, 0);
    EXPECT_FALSE(handedOver);

    EXPECT_TRUE(user.Answer('1'));
    EXPECT_TRUE(Ready(listener, POLLIN, 5000) & POLLIN);
    length = sizeof peer;
    const int taken = AcceptOnStandIn(listener, reinterpret_cast<sockaddr*>(&peer), &length, SOCK_NONBLOCK, handedOver);
    ASSERT_GE(taken, 0);
    EXPECT_TRUE(handedOver);
    EXPECT_EQ(peer.sin_port, from.sin_port);
    EXPECT_TRUE(::fcntl(taken, F_GETFL) & O_NONBLOCK);
    EXPECT_LT(taken, 900); // the lowest free number, as accept gives
    EXPECT_EQ(::send(first, "x", 1, MSG_NOSIGNAL), 1);
    char byte = 0;
    EXPECT_TRUE(Ready(taken, POLLIN, 2000) & POLLIN);
    EXPECT_EQ(::recv(taken, &byte, 1, 0), 1);
    // Nothing held any more: the listener is itself again.
    EXPECT_FALSE(MarksOf(listener) & kMarkStandsIn);
    int listening = 0;
    socklen_t size = sizeof listening;
    EXPECT_EQ(::getsockopt(listener, SOL_SOCKET, SO_ACCEPTCONN, &listening, &size), 0);
    EXPECT_EQ(listening, 1);
    for (const int open : {taken, other, first, second, listener})
        ::close(open);
    Forget(listener);
}

// A denied connection is reset; the program never sees it.
TEST_F(StandInsTest, DeniedHeldConnectionIsReset)
{
    unsigned port = 0;
    const int listener = Listener(port, true);
    const sockaddr_in at = Loopback(port);
    const int client = ::socket(AF_INET, SOCK_STREAM, 0);
    ASSERT_EQ(::connect(client, reinterpret_cast<const sockaddr*>(&at), sizeof at), 0);
    sockaddr_in from {};
    socklen_t length = sizeof from;
    const int held = ::accept4(listener, reinterpret_cast<sockaddr*>(&from), &length, 0);
    ASSERT_TRUE(HoldConnection(listener, held, reinterpret_cast<sockaddr*>(&from), length, QuestionFor(port)));
    EXPECT_TRUE(user.Answer('2'));
    char byte;
    EXPECT_TRUE(Ready(client, POLLIN, 5000) & POLLIN);
    EXPECT_EQ(::recv(client, &byte, 1, 0), -1);
    EXPECT_EQ(errno, ECONNRESET);
    EXPECT_TRUE(QuestionsEnd());
    EXPECT_FALSE(MarksOf(listener) & kMarkStandsIn);
    ::close(client);
    ::close(listener);
    Forget(listener);
}

// A peer that gives up, resetting the connection held for the answer, takes
// its question with it; one that only shut its sending side still waits.
TEST_F(StandInsTest, PeerResettingAHeldConnectionWithdrawsItsQuestion)
{
    unsigned port = 0;
    const int listener = Listener(port, true);
    const sockaddr_in at = Loopback(port);
    // Both accepted before the first is held: then the listener is a stand-in.
    int clients[2], held[2];
    sockaddr_in from[2] {};
    for (int i = 0; i < 2; ++i) {
        clients[i] = ::socket(AF_INET, SOCK_STREAM, 0);
        ASSERT_EQ(::connect(clients[i], reinterpret_cast<const sockaddr*>(&at), sizeof at), 0);
        socklen_t length = sizeof from[i];
        held[i] = ::accept4(listener, reinterpret_cast<sockaddr*>(&from[i]), &length, 0);
        ASSERT_GE(held[i], 0);
    }
    for (int i = 0; i < 2; ++i)
        ASSERT_TRUE(HoldConnection(listener, held[i], reinterpret_cast<sockaddr*>(&from[i]), sizeof from[i], QuestionFor(port)));
    ASSERT_TRUE(user.Asked(2));
    ::shutdown(clients[1], SHUT_WR);
    const linger reset {1, 0};
    ::setsockopt(clients[0], SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
    ::close(clients[0]);
    // Told nobody but the stand-in user: looked at every 10 ms, for 5 s at most.
    for (int i = 0; i < 500 && user.withdrawn == 0; ++i)
        std::this_thread::sleep_for(10ms);
    EXPECT_EQ(user.withdrawn, 1);
    EXPECT_TRUE(user.Answer('1'));
    EXPECT_TRUE(Ready(listener, POLLIN, 5000) & POLLIN);
    bool handedOver = false;
    const int taken = AcceptOnStandIn(listener, nullptr, nullptr, 0, handedOver);
    EXPECT_GE(taken, 0);
    EXPECT_TRUE(handedOver);
    EXPECT_TRUE(QuestionsEnd());
    for (const int open : {taken, clients[1], listener})
        ::close(open);
    Forget(listener);
}

// A datagram sent while its peer is asked about leaves once permitted.
TEST_F(StandInsTest, DatagramHeldBackLeavesOncePermitted)
{
    const int receiver = ::socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in at = Loopback(0);
    socklen_t length = sizeof at;
    ASSERT_EQ(::bind(receiver, reinterpret_cast<sockaddr*>(&at), sizeof at), 0);
    ::getsockname(receiver, reinterpret_cast<sockaddr*>(&at), &length);
    const int sender = ::socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK, 0);
    SetKind(sender, kUdpSocket);
    Peer peer;
    ASSERT_TRUE(DescribePeer(reinterpret_cast<sockaddr*>(&at), peer));
    Question question = QuestionFor(peer.port);
    question.protocol = 2;
    char text[] = "second";
    iovec part {text, 6};
    OutgoingDatagram first {&part, 1, reinterpret_cast<sockaddr*>(&at), sizeof at};
    ASSERT_TRUE(AskWithoutWaiting(sender, 1, peer, 5, question, &first));
    EXPECT_EQ(RecallVerdict(sender, 1, peer, 5), Recalled::kAsking);
    EXPECT_TRUE(HoldBack(sender, peer, first)); // the latest one is kept
    EXPECT_EQ(Ready(receiver, POLLIN, 100), 0);
    EXPECT_TRUE(user.Answer('1'));
    EXPECT_EQ(WaitForVerdict(sender, 1, peer, 5, 0), Recalled::kPermitted);
    char received[16] = {};
    EXPECT_TRUE(Ready(receiver, POLLIN, 2000) & POLLIN);
    EXPECT_EQ(::recv(receiver, received, sizeof received, MSG_DONTWAIT), 6);
    EXPECT_STREQ(received, "second");
    EXPECT_EQ(::recv(receiver, received, sizeof received, MSG_DONTWAIT), -1); // one left, not two
    ForgetDatagrams(sender);
    ::close(sender);
    Forget(sender);
    ::close(receiver);
}

// Closed while its peer is asked about: withdrawn, nothing remembered, nothing sent.
TEST_F(StandInsTest, DatagramQuestionIsWithdrawnWithItsSocket)
{
    const int sender = ::socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK, 0);
    SetKind(sender, kUdpSocket);
    Peer peer;
    std::strcpy(peer.address, "127.0.0.1");
    peer.port = 9;
    ASSERT_TRUE(AskWithoutWaiting(sender, 1, peer, 5, QuestionFor(9), nullptr));
    ForgetDatagrams(sender);
    EXPECT_TRUE(QuestionsEnd());
    EXPECT_EQ(user.withdrawn, 1);
    EXPECT_EQ(RecallVerdict(sender, 1, peer, 5), Recalled::kNothing);
    ::close(sender);
    Forget(sender);
}

// Threads make connections that stand in, close them while they are asked
// about or being made, and answer at random: every socket goes back or goes,
// and nothing of the firewall's is left behind.
TEST_F(StandInsTest, ConcurrentQuestionsAnswersAndClosesLeaveNothingBehind)
{
    unsigned port = 0;
    const int listener = Listener(port, true);
    std::atomic<bool> done {false};
    std::thread acceptor([&] {
        while (!done) {
            const int c = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
            if (c >= 0)
                ::close(c);
            else
                Ready(listener, POLLIN, 20);
        }
    });
    std::thread answers([&] {
        // One answer for each question asked, after a random moment.
        std::mt19937 random(7);
        for (int answered = 0; !done;) {
            int now = 0;
            {
                std::unique_lock lock(user.mutex);
                user.changed.wait_for(lock, 20s, [&] { return user.asked > answered || done; });
                now = user.asked;
            }
            for (; answered < now; ++answered) {
                for (unsigned yields = random() % 64; yields > 0; --yields)
                    std::this_thread::yield();
                user.Answer(random() % 2 ? '1' : '2');
            }
        }
    });
    std::vector<std::thread> programs;
    for (int t = 0; t < 6; ++t)
        programs.emplace_back([t, port] {
            std::mt19937 random(static_cast<unsigned>(t));
            const sockaddr_in to = Loopback(port);
            for (int i = 0; i < 30; ++i) {
                const int fd = Client();
                if (!StandInForConnection(fd, reinterpret_cast<const sockaddr*>(&to), sizeof to, QuestionFor(port), 1, false)) {
                    ::close(fd);
                    continue;
                }
                if (random() % 2) {
                    for (unsigned yields = random() % 256; yields > 0; --yields)
                        std::this_thread::yield();
                    Withdraw(fd);
                } else {
                    Ready(fd, POLLOUT, 5000);
                    TakeRefusal(fd);
                }
                // As the hook's close does: forgotten before the number is free again.
                Forget(fd);
                ::close(fd);
            }
        });
    for (std::thread& program : programs)
        program.join();
    EXPECT_TRUE(QuestionsEnd());
    {
        std::lock_guard lock(user.mutex);
        done = true;
    }
    user.changed.notify_all();
    acceptor.join();
    answers.join();
    EXPECT_FALSE(AnyProgramNumberMarked());
    ::close(listener);
}

// Past the questions asked at once the rest wait their turn, each taken up
// as a thread is done with its own; one the program closes before its turn
// goes at once, asked of nobody, with what was kept for it.
TEST_F(StandInsTest, QuestionsPastTheAskersWaitTheirTurn)
{
    unsigned port = 0;
    const int listener = Listener(port);
    const sockaddr_in to = Loopback(port);
    std::vector<int> fds;
    for (int i = 0; i < 40; ++i) {
        fds.push_back(Client());
        ASSERT_TRUE(StandInForConnection(fds.back(), reinterpret_cast<const sockaddr*>(&to), sizeof to,
                                         QuestionFor(port), 1, false)) << i;
    }
    EXPECT_EQ(OpenQuestions(), 40);
    ASSERT_TRUE(user.Asked(32));
    // No 33rd now, nor later: the most asked at once and the counts at the end show it.
    EXPECT_EQ(user.asked, 32);
    const std::string folder = "/proc/self/fd";
    const auto openDescriptors = [&folder] {
        return std::distance(std::filesystem::directory_iterator(folder), std::filesystem::directory_iterator());
    };
    const auto before = openDescriptors();
    for (int i = 36; i < 40; ++i) {
        Withdraw(fds[i]);
        Forget(fds[i]);
        ::close(fds[i]);
    }
    EXPECT_EQ(OpenQuestions(), 36);
    EXPECT_EQ(openDescriptors(), before - 4 * 3); // the number, the socket and the pipe kept aside
    for (int i = 0; i < 36; ++i)
        EXPECT_TRUE(user.Answer('2'));
    for (int i = 0; i < 36; ++i) {
        EXPECT_EQ(Ready(fds[i], POLLOUT, 5000), POLLOUT | POLLHUP) << i;
        EXPECT_TRUE(TakeRefusal(fds[i])) << i;
        ::close(fds[i]);
        Forget(fds[i]);
    }
    EXPECT_TRUE(QuestionsEnd());
    EXPECT_EQ(user.asked, 36);
    EXPECT_EQ(user.withdrawn, 0);
    EXPECT_EQ(user.mostAtOnce, 32);
    EXPECT_FALSE(AnyProgramNumberMarked());
    EXPECT_EQ(Ready(listener, POLLIN, 0), 0);
    ::close(listener);
}
