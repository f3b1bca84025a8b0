// waitpeer: programs that wait for a connection in the ways programs do, for
// the tests of questions that stay open while the program goes on. Every
// mode ends by itself within 30 seconds.
//   connect HOW SRC DST PORT   a non-blocking connect from SRC, waited on with HOW:
//                              select, poll, epoll-lt, epoll-et, or epoll-before (edge
//                              triggered, registered before the connect, as nginx does).
//                              Prints the connect's result ("in progress"), then, once the
//                              socket is writable, "connected" (after a greeting exchanged
//                              with a tcp-server), "refused" or another error's text, and
//                              "waited MS cpu MS wakeups N": how long it waited, the CPU
//                              time its thread used meanwhile and how often its wait
//                              returned with nothing ready (every 500 ms, when nothing
//                              spins); edge triggered, then "one edge" or "a second edge"
//   timed-connect SRC DST PORT MS
//                              a blocking connect with SO_SNDTIMEO of MS: "connected",
//                              "refused", or "in progress after ELAPSED_MS"
//   timed-accept ADDR PORT MS N
//                              N blocking accepts with SO_RCVTIMEO of MS, each ending with
//                              "accepted IP after ELAPSED_MS" or "again after ELAPSED_MS";
//                              prints "listening" first
//   questions SRC DST PORT T N T threads x N non-blocking connects, every other one closed
//                              at once (its question withdrawn), the others waited on with
//                              poll: "connected=A refused=B closed=C"
//   many SRC DST PORT N        N non-blocking connects at once, as a page opens them:
//                              "started N in MS"; then an event loop for a second (poll on
//                              all of them, a timer ticking every 50 ms): "ticks T writable W";
//                              then each socket waited on (20 s in all): "connected=A refused=B"
#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <string>
#include <sys/epoll.h>
#include <sys/resource.h>
#include <sys/select.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>
#include <atomic>

namespace {

sockaddr_in Address(const char* ip, int port)
{
    sockaddr_in a {};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(port));
    ::inet_pton(AF_INET, ip, &a.sin_addr);
    return a;
}

void Say(const std::string& line)
{
    std::printf("%s\n", line.c_str());
    std::fflush(stdout);
}

long long NowMs()
{
    timespec now {};
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<long long>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

// CPU time of the calling thread: the program's own, not the firewall's.
long long ThreadCpuMs()
{
    rusage usage {};
    ::getrusage(RUSAGE_THREAD, &usage);
    return (usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1000LL
        + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1000;
}

std::string ErrorText(int error)
{
    return error == 0 ? "connected" : error == ECONNREFUSED ? "refused" : std::strerror(error);
}

int Socket(const char* source)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in from = Address(source, 0);
    if (::bind(fd, reinterpret_cast<sockaddr*>(&from), sizeof from) != 0) {
        std::perror("bind");
        std::exit(3);
    }
    return fd;
}

// A greeting exchanged with netpeer's tcp-server: the connection works.
std::string Exchange(int fd)
{
    const int flags = ::fcntl(fd, F_GETFL);
    ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
    ::send(fd, "hello\n", 6, MSG_NOSIGNAL);
    char answer[16] = {};
    return ::recv(fd, answer, sizeof answer - 1, 0) > 0 ? "connected" : "connected without answer";
}

// One wait for the socket to be writable, as the program waits: true when it is.
bool WaitWritable(const std::string& how, int fd, int epoll)
{
    constexpr int kTickMs = 500;
    if (how == "select") {
        fd_set writable;
        FD_ZERO(&writable);
        FD_SET(fd, &writable);
        timeval tick {0, kTickMs * 1000};
        return ::select(fd + 1, nullptr, &writable, nullptr, &tick) > 0;
    }
    if (how == "poll") {
        pollfd waiting {fd, POLLOUT, 0};
        return ::poll(&waiting, 1, kTickMs) > 0;
    }
    epoll_event event {};
    return ::epoll_wait(epoll, &event, 1, kTickMs) > 0 && event.data.fd == fd;
}

int ConnectAndWait(const std::string& how, const char* source, const char* destination, int port)
{
    const int fd = Socket(source);
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
    const int epoll = ::epoll_create1(EPOLL_CLOEXEC);
    epoll_event interest {};
    interest.data.fd = fd;
    interest.events = EPOLLOUT | (how == "epoll-lt" ? 0u : static_cast<unsigned>(EPOLLET));
    if (how == "epoll-before")
        ::epoll_ctl(epoll, EPOLL_CTL_ADD, fd, &interest);
    const sockaddr_in to = Address(destination, port);
    const int started = ::connect(fd, reinterpret_cast<const sockaddr*>(&to), sizeof to);
    Say(started == 0 ? "connected at once" : errno == EINPROGRESS ? "in progress" : ErrorText(errno));
    if (started != 0 && errno != EINPROGRESS)
        return 1;
    if (how == "epoll-lt" || how == "epoll-et")
        ::epoll_ctl(epoll, EPOLL_CTL_ADD, fd, &interest);
    const long long start = NowMs();
    const long long cpuBefore = ThreadCpuMs();
    int wakeups = 0;
    while (!WaitWritable(how, fd, epoll)) {
        ++wakeups;
        if (NowMs() - start > 25000)
            break;
    }
    const long long cpu = ThreadCpuMs() - cpuBefore;
    const long long waited = NowMs() - start;
    // Edge triggered: one edge for the connection, not one more.
    std::string edges;
    if (how == "epoll-et" || how == "epoll-before") {
        epoll_event event {};
        edges = ::epoll_wait(epoll, &event, 1, 200) == 0 ? "one edge" : "a second edge";
    }
    int error = 0;
    socklen_t size = sizeof error;
    ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &size);
    Say(error == 0 ? Exchange(fd) : ErrorText(error));
    Say("waited " + std::to_string(waited) + " cpu " + std::to_string(cpu) + " wakeups " + std::to_string(wakeups));
    if (!edges.empty())
        Say(edges);
    return 0;
}

int TimedConnect(const char* source, const char* destination, int port, int timeoutMs)
{
    const int fd = Socket(source);
    const timeval timeout {timeoutMs / 1000, (timeoutMs % 1000) * 1000};
    ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &timeout, sizeof timeout);
    const sockaddr_in to = Address(destination, port);
    const long long start = NowMs();
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&to), sizeof to) == 0)
        Say(Exchange(fd));
    else if (errno == EINPROGRESS)
        Say("in progress after " + std::to_string(NowMs() - start));
    else
        Say(ErrorText(errno));
    return 0;
}

int TimedAccept(const char* address, int port, int timeoutMs, int count)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    const int on = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    const sockaddr_in at = Address(address, port);
    if (::bind(fd, reinterpret_cast<const sockaddr*>(&at), sizeof at) != 0 || ::listen(fd, 8) != 0) {
        std::perror("listen");
        return 3;
    }
    const timeval timeout {timeoutMs / 1000, (timeoutMs % 1000) * 1000};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    Say("listening");
    for (int i = 0; i < count; ++i) {
        const long long start = NowMs();
        sockaddr_in from {};
        socklen_t length = sizeof from;
        const int connection = ::accept(fd, reinterpret_cast<sockaddr*>(&from), &length);
        const std::string elapsed = " after " + std::to_string(NowMs() - start);
        if (connection < 0) {
            Say((errno == EAGAIN ? std::string("again") : std::string(std::strerror(errno))) + elapsed);
            continue;
        }
        char ip[INET_ADDRSTRLEN];
        ::inet_ntop(AF_INET, &from.sin_addr, ip, sizeof ip);
        Say(std::string("accepted ") + ip + elapsed);
        ::close(connection);
    }
    return 0;
}

int Questions(const char* source, const char* destination, int port, int threads, int count)
{
    std::atomic<int> connected {0}, refused {0}, closed {0};
    const sockaddr_in to = Address(destination, port);
    std::vector<std::thread> workers;
    for (int t = 0; t < threads; ++t)
        workers.emplace_back([&, t] {
            for (int i = 0; i < count; ++i) {
                const int fd = Socket(source);
                ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
                const int started = ::connect(fd, reinterpret_cast<const sockaddr*>(&to), sizeof to);
                if (started != 0 && errno == EINPROGRESS && (i + t) % 2 == 0) {
                    ::close(fd);
                    ++closed;
                    continue;
                }
                pollfd waiting {fd, POLLOUT, 0};
                ::poll(&waiting, 1, 10000);
                int error = -1;
                socklen_t size = sizeof error;
                ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &size);
                ++(error == 0 ? connected : refused);
                ::close(fd);
            }
        });
    for (std::thread& worker : workers)
        worker.join();
    Say("connected=" + std::to_string(connected) + " refused=" + std::to_string(refused)
        + " closed=" + std::to_string(closed));
    return 0;
}

int Many(const char* source, const char* destination, int port, int count)
{
    const sockaddr_in to = Address(destination, port);
    std::vector<pollfd> sockets;
    const long long start = NowMs();
    for (int i = 0; i < count; ++i) {
        const int fd = Socket(source);
        ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
        if (::connect(fd, reinterpret_cast<const sockaddr*>(&to), sizeof to) != 0 && errno != EINPROGRESS) {
            Say(ErrorText(errno));
            return 1;
        }
        sockets.push_back({fd, POLLOUT, 0});
    }
    Say("started " + std::to_string(count) + " in " + std::to_string(NowMs() - start));
    int ticks = 0, writable = 0;
    const long long loop = NowMs();
    for (long long next = loop + 50, now = loop; now < loop + 1000; now = NowMs()) {
        if (::poll(sockets.data(), sockets.size(), static_cast<int>(next > now ? next - now : 0)) > 0)
            for (pollfd& socket : sockets)
                if (socket.revents) {
                    ++writable;
                    socket.events = 0;
                }
        if (NowMs() >= next) {
            ++ticks;
            next += 50;
        }
    }
    Say("ticks " + std::to_string(ticks) + " writable " + std::to_string(writable));
    int connected = 0, refused = 0;
    const long long deadline = NowMs() + 20000;
    for (pollfd& socket : sockets) {
        socket.events = POLLOUT;
        ::poll(&socket, 1, static_cast<int>(std::max(0LL, deadline - NowMs())));
        int error = -1;
        socklen_t size = sizeof error;
        ::getsockopt(socket.fd, SOL_SOCKET, SO_ERROR, &error, &size);
        ++(error == 0 ? connected : refused);
    }
    Say("connected=" + std::to_string(connected) + " refused=" + std::to_string(refused));
    return 0;
}

}  // namespace

int main(int argc, char** argv)
{
    ::alarm(30);
    const std::string mode = argc >= 2 ? argv[1] : "";
    if (mode == "connect" && argc >= 6)
        return ConnectAndWait(argv[2], argv[3], argv[4], std::atoi(argv[5]));
    if (mode == "timed-connect" && argc >= 6)
        return TimedConnect(argv[2], argv[3], std::atoi(argv[4]), std::atoi(argv[5]));
    if (mode == "questions" && argc >= 7)
        return Questions(argv[2], argv[3], std::atoi(argv[4]), std::atoi(argv[5]), std::atoi(argv[6]));
    if (mode == "many" && argc >= 6)
        return Many(argv[2], argv[3], std::atoi(argv[4]), std::atoi(argv[5]));
    if (mode == "timed-accept" && argc >= 6)
        return TimedAccept(argv[2], std::atoi(argv[3]), std::atoi(argv[4]), std::atoi(argv[5]));
    std::fprintf(stderr, "usage: see the top of WaitingPeer.cpp\n");
    return 2;
}
