// The kernel's socket list and its owners with 10,000 loopback sockets of
// this process (5,000 connections from 127.0.0.3 to 127.0.0.2): the cost of
// one refresh, as the traffic sampler makes one a second and the
// Connections page two.
#include "os/SockDiag.h"
#include "os/SocketOwners.h"
#include "panel/core/LiveConnections.h"
#include "protocol/LogFiles.h"

#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <string>

#include <algorithm>
#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

using namespace os::sockdiag;

namespace {

constexpr int kConnections = 5000;

struct Connections {
    Connections()
    {
        rlimit limit {};
        ::getrlimit(RLIMIT_NOFILE, &limit);
        limit.rlim_cur = std::max<rlim_t>(limit.rlim_cur, std::min<rlim_t>(limit.rlim_max, 2 * kConnections + 256));
        ::setrlimit(RLIMIT_NOFILE, &limit);
        sockaddr_in server {};
        server.sin_family = AF_INET;
        ::inet_pton(AF_INET, "127.0.0.2", &server.sin_addr);
        sockaddr_in client = server;
        ::inet_pton(AF_INET, "127.0.0.3", &client.sin_addr);
        socklen_t length = sizeof server;
        listener = ::socket(AF_INET, SOCK_STREAM, 0);
        if (::bind(listener, reinterpret_cast<sockaddr*>(&server), sizeof server) != 0 || ::listen(listener, 128) != 0
            || ::getsockname(listener, reinterpret_cast<sockaddr*>(&server), &length) != 0)
            return;
        for (int i = 0; i < kConnections; ++i) {
            const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
            if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&client), sizeof client) != 0
                || ::connect(fd, reinterpret_cast<sockaddr*>(&server), sizeof server) != 0) {
                if (fd >= 0)
                    ::close(fd);
                return;
            }
            fds.push_back(fd);
            fds.push_back(::accept(listener, nullptr, nullptr));
        }
    }
    ~Connections()
    {
        for (const int fd : fds)
            ::close(fd);
        ::close(listener);
    }
    bool Ready() const { return fds.size() == 2 * kConnections; }
    int listener = -1;
    std::vector<int> fds;
};

Connections& Loopback()
{
    static Connections connections;
    return connections;
}

void BM_DumpOwnSockets(benchmark::State& state)
{
    if (!Loopback().Ready()) {
        state.SkipWithError("cannot open 10,000 loopback sockets");
        return;
    }
    SocketDiagnostics diagnostics;
    std::vector<SocketRow> rows;
    for (auto _ : state) {
        if (diagnostics.Dump(::getuid(), rows) != DumpStatus::Complete)
            state.SkipWithError("dump failed");
        benchmark::DoNotOptimize(rows.data());
    }
    state.counters["sockets"] = static_cast<double>(rows.size());
}
BENCHMARK(BM_DumpOwnSockets)->Unit(benchmark::kMicrosecond);

// A refresh as the sampler makes it: the dump, then owners of known inodes.
// Only this bench's sockets: the other sockets of the same uid on a shared
// machine come and go, and each new one is rightly looked for.
void BM_RefreshWithKnownOwners(benchmark::State& state)
{
    if (!Loopback().Ready()) {
        state.SkipWithError("cannot open 10,000 loopback sockets");
        return;
    }
    SocketDiagnostics diagnostics;
    SocketOwners owners(::getuid());
    std::vector<SocketRow> rows;
    std::vector<uint64_t> inodes;
    const std::vector<pid_t> candidates {::getpid()};
    for (auto _ : state) {
        diagnostics.Dump(::getuid(), rows);
        inodes.clear();
        for (const SocketRow& row : rows)
            if (row.localAddress[0] == 127 && (row.localAddress[3] == 2 || row.localAddress[3] == 3))
                inodes.push_back(row.inode);
        owners.Refresh(inodes, candidates);
    }
    state.counters["looks"] = static_cast<double>(owners.counts().looks);
}
BENCHMARK(BM_RefreshWithKnownOwners)->Unit(benchmark::kMicrosecond);

// The first refresh: every owner unknown, this process a candidate.
void BM_FirstOwnersLook(benchmark::State& state)
{
    if (!Loopback().Ready()) {
        state.SkipWithError("cannot open 10,000 loopback sockets");
        return;
    }
    SocketDiagnostics diagnostics;
    std::vector<SocketRow> rows;
    diagnostics.Dump(::getuid(), rows);
    std::vector<uint64_t> inodes;
    for (const SocketRow& row : rows)
        if (row.localAddress[0] == 127 && (row.localAddress[3] == 2 || row.localAddress[3] == 3))
            inodes.push_back(row.inode);
    const std::vector<pid_t> candidates {::getpid()};
    for (auto _ : state) {
        SocketOwners owners(::getuid());
        owners.Refresh(inodes, candidates);
        benchmark::DoNotOptimize(owners.Owner(inodes.front()));
    }
}
BENCHMARK(BM_FirstOwnersLook)->Unit(benchmark::kMicrosecond);

// The Connections page's refresh: the dump, owners known, the engine's
// carriers, the day's new records (none after the first) and each row's
// program, rate and decision; today's log holds 100,000 records.
void BM_LiveConnectionsRefresh(benchmark::State& state)
{
    if (!Loopback().Ready()) {
        state.SkipWithError("cannot open 10,000 loopback sockets");
        return;
    }
    const std::string folder = std::filesystem::temp_directory_path() / ("zel-live-bench-" + std::to_string(::getpid()));
    std::filesystem::create_directories(folder);
    {
        std::ofstream log(protocol::TrafficLogFileName(folder, std::time(nullptr)), std::ios::binary);
        for (int i = 0; i < 100000; ++i)
            log << "<DATE>1/1/2026</DATE><TIME>10:00:00</TIME><EXEPATH>/usr/bin/program" << i % 200
                << "</EXEPATH><APPLICATION>P</APPLICATION><PROTOCOL>1</PROTOCOL><DIRECTION>1</DIRECTION><IP>10.0."
                << i % 250 << ".1</IP><LOCALPORT>0</LOCALPORT><REMOTEPORT>443</REMOTEPORT><PERMISSION>1</PERMISSION>"
                   "<SERVICE>0</SERVICE><HOST>host"
                << i % 5000 << ".example.org</HOST><REASON>rule</REASON>\r\n";
    }
    panel::LiveConnections live({.uid = ::getuid(), .logFolder = folder});
    std::vector<panel::LiveConnection> rows;
    live.Refresh(std::chrono::steady_clock::now(), std::time(nullptr), rows); // the day read, owners looked for
    for (int i = 0; i < 100 && std::any_of(rows.begin(), rows.end(), [](const auto& row) { return row.pid == 0; }); ++i)
        live.Refresh(std::chrono::steady_clock::now(), std::time(nullptr), rows);
    for (auto _ : state) {
        live.Refresh(std::chrono::steady_clock::now(), std::time(nullptr), rows);
        benchmark::DoNotOptimize(rows.data());
    }
    state.counters["sockets"] = static_cast<double>(rows.size());
    std::filesystem::remove_all(folder);
}
BENCHMARK(BM_LiveConnectionsRefresh)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
