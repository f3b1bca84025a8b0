// The Protection view's reading of the process table every 2 s, with 300 programs of
// the user's that each hold an internet socket and none of which the hook is
// in (the most the scan reads for a program: descriptors, executable,
// auxiliary vector, maps, cgroup, environment), next to the process
// snapshot the panel takes for its strip of running programs (every
// process's stat and executable link); and an administrator's list of
// the system services.
#include "os/Processes.h"
#include "panel/core/SystemServices.h"
#include "session/ProgramCoverage.h"

#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <csignal>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr int kPrograms = 300;

// Children that each listen on a loopback port and wait to be ended.
class Programs {
public:
    Programs()
    {
        for (int i = 0; i < kPrograms; ++i) {
            int ready[2];
            if (::pipe(ready) != 0)
                break;
            const pid_t pid = ::fork();
            if (pid == 0) {
                ::close(ready[0]);
                const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
                sockaddr_in address {};
                address.sin_family = AF_INET;
                address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
                ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
                ::listen(fd, 1);
                const char byte = 1;
                [[maybe_unused]] const ssize_t n = ::write(ready[1], &byte, 1);
                // Ends with the benchmark at the latest.
                ::alarm(600);
                ::pause();
                ::_exit(0);
            }
            ::close(ready[1]);
            char byte = 0;
            [[maybe_unused]] const ssize_t n = ::read(ready[0], &byte, 1);
            ::close(ready[0]);
            if (pid > 0)
                pids_.push_back(pid);
        }
    }
    ~Programs()
    {
        for (const pid_t pid : pids_)
            ::kill(pid, SIGTERM);
        for (const pid_t pid : pids_)
            ::waitpid(pid, nullptr, 0);
    }
    size_t Count() const { return pids_.size(); }

private:
    std::vector<pid_t> pids_;
};

void BM_ProcessSnapshot(benchmark::State& state)
{
    size_t processes = 0;
    for (auto _ : state) {
        const auto snapshot = os::processes::Snapshot();
        processes = snapshot.size();
        benchmark::DoNotOptimize(processes);
    }
    state.counters["processes"] = static_cast<double>(processes);
}
BENCHMARK(BM_ProcessSnapshot)->Unit(benchmark::kMillisecond);

void BM_ProtectionScan(benchmark::State& state)
{
    session::coverage::Scanner scanner;
    session::coverage::ScanSettings settings;
    settings.uid = ::getuid();
    settings.self = ::getpid();
    size_t listed = 0;
    for (auto _ : state) {
        const auto programs = scanner.Scan(settings);
        listed = programs.size();
        benchmark::DoNotOptimize(listed);
    }
    state.counters["listed"] = static_cast<double>(listed);
}
BENCHMARK(BM_ProtectionScan)->Unit(benchmark::kMillisecond);

// The first scan of a page just opened: every program's executable,
// auxiliary vector, maps, cgroup and environment read.
void BM_ProtectionFirstScan(benchmark::State& state)
{
    session::coverage::ScanSettings settings;
    settings.uid = ::getuid();
    settings.self = ::getpid();
    for (auto _ : state) {
        session::coverage::Scanner scanner;
        benchmark::DoNotOptimize(scanner.Scan(settings));
    }
}
BENCHMARK(BM_ProtectionFirstScan)->Unit(benchmark::kMillisecond);

// An administrator's list of the system services, every 10 s while the page
// shows: as root, the 300 programs above are services too.
void BM_ServicesList(benchmark::State& state)
{
    const panel::services::Places places;
    size_t listed = 0;
    for (auto _ : state)
        listed = panel::services::List(places).services.size();
    state.counters["services"] = static_cast<double>(listed);
}
BENCHMARK(BM_ServicesList)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    Programs programs;
    benchmark::AddCustomContext("programs with a socket", std::to_string(programs.Count()));
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
