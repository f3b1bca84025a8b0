#include "engine/Engine.h"

#include "os/Files.h"
#include "protocol/Presence.h"
#include "protocol/SharedBlock.h"
#include "tests/Sandbox.h"

#include <atomic>
#include <chrono>
#include <gtest/gtest.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

// Two rule sets that reach the same decisions by different routes, so that
// any decision taken from a half-loaded table shows up as a wrong answer.
std::string RulesA()
{
    return testing_support::RulesDocument(
        "<APPLICATION><EXENAME>TOOL</EXENAME><INDEF>DENY</INDEF><OUTDEF>DENY</OUTDEF><RULES>"
        "<RULE><DIRECTION>OUTGOING</DIRECTION><PERMISSION>PERMIT</PERMISSION><STATE>1</STATE>"
        "<PORTS><PORT><NUMBER>80</NUMBER></PORT></PORTS></RULE></RULES></APPLICATION>");
}

std::string RulesB()
{
    std::string rules;
    for (int i = 0; i < 1000; ++i)
        rules += "<RULE><DIRECTION>OUTGOING</DIRECTION><PERMISSION>DENY</PERMISSION><STATE>1</STATE><PORTS><PORT>"
                 "<NUMBER>"
            + std::to_string(10000 + i) + "</NUMBER></PORT></PORTS></RULE>";
    return testing_support::RulesDocument(
        "<APPLICATION><EXENAME>TOOL</EXENAME><INDEF>DENY</INDEF><OUTDEF>PERMIT</OUTDEF><RULES>" + rules
        + "<RULE><DIRECTION>OUTGOING</DIRECTION><PERMISSION>DENY</PERMISSION><STATE>1</STATE>"
          "<PORTS><PORT><NUMBER>81</NUMBER></PORT></PORTS></RULE></RULES></APPLICATION>");
}

}  // namespace

TEST(Concurrency, ApproveDuringReloadsNeverSeesAHalfLoadedTable)
{
    testing_support::Sandbox sandbox;
    sandbox.DeleteSetting("LogFilesPath"); // millions of records would only measure the disk
    ASSERT_TRUE(os::WriteFileAtomically(sandbox.rulesFile, RulesA()));
    const int lock = protocol::presence::HoldControlPanelLock(protocol::presence::ControlPanelLockPath());
    ASSERT_GE(lock, 0);
    protocol::SharedBlock block = protocol::SharedBlock::Create(protocol::SharedBlock::DefaultPath());
    ASSERT_TRUE(block);

    engine::EngineOptions options;
    options.exePath = "/apps/tool";
    options.lookUpOwnAddress = false;
    engine::Engine engine(options);

    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::seconds(2);
    std::atomic<bool> stop {false};
    std::atomic<long> decisions {0}, wrong {0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t) {
        threads.emplace_back([&, t] {
            for (unsigned i = 0; !stop.load(std::memory_order_relaxed); ++i) {
                const bool permitted = (i + t) % 3 != 0;
                const unsigned port = permitted ? 80 : 81;
                const int result = engine.Approve(40000 + t, 1, "10.0.0.5", 1, port);
                if (result != (permitted ? 1 : 0))
                    wrong.fetch_add(1);
                if (engine.Approve(22, 0, "10.0.0.5", 1, 40000) != 0)
                    wrong.fetch_add(1);
                decisions.fetch_add(2, std::memory_order_relaxed);
            }
        });
    }
    int reloads = 0;
    while (Clock::now() < deadline) {
        ASSERT_TRUE(os::WriteFileAtomically(sandbox.rulesFile, reloads % 2 ? RulesA() : RulesB()));
        const int32_t before = block.AcknowledgementCount();
        block.Publish(" TOOL");
        // Fixed: engines acknowledge in shared memory, which by design signals nobody.
        for (int wait = 0; wait < 1000 && block.AcknowledgementCount() == before; ++wait)
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        block.Publish("");
        block.ResetAcknowledgements();
        ++reloads;
    }
    stop = true;
    for (auto& thread : threads)
        thread.join();
    ::close(lock);

    EXPECT_EQ(wrong.load(), 0) << "of " << decisions.load() << " decisions";
    EXPECT_GT(reloads, 10);
    EXPECT_GT(decisions.load(), 1000);
    RecordProperty("decisions", std::to_string(decisions.load()));
    RecordProperty("reloads", std::to_string(reloads));
}
