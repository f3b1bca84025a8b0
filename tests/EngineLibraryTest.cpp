// The engine as the interceptor sees it: a shared library loaded with dlopen
// whose eight exports are bound by their mangled names.
#include "Sandbox.h"
#include "settings/AppBuffer.h"

#include <cstdio>
#include <dlfcn.h>
#include <fstream>
#include <gtest/gtest.h>
#include <set>
#include <string>
#include <thread>

namespace {

using ApproveFn = int (*)(unsigned int, int, const char*, int, unsigned int);
using UserApproveFn = int (*)(unsigned int, int, const char*, const char*, int, unsigned int);
using IntFn = int (*)();
using BoolFn = bool (*)();
using WriteTrafficFn = void (*)(int, unsigned int);
using GetUpdateStringFn = void (*)(char*);
using VoidFn = void (*)();

const std::set<std::string> kExports = {
    "_Z7ApprovejiPKcij", "_Z11UserApprovejiPKcS0_ij", "_Z9LoadRulesv",       "_Z10IsBlockAllv",
    "_Z11IsInServicev",  "_Z12WriteTrafficij",        "_Z15GetUpdateStringPc", "_Z14PostUpdateDonev",
    "_Z12ApproveNamedjiPKcS0_ij", // beside the eight: decisions with the peer's name
    "_Z12ApproveNamesjiPKcPKS0_jijPi", // and with every name it is known by
    "_Z23UserApproveWithdrawablejiPKcS0_iji", // and a question its program can take back
};

long StatusField(const char* field)
{
    std::ifstream in("/proc/self/status");
    for (std::string line; std::getline(in, line);)
        if (line.rfind(field, 0) == 0)
            return std::stol(line.substr(std::string(field).size()));
    return -1;
}

std::string ManyRules(int count)
{
    std::string rules;
    for (int i = 0; i < count; ++i)
        rules += "<RULE><RULENAME>r" + std::to_string(i) + "</RULENAME><DIRECTION>OUTGOING</DIRECTION>"
                 "<PERMISSION>DENY</PERMISSION><STATE>1</STATE><ENABLE>1</ENABLE><PORTS><PORT><NUMBER>"
            + std::to_string(1000 + i) + "</NUMBER><IPS><IP>10.0.0.1-10.0.0.200</IP></IPS></PORT></PORTS></RULE>";
    return testing_support::RulesDocument("<APPLICATION><EXENAME>ANY</EXENAME><INDEF>ASK</INDEF><OUTDEF>PERMIT</OUTDEF>"
                                          "<RULES>" + rules + "</RULES></APPLICATION>");
}

}  // namespace

TEST(EngineLibrary, ExportsExactlyTheEightFunctions)
{
    FILE* pipe = ::popen("nm -D --defined-only '" ZEL_ENGINE_LIBRARY "'", "r");
    ASSERT_NE(pipe, nullptr);
    std::set<std::string> symbols;
    char line[1024];
    while (std::fgets(line, sizeof line, pipe)) {
        char address[64], type[8], name[900];
        if (std::sscanf(line, "%63s %7s %899s", address, type, name) == 3)
            symbols.insert(name);
    }
    ASSERT_EQ(::pclose(pipe), 0);
    EXPECT_EQ(symbols, kExports);
}

TEST(EngineLibrary, DecidesThroughTheMangledExports)
{
    testing_support::Sandbox sandbox;
    sandbox.WriteRules(ManyRules(3));
    void* library = ::dlopen(ZEL_ENGINE_LIBRARY, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(library, nullptr) << ::dlerror();
    for (const auto& name : kExports)
        EXPECT_NE(::dlsym(library, name.c_str()), nullptr) << name;
    auto approve = reinterpret_cast<ApproveFn>(::dlsym(library, "_Z7ApprovejiPKcij"));
    auto userApprove = reinterpret_cast<UserApproveFn>(::dlsym(library, "_Z11UserApprovejiPKcS0_ij"));
    auto loadRules = reinterpret_cast<IntFn>(::dlsym(library, "_Z9LoadRulesv"));
    auto isBlockAll = reinterpret_cast<BoolFn>(::dlsym(library, "_Z10IsBlockAllv"));
    auto isInService = reinterpret_cast<IntFn>(::dlsym(library, "_Z11IsInServicev"));
    auto writeTraffic = reinterpret_cast<WriteTrafficFn>(::dlsym(library, "_Z12WriteTrafficij"));
    auto getUpdateString = reinterpret_cast<GetUpdateStringFn>(::dlsym(library, "_Z15GetUpdateStringPc"));
    auto postUpdateDone = reinterpret_cast<VoidFn>(::dlsym(library, "_Z14PostUpdateDonev"));
    ASSERT_TRUE(approve && userApprove && loadRules && isBlockAll && isInService && writeTraffic && getUpdateString
                && postUpdateDone);

    EXPECT_EQ(approve(40000, 1, "10.0.0.5", 1, 1001), 0);
    EXPECT_EQ(approve(40000, 1, "10.0.0.5", 1, 80), 1);
    EXPECT_EQ(approve(22, 0, "10.0.0.5", 1, 40000), 2);
    EXPECT_EQ(userApprove(22, 0, "10.0.0.5", "peer", 1, 40000), 0);
    EXPECT_EQ(loadRules(), 0);
    EXPECT_FALSE(isBlockAll());
    sandbox.SetSetting("SecurityStatus", "0");
    // Settings are looked at again once they are 20 ms old.
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    EXPECT_TRUE(isBlockAll());
    EXPECT_EQ(isInService(), 0);
    char buffer[512] = "untouched";
    getUpdateString(buffer); // no shared block: nothing happens
    EXPECT_STREQ(buffer, "untouched");
    writeTraffic(1, 10);
    postUpdateDone();
    EXPECT_EQ(::dlclose(library), 0);

    const auto lines = sandbox.LogLines();
    ASSERT_EQ(lines.size(), 5u); // start, two decisions, the asked one, end
    EXPECT_NE(lines.front().find("<APPLICATIONSTART>"), std::string::npos);
    EXPECT_NE(lines.back().find("<APPLICATIONEND>"), std::string::npos);
    EXPECT_EQ(sandbox.ConnectionRecords().size(), 3u);
}

// A rules file the control panel loaded and saved is decided by the library
// exactly as the file the user wrote.
TEST(EngineLibrary, DecidesRulesSavedByTheControlPanelAsTheOriginal)
{
    testing_support::Sandbox sandbox;
    const std::string original = testing_support::RulesDocument(
        "<APPLICATION><EXENAME>ENGINE_LIBRARY_TESTS</EXENAME>\n  <OUTDEF>ASK</OUTDEF><INDEF>DENY</INDEF><RULES>"
        "<RULE><STATE>1</STATE><PERMISSION>PERMIT</PERMISSION><DIRECTION>OUTGOING</DIRECTION><PORTS>"
        "<PORT><NUMBER>443</NUMBER><IPS><IP>10.0.0.1-10.0.0.9</IP></IPS></PORT><PORT><NUMBER>https</NUMBER></PORT>"
        "</PORTS></RULE><RULE><DIRECTION>INCOMING</DIRECTION><STATE>1</STATE><PERMISSION>PERMIT</PERMISSION><PORTS>"
        "<PORT><NUMBER>22</NUMBER></PORT></PORTS></RULE></RULES></APPLICATION>"
        "<APPLICATION><EXENAME>ANY</EXENAME><INDEF>ASK</INDEF><OUTDEF>PERMIT</OUTDEF></APPLICATION>");
    panel::AppBuffer buffer;
    ASSERT_TRUE(buffer.LoadFromText(original));
    const std::string saved = buffer.ToText();
    ASSERT_NE(saved, original);

    struct Probe {
        unsigned localPort;
        int direction;
        const char* address;
        unsigned remotePort;
    };
    const Probe probes[] = {{40000, 1, "10.0.0.5", 443}, {40000, 1, "10.0.0.50", 443}, {40000, 1, "10.0.0.5", 80},
                            {22, 0, "10.0.0.5", 40000},  {23, 0, "10.0.0.5", 40000}};
    const auto decide = [&](const std::string& document) {
        sandbox.WriteRules(document);
        void* library = ::dlopen(ZEL_ENGINE_LIBRARY, RTLD_NOW | RTLD_LOCAL);
        EXPECT_NE(library, nullptr) << ::dlerror();
        auto approve = reinterpret_cast<ApproveFn>(::dlsym(library, "_Z7ApprovejiPKcij"));
        std::vector<int> answers;
        for (const Probe& p : probes)
            answers.push_back(approve(p.localPort, p.direction, p.address, 1, p.remotePort));
        ::dlclose(library);
        return answers;
    };
    const std::vector<int> before = decide(original);
    EXPECT_EQ(before, (std::vector<int> {1, 2, 2, 1, 0}));
    EXPECT_EQ(decide(saved), before);
}

TEST(EngineLibrary, AddsNoThreadAndLittleMemoryToItsHost)
{
    testing_support::Sandbox sandbox;
    sandbox.WriteRules(ManyRules(1000));
    const long threadsBefore = StatusField("Threads:");
    const long rssBefore = StatusField("VmRSS:");
    void* library = ::dlopen(ZEL_ENGINE_LIBRARY, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(library, nullptr) << ::dlerror();
    auto approve = reinterpret_cast<ApproveFn>(::dlsym(library, "_Z7ApprovejiPKcij"));
    ASSERT_NE(approve, nullptr);
    EXPECT_EQ(approve(40000, 1, "10.0.0.5", 1, 1500), 0);
    for (int i = 0; i < 1000; ++i)
        approve(40000, 1, "10.0.0.5", 1, 80);
    const long threadsAfter = StatusField("Threads:");
    const long rssAfter = StatusField("VmRSS:");
    std::printf("engine footprint: %ld kB resident added, threads %ld -> %ld\n", rssAfter - rssBefore, threadsBefore,
                threadsAfter);
    RecordProperty("rss_added_kb", std::to_string(rssAfter - rssBefore));
    EXPECT_EQ(threadsAfter, threadsBefore);
    EXPECT_LT(rssAfter - rssBefore, 2048);
    ::dlclose(library);
}
