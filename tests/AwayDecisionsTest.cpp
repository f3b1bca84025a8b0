// The lists of what was decided without a question: while nobody was at the
// screen, and by a quiet or the learning mode; and the mode itself.
#include "protocol/AwayDecisions.h"
#include "protocol/FirewallMode.h"
#include "protocol/ReviewList.h"
#include "protocol/SettingNames.h"
#include "tests/Sandbox.h"

#include <algorithm>
#include <chrono>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <set>
#include <string>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

using namespace protocol::away;
using testing_support::Sandbox;

namespace {

Decision Sample(const std::string& address, unsigned port)
{
    Decision decision;
    decision.time = 1700000000;
    decision.outgoing = true;
    decision.protocol = 1;
    decision.address = address;
    decision.remotePort = port;
    decision.localPort = 40000;
    decision.host = "www.example.org";
    decision.permitted = false;
    decision.pid = 4242;
    decision.path = "/usr/bin/tool";
    return decision;
}

}  // namespace

// Whatever a path or a name holds, a line stays one line and reads back whole.
TEST(AwayDecisions, LinesReadBackWholeWhateverTheTextsHold)
{
    Decision odd = Sample("2001:db8::1", 443);
    odd.path = "/home/u/my\ttool\nfake line\\";
    odd.host = "";
    odd.outgoing = false;
    odd.protocol = 2;
    odd.permitted = true;
    const std::string line = FormatLine(odd);
    EXPECT_EQ(line.find('\n'), line.size() - 1);
    EXPECT_EQ(ParseLine(line.substr(0, line.size() - 1)), odd);
    for (const char* bad : {"", "x\tout\tTCP\t1.2.3.4\t1\t2\th\tblocked\t3\t/p", "1\tsideways\tTCP\t1.2.3.4\t1\t2\th\tblocked\t3\t/p",
                            "1\tout\tTCP\t1.2.3.4\t1\t2\th\tmaybe\t3\t/p", "1\tout\tTCP\t\t1\t2\th\tblocked\t3\t/p",
                            "1\tout\tTCP\t1.2.3.4\t1\t2\th\tblocked\t3"})
        EXPECT_FALSE(ParseLine(bad).has_value()) << bad;
}

TEST(AwayDecisions, AppendedInOrderRemovedByChoiceAndBounded)
{
    Sandbox sandbox;
    const std::string path = ListPath();
    ASSERT_FALSE(path.empty());
    EXPECT_TRUE(ReadAll(path).empty());
    EXPECT_TRUE(Remove(path, [](const Decision&) { return true; })); // nothing there: nothing to do
    for (unsigned port = 1; port <= 3; ++port)
        ASSERT_TRUE(Append(path, Sample("10.0.0." + std::to_string(port), port)));
    EXPECT_TRUE(Remove(path, [](const Decision& d) { return d.remotePort == 2; }));
    const auto left = ReadAll(path);
    ASSERT_EQ(left.size(), 2u);
    EXPECT_EQ(left[0].remotePort, 1u);
    EXPECT_EQ(left[1].remotePort, 3u);
    // Full: nothing more is kept, and nothing already there is lost.
    size_t appended = 0;
    while (Append(path, Sample("10.9.9.9", 9)) && appended < 100000)
        ++appended;
    EXPECT_GT(appended, 100u);
    EXPECT_LT(appended, kMaxBytes / 40);
    EXPECT_EQ(ReadAll(path).size(), appended + 2);
    EXPECT_FALSE(Append("", Sample("10.0.0.1", 1)));
}

// Engines append from several processes while the panel takes lines out:
// every line appended is there once, unless the panel took it.
TEST(AwayDecisions, AppendsFromManyProcessesSurviveRemovals)
{
    Sandbox sandbox;
    const std::string path = ListPath();
    std::vector<pid_t> children;
    for (int child = 0; child < 4; ++child) {
        const pid_t pid = ::fork();
        if (pid == 0) {
            bool ok = true;
            for (unsigned i = 0; i < 100; ++i)
                ok = Append(path, Sample("10.0." + std::to_string(child) + "." + std::to_string(i), 1000 + i)) && ok;
            ::_exit(ok ? 0 : 1);
        }
        children.push_back(pid);
    }
    size_t removed = 0;
    for (int round = 0; round < 50; ++round)
        Remove(path, [&removed](const Decision& d) {
            const bool take = d.remotePort % 10 == 0;
            removed += take;
            return take;
        });
    for (const pid_t child : children) {
        int status = -1;
        ::waitpid(child, &status, 0);
        EXPECT_EQ(status, 0);
    }
    Remove(path, [&removed](const Decision& d) {
        const bool take = d.remotePort % 10 == 0;
        removed += take;
        return take;
    });
    EXPECT_EQ(removed, 40u);
    EXPECT_EQ(ReadAll(path).size(), 360u);
}

namespace {

protocol::review::Item Reviewed(const std::string& path, const std::string& host, unsigned port, std::time_t time)
{
    protocol::review::Item item;
    item.time = time;
    item.mode = "quiet";
    item.address = "192.0.2.7";
    item.remotePort = port;
    item.localPort = 40000;
    item.host = host;
    item.path = path;
    return item;
}

}  // namespace

// Items read back whole, group by program and by what one rule covers (the
// host, else the address; the rule's port), newest first, and keep their id
// while other items come and go.
TEST(ReviewList, GroupedByProgramAndPeerWithStableIds)
{
    namespace review = protocol::review;
    Sandbox sandbox;
    const std::string path = review::ListPath();
    EXPECT_EQ(path, sandbox.root + "/data/korvel/review");
    EXPECT_TRUE(review::Remove(path, [](const review::Item&) { return true; })); // no list yet: nothing to do
    review::Item odd = Reviewed("/opt/my\ttool\nx", "", 53, 100);
    odd.protocol = 2;
    odd.outgoing = false;
    odd.permitted = true;
    odd.mode = "learn";
    ASSERT_TRUE(review::Append(path, odd));
    ASSERT_TRUE(review::Append(path, Reviewed("/usr/bin/a", "one.example", 443, 200)));
    ASSERT_TRUE(review::Append(path, Reviewed("/usr/bin/a", "one.example", 443, 300)));
    ASSERT_TRUE(review::Append(path, Reviewed("/usr/bin/a", "two.example", 443, 250)));
    ASSERT_TRUE(review::Append(path, Reviewed("/usr/bin/a", "one.example", 80, 150)));
    struct stat st {};
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    ASSERT_EQ(::stat((sandbox.root + "/data/korvel").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    const auto items = review::ReadAll(path);
    ASSERT_EQ(items.size(), 5u);
    EXPECT_EQ(items[0], odd);

    const auto programs = review::Group(items);
    ASSERT_EQ(programs.size(), 2u);
    EXPECT_EQ(programs[0].path, "/usr/bin/a");
    EXPECT_EQ(programs[0].count, 4);
    EXPECT_EQ(programs[0].last, 300);
    ASSERT_EQ(programs[0].peers.size(), 3u);
    EXPECT_EQ(programs[0].peers[0].host, "one.example");
    EXPECT_EQ(programs[0].peers[0].port, 443u);
    EXPECT_EQ(programs[0].peers[0].count, 2);
    EXPECT_EQ(programs[0].peers[1].host, "two.example");
    EXPECT_EQ(programs[0].peers[2].port, 80u);
    const review::Peer& incoming = programs[1].peers.at(0);
    EXPECT_EQ(incoming.host, "192.0.2.7"); // no name: the address
    EXPECT_EQ(incoming.port, 40000u);      // coming in: the local port
    EXPECT_TRUE(incoming.permitted);
    EXPECT_EQ(incoming.mode, "learn");

    const std::string id = review::ItemId("/usr/bin/a", programs[0].peers[0]);
    EXPECT_EQ(id.size(), 8u);
    std::set<std::string> ids;
    for (const auto& program : programs)
        for (const auto& peer : program.peers)
            ids.insert(review::ItemId(program.path, peer));
    EXPECT_EQ(ids.size(), 4u);
    const review::Peer taken = programs[0].peers[1];
    ASSERT_TRUE(review::Remove(path, [&](const review::Item& item) { return review::Covers("/usr/bin/a", taken, item); }));
    const auto after = review::Group(review::ReadAll(path));
    EXPECT_EQ(after[0].count, 3);
    EXPECT_EQ(review::ItemId(after[0].path, after[0].peers[0]), id);
}

// A file put in the list's place by a hostile program of the user, or by
// someone else, harms nothing: no line of it that this list could not have
// written is read, nothing is written through a link or into a FIFO, and no
// reader waits on one.
TEST(ReviewList, AttackHostileListFileHarmsNothing)
{
    namespace review = protocol::review;
    Sandbox sandbox;
    const std::string path = review::ListPath();
    const review::Item good = Reviewed("/usr/bin/a", "one.example", 443, 200);
    ASSERT_TRUE(review::Append(path, good));
    std::string hostile = std::string(3 * review::kMaxLineBytes, 'x') + "\n"
        + "1\tquiet\tout\tTCP\t1.2.3.4\t1\t2\th\tallowed\t/usr/bin/b" + std::string(1, '\0') + "evil\n"
        + "1\tquiet\tout\tTCP\t1.2.3.4\t1\t2\th\tallowed\t/usr/bin/c\textra\n"
        + "1\tloud\tout\tTCP\t1.2.3.4\t1\t2\th\tallowed\t/usr/bin/d\n"
        + "1\tquiet\tout\tTCP\t1.2.3.4\t1\t2\th\tallowed\t\n"
        + "1\tquiet\tout\tTCP\t1.2.3.4\t1\t2\th\tallowed\t/usr/bin/e"; // no end of line
    {
        const int fd = ::open(path.c_str(), O_WRONLY | O_APPEND);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(::write(fd, hostile.data(), hostile.size()), static_cast<ssize_t>(hostile.size()));
        ::close(fd);
    }
    EXPECT_EQ(review::ReadAll(path), std::vector<review::Item> {good});
    // Rewritten, only what reads stays.
    ASSERT_TRUE(review::Remove(path, [](const review::Item&) { return false; }));
    const std::string rewritten = testing_support::ReadText(path);
    EXPECT_EQ(std::count(rewritten.begin(), rewritten.end(), '\n'), 1) << rewritten.size();
    EXPECT_EQ(rewritten.find('\0'), std::string::npos);

    // A program that keeps the list locked delays a decision a moment, no more.
    {
        const int holder = ::open(path.c_str(), O_RDONLY);
        ASSERT_EQ(::flock(holder, LOCK_EX), 0);
        const auto started = std::chrono::steady_clock::now();
        EXPECT_FALSE(review::Append(path, good));
        EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(2));
        ::close(holder);
        EXPECT_TRUE(review::Append(path, good));
    }

    const std::string target = sandbox.root + "/target";
    testing_support::WriteText(target, "kept\n");
    ASSERT_EQ(::unlink(path.c_str()), 0);
    ASSERT_EQ(::symlink(target.c_str(), path.c_str()), 0);
    EXPECT_FALSE(review::Append(path, good));
    EXPECT_TRUE(review::ReadAll(path).empty());
    EXPECT_FALSE(review::Remove(path, [](const review::Item&) { return true; }));
    EXPECT_EQ(testing_support::ReadText(target), "kept\n");

    ASSERT_EQ(::unlink(path.c_str()), 0);
    ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0);
    EXPECT_FALSE(review::Append(path, good));
    EXPECT_TRUE(review::ReadAll(path).empty());
    EXPECT_FALSE(review::Remove(path, [](const review::Item&) { return true; }));

    // A file others may write, or a folder others may change, is not used.
    ASSERT_EQ(::unlink(path.c_str()), 0);
    ASSERT_TRUE(review::Append(path, good));
    ASSERT_EQ(::chmod(path.c_str(), 0666), 0);
    EXPECT_FALSE(review::Append(path, good));
    EXPECT_TRUE(review::ReadAll(path).empty());
    ASSERT_EQ(::chmod(path.c_str(), 0600), 0);
    ASSERT_EQ(::chmod((sandbox.root + "/data/korvel").c_str(), 0777), 0);
    EXPECT_FALSE(review::Append(path, good));
    EXPECT_TRUE(review::ReadAll(path).empty());
    ASSERT_EQ(::chmod((sandbox.root + "/data/korvel").c_str(), 0700), 0);
    // Nor another user's folder, where a program run by root with its
    // caller's environment would look.
    if (::geteuid() == 0) {
        ASSERT_EQ(::chown((sandbox.root + "/data/korvel").c_str(), 65534, 65534), 0);
        EXPECT_FALSE(review::Append(path, good));
        EXPECT_TRUE(review::ReadAll(path).empty());
        ASSERT_EQ(::chown((sandbox.root + "/data/korvel").c_str(), 0, 0), 0);
    }
    EXPECT_EQ(review::ReadAll(path).size(), 1u);
}

// The mode in force, from the settings, over a clock: learning lasts until
// its end and no longer.
TEST(FirewallMode, ReadWrittenAndLearningEndsAtItsTime)
{
    namespace mode = protocol::mode;
    using mode::Mode;
    Sandbox sandbox;
    for (const Mode m : {Mode::kAsk, Mode::kQuietAllow, Mode::kQuietBlock, Mode::kLearn})
        EXPECT_EQ(mode::Parse(mode::Word(m)), m);
    EXPECT_EQ(mode::Read().mode, Mode::kAsk); // nothing set
    const std::time_t start = 1700000000, end = start + 7 * 86400;
    ASSERT_TRUE(mode::Write({Mode::kLearn, end}));
    const mode::State state = mode::Read();
    EXPECT_EQ(state.mode, Mode::kLearn);
    EXPECT_EQ(state.learnUntil, end);
    EXPECT_EQ(mode::Effective(state, start), Mode::kLearn);
    EXPECT_FALSE(mode::LearningOver(state, end - 1));
    EXPECT_EQ(mode::Effective(state, end), Mode::kAsk);
    EXPECT_TRUE(mode::LearningOver(state, end));
    ASSERT_TRUE(mode::Write({Mode::kQuietBlock, 0}));
    EXPECT_EQ(mode::Effective(mode::Read(), end), Mode::kQuietBlock);
    EXPECT_FALSE(mode::LearningOver(mode::Read(), end));
}

// A mode setting that does not read is ask, and a learning mode whose end
// does not read, or lies further than learning may last, is over.
TEST(FirewallMode, AttackUnreadableSettingsMeanAsk)
{
    namespace mode = protocol::mode;
    using mode::Mode;
    namespace settings = protocol::settings;
    Sandbox sandbox;
    const std::time_t now = 1700000000;
    const std::string far = std::to_string(now + std::time_t {settings::kMaxLearnDays + 1} * 86400);
    const struct {
        const char* mode;
        std::string until;
        Mode effective;
    } cases[] = {
        {"quiet-allow", "", Mode::kQuietAllow},
        {" learn\n", std::to_string(now + 60), Mode::kLearn},
        {"LEARN", std::to_string(now + 60), Mode::kAsk},
        {"quiet-allow-all", "", Mode::kAsk},
        {"quiet", "", Mode::kAsk},
        {"", "", Mode::kAsk},
        {"learn", "", Mode::kAsk},
        {"learn", "-5", Mode::kAsk},
        {"learn", "99999999999999999999999", Mode::kAsk},
        {"learn", std::to_string(now + 60) + "x", Mode::kAsk},
        {"learn", far, Mode::kAsk},
    };
    for (const auto& c : cases) {
        sandbox.SetSetting(settings::kFirewallMode, c.mode);
        sandbox.SetSetting(settings::kLearnUntil, c.until);
        EXPECT_EQ(mode::Effective(mode::Read(), now), c.effective) << c.mode << " until " << c.until;
    }
    sandbox.SetSetting(settings::kFirewallMode, std::string(100000, 'q'));
    EXPECT_EQ(mode::Read().mode, Mode::kAsk);
}
