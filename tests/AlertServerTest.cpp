// The queue of open questions behind the alert window, under the offscreen
// platform: each test plays the engines, on socket pairs or through the
// rendezvous socket.
#include "alert/AlertDialog.h"
#include "alert/AlertServer.h"
#include "alert/RendezvousListener.h"
#include "gui/Clock.h"
#include "tests/EventLoopWait.h"

#include <QCheckBox>
#include <QComboBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <cstdlib>
#include <fcntl.h>
#include <functional>
#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>
#include <vector>

namespace {

using alert::AlertDialog;
using alert::AlertServer;
using alert::RendezvousListener;

using testing_support::WaitUntil;

// One engine's end of a question's channel.
class Asker {
public:
    explicit Asker(int fd) : fd_(fd) {}
    ~Asker() { Withdraw(); }

    void Ask(const std::string& peer, long pid, int timeout = 0, const std::string& path = "/usr/bin/tool",
             const std::string& away = "")
    {
        std::string texts = "caption\tTOOL - TCP Connection Alert!\nmessage\tTOOL created by Unknown is trying to "
                            "create TCP outgoing connection to "
            + peer + " through port:80\npeer\t" + peer + "\ndirection\toutgoing\npath\t" + path + "\npid\t"
            + std::to_string(pid) + "\n";
        if (timeout)
            texts += "timeout\t" + std::to_string(timeout) + "\n";
        if (!away.empty())
            texts += "away\t" + away + "\n";
        Send(texts + "end\n");
    }
    void Send(const std::string& text) { ASSERT_EQ(::send(fd_, text.data(), text.size(), MSG_NOSIGNAL), ssize_t(text.size())); }
    // Closing the channel withdraws the question, as an engine whose program ended does.
    void Withdraw()
    {
        if (fd_ >= 0)
            ::close(fd_);
        fd_ = -1;
    }
    // Everything said so far, read without waiting.
    const std::string& Heard()
    {
        char buffer[4096];
        for (ssize_t n; fd_ >= 0 && (n = ::recv(fd_, buffer, sizeof buffer, MSG_DONTWAIT)) > 0;)
            heard_.append(buffer, static_cast<size_t>(n));
        return heard_;
    }
    bool Has(const std::string& line) { return Heard().find(line) != std::string::npos; }
    // The answer, once one came ("" before).
    std::string Answer()
    {
        const std::string& heard = Heard();
        const size_t at = heard.find("answer ");
        return at == std::string::npos ? std::string() : heard.substr(at, heard.find('\n', at) - at);
    }

private:
    int fd_;
    std::string heard_;
};

class AlertQueue : public testing::Test {
protected:
    AlertDialog dialog;
    AlertServer server {dialog};

    // A question's channel, as the engine that started the program has it.
    std::unique_ptr<Asker> Connect()
    {
        int pair[2];
        EXPECT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair), 0);
        server.AddChannel(pair[1], pair[1]);
        return std::make_unique<Asker>(pair[0]);
    }
    QLabel* More() { return dialog.findChild<QLabel*>("moreWaiting"); }
    QCheckBox* AlsoWaiting() { return dialog.findChild<QCheckBox*>("alsoWaiting"); }
    QString Peer() { return dialog.findChild<QLabel*>("1008")->text(); }
    // The arm delay passed: on a clock the test drives, moved on by it.
    bool Armed()
    {
        if (gui::Clock::Instance().Manual() && !dialog.IsArmed())
            gui::Clock::Instance().Advance(AlertDialog::kArmDelayMs);
        return WaitUntil([this] { return dialog.IsArmed(); });
    }
    void Click(const char* name)
    {
        ASSERT_TRUE(Armed());
        QTest::mouseClick(dialog.findChild<QWidget*>(name), Qt::LeftButton, {}, QPoint(5, 5));
    }
};

}  // namespace

TEST_F(AlertQueue, QuestionsShowOneAtATimeInTheOrderTheyCameAndSayWhenTheyShow)
{
    auto first = Connect();
    // The first word at once, before the question is even complete.
    EXPECT_EQ(first->Heard(), "alive\n");
    auto second = Connect();
    auto third = Connect();
    first->Ask("one.example", 10);
    second->Ask("two.example", 20, 0, "/usr/bin/other");
    third->Ask("three.example", 10);
    ASSERT_TRUE(WaitUntil([this] { return server.Waiting() == 3; }));
    EXPECT_TRUE(dialog.isVisible());
    EXPECT_EQ(Peer(), "one.example");
    EXPECT_TRUE(WaitUntil([&] { return first->Has("shown\n"); }));
    EXPECT_FALSE(second->Has("shown\n"));
    EXPECT_EQ(More()->text(), "2 more waiting");
    EXPECT_FALSE(More()->isHidden());
    // One of the two waiting comes from the same program.
    EXPECT_FALSE(AlsoWaiting()->isHidden());
    EXPECT_EQ(AlsoWaiting()->text(), "Also for the 1 &waiting from this program");
    // Everyone hears that the alert is alive, shown or not.
    EXPECT_TRUE(WaitUntil([&] { return second->Heard().size() > std::string("alive\n").size(); }));

    Click("2");
    EXPECT_EQ(first->Answer(), "answer 2 0");
    EXPECT_EQ(Peer(), "two.example");
    EXPECT_TRUE(WaitUntil([&] { return second->Has("shown\n"); }));
    EXPECT_EQ(More()->text(), "1 more waiting");
    EXPECT_TRUE(AlsoWaiting()->isHidden());
    // The window stays: no slide for each question.
    EXPECT_TRUE(dialog.isVisible());
}

TEST_F(AlertQueue, OneClickAnswersTheWaitingQuestionsOfTheSameProgramInEachOfItsProcesses)
{
    std::vector<std::unique_ptr<Asker>> same;
    for (int i = 0; i < 20; ++i) {
        same.push_back(Connect());
        same.back()->Ask("peer" + std::to_string(i) + ".example", i % 2 ? 10 : 11);
    }
    auto other = Connect();
    other->Ask("other.example", 20, 0, "/usr/bin/other");
    ASSERT_TRUE(WaitUntil([this] { return server.Waiting() == 21; }));
    EXPECT_EQ(More()->text(), "20 more waiting");
    EXPECT_EQ(AlsoWaiting()->text(), "Also for the 19 &waiting from this program");
    // These engines predate lengths and scopes: always, for any connection.
    QComboBox* length = dialog.findChild<QComboBox*>("1011");
    ASSERT_TRUE(length);
    Click("alsoWaiting");
    EXPECT_TRUE(AlsoWaiting()->isChecked());
    length->setCurrentIndex(length->findData(AlertDialog::kAlways));
    Click("1");
    for (auto& asker : same)
        EXPECT_TRUE(WaitUntil([&] { return !asker->Answer().empty(); }));
    // The one shown carries the box; the others are answered for their
    // connection only.
    EXPECT_EQ(same[0]->Answer(), "answer 1 1");
    for (size_t i = 1; i < same.size(); ++i)
        EXPECT_EQ(same[i]->Answer(), "answer 1 0") << i;
    EXPECT_EQ(other->Answer(), "");
    EXPECT_EQ(server.Waiting(), 1);
    EXPECT_EQ(Peer(), "other.example");
    EXPECT_FALSE(AlsoWaiting()->isChecked());
}

// A lasting answer (always, or for a time) settles the waiting questions
// of the same program it covers, whichever process asks; one for this
// connection, or until this process quits, settles none.
TEST_F(AlertQueue, AnAnswerSettlesTheWaitingQuestionsItCoversInEveryProcess)
{
    struct Waiting {
        const char* host;
        int port;
        long pid;
        const char* path;
        bool incoming;
    };
    const Waiting waiting[] = {
        {"api.example.com", 443, 11, "/usr/bin/tool", false}, // 0: same host and port, another process
        {"api.example.com", 80, 12, "/usr/bin/tool", false},  // 1: same host, another port
        {"cdn.example.com", 443, 10, "/usr/bin/tool", false}, // 2: another host, same port
        {"api.example.com", 443, 13, "/usr/bin/other", false}, // 3: another program
        {"api.example.com", 443, 14, "/usr/bin/tool", true},  // 4: the other direction
        {"api.example.com", 443, 10, "/usr/bin/tool", false}, // 5: the same connection again, as a backup
    };
    struct Case {
        int length;
        int scope;
        const char* settled; // one letter per waiting question: y settled, n still waiting
    };
    const Case cases[] = {
        {AlertDialog::kAlways, AlertDialog::kPeerAndPort, "ynnnny"},
        {AlertDialog::kAlways, AlertDialog::kHost, "yynnny"},
        {AlertDialog::kTimed, AlertDialog::kPort, "ynynny"},
        {AlertDialog::kAlways, AlertDialog::kAny, "yyynny"},
        {AlertDialog::kOnce, AlertDialog::kAny, "nnnnny"},
        {AlertDialog::kProcess, AlertDialog::kAny, "nnnnny"},
    };
    const auto ask = [this](const char* host, int port, long pid, const char* path, bool incoming) {
        auto asker = Connect();
        asker->Send(std::string("caption\tX\npeer\t") + host + "\nhost\t" + host + "\ndirection\t"
                    + (incoming ? "incoming" : "outgoing") + "\npath\t" + path + "\npid\t" + std::to_string(pid)
                    + "\nchoices\t60\nport\t" + std::to_string(port) + "\nend\n");
        return asker;
    };
    for (const Case& c : cases) {
        auto shown = ask("api.example.com", 443, 10, "/usr/bin/tool", false);
        std::vector<std::unique_ptr<Asker>> askers;
        for (const Waiting& w : waiting)
            askers.push_back(ask(w.host, w.port, w.pid, w.path, w.incoming));
        ASSERT_TRUE(WaitUntil([this] { return server.Waiting() == 7; }));
        auto* lengths = dialog.findChild<QComboBox*>("1011");
        auto* scopes = dialog.findChild<QComboBox*>("1012");
        lengths->setCurrentIndex(lengths->findData(c.length));
        scopes->setCurrentIndex(scopes->findData(c.scope));
        Click("2");
        ASSERT_TRUE(WaitUntil([&] { return !shown->Answer().empty(); }));
        std::string settled;
        for (auto& asker : askers)
            settled += asker->Answer().empty() ? 'n' : 'y';
        EXPECT_EQ(settled, c.settled) << c.length << " " << c.scope;
        for (size_t i = 0; i < askers.size(); ++i)
            EXPECT_EQ(askers[i]->Answer(), c.settled[i] == 'y' ? "answer 2 0" : "") << i;
        askers.clear(); // withdrawn
        ASSERT_TRUE(WaitUntil([this] { return server.Waiting() == 0; }));
    }
}

TEST_F(AlertQueue, AQuestionWithdrawnByItsEngineLeavesTheQueue)
{
    QSignalSpy finished(&server, &AlertServer::Finished);
    auto first = Connect();
    auto second = Connect();
    auto third = Connect();
    first->Ask("one.example", 10);
    second->Ask("two.example", 20);
    third->Ask("three.example", 30);
    ASSERT_TRUE(WaitUntil([this] { return server.Waiting() == 3; }));
    // A waiting one: gone from the count.
    second->Withdraw();
    ASSERT_TRUE(WaitUntil([this] { return server.Waiting() == 2; }));
    EXPECT_EQ(More()->text(), "1 more waiting");
    // The one shown: the next takes its place.
    first->Withdraw();
    ASSERT_TRUE(WaitUntil([this] { return server.Waiting() == 1; }));
    EXPECT_EQ(Peer(), "three.example");
    EXPECT_TRUE(More()->isHidden());
    // One withdrawn before its texts were complete is gone as well.
    auto partial = Connect();
    partial->Send("caption\tX\n");
    partial->Withdraw();
    third->Withdraw();
    ASSERT_TRUE(WaitUntil([this] { return server.OpenChannels() == 0; }));
    EXPECT_FALSE(dialog.isVisible());
    // Not serving a desktop: nothing is left to wait for.
    EXPECT_EQ(finished.count(), 1);
}

TEST_F(AlertQueue, APressRequestAnswersItsOwnQuestionOnly)
{
    auto first = Connect();
    auto second = Connect();
    first->Ask("one.example", 10);
    second->Ask("two.example", 10);
    ASSERT_TRUE(WaitUntil([this] { return server.Waiting() == 2; }));
    second->Send("press 1\n");
    ASSERT_TRUE(WaitUntil([&] { return !second->Answer().empty(); }));
    EXPECT_EQ(second->Answer(), "answer 1 0");
    EXPECT_EQ(first->Answer(), "");
    EXPECT_TRUE(More()->isHidden());
    // A button no window has is no request.
    // Handled in order: the answer to the press after it shows 7 was ignored.
    first->Send("press 7\n");
    first->Send("press 2\n");
    ASSERT_TRUE(WaitUntil([&] { return !first->Answer().empty(); }));
    EXPECT_EQ(first->Answer(), "answer 2 0");
}

// Each question's time-out runs from its arrival, shown or waiting, so that
// no program waits longer because others asked first; once somebody is at
// the screen, nothing that waits then times out.
// Nobody at the screen: each question's away setting answers it after its
// seconds, counted from when nobody was there; its time-out waits. Somebody
// back in time finds the questions waiting for them. A count starts at the
// countdown's next whole second: the part it began in is not counted.
TEST_F(AlertQueue, NobodyThereAnswersWithTheAwaySetting)
{
    auto allowLater = Connect();
    auto blockAtOnce = Connect();
    auto waits = Connect();
    auto backInTime = Connect();
    allowLater->Ask("one.example", 10, 0, "/usr/bin/tool", "1 2");
    waits->Ask("three.example", 30); // its engine sent no away setting
    backInTime->Ask("four.example", 40, 1, "/usr/bin/tool", "2 3");
    ASSERT_TRUE(WaitUntil([this] { return server.Waiting() == 3; }));
    server.Presence().Report("test", true);
    blockAtOnce->Ask("two.example", 20, 0, "/usr/bin/tool", "2 0");
    ASSERT_TRUE(WaitUntil([&] { return !blockAtOnce->Answer().empty(); }));
    EXPECT_EQ(blockAtOnce->Answer(), "answer 2 0 away");
    server.CountDown(); // the second nobody left in
    server.CountDown();
    EXPECT_EQ(allowLater->Answer(), "");
    EXPECT_EQ(backInTime->Answer(), ""); // its one-second time-out waits too
    server.CountDown();
    EXPECT_EQ(allowLater->Answer(), "answer 1 0 away");
    EXPECT_EQ(backInTime->Answer(), "");
    server.Presence().Report("test", false);
    EXPECT_EQ(backInTime->Answer(), "");
    server.CountDown(); // the second it arrived in
    EXPECT_EQ(backInTime->Answer(), "");
    server.CountDown();
    EXPECT_EQ(backInTime->Answer(), "answer 2 0 timeout"); // its own time-out again
    EXPECT_EQ(waits->Answer(), "");
    // Away again: counted afresh.
    server.Presence().Report("test", true);
    for (int i = 0; i < 5; ++i)
        server.CountDown();
    EXPECT_EQ(waits->Answer(), "");
}

TEST_F(AlertQueue, TimeOutsRunForEachQuestionUntilSomebodyIsThere)
{
    auto first = Connect();
    auto second = Connect();
    auto third = Connect();
    auto fourth = Connect();
    first->Ask("one.example", 10, 3);
    second->Ask("two.example", 20, 2);
    third->Ask("three.example", 30);
    ASSERT_TRUE(WaitUntil([this] { return server.Waiting() == 3; }));
    auto* timeLeft = dialog.findChild<QLabel*>("timeLeft");
    EXPECT_EQ(timeLeft->text(), "Block in 3 s");
    EXPECT_FALSE(timeLeft->isHidden());
    // The second they arrived in is not counted: no answer comes early.
    server.CountDown();
    EXPECT_EQ(timeLeft->text(), "Block in 3 s");
    server.CountDown();
    EXPECT_EQ(timeLeft->text(), "Block in 2 s");
    server.CountDown();
    // The waiting one ran out first.
    EXPECT_EQ(second->Answer(), "answer 2 0 timeout");
    EXPECT_EQ(first->Answer(), "");
    server.CountDown();
    EXPECT_EQ(first->Answer(), "answer 2 0 timeout");
    EXPECT_EQ(Peer(), "three.example");
    EXPECT_TRUE(timeLeft->isHidden()); // no time-out: waits for the user

    fourth->Ask("four.example", 40, 2);
    ASSERT_TRUE(WaitUntil([this] { return server.Waiting() == 2; }));
    QTest::mouseClick(dialog.findChild<QLabel*>("1004"), Qt::LeftButton);
    for (int i = 0; i < 5; ++i)
        server.CountDown();
    EXPECT_EQ(fourth->Answer(), "");
    EXPECT_EQ(third->Answer(), "");
}

namespace {

// A rendezvous socket in a folder of the test's own, bound and listening as
// the engine that starts the alert program leaves it.
struct Rendezvous {
    std::string folder;
    std::string socketPath;
    std::string lockPath;
    int listener = -1;

    Rendezvous()
    {
        char name[] = "/tmp/zel-rendezvous-XXXXXX";
        folder = ::mkdtemp(name);
        socketPath = folder + "/alert.sock";
        lockPath = folder + "/alert.lock";
        ::close(::open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600));
        listener = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        const sockaddr_un address = Address();
        EXPECT_EQ(::bind(listener, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
        EXPECT_EQ(::listen(listener, SOMAXCONN), 0);
    }
    ~Rendezvous()
    {
        ::unlink(socketPath.c_str());
        ::unlink(lockPath.c_str());
        ::rmdir(folder.c_str());
    }
    sockaddr_un Address() const
    {
        sockaddr_un address {};
        address.sun_family = AF_UNIX;
        std::snprintf(address.sun_path, sizeof address.sun_path, "%s", socketPath.c_str());
        return address;
    }
    std::unique_ptr<Asker> Connect() const
    {
        const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        const sockaddr_un address = Address();
        EXPECT_EQ(::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
        return std::make_unique<Asker>(fd);
    }
    bool SocketExists() const
    {
        struct stat st {};
        return ::lstat(socketPath.c_str(), &st) == 0;
    }
};

}  // namespace

// The listener leaves only under the lock the engines take to connect, and
// only with no connection queued: no question meets a program that is leaving.
TEST(RendezvousListener, RetiresOnlyWhenNoQuestionWaitsAndTheLockIsFree)
{
    Rendezvous rendezvous;
    RendezvousListener listener(rendezvous.listener, rendezvous.socketPath, rendezvous.lockPath);
    EXPECT_EQ(listener.Accept(), -1);

    auto late = rendezvous.Connect();
    std::vector<int> taken;
    EXPECT_EQ(listener.TryRetire(taken), RendezvousListener::Retire::kLateQuestions);
    ASSERT_EQ(taken.size(), 1u);
    EXPECT_TRUE(rendezvous.SocketExists());
    ::close(taken[0]);

    const int holder = ::open(rendezvous.lockPath.c_str(), O_RDWR | O_CLOEXEC);
    ASSERT_EQ(::flock(holder, LOCK_EX), 0);
    taken.clear();
    EXPECT_EQ(listener.TryRetire(taken), RendezvousListener::Retire::kBusy);
    EXPECT_TRUE(rendezvous.SocketExists());
    ::close(holder);

    EXPECT_EQ(listener.TryRetire(taken), RendezvousListener::Retire::kDone);
    EXPECT_TRUE(taken.empty());
    EXPECT_FALSE(rendezvous.SocketExists());
}

// A socket put in its place meanwhile (by a question that gave this program
// up) belongs to another alert program: it stays.
TEST(RendezvousListener, LeavesAnotherProgramsSocketInPlace)
{
    Rendezvous rendezvous;
    RendezvousListener listener(rendezvous.listener, rendezvous.socketPath, rendezvous.lockPath);
    ASSERT_EQ(::unlink(rendezvous.socketPath.c_str()), 0);
    const int successor = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const sockaddr_un address = rendezvous.Address();
    ASSERT_EQ(::bind(successor, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
    std::vector<int> taken;
    EXPECT_EQ(listener.TryRetire(taken), RendezvousListener::Retire::kDone);
    EXPECT_TRUE(rendezvous.SocketExists());
    ::close(successor);
}

TEST_F(AlertQueue, ServesQuestionsThatConnectAndRetiresWhenNoneIsLeft)
{
    gui::ManualClock clock;
    Rendezvous rendezvous;
    QSignalSpy finished(&server, &AlertServer::Finished);
    auto starter = Connect();
    server.Serve(std::make_unique<RendezvousListener>(rendezvous.listener, rendezvous.socketPath, rendezvous.lockPath));
    starter->Ask("starter.example", 5);
    std::vector<std::unique_ptr<Asker>> askers;
    for (int i = 0; i < 8; ++i) {
        askers.push_back(rendezvous.Connect());
        askers.back()->Ask("peer" + std::to_string(i) + ".example", 100 + i % 3);
    }
    ASSERT_TRUE(WaitUntil([this] { return server.Waiting() == 9; }));
    for (auto& asker : askers)
        EXPECT_TRUE(WaitUntil([&] { return asker->Has("alive\n"); }));
    // Answered one at a time, in order, until none is left.
    for (int answered = 0; answered < 9; ++answered) {
        ASSERT_TRUE(Armed());
        dialog.Press(AlertDialog::kBlock);
    }
    EXPECT_EQ(starter->Answer(), "answer 2 0");
    for (auto& asker : askers)
        EXPECT_EQ(asker->Answer(), "answer 2 0");
    EXPECT_FALSE(dialog.isVisible());
    // It stays a moment for a next question, then leaves and takes its socket along.
    EXPECT_EQ(finished.count(), 0);
    EXPECT_TRUE(rendezvous.SocketExists());
    clock.Advance(AlertServer::kLingerMs - 1);
    EXPECT_EQ(finished.count(), 0);
    EXPECT_TRUE(rendezvous.SocketExists());
    clock.Advance(1);
    EXPECT_EQ(finished.count(), 1);
    EXPECT_FALSE(rendezvous.SocketExists());
}

TEST_F(AlertQueue, AQuestionArrivingWhileItLingersIsServedByTheSameWindow)
{
    gui::ManualClock clock;
    Rendezvous rendezvous;
    QSignalSpy finished(&server, &AlertServer::Finished);
    auto starter = Connect();
    server.Serve(std::make_unique<RendezvousListener>(rendezvous.listener, rendezvous.socketPath, rendezvous.lockPath));
    starter->Ask("starter.example", 5);
    ASSERT_TRUE(WaitUntil([this] { return server.Waiting() == 1; }));
    ASSERT_TRUE(Armed());
    dialog.Press(AlertDialog::kAllow);
    EXPECT_EQ(starter->Answer(), "answer 1 0");
    starter->Withdraw();
    ASSERT_TRUE(WaitUntil([this] { return server.OpenChannels() == 0; })); // lingering from now on
    auto later = rendezvous.Connect();
    later->Ask("later.example", 6);
    ASSERT_TRUE(WaitUntil([this] { return server.Waiting() == 1; }));
    clock.Advance(AlertServer::kLingerMs);
    EXPECT_EQ(finished.count(), 0);
    EXPECT_TRUE(dialog.isVisible());
    EXPECT_EQ(Peer(), "later.example");
}

// An engine that takes lengths and scopes gets them as chosen; one that
// predates them gets only what it understands, and a lasting answer it
// cannot hold is for this connection alone, never more.
TEST_F(AlertQueue, AnswersCarryTheLengthAndScopeTheAskingEngineTakes)
{
    const auto choose = [this](int length, int scope) {
        auto* lengths = dialog.findChild<QComboBox*>("1011");
        auto* scopes = dialog.findChild<QComboBox*>("1012");
        lengths->setCurrentIndex(lengths->findData(length));
        scopes->setCurrentIndex(scopes->findData(scope));
    };
    auto newer = Connect();
    newer->Send("caption\tX\npeer\tapi.example.com\nhost\tapi.example.com\ndirection\toutgoing\npath\t/usr/bin/tool\n"
                "pid\t10\nchoices\t60\nport\t443\nend\n");
    ASSERT_TRUE(WaitUntil([this] { return server.Waiting() == 1; }));
    choose(AlertDialog::kTimed, AlertDialog::kPeerAndPort);
    Click("1");
    ASSERT_TRUE(WaitUntil([&] { return !newer->Answer().empty(); }));
    EXPECT_EQ(newer->Answer(), "answer 1 0 for=timed to=peerport");

    const std::pair<std::pair<int, int>, const char*> older[] = {
        {{AlertDialog::kAlways, AlertDialog::kHost}, "answer 2 1 host"},
        {{AlertDialog::kAlways, AlertDialog::kAny}, "answer 2 1"},
        {{AlertDialog::kOnce, AlertDialog::kAny}, "answer 2 0"},
    };
    for (const auto& [choice, line] : older) {
        auto asker = Connect();
        asker->Send("caption\tX\npeer\tapi.example.com\nhost\tapi.example.com\ndirection\toutgoing\n"
                    "path\t/usr/bin/tool\npid\t11\nend\n");
        ASSERT_TRUE(WaitUntil([this] { return server.Waiting() == 1; }));
        choose(choice.first, choice.second);
        Click("2");
        ASSERT_TRUE(WaitUntil([&] { return !asker->Answer().empty(); }));
        EXPECT_EQ(asker->Answer(), line);
    }
}
