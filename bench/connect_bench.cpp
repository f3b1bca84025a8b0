// A loopback TCP connect and accept between two loopback addresses, so that
// under the hook both ends are decided (127.0.0.1 would pass as local).
// Run it plain and under the hook to see what the firewall adds.
#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

sockaddr_in Address(const char* ip, uint16_t port)
{
    sockaddr_in a {};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    ::inet_pton(AF_INET, ip, &a.sin_addr);
    return a;
}

void BM_ConnectAccept(benchmark::State& state)
{
    const int listener = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in server = Address("127.0.0.2", 0);
    socklen_t length = sizeof server;
    if (::bind(listener, reinterpret_cast<sockaddr*>(&server), sizeof server) != 0 || ::listen(listener, 64) != 0
        || ::getsockname(listener, reinterpret_cast<sockaddr*>(&server), &length) != 0) {
        state.SkipWithError("cannot listen on 127.0.0.2");
        return;
    }
    const sockaddr_in source = Address("127.0.0.3", 0);
    for (auto _ : state) {
        const int client = ::socket(AF_INET, SOCK_STREAM, 0);
        ::bind(client, reinterpret_cast<const sockaddr*>(&source), sizeof source);
        if (::connect(client, reinterpret_cast<sockaddr*>(&server), sizeof server) != 0) {
            state.SkipWithError("connect failed");
            break;
        }
        const int accepted = ::accept(listener, nullptr, nullptr);
        ::close(accepted);
        ::close(client);
    }
    ::close(listener);
}
BENCHMARK(BM_ConnectAccept);

}  // namespace

BENCHMARK_MAIN();
