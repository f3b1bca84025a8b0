// A loopback TCP connect and accept between two loopback addresses, so that
// under the hook both ends are decided (127.0.0.1 would pass as local).
// Run it plain and under the hook to see what the firewall adds.
#include "LoopbackPair.h"

namespace {

void BM_ConnectAccept(benchmark::State& state) { RunConnectAccept(state, "127.0.0.2", "127.0.0.3"); }
BENCHMARK(BM_ConnectAccept);

}  // namespace

BENCHMARK_MAIN();
