// An event loop with many idle connections and one busy one, as a server
// has: each round writes a byte on the busy connection, waits with
// epoll_wait over every socket, reads the byte and re-arms the socket
// (EPOLLONESHOT). Run plain and under the hook to see what the firewall adds
// to a loop that no question concerns (the connections are made, and
// decided, before the rounds). With --rounds N it runs N rounds and ends,
// for counting its system calls.
#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <netinet/in.h>
#include <sys/epoll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr int kIdle = 1000;

sockaddr_in Address(const char* ip)
{
    sockaddr_in a {};
    a.sin_family = AF_INET;
    ::inet_pton(AF_INET, ip, &a.sin_addr);
    return a;
}

class Loop {
public:
    bool Open()
    {
        rlimit limit {};
        ::getrlimit(RLIMIT_NOFILE, &limit);
        limit.rlim_cur = limit.rlim_max;
        ::setrlimit(RLIMIT_NOFILE, &limit);
        listener_ = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in server = Address("127.0.0.2");
        socklen_t length = sizeof server;
        if (::bind(listener_, reinterpret_cast<sockaddr*>(&server), sizeof server) != 0
            || ::listen(listener_, 4096) != 0
            || ::getsockname(listener_, reinterpret_cast<sockaddr*>(&server), &length) != 0)
            return false;
        epoll_ = ::epoll_create1(EPOLL_CLOEXEC);
        const sockaddr_in source = Address("127.0.0.3");
        for (int i = 0; i <= kIdle; ++i) {
            const int client = ::socket(AF_INET, SOCK_STREAM, 0);
            // The port at connect, and a reset at close: runs after runs
            // never run out of ports held by connections closing.
            const int on = 1;
            ::setsockopt(client, IPPROTO_IP, IP_BIND_ADDRESS_NO_PORT, &on, sizeof on);
            const linger reset {1, 0};
            ::setsockopt(client, SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
            ::bind(client, reinterpret_cast<const sockaddr*>(&source), sizeof source);
            if (::connect(client, reinterpret_cast<sockaddr*>(&server), sizeof server) != 0)
                return false;
            const int accepted = ::accept(listener_, nullptr, nullptr);
            if (accepted < 0)
                return false;
            open_.push_back(client);
            open_.push_back(accepted);
            epoll_event interest {};
            interest.events = EPOLLIN | EPOLLONESHOT;
            interest.data.fd = accepted;
            ::epoll_ctl(epoll_, EPOLL_CTL_ADD, accepted, &interest);
            busyClient_ = client;
            busyServer_ = accepted;
        }
        return true;
    }
    ~Loop()
    {
        for (const int fd : open_)
            ::close(fd);
        ::close(epoll_);
        ::close(listener_);
    }
    bool Round()
    {
        char byte = 'x';
        if (::write(busyClient_, &byte, 1) != 1)
            return false;
        epoll_event events[64];
        const int ready = ::epoll_wait(epoll_, events, 64, 1000);
        if (ready != 1 || events[0].data.fd != busyServer_ || ::read(busyServer_, &byte, 1) != 1)
            return false;
        epoll_event interest {};
        interest.events = EPOLLIN | EPOLLONESHOT;
        interest.data.fd = busyServer_;
        return ::epoll_ctl(epoll_, EPOLL_CTL_MOD, busyServer_, &interest) == 0;
    }

private:
    int listener_ = -1;
    int epoll_ = -1;
    int busyClient_ = -1;
    int busyServer_ = -1;
    std::vector<int> open_;
};

void BM_EventLoopRound(benchmark::State& state)
{
    Loop loop;
    if (!loop.Open()) {
        state.SkipWithError("cannot open the connections");
        return;
    }
    for (auto _ : state)
        if (!loop.Round()) {
            state.SkipWithError("a round failed");
            break;
        }
}
BENCHMARK(BM_EventLoopRound);

}  // namespace

int main(int argc, char** argv)
{
    if (argc == 3 && std::strcmp(argv[1], "--rounds") == 0) {
        Loop loop;
        if (!loop.Open())
            return 1;
        for (long i = std::atol(argv[2]); i > 0; --i)
            if (!loop.Round())
                return 1;
        return 0;
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
