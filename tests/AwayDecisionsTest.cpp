// The list of what was decided while nobody was at the screen.
#include "protocol/AwayDecisions.h"
#include "tests/Sandbox.h"

#include <gtest/gtest.h>
#include <string>
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
