// The content check's cost: what a program with a checked entry pays, once,
// at its first decision: its file's SHA-256 digest, against reading the same
// file alone (the baseline in the same run).
#include "os/FileDigest.h"

#include <benchmark/benchmark.h>
#include <cstdio>
#include <fcntl.h>
#include <string>
#include <unistd.h>

namespace {

std::string PathOf(size_t megabytes)
{
    return "/tmp/zel-digest-bench-" + std::to_string(::getpid()) + "-" + std::to_string(megabytes);
}

std::string FileOf(size_t megabytes)
{
    const std::string path = PathOf(megabytes);
    if (::access(path.c_str(), F_OK) != 0) {
        FILE* file = std::fopen(path.c_str(), "wb");
        std::string block(1 << 20, '\0');
        for (size_t i = 0; i < block.size(); ++i)
            block[i] = static_cast<char>(i * 2654435761u >> 13);
        for (size_t i = 0; i < megabytes; ++i)
            std::fwrite(block.data(), 1, block.size(), file);
        std::fclose(file);
    }
    return path;
}

void BM_ReadFile(benchmark::State& state)
{
    const std::string path = FileOf(static_cast<size_t>(state.range(0)));
    char buffer[16 << 10];
    for (auto _ : state) {
        const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
        size_t total = 0;
        for (ssize_t n; (n = ::read(fd, buffer, sizeof buffer)) > 0;)
            total += static_cast<size_t>(n);
        ::close(fd);
        benchmark::DoNotOptimize(total);
    }
    state.SetBytesProcessed(state.iterations() * state.range(0) << 20);
}

void BM_FileDigest(benchmark::State& state)
{
    const std::string path = FileOf(static_cast<size_t>(state.range(0)));
    for (auto _ : state)
        benchmark::DoNotOptimize(os::FileDigestText(path));
    state.SetBytesProcessed(state.iterations() * state.range(0) << 20);
}

// 1 MB: a command-line program; 32 MB: a large application's executable.
BENCHMARK(BM_ReadFile)->Arg(1)->Arg(32)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FileDigest)->Arg(1)->Arg(32)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    for (const size_t megabytes : {1, 32})
        std::remove(PathOf(megabytes).c_str());
}
