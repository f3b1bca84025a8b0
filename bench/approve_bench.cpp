// What a decision costs next to what it guards: a loopback TCP connect and
// accept is the baseline; Approve is measured with 1,000 rule entries that
// it must walk before the default permits, with and without its log record,
// with 1,000 entries of every address form of both families, with a
// name against 500 host patterns, answered by the last of 100 answers for a
// time, for a datagram peer already permitted, a question the quiet mode
// answers without an alert, and with a log record under a profile. A
// process's first
// decision (the engine's start, the rules read) is measured for a plain
// program and for a script its interpreter runs, which reads the process's
// command line and working folder too.
#include "bench/LoopbackPair.h"
#include "engine/Engine.h"
#include "os/Files.h"
#include "protocol/Presence.h"
#include "protocol/Registry.h"
#include "protocol/SharedBlock.h"
#include "rules/HostListCompiler.h"
#include "rules/HostListParser.h"

#include <benchmark/benchmark.h>
#include <cstdlib>
#include <ctime>
#include <memory>
#include <string>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

using protocol::registry::RootKey;
using protocol::registry::kSettingsKey;

struct BenchEnvironment {
    std::string root;
    int panelLock = -1;
    protocol::SharedBlock block;

    BenchEnvironment()
    {
        char pattern[] = "/tmp/zel-bench-XXXXXX";
        root = ::mkdtemp(pattern);
        ::setenv("ZEL_REGISTRY_ROOT", (root + "/registry").c_str(), 1);
        ::setenv("ZEL_RUNTIME_DIR", (root + "/runtime").c_str(), 1);
        ::setenv("XDG_DATA_HOME", (root + "/data").c_str(), 1);
        ::setenv("XDG_DATA_DIRS", (root + "/data-dirs").c_str(), 1);
        os::MakeDirectories(root + "/logs");
        std::string rules;
        for (int i = 0; i < 1000; ++i)
            rules += "<RULE><DIRECTION>OUTGOING</DIRECTION><PERMISSION>DENY</PERMISSION><STATE>1</STATE><PORTS><PORT>"
                     "<NUMBER>" + std::to_string(1000 + i) + "</NUMBER><IPS><IP>10.0.0.1-10.0.0.200</IP></IPS>"
                     "</PORT></PORTS></RULE>";
        // A program of its own with 1,000 entries, half of them host names on
        // every port (each one looked at by every decision), read before ANY.
        std::string named;
        for (int i = 0; i < 500; ++i)
            named += "<RULE><DIRECTION>OUTGOING</DIRECTION><PERMISSION>DENY</PERMISSION><STATE>1</STATE><PORTS><PORT>"
                     "<NUMBER>" + std::to_string(1000 + i) + "</NUMBER><IPS><IP>10.0.0.1-10.0.0.200</IP></IPS></PORT>"
                     "<PORT><NUMBER>0</NUMBER><HOSTS><HOST>" + (i % 2 ? "*.site" : "www.site") + std::to_string(i)
                     + ".example.org</HOST></HOSTS></PORT></PORTS></RULE>";
        // A program with 100,000 entries of its own: ports 1 to 65,535, then
        // more of them on the same ports, 100 to a rule. Only those of the
        // decision's port (two) name an address range, one that does not hold
        // the peer: the rules file's limit on elements leaves no room for a
        // range on every entry.
        std::string big;
        big.reserve(100000 * 40);
        for (int r = 0; r < 1000; ++r) {
            big += "<RULE><DIRECTION>OUTGOING</DIRECTION><PERMISSION>DENY</PERMISSION><STATE>1</STATE><PORTS>";
            for (int i = r * 100; i < r * 100 + 100; ++i) {
                const int port = 1 + i % 65535;
                big += "<PORT><NUMBER>" + std::to_string(port) + "</NUMBER>"
                       + (port == 80 ? "<IPS><IP>10.0." + std::to_string(i % 200) + ".1-10.0." + std::to_string(i % 200)
                                           + ".200</IP></IPS>"
                                     : std::string())
                       + "</PORT>";
            }
            big += "</PORTS></RULE>";
        }
        // A program with 1,000 entries of every address form, IPv4 and IPv6
        // addresses, ranges and prefixes, half of them on the decision's
        // port and half on every port, none of which holds the peers below:
        // a decision walks all of its family's before the default permits.
        std::string mixed;
        for (int i = 0; i < 1000; ++i) {
            const std::string n = std::to_string(i % 250);
            const std::string items[] = {"10.1." + n + ".1", "10.2." + n + ".1-10.2." + n + ".9", "10." + n + ".0.0/16",
                                         "2001:db8:" + n + "::1", "2001:db8:1::" + n + "-2001:db8:1::1:0",
                                         "fd00:" + n + "::/32"};
            mixed += "<RULE><DIRECTION>OUTGOING</DIRECTION><PERMISSION>DENY</PERMISSION><STATE>1</STATE><PORTS><PORT>"
                     "<NUMBER>" + std::string(i / 6 % 2 ? "443" : "0") + "</NUMBER><IPS><IP>" + items[i % 6]
                     + "</IP></IPS></PORT></PORTS></RULE>";
        }
        // A program whose rules ask, with 100 answers for a time of which
        // only the last covers the decision's peer: the answers' worst walk.
        // They end in an hour: an Allow further away than any answer may last answers nothing.
        const std::string hour = std::to_string(std::time(nullptr) + 3600);
        std::string timed;
        for (int i = 0; i < 100; ++i)
            timed += "<ANSWER><DIRECTION>OUTGOING</DIRECTION><PERMISSION>PERMIT</PERMISSION><UNTIL>" + hour + "</UNTIL>"
                     "<NUMBER>" + std::to_string(i == 99 ? 80 : 2000 + i) + "</NUMBER>"
                     + (i % 2 && i != 99 ? "<HOST>www.site" + std::to_string(i) + ".example.org</HOST>" : "<IP>10.0.0." + std::to_string(i == 99 ? 5 : i) + "</IP>")
                     + "</ANSWER>";
        // The big program in a file of its own: a file over the format's limits must not keep the others from loading.
        os::WriteFileAtomically(root + "/Big.xml",
            "<APPLICATIONS><APPLICATION><EXENAME>BENCH-BIG</EXENAME><INDEF>ASK</INDEF><OUTDEF>PERMIT</OUTDEF><RULES>"
            + big + "</RULES></APPLICATION></APPLICATIONS>");
        os::WriteFileAtomically(root + "/Rules.xml",
            "<APPLICATIONS><APPLICATION><EXENAME>BENCH-TIMED</EXENAME><INDEF>ASK</INDEF><OUTDEF>ASK</OUTDEF><TIMED>"
            + timed + "</TIMED></APPLICATION>"
            "<APPLICATION><EXENAME>BENCH-MIXED</EXENAME><INDEF>ASK</INDEF><OUTDEF>PERMIT</OUTDEF><RULES>"
            + mixed + "</RULES></APPLICATION>"
            "<APPLICATION><EXENAME>BENCH-NAMED</EXENAME><INDEF>ASK</INDEF><OUTDEF>PERMIT</OUTDEF><RULES>"
            + named + "</RULES></APPLICATION>"
            "<APPLICATION><EXENAME>ANY</EXENAME><INDEF>ASK</INDEF><OUTDEF>PERMIT</OUTDEF><RULES>"
            + rules + "</RULES></APPLICATION></APPLICATIONS>");
        protocol::registry::SetString(RootKey::LocalMachine, kSettingsKey, "RulesFile", root + "/Rules.xml");
        protocol::registry::SetString(RootKey::LocalMachine, kSettingsKey, "SecurityStatus", "1");
        // A running control panel and an update string naming other programs:
        // every decision takes the reload check.
        panelLock = protocol::presence::HoldControlPanelLock(protocol::presence::ControlPanelLockPath());
        block = protocol::SharedBlock::Create(protocol::SharedBlock::DefaultPath());
        block.SetUpdateString(" NOTEPAD.EXE FIREFOX.EXE");
    }
    ~BenchEnvironment()
    {
        ::close(panelLock);
        const std::string command = "rm -rf '" + root + "'";
        if (std::system(command.c_str()) != 0)
            std::abort();
    }

    // A process in a process table of the bench's own: its executable, its
    // command line (arguments after a NUL each), its working folder.
    std::string FakeProcess(int pid, const std::string& exe, std::string_view commandLine)
    {
        const std::string folder = root + "/proc/" + std::to_string(pid);
        if (os::MakeDirectories(root + "/proc") && ::mkdir(folder.c_str(), 0755) == 0) {
            os::WriteFileAtomically(folder + "/cmdline", commandLine);
            os::WriteFileAtomically(root + "/bench.py", "");
            if (::symlink(exe.c_str(), (folder + "/exe").c_str()) != 0
                || ::symlink(root.c_str(), (folder + "/cwd").c_str()) != 0)
                std::abort();
        }
        return root + "/proc";
    }

    std::unique_ptr<engine::Engine> MakeEngine(bool withLog, const char* exePath = "/usr/bin/bench-host",
                                               std::string hostListPath = {})
    {
        if (withLog)
            protocol::registry::SetString(RootKey::LocalMachine, kSettingsKey, "LogFilesPath", root + "/logs");
        else
            protocol::registry::DeleteValue(RootKey::LocalMachine, kSettingsKey, "LogFilesPath");
        const bool big = std::string_view(exePath).ends_with("-big");
        protocol::registry::SetString(RootKey::LocalMachine, kSettingsKey, "RulesFile",
                                      root + (big ? "/Big.xml" : "/Rules.xml"));
        engine::EngineOptions options;
        options.exePath = exePath;
        options.lookUpOwnAddress = false;
        options.hostListPath = std::move(hostListPath);
        return std::make_unique<engine::Engine>(options);
    }
};

BenchEnvironment& Environment()
{
    static BenchEnvironment environment;
    return environment;
}

void BM_LoopbackConnectAccept(benchmark::State& state) { RunConnectAccept(state, "127.0.0.1", nullptr); }
BENCHMARK(BM_LoopbackConnectAccept);

void BM_ApproveWithLog(benchmark::State& state)
{
    auto engine = Environment().MakeEngine(true);
    for (auto _ : state)
        benchmark::DoNotOptimize(engine->Approve(40000, 1, "10.0.0.5", 1, 80));
}
BENCHMARK(BM_ApproveWithLog);

// The same under a profile: its default stands for the file's (the entries
// are walked as before), and the record names the profile.
void BM_ApproveWithLogUnderProfile(benchmark::State& state)
{
    protocol::registry::SetString(RootKey::LocalMachine, "Software\\KORVEL\\QRB\\Profiles", "Bench",
                                  "network=gw:10.0.0.1\noutgoing=allow\nblock=both /usr/bin/bench-other\n");
    protocol::registry::SetString(RootKey::LocalMachine, kSettingsKey, "ActiveProfile", "Bench");
    auto engine = Environment().MakeEngine(true);
    engine->Approve(40000, 1, "10.0.0.5", 1, 80); // the rules and the profile read
    protocol::registry::DeleteValue(RootKey::LocalMachine, kSettingsKey, "ActiveProfile");
    for (auto _ : state)
        benchmark::DoNotOptimize(engine->Approve(40000, 1, "10.0.0.5", 1, 80));
}
BENCHMARK(BM_ApproveWithLogUnderProfile);

void BM_ApproveWithoutLog(benchmark::State& state)
{
    auto engine = Environment().MakeEngine(false);
    for (auto _ : state)
        benchmark::DoNotOptimize(engine->Approve(40000, 1, "10.0.0.5", 1, 80));
}
BENCHMARK(BM_ApproveWithoutLog);

// 1,000 entries, 500 of them host patterns looked at for every decision, and
// a name that none of them matches: the walk ends at the default.
void BM_ApproveNamedWithoutLog(benchmark::State& state)
{
    auto engine = Environment().MakeEngine(false, "/usr/bin/bench-named");
    engine->ApproveNamed(40000, 1, "10.0.0.5", "www.unrelated.example.net", 1, 80);
    if (engine->RulesSnapshot().entries.size() != 1000)
        state.SkipWithError("the named program's rules did not load");
    for (auto _ : state)
        benchmark::DoNotOptimize(engine->ApproveNamed(40000, 1, "10.0.0.5", "www.unrelated.example.net", 1, 80));
}
BENCHMARK(BM_ApproveNamedWithoutLog);

// The named program's decisions with the name going round 65,536 unlisted
// ones (most lookups miss the caches), without host lists and with a list
// of 1,000,000 names in force: what the lists add to a decision.
const std::string& MillionNameList()
{
    static const std::string path = [] {
        std::string text;
        text.reserve(1'000'000 * 32);
        for (int i = 0; i < 1'000'000; ++i)
            text += "0.0.0.0 h" + std::to_string(i) + ".d" + std::to_string(i % 50'000) + ".example\n";
        const rules::HostList list = rules::ParseHostList(text);
        const std::string file = Environment().root + "/data/korvel/million.bin";
        if (!rules::WriteHostListFile(file, rules::CompileHostLists({{"Million", 0, &list}}).bytes))
            std::abort();
        return file;
    }();
    return path;
}

void ApproveNamedRound(benchmark::State& state, const std::string& listPath)
{
    auto engine = Environment().MakeEngine(false, "/usr/bin/bench-named", listPath);
    std::vector<std::string> names;
    for (int i = 0; i < 65'536; ++i)
        names.push_back("www.h" + std::to_string(i * 13) + ".unlisted" + std::to_string(i % 97) + ".example.net");
    if (engine->ApproveNamed(40000, 1, "10.0.0.5", "h7.d7.example", 1, 80) != (listPath.empty() ? 1 : 0))
        state.SkipWithError("the list is not in force as it should be");
    size_t i = 0;
    for (auto _ : state)
        benchmark::DoNotOptimize(engine->ApproveNamed(40000, 1, "10.0.0.5", names[i++ & 65535].c_str(), 1, 80));
}
void BM_ApproveNamedRoundWithoutLists(benchmark::State& state) { ApproveNamedRound(state, {}); }
BENCHMARK(BM_ApproveNamedRoundWithoutLists);
void BM_ApproveNamedRoundAgainstAMillionListed(benchmark::State& state) { ApproveNamedRound(state, MillionNameList()); }
BENCHMARK(BM_ApproveNamedRoundAgainstAMillionListed);

// 1,000 entries of every address form: an IPv4 peer and an IPv6 one that
// none of them holds.
void ApproveMixed(benchmark::State& state, const char* peer)
{
    auto engine = Environment().MakeEngine(false, "/usr/bin/bench-mixed");
    if (engine->Approve(40000, 1, peer, 1, 443) != engine::kPermit || engine->RulesSnapshot().entries.size() != 1000)
        state.SkipWithError("the mixed program's rules did not load");
    for (auto _ : state)
        benchmark::DoNotOptimize(engine->Approve(40000, 1, peer, 1, 443));
}
void BM_ApproveMixedIpv4WithoutLog(benchmark::State& state) { ApproveMixed(state, "192.0.2.7"); }
BENCHMARK(BM_ApproveMixedIpv4WithoutLog);
void BM_ApproveMixedIpv6WithoutLog(benchmark::State& state) { ApproveMixed(state, "2001:db9::7"); }
BENCHMARK(BM_ApproveMixedIpv6WithoutLog);

// The rules ask, and the 100th of the program's answers for a time permits
// (its end compared with the clock): the cost an answer for a time adds.
void BM_ApproveByTimedAnswerWithoutLog(benchmark::State& state)
{
    auto engine = Environment().MakeEngine(false, "/usr/bin/bench-timed");
    if (engine->Approve(40000, 1, "10.0.0.5", 1, 80) != engine::kPermit || engine->RulesSnapshot().timedAnswers.Size() != 100)
        state.SkipWithError("the timed program's rules did not load");
    for (auto _ : state)
        benchmark::DoNotOptimize(engine->Approve(40000, 1, "10.0.0.5", 1, 80));
}
BENCHMARK(BM_ApproveByTimedAnswerWithoutLog);

// The answer of a datagram peer the program was permitted to send to (its
// memory of such peers, valid in the current generation of verdicts).
void BM_ApproveDatagramPeerWithoutLog(benchmark::State& state)
{
    auto engine = Environment().MakeEngine(false);
    if (engine->Approve(40000, 1, "10.0.0.5", 2, 53) != engine::kPermit || !engine->HasDatagramPeer("10.0.0.5:53"))
        state.SkipWithError("the datagram peer was not permitted");
    for (auto _ : state)
        benchmark::DoNotOptimize(engine->Approve(40000, 0, "10.0.0.5", 2, 53));
}
BENCHMARK(BM_ApproveDatagramPeerWithoutLog);

// A question the rules would ask, answered by the quiet mode instead of an
// alert: the mode read from the settings, the peer already listed for review.
void BM_QuietAnswerWithoutLog(benchmark::State& state)
{
    auto engine = Environment().MakeEngine(false);
    protocol::registry::SetString(RootKey::LocalMachine, kSettingsKey, "FirewallMode", "quiet-block");
    if (engine->Approve(80, 0, "10.0.0.5", 1, 40000) != engine::kAsk
        || engine->UserApprove(80, 0, "10.0.0.5", nullptr, 1, 40000) != engine::kDeny)
        state.SkipWithError("the quiet mode did not answer");
    for (auto _ : state)
        benchmark::DoNotOptimize(engine->UserApprove(80, 0, "10.0.0.5", nullptr, 1, 40000));
    protocol::registry::DeleteValue(RootKey::LocalMachine, kSettingsKey, "FirewallMode");
}
BENCHMARK(BM_QuietAnswerWithoutLog);

using namespace std::string_literals;

// A process's first decision: its engine made, the rules read (a short
// file, so that what naming the process costs shows), one decision.
void FirstDecision(benchmark::State& state, int pid, const char* exe, const std::string& commandLine)
{
    Environment().MakeEngine(false); // without a log
    const std::string& root = Environment().root;
    os::WriteFileAtomically(root + "/Short.xml", "<APPLICATIONS><APPLICATION><EXENAME>ANY</EXENAME><INDEF>ASK</INDEF>"
                                                 "<OUTDEF>PERMIT</OUTDEF></APPLICATION></APPLICATIONS>");
    protocol::registry::SetString(RootKey::LocalMachine, kSettingsKey, "RulesFile", root + "/Short.xml");
    engine::EngineOptions options;
    options.lookUpOwnAddress = false;
    options.procRoot = Environment().FakeProcess(pid, exe, commandLine);
    options.pid = pid;
    for (auto _ : state) {
        engine::Engine engine(options);
        benchmark::DoNotOptimize(engine.Approve(40000, 1, "10.0.0.5", 1, 80));
    }
    engine::Engine engine(options);
    if (std::string_view(exe).starts_with("/usr/bin/python3") != !engine.Carrier().interpreterPath.empty())
        state.SkipWithError("the process was not named as expected");
}
void BM_FirstDecisionOfAProgram(benchmark::State& state)
{
    FirstDecision(state, 101, "/usr/bin/bench-host", "bench-host\0-v\0"s);
}
BENCHMARK(BM_FirstDecisionOfAProgram);
void BM_FirstDecisionOfAScript(benchmark::State& state)
{
    FirstDecision(state, 102, "/usr/bin/python3", "python3\0-u\0bench.py\0"s);
}
BENCHMARK(BM_FirstDecisionOfAScript);

// What the hook asks before each datagram it lets through by a verdict it holds.
void BM_VerdictEpoch(benchmark::State& state)
{
    auto engine = Environment().MakeEngine(false);
    for (auto _ : state)
        benchmark::DoNotOptimize(engine->VerdictEpoch());
}
BENCHMARK(BM_VerdictEpoch);

// The rules walk alone, for reading the figures above.
void BM_MatchRules1000(benchmark::State& state)
{
    auto engine = Environment().MakeEngine(false);
    engine->Approve(40000, 1, "10.0.0.5", 1, 80);
    const engine::RuleTable table = engine->RulesSnapshot();
    for (auto _ : state)
        benchmark::DoNotOptimize(table.MatchRules(1, 80, "10.0.0.5"));
}
BENCHMARK(BM_MatchRules1000);

// 100,000 entries of the program's own: the decision looks only at those of
// its port (two here) and of every port (none).
void BM_ApproveWith100000Entries(benchmark::State& state)
{
    auto engine = Environment().MakeEngine(false, "/usr/bin/bench-big");
    engine->Approve(40000, 1, "10.0.250.5", 1, 80);
    if (engine->RulesSnapshot().entries.size() != 100000)
        state.SkipWithError("the big program's rules did not load");
    for (auto _ : state)
        benchmark::DoNotOptimize(engine->Approve(40000, 1, "10.0.250.5", 1, 80));
}
BENCHMARK(BM_ApproveWith100000Entries);

// The same table walked entry by entry, as decisions did before the index:
// what the figure above is compared with.
void BM_WalkEvery100000Entries(benchmark::State& state)
{
    auto engine = Environment().MakeEngine(false, "/usr/bin/bench-big");
    engine->Approve(40000, 1, "10.0.250.5", 1, 80);
    const engine::RuleTable table = engine->RulesSnapshot();
    const auto peer = *rules::ParseAddress("10.0.250.5");
    const auto walk = [&](int direction, int port) {
        for (const engine::RuleEntry& entry : table.entries) {
            if (entry.direction != direction || (entry.port != port && entry.port != 0))
                continue;
            if (!entry.addresses || entry.addresses->Covers(peer))
                return entry.permission;
        }
        return table.defaultOutgoing;
    };
    for (auto _ : state)
        benchmark::DoNotOptimize(walk(1, 80));
}
BENCHMARK(BM_WalkEvery100000Entries);

}  // namespace

BENCHMARK_MAIN();
