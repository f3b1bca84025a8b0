// A decision allocates nothing: it runs inside every program's connect, on
// any thread, and must cost the same whatever the heap is doing. Counted by
// this program's own operator new, on the deciding thread only.
#include "engine/Engine.h"
#include "engine/RuleTable.h"

#include "tests/EngineTestOptions.h"
#include "tests/Sandbox.h"

#include <cstdlib>
#include <gtest/gtest.h>
#include <new>
#include <string>

namespace {

thread_local bool t_counting = false;
thread_local size_t t_allocations = 0;

// The allocations fn makes on this thread.
template <typename Fn>
size_t AllocationsOf(Fn fn)
{
    t_allocations = 0;
    t_counting = true;
    fn();
    t_counting = false;
    return t_allocations;
}

// 1,000 entries of every form, of one port and of every port, with host
// names among them: a decision looks at hundreds of them.
std::string MixedRules()
{
    std::string rules;
    for (int i = 0; i < 1000; ++i) {
        const std::string n = std::to_string(i % 250);
        const std::string items[] = {"10.1." + n + ".1", "10.2." + n + ".1-10.2." + n + ".9", "10." + n + ".0.0/16",
                                     "2001:db8:" + n + "::1", "2001:db8:1::" + n + "-2001:db8:1::1:0", "fd00:" + n + "::/32"};
        rules += "<RULE><DIRECTION>OUTGOING</DIRECTION><PERMISSION>DENY</PERMISSION><STATE>1</STATE><PORTS><PORT><NUMBER>"
            + std::string(i % 2 ? "443" : "0") + "</NUMBER>"
            + (i % 50 == 7 ? "<HOSTS><HOST>www.site" + n + ".example</HOST></HOSTS>" : "<IPS><IP>" + items[i % 6] + "</IP></IPS>")
            + "</PORT></PORTS></RULE>";
    }
    return testing_support::RulesDocument("<APPLICATION><EXENAME>TOOL.EXE</EXENAME><INDEF>ASK</INDEF><OUTDEF>PERMIT</OUTDEF>"
                                          "<RULES>" + rules + "</RULES></APPLICATION>");
}

}  // namespace

void* operator new(size_t size)
{
    if (t_counting)
        ++t_allocations;
    if (void* block = std::malloc(size ? size : 1))
        return block;
    throw std::bad_alloc();
}
void* operator new[](size_t size) { return operator new(size); }
// The library's nothrow forms (a temporary buffer of stable_sort) must come
// from the same heap the replaced delete returns to.
void* operator new(size_t size, const std::nothrow_t&) noexcept
{
    if (t_counting)
        ++t_allocations;
    return std::malloc(size ? size : 1);
}
void* operator new[](size_t size, const std::nothrow_t& tag) noexcept { return operator new(size, tag); }
void operator delete(void* block, const std::nothrow_t&) noexcept { std::free(block); }
void operator delete[](void* block, const std::nothrow_t&) noexcept { std::free(block); }
void operator delete(void* block) noexcept { std::free(block); }
void operator delete[](void* block) noexcept { std::free(block); }
void operator delete(void* block, size_t) noexcept { std::free(block); }
void operator delete[](void* block, size_t) noexcept { std::free(block); }

TEST(DecisionAllocation, RuleWalkOfEveryFormAllocatesNothing)
{
    engine::RuleTable table;
    table.LoadRulesFromText(MixedRules(), "TOOL.EXE");
    ASSERT_EQ(table.entries.size(), 1000u);
    const engine::HostKey name("www.unrelated.example.net");
    // The counter sees an allocation where there is one.
    EXPECT_EQ(AllocationsOf([] {
                  const std::string text(100, 'x');
                  asm volatile("" : : "r"(text.data()) : "memory");
              }),
              1u);
    for (const char* peer : {"192.0.2.7", "2001:db9::7", "::ffff:192.0.2.7", "10.1.3.1", "fd00:7::1", "no address"}) {
        EXPECT_EQ(AllocationsOf([&] {
                      table.MatchRules(engine::kOutgoing, 443, peer);
                      table.MatchRules(engine::kOutgoing, 443, peer, &name);
                      table.MatchRules(engine::kIncoming, 443, peer);
                  }),
                  0u)
            << peer;
    }
}

TEST(DecisionAllocation, ApproveWithoutLogAllocatesNothing)
{
    testing_support::Sandbox sandbox;
    sandbox.WriteRules(MixedRules());
    sandbox.DeleteSetting("LogFilesPath");
    engine::EngineOptions options = testing_support::TestEngineOptions("/opt/apps/tool.exe");
    options.settingsFreshnessMs = 60000; // the settings as looked at once: the decision alone is counted
    engine::Engine engine(options);
    // The first decision loads the rules.
    EXPECT_EQ(engine.Approve(40000, engine::kOutgoing, "192.0.2.7", testing_support::kTcp, 443), engine::kPermit);
    for (const char* peer : {"192.0.2.7", "2001:db9::7", "::ffff:192.0.2.7"}) {
        int decided = -1;
        EXPECT_EQ(AllocationsOf([&] { decided = engine.Approve(40000, engine::kOutgoing, peer, testing_support::kTcp, 443); }),
                  0u)
            << peer;
        EXPECT_EQ(decided, engine::kPermit) << peer;
    }
    // A peer an entry covers is decided by it, as cheaply.
    int decided = -1;
    EXPECT_EQ(AllocationsOf([&] { decided = engine.Approve(40000, engine::kOutgoing, "fd00:11::1", testing_support::kTcp, 443); }),
              0u);
    EXPECT_EQ(decided, engine::kDeny);
}
