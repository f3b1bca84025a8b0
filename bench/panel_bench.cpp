// The control panel's rules file with 1,000 applications: loading it into
// the rule buffer and saving it whole, next to reading and replacing the
// same bytes, which is what any load and save must do at least.
#include "bench/LogFixture.h"
#include "os/Files.h"
#include "panel/core/LogReader.h"
#include "panel/core/RulesStore.h"
#include "protocol/LogFiles.h"

#include <benchmark/benchmark.h>
#include <cstdlib>
#include <ctime>
#include <string>

namespace {

struct RulesFile {
    std::string path;
    std::string text;

    RulesFile()
    {
        char pattern[] = "/tmp/zel-panel-bench-XXXXXX";
        const std::string root = ::mkdtemp(pattern);
        path = root + "/Rules.xml";
        text = "<APPLICATIONS>";
        for (int i = 0; i < 1000; ++i) {
            const std::string name = "PROGRAM" + std::to_string(i);
            text += "<APPLICATION><EXENAME>" + name + "</EXENAME><DESCRIPTION>" + name + " DESCRIPTION</DESCRIPTION>"
                    "<APPPATH>/usr/bin/" + name + "</APPPATH><ISSERVICE>0</ISSERVICE><INDEF>ASK</INDEF><OUTDEF>PERMIT</OUTDEF>"
                    "<RULES>";
            for (int r = 0; r < 3; ++r)
                text += "<RULE><RULENAME>rule " + std::to_string(r) + "</RULENAME><DIRECTION>OUTGOING</DIRECTION>"
                        "<PERMISSION>DENY</PERMISSION><STATE>1</STATE><ENABLE>1</ENABLE><PORTS><PORT><ALIAS>web</ALIAS>"
                        "<NUMBER>" + std::to_string(80 + r) + "</NUMBER><IPS><IP>10.0.0.1-10.0.0.9</IP><IP>192.168.1.1</IP>"
                        "</IPS></PORT></PORTS></RULE>";
            text += "</RULES></APPLICATION>";
        }
        text += "<APPLICATION><EXENAME>ANY</EXENAME><DESCRIPTION>SYSTEM SETTINGS</DESCRIPTION><ISSERVICE>0</ISSERVICE>"
                "<INDEF>ASK</INDEF><OUTDEF>PERMIT</OUTDEF></APPLICATION></APPLICATIONS>\n";
        os::WriteFileAtomically(path, text);
    }
};

RulesFile& File()
{
    static RulesFile file;
    return file;
}

void BM_ReadAndReplaceBytes(benchmark::State& state)
{
    for (auto _ : state) {
        auto text = os::ReadFile(File().path, 64u << 20);
        benchmark::DoNotOptimize(text);
        os::WriteFileAtomically(File().path, *text);
    }
}
BENCHMARK(BM_ReadAndReplaceBytes)->Unit(benchmark::kMillisecond);

void BM_LoadRules(benchmark::State& state)
{
    for (auto _ : state) {
        panel::RulesStore buffer;
        buffer.Load(File().path);
        benchmark::DoNotOptimize(buffer.Document().applications.data());
    }
    state.counters["bytes"] = static_cast<double>(File().text.size());
}
BENCHMARK(BM_LoadRules)->Unit(benchmark::kMillisecond);

void BM_SaveRules(benchmark::State& state)
{
    panel::RulesStore buffer;
    buffer.Load(File().path);
    for (auto _ : state)
        buffer.Save(File().path);
}
BENCHMARK(BM_SaveRules)->Unit(benchmark::kMillisecond);

const panel::PortNames& Ports()
{
    static const panel::PortNames ports = panel::PortNames::FromText(bench_support::kPortsText);
    return ports;
}

void BM_ReadLogBytes(benchmark::State& state)
{
    for (auto _ : state) {
        size_t bytes = 0;
        for (int day = 0; day < bench_support::kLogDays; ++day)
            bytes += os::ReadFile(protocol::TrafficLogFileName(bench_support::LogFolder(), std::time(nullptr) - day * 86400),
                                        64u << 20)->size();
        benchmark::DoNotOptimize(bytes);
    }
}
BENCHMARK(BM_ReadLogBytes)->Unit(benchmark::kMillisecond);

void BM_FillLogView30Days(benchmark::State& state)
{
    size_t rows = 0;
    for (auto _ : state) {
        panel::LogReader reader; // nothing read before: every file parsed
        rows = reader.FillLogView(bench_support::LogFolder(), "Log2", false, Ports(), "SYSTEMD").size();
    }
    state.counters["rows"] = static_cast<double>(rows);
}
BENCHMARK(BM_FillLogView30Days)->Unit(benchmark::kMillisecond);

void BM_RefreshUnchangedLogView(benchmark::State& state)
{
    panel::LogReader reader;
    reader.FillLogView(bench_support::LogFolder(), "Log2", false, Ports(), "SYSTEMD");
    for (auto _ : state)
        benchmark::DoNotOptimize(reader.FillLogView(bench_support::LogFolder(), "Log2", false, Ports(), "SYSTEMD").size());
}
BENCHMARK(BM_RefreshUnchangedLogView)->Unit(benchmark::kMillisecond);

// A search looks at every record of the 30 days: the four views together
// hold all 100,000, each file parsed before (as once the log is open).
void SearchAllRecords(benchmark::State& state, const char* search)
{
    panel::LogReader reader;
    const char* const keys[] = {"Log1", "Log2", "Log3", "Log4"};
    for (const char* key : keys)
        reader.FillLogView(bench_support::LogFolder(), key, false, Ports(), "SYSTEMD");
    size_t rows = 0;
    for (auto _ : state) {
        rows = 0;
        for (const char* key : keys)
            rows += reader.FillLogView(bench_support::LogFolder(), key, false, Ports(), "SYSTEMD", {"", search}).size();
        benchmark::DoNotOptimize(rows);
    }
    state.counters["rows"] = static_cast<double>(rows);
}
void BM_SearchAllRecordsProgram(benchmark::State& state) { SearchAllRecords(state, "program7"); }
void BM_SearchAllRecordsAddress(benchmark::State& state) { SearchAllRecords(state, "10.0.0.17"); }
void BM_SearchAllRecordsPort(benchmark::State& state) { SearchAllRecords(state, "443"); }
void BM_SearchAllRecordsTwoWords(benchmark::State& state) { SearchAllRecords(state, "PROGRAM1 10.0.0.1"); }
// The first search after the log was opened: each record's text to search
// is made then.
void BM_FirstSearchAllRecords(benchmark::State& state)
{
    const char* const keys[] = {"Log1", "Log2", "Log3", "Log4"};
    size_t rows = 0;
    for (auto _ : state) {
        state.PauseTiming();
        panel::LogReader reader;
        for (const char* key : keys)
            reader.FillLogView(bench_support::LogFolder(), key, false, Ports(), "SYSTEMD");
        state.ResumeTiming();
        rows = 0;
        for (const char* key : keys)
            rows += reader.FillLogView(bench_support::LogFolder(), key, false, Ports(), "SYSTEMD", {"", "program7"}).size();
        benchmark::DoNotOptimize(rows);
    }
    state.counters["rows"] = static_cast<double>(rows);
}
BENCHMARK(BM_FirstSearchAllRecords)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SearchAllRecordsProgram)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SearchAllRecordsAddress)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SearchAllRecordsPort)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SearchAllRecordsTwoWords)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
