// A loopback TCP connect and accept between two loopback addresses, so that
// under the hook both ends are decided (127.0.0.1 would pass as local).
// Run it plain and under the hook to see what the firewall adds. With
// ZEL_BENCH_PEER_NAME set, that name is looked up first (it must name
// 127.0.0.2): under the hook every connect then carries a known name.
#include "bench/LoopbackPair.h"

#include <cstdlib>
#include <netdb.h>

namespace {

void BM_ConnectAccept(benchmark::State& state)
{
    if (const char* name = std::getenv("ZEL_BENCH_PEER_NAME")) {
        addrinfo* found = nullptr;
        if (::getaddrinfo(name, nullptr, nullptr, &found) != 0) {
            state.SkipWithError("the peer's name cannot be looked up");
            return;
        }
        ::freeaddrinfo(found);
    }
    RunConnectAccept(state, "127.0.0.2", "127.0.0.3");
}
BENCHMARK(BM_ConnectAccept);

}  // namespace

BENCHMARK_MAIN();
