#include "UpdateRelay.h"

#include <gtest/gtest.h>

using namespace std::chrono_literals;
using Host = UpdateRelay::Host;

namespace {
const auto t0 = UpdateRelay::Clock::now();
}

TEST(UpdateRelay, NameStaysUntilEveryEngineItNamesHasReloaded)
{
    UpdateRelay relay;
    relay.Observe("", false);
    relay.Observe(" FIREFOX", false);
    const std::vector<Host> hosts = {{10, "FIREFOX", true}, {11, "FIREFOX", true}, {12, "CURL", true}};
    EXPECT_EQ(relay.Step(hosts, {}, t0), " FIREFOX");
    EXPECT_EQ(relay.Step(hosts, {10, 10}, t0 + 10ms), " FIREFOX");
    EXPECT_EQ(relay.Step(hosts, {11}, t0 + 20ms), "");
    EXPECT_TRUE(relay.Idle());
}

TEST(UpdateRelay, OnlyNewNamesOrSavedRulesStartATurn)
{
    UpdateRelay relay;
    relay.Observe(" A.EXE", false); // already listed before the first look
    const std::vector<Host> hosts = {{1, "A.EXE", true}, {2, "B.EXE", true}};
    EXPECT_EQ(relay.Step(hosts, {}, t0), "");
    relay.Observe(" A.EXE B.EXE", false);
    EXPECT_EQ(relay.Step(hosts, {}, t0), " B.EXE");
    EXPECT_EQ(relay.Step(hosts, {2}, t0), "");
    relay.Observe(" A.EXE B.EXE", false);
    EXPECT_EQ(relay.Step(hosts, {}, t0), "");
    // The rules were saved again while both names stay listed: both are due.
    relay.Observe(" A.EXE B.EXE", true);
    EXPECT_EQ(relay.Step(hosts, {}, t0), " A.EXE B.EXE");
}

TEST(UpdateRelay, EndedOrSilentEnginesDoNotHoldTheNameForever)
{
    UpdateRelay relay(1s);
    relay.Observe("", false);
    relay.Observe(" X", false);
    std::vector<Host> hosts = {{5, "X", true}, {6, "X", true}};
    EXPECT_EQ(relay.Step(hosts, {}, t0), " X");
    hosts[0].alive = false;
    EXPECT_EQ(relay.Step(hosts, {}, t0 + 100ms), " X");
    EXPECT_EQ(relay.Step(hosts, {}, t0 + 1100ms), "");
}

TEST(UpdateRelay, NamesWithoutARunningEngineNeedNoTurn)
{
    UpdateRelay relay;
    relay.Observe("", false);
    relay.Observe(" NOTEPAD.EXE", false);
    EXPECT_EQ(relay.Step({{1, "OTHER", true}}, {}, t0), "");
    EXPECT_TRUE(relay.Idle());
    // A name inside another one reloads that engine too, so it is waited for.
    relay.Observe(" NOTEPAD.EXE", true);
    EXPECT_EQ(relay.Step({{2, "PAD.EXE", true}}, {}, t0), " NOTEPAD.EXE");
}

TEST(UpdateRelay, LongListsGoOutInTurnsWithoutLosingANames)
{
    UpdateRelay relay;
    relay.Observe("", false);
    std::string list;
    std::vector<Host> hosts;
    for (int i = 0; i < 60; ++i) {
        const std::string name = "PROGRAM" + std::to_string(100 + i) + ".EXE";
        list += " " + name;
        hosts.push_back({1000 + i, name, true});
    }
    ASSERT_GT(list.size(), 511u);
    relay.Observe(list, false);
    std::set<std::string> delivered;
    for (int turn = 0; turn < 10 && !relay.Idle(); ++turn) {
        const std::string update = relay.Step(hosts, {}, t0);
        ASSERT_LE(update.size(), 511u);
        std::vector<uint32_t> acks;
        for (const auto& name : SplitNames(update)) {
            delivered.insert(name);
            for (const auto& host : hosts)
                if (host.exeName == name)
                    acks.push_back(static_cast<uint32_t>(host.pid));
        }
        relay.Step(hosts, acks, t0);
    }
    EXPECT_EQ(delivered.size(), 60u);
}
