// What loading the rules costs a host as the file grows: a file of 10,000
// applications (about 5 MB, 230,000 elements) and one of 50,000 (about
// 26 MB, over the elements' limit), the host's own entry and "ANY" at the
// end, read piece by piece (as hosts do; the larger file is refused as it is
// read) and read as a whole document (what the engine did before, and still
// does for a file of an unusual shape). Peak heap is counted by this
// program's own allocator. Beside them, a host list of 1,000,000 lines read
// into its entries, as a list is read before it is compiled.
#include "engine/RuleTable.h"
#include "os/Files.h"
#include "rules/HostListParser.h"
#include "rules/RulesFile.h"

#include <atomic>
#include <benchmark/benchmark.h>
#include <cstdio>
#include <cstdlib>
#include <malloc.h>
#include <new>
#include <pugixml.hpp>
#include <string>
#include <unistd.h>

namespace {

std::atomic<size_t> g_current {0};
std::atomic<size_t> g_peak {0};

// The document parser allocates through malloc, unless told otherwise.
void* CountedMalloc(size_t size)
{
    void* block = std::malloc(size ? size : 1);
    if (block) {
        const size_t now = g_current += malloc_usable_size(block);
        size_t peak = g_peak.load();
        while (now > peak && !g_peak.compare_exchange_weak(peak, now)) {
        }
    }
    return block;
}

void CountedFree(void* block)
{
    if (block)
        g_current -= malloc_usable_size(block);
    std::free(block);
}

const bool g_parserCounted = (pugi::set_memory_management_functions(CountedMalloc, CountedFree), true);

}  // namespace

void* operator new(size_t size)
{
    void* block = CountedMalloc(size);
    if (!block)
        throw std::bad_alloc();
    return block;
}
void* operator new[](size_t size) { return operator new(size); }
void operator delete(void* block) noexcept { CountedFree(block); }
void operator delete[](void* block) noexcept { operator delete(block); }
void operator delete(void* block, size_t) noexcept { operator delete(block); }
void operator delete[](void* block, size_t) noexcept { operator delete(block); }

namespace {

// n applications of about 500 bytes each, then the host's own and ANY.
std::string RulesFile(int applications)
{
    std::string text = "<APPLICATIONS>";
    const auto app = [](const std::string& name, int port) {
        return "<APPLICATION><EXENAME>" + name + "</EXENAME><DESCRIPTION>" + name + " &amp; friends</DESCRIPTION>"
            "<APPPATH>/usr/bin/" + name + "</APPPATH><ISSERVICE>0</ISSERVICE><INDEF>ASK</INDEF><OUTDEF>PERMIT</OUTDEF>"
            "<RULES><RULE><RULENAME>web</RULENAME><DIRECTION>OUTGOING</DIRECTION><PERMISSION>PERMIT</PERMISSION>"
            "<STATE>1</STATE><ENABLE>1</ENABLE><PORTS><PORT><NUMBER>" + std::to_string(port) + "</NUMBER><IPS>"
            "<IP>10.0.0.1-10.0.0.200</IP></IPS></PORT><PORT><NUMBER>443</NUMBER><HOSTS><HOST>*.example.org</HOST>"
            "</HOSTS></PORT></PORTS></RULE></RULES></APPLICATION>";
    };
    for (int i = 0; i < applications; ++i)
        text += app("PROGRAM" + std::to_string(i), 1000 + i % 60000);
    text += app("BENCH-HOST", 80);
    text += "<APPLICATION><EXENAME>ANY</EXENAME><INDEF>ASK</INDEF><OUTDEF>ASK</OUTDEF></APPLICATION></APPLICATIONS>";
    return text;
}

struct Files {
    std::string folder;
    std::string small, large;
    size_t smallBytes = 0, largeBytes = 0;
    Files()
    {
        char pattern[] = "/tmp/zel-bench-rules-XXXXXX";
        folder = ::mkdtemp(pattern);
        const std::string smallText = RulesFile(10000), largeText = RulesFile(50000);
        smallBytes = smallText.size();
        largeBytes = largeText.size();
        small = folder + "/Rules10000.xml";
        large = folder + "/Rules50000.xml";
        os::WriteFileAtomically(small, smallText);
        os::WriteFileAtomically(large, largeText);
    }
    ~Files()
    {
        ::unlink(small.c_str());
        ::unlink(large.c_str());
        ::rmdir(folder.c_str());
    }
};

Files& TheFiles()
{
    static Files files;
    return files;
}

void Report(benchmark::State& state, size_t before, size_t fileBytes, size_t entries)
{
    state.counters["file_MB"] = static_cast<double>(fileBytes) / 1e6;
    state.counters["peak_heap_kB"] = static_cast<double>(g_peak.load() - before) / 1024.0;
    state.counters["entries"] = static_cast<double>(entries);
}

void Load(benchmark::State& state, bool large, bool whole)
{
    const Files& files = TheFiles();
    const std::string& path = large ? files.large : files.small;
    std::string text;
    if (whole)
        text = os::ReadFile(path, 1u << 30).value_or("");
    size_t entries = 0;
    const size_t before = g_current.load();
    g_peak = before;
    for (auto _ : state) {
        engine::RuleTable table;
        if (whole)
            table.LoadRulesFromDocument(text, "BENCH-HOST");
        else
            table.LoadRulesFor(path, "BENCH-HOST");
        entries = table.entries.size();
        benchmark::DoNotOptimize(entries);
    }
    const size_t expected = large && !whole ? 0 : 2;
    if (entries != expected)
        state.SkipWithError(expected ? "the host's entries were not read" : "a file over the limits was read");
    Report(state, before, large ? files.largeBytes : files.smallBytes, entries);
}

// What the elements' limit adds to a host's reading: the elements of the
// 10,000 applications counted in the reader's 64 kB pieces.
void BM_CountElements10000(benchmark::State& state)
{
    const std::string text = os::ReadFile(TheFiles().small, 1u << 30).value_or("");
    size_t elements = 0;
    for (auto _ : state) {
        rules::rules_file::Markup markup;
        for (size_t at = 0; at < text.size(); at += 64 << 10)
            markup.Add(std::string_view(text).substr(at, 64 << 10));
        elements = markup.Elements();
        benchmark::DoNotOptimize(elements);
    }
    state.counters["elements"] = static_cast<double>(elements);
}

void BM_LoadRules10000Piecewise(benchmark::State& state) { Load(state, false, false); }
void BM_LoadRules10000WholeDocument(benchmark::State& state) { Load(state, false, true); }
void BM_LoadRules50000Piecewise(benchmark::State& state) { Load(state, true, false); }
void BM_LoadRules50000WholeDocument(benchmark::State& state) { Load(state, true, true); }
// A line of /proc/self/status in kB ("VmHWM:", the resident peak).
size_t StatusKilobytes(std::string_view key)
{
    const std::string status = os::ReadFile("/proc/self/status", 1 << 20).value_or("");
    const size_t at = status.find(key);
    return at == std::string::npos ? 0 : std::strtoull(status.c_str() + at + key.size(), nullptr, 10);
}

// 1,000,000 lines of a hosts file as lists are published: a header of
// comments, one name a line, some with a comment after it.
void BM_ParseHostList1M(benchmark::State& state)
{
    std::string text = "# Title: bench list\n# Updated: today\n\n127.0.0.1 localhost\n";
    for (int i = 0; i < 1000000 - 4; ++i)
        text += "0.0.0.0 ads" + std::to_string(i) + (i % 3 ? ".tracker-cdn.example.com\n" : ".metrics.example.net # t\n");
    size_t entries = 0;
    const size_t before = g_current.load();
    g_peak = before;
    // The resident peak is set back to what is resident now (clear_refs 5),
    // so that it counts the pages the reading touched, not the reserved.
    if (std::FILE* refs = std::fopen("/proc/self/clear_refs", "w")) {
        std::fputs("5", refs);
        std::fclose(refs);
    }
    const size_t residentBefore = StatusKilobytes("VmRSS:");
    for (auto _ : state) {
        const rules::HostList list = rules::ParseHostList(text);
        entries = list.counts.Entries();
        benchmark::DoNotOptimize(entries);
    }
    if (entries != 1000000 - 4)
        state.SkipWithError("the list's names were not all read");
    Report(state, before, text.size(), entries);
    state.counters["peak_resident_growth_kB"] = static_cast<double>(StatusKilobytes("VmHWM:") - residentBefore);
    state.counters["lines_per_s"] = benchmark::Counter(1e6, benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(BM_ParseHostList1M)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CountElements10000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LoadRules10000Piecewise)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LoadRules10000WholeDocument)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LoadRules50000Piecewise)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LoadRules50000WholeDocument)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
