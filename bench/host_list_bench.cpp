// Host lists at a million names: compiling them into the file every program
// maps (time, size), mapping and checking that file, and what a lookup of a
// peer's name and address costs against it beside the same lookup against a
// file without entries, in the same run. The names: 900,000 plain entries
// and 100,000 covering what is under them; the lookups go round 65,536
// names, a quarter listed, so that most probes miss the caches as they do
// in a program that looks a name up now and then.
#include "rules/HostListCompiler.h"
#include "rules/HostListParser.h"
#include "rules/hooksafe/HostListView.h"

#include <benchmark/benchmark.h>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <sys/resource.h>
#include <ctime>
#include <unistd.h>
#include <vector>

namespace {

constexpr size_t kNames = 1'000'000;
constexpr size_t kBelow = 100'000;
constexpr size_t kQueries = 65'536;

std::string ListText()
{
    std::string text;
    text.reserve(kNames * 32);
    for (size_t i = 0; i < kNames - kBelow; ++i)
        text += "0.0.0.0 h" + std::to_string(i) + ".d" + std::to_string(i % 50'000) + ".example\n";
    for (size_t i = 0; i < kBelow; ++i)
        text += "||s" + std::to_string(i) + ".block.example^\n";
    return text;
}

std::vector<std::string> Queries()
{
    std::vector<std::string> names;
    uint64_t x = 88172645463325252ull;
    for (size_t i = 0; i < kQueries; ++i) {
        x ^= x << 13, x ^= x >> 7, x ^= x << 17;
        const size_t n = x % (kNames - kBelow);
        switch (i % 4) {
        case 0: names.push_back("h" + std::to_string(n) + ".d" + std::to_string(n % 50'000) + ".example"); break;
        case 1: names.push_back("www.h" + std::to_string(n) + ".d" + std::to_string(n % 50'000) + ".example"); break;
        case 2: names.push_back("cdn.x" + std::to_string(n) + ".other.example"); break;
        default: names.push_back("img.s" + std::to_string(n) + ".unlisted.example"); break;
        }
    }
    return names;
}

double CpuSeconds()
{
    timespec now {};
    ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return double(now.tv_sec) + double(now.tv_nsec) / 1e9;
}

struct Fixture {
    rules::HostList list;
    std::string path;
    rules::HostListView full;
    rules::HostListView empty;
    std::string emptyBytes;
    std::vector<std::string> queries = Queries();
    double compileSeconds = 0;
    double compileCpuSeconds = 0; // the machine may be shared: the time this process ran
    size_t fileBytes = 0;

    Fixture()
    {
        list = rules::ParseHostList(ListText());
        const auto start = std::chrono::steady_clock::now();
        const double cpuStart = CpuSeconds();
        const auto compiled = rules::CompileHostLists({{"Million", 0, &list}});
        compileSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        compileCpuSeconds = CpuSeconds() - cpuStart;
        fileBytes = compiled.bytes.size();
        path = "/tmp/zel-host-list-bench-" + std::to_string(::getpid()) + ".bin";
        if (!rules::WriteHostListFile(path, compiled.bytes) || full.Load(path.c_str()) != rules::HostListLoad::kLoaded)
            std::abort();
        emptyBytes = rules::CompileHostLists({}).bytes;
        if (!empty.Use(reinterpret_cast<const unsigned char*>(emptyBytes.data()), emptyBytes.size()))
            std::abort();
    }
    ~Fixture() { std::remove(path.c_str()); }
};

Fixture& Lists()
{
    static Fixture fixture;
    return fixture;
}

// Private_Dirty of this process, in KB.
long PrivateDirtyKb()
{
    FILE* file = std::fopen("/proc/self/smaps_rollup", "r");
    long total = -1;
    char line[256];
    while (file && std::fgets(line, sizeof line, file))
        if (std::sscanf(line, "Private_Dirty: %ld kB", &total) == 1)
            break;
    if (file)
        std::fclose(file);
    return total;
}

void LookUpNames(benchmark::State& state, const rules::HostListView& view)
{
    const auto& queries = Lists().queries;
    size_t i = 0;
    uint64_t hits = 0;
    for (auto _ : state) {
        const std::string& name = queries[i++ % queries.size()];
        hits += view.Name(name.data(), name.size()) != 0;
    }
    benchmark::DoNotOptimize(hits);
}

void BM_NameAgainstNoEntries(benchmark::State& state) { LookUpNames(state, Lists().empty); }
void BM_NameAgainstAMillion(benchmark::State& state) { LookUpNames(state, Lists().full); }

void BM_AddressAgainstAMillion(benchmark::State& state)
{
    // A list of a million names with no address: the search ends at once;
    // addresses are measured with one per name below.
    static const rules::HostList addresses = [] {
        std::string text;
        for (size_t i = 0; i < 250'000; ++i)
            text += std::to_string(10 + i / 65536 % 200) + "." + std::to_string(i / 256 % 256) + "."
                + std::to_string(i % 256) + ".7\n2001:db8:" + std::to_string(i % 65536) + "::/48\n";
        return rules::ParseHostList(text);
    }();
    static const std::string bytes = rules::CompileHostLists({{"Addresses", 1, &addresses}}).bytes;
    rules::HostListView view;
    if (!view.Use(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size()))
        std::abort();
    uint32_t x = 2463534242u;
    uint64_t hits = 0;
    for (auto _ : state) {
        x ^= x << 13, x ^= x >> 17, x ^= x << 5;
        hits += view.Ipv4(0x0a000007u + ((x % 250'000) << 8)) != 0;
        hits += view.Ipv6(0x20010db800000000ull | uint64_t(x % 65536) << 16, x) != 0;
    }
    benchmark::DoNotOptimize(hits);
    state.counters["intervals"] = double(view.Ipv4Count() + view.Ipv6Count());
}

void BM_MapAndCheckAMillion(benchmark::State& state)
{
    const long before = PrivateDirtyKb();
    rules::HostListView view;
    for (auto _ : state)
        if (view.Load(Lists().path.c_str()) != rules::HostListLoad::kLoaded)
            std::abort();
    for (const auto& name : Lists().queries)
        benchmark::DoNotOptimize(view.Name(name.data(), name.size()));
    state.counters["private_dirty_kb_added"] = double(PrivateDirtyKb() - before);
}

void BM_CompileAMillion(benchmark::State& state)
{
    for (auto _ : state)
        benchmark::DoNotOptimize(Lists().compileSeconds);
    state.counters["compile_s"] = Lists().compileSeconds;
    state.counters["compile_cpu_s"] = Lists().compileCpuSeconds;
    state.counters["file_mb"] = double(Lists().fileBytes) / (1 << 20);
    rusage usage {};
    ::getrusage(RUSAGE_SELF, &usage);
    state.counters["peak_rss_mb"] = double(usage.ru_maxrss) / 1024;
}

BENCHMARK(BM_CompileAMillion)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_MapAndCheckAMillion)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_NameAgainstNoEntries);
BENCHMARK(BM_NameAgainstAMillion);
BENCHMARK(BM_AddressAgainstAMillion);

}  // namespace

BENCHMARK_MAIN();
