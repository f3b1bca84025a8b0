// netpeer: small TCP and UDP clients and servers for the interceptor's tests.
// Every address may be IPv4 or IPv6. Every mode ends by itself within 30
// seconds.
//   tcp-server ADDR PORT          accept, read, print "accepted IP" and answer "ok",
//                                 or print "reset IP" when the connection reads as reset
//   tcp-client SRC DST PORT       print "connected" + the answer, or "refused"
//   named-connect CALL NAME PORT  look NAME up with CALL (getaddrinfo, gethostbyname,
//                                 gethostbyname2, or their _r forms), connect from
//                                 127.0.0.3: "ok" or "refused"; "not found" and 2
//   tcp-repeat SRC DST PORT N MS  N connections MS apart, one result line each
//   tcp-threads SRC DST PORT T N  T threads x N connections: "ok=A failed=B"
//   sink ADDR PORT                accept one connection, print the bytes read
//   send SRC DST PORT BYTES       connect and send BYTES bytes
//   udp-echo ADDR PORT            answer each datagram with "pong"
//   udp-client SRC DST PORT       send "ping", print "reply" or "timeout"/"denied"
//   udp-repeat SRC DST PORT N MS  N datagrams MS apart from one socket: "sent" or "refused" each
//   udp-after-child SRC DST PORT WAY
//                                 connect a UDP socket, send once, start a child that
//                                 shares the memory (WAY: HOW-WHAT, HOW vfork, __vfork or
//                                 clone with CLONE_VM|CLONE_VFORK; WHAT close, close-range,
//                                 dup2 or exec; or posix-spawn), then send and write
//                                 once each, and send on a copy (dup): "sent" or "refused"
//                                 for each of the four
//   udp-recvmmsg ADDR PORT N MS   one recvmmsg for N datagrams with a time-out of MS:
//                                 "got COUNT after ELAPSED_MS"
//   dns-server ADDR PORT NAME=VALUE...
//                                 answer DNS queries over UDP and TCP: VALUE is an
//                                 IPv4 or IPv6 address, or cname:TARGET (A and AAAA
//                                 queries follow the chain); other names: no such name.
//                                 Ends 30 s after its last query
//   priv-server ADDR PORT N       as root: listen, then serve N connections as
//                                 tcp-server does from a child that cleared its
//                                 environment and became the user nobody
#include "tests/DnsMessage.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cctype>
#include <netinet/in.h>
#include <poll.h>
#include <sched.h>
#include <map>
#include <string>
#include <spawn.h>
#include <sys/socket.h>
#include <thread>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

// An IPv4 or IPv6 address (one with a ':') and a port.
struct Endpoint {
    sockaddr_storage storage {};
    socklen_t length = sizeof storage;
    sockaddr* get() { return reinterpret_cast<sockaddr*>(&storage); }
    int family() const { return storage.ss_family; }
};

Endpoint Address(const char* ip, int port)
{
    Endpoint a;
    if (std::strchr(ip, ':')) {
        auto* in6 = reinterpret_cast<sockaddr_in6*>(&a.storage);
        in6->sin6_family = AF_INET6;
        in6->sin6_port = htons(static_cast<uint16_t>(port));
        ::inet_pton(AF_INET6, ip, &in6->sin6_addr);
        a.length = sizeof *in6;
    } else {
        auto* in = reinterpret_cast<sockaddr_in*>(&a.storage);
        in->sin_family = AF_INET;
        in->sin_port = htons(static_cast<uint16_t>(port));
        ::inet_pton(AF_INET, ip, &in->sin_addr);
        a.length = sizeof *in;
    }
    return a;
}

// The address of an endpoint as text.
std::string Text(const Endpoint& a)
{
    char ip[INET6_ADDRSTRLEN] = {};
    if (a.family() == AF_INET6)
        ::inet_ntop(AF_INET6, &reinterpret_cast<const sockaddr_in6*>(&a.storage)->sin6_addr, ip, sizeof ip);
    else
        ::inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in*>(&a.storage)->sin_addr, ip, sizeof ip);
    return ip;
}

int Bound(int type, const char* ip, int port)
{
    Endpoint a = Address(ip, port);
    const int fd = ::socket(a.family(), type, 0);
    const int on = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    if (::bind(fd, a.get(), a.length) != 0) {
        std::perror("bind");
        std::exit(3);
    }
    return fd;
}

void Say(const std::string& line)
{
    std::printf("%s\n", line.c_str());
    std::fflush(stdout);
}

// One connection: 1 connected and answered, 0 refused, -1 other failure.
int Connect(const char* src, const char* dst, int port, std::string* answer)
{
    const int fd = Bound(SOCK_STREAM, src, 0);
    Endpoint to = Address(dst, port);
    if (::connect(fd, to.get(), to.length) != 0) {
        const int error = errno;
        ::close(fd);
        return error == ECONNREFUSED ? 0 : -1;
    }
    ::send(fd, "hello\n", 6, MSG_NOSIGNAL);
    char buffer[64] = {};
    const ssize_t n = ::recv(fd, buffer, sizeof buffer - 1, 0);
    ::close(fd);
    if (answer)
        *answer = n > 0 ? std::string(buffer, static_cast<size_t>(n)) : std::string("(no answer)");
    return n > 0 ? 1 : -1;
}

// Reads what the client sends and answers "ok", or says the connection was reset.
void Serve(int connection, const Endpoint& from)
{
    const std::string ip = Text(from);
    char buffer[64];
    if (::recv(connection, buffer, sizeof buffer, 0) < 0 && errno == ECONNRESET) {
        Say(std::string("reset ") + ip);
    } else {
        Say(std::string("accepted ") + ip);
        ::send(connection, "ok\n", 3, MSG_NOSIGNAL);
    }
    ::close(connection);
}

// ---- A small DNS server ----------------------------------------------------------

struct DnsRecord {
    std::string name;
    int type = 1; // 1 A, 28 AAAA, 5 CNAME
    std::string data;
};

std::string Lower(std::string text)
{
    for (char& c : text)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

// The answer to one query, or "" when it is not one.
std::string DnsAnswer(const std::string& query, const std::multimap<std::string, DnsRecord>& records)
{
    if (query.size() < 12)
        return {};
    std::string name;
    size_t at = 12;
    while (at < query.size() && query[at] != 0) {
        const size_t length = static_cast<unsigned char>(query[at]);
        if (!name.empty())
            name += '.';
        name += query.substr(at + 1, length);
        at += length + 1;
    }
    if (at + 5 > query.size())
        return {};
    const unsigned type = static_cast<unsigned char>(query[at + 1]) << 8 | static_cast<unsigned char>(query[at + 2]);
    const std::string question = query.substr(12, at + 5 - 12);
    testing_support::DnsMessage answers;
    unsigned count = 0;
    bool found = false;
    std::string current = Lower(name);
    for (int link = 0; link < 8; ++link) {
        const auto range = records.equal_range(current);
        std::string next;
        for (auto it = range.first; it != range.second; ++it) {
            found = true;
            const DnsRecord& record = it->second;
            if (record.type != 5 && static_cast<unsigned>(record.type) != type)
                continue;
            answers.Record(current, static_cast<unsigned>(record.type),
                           record.type == 5 ? testing_support::DnsMessage::Cname(record.data) : record.data);
            if (record.type == 5)
                next = record.data;
            ++count;
        }
        if (next.empty())
            break;
        current = next;
    }
    testing_support::DnsMessage answer;
    answer.bytes = query.substr(0, 2);
    // An answer, recursion wanted and available; or no such name.
    for (const unsigned value : {found ? 0x8180u : 0x8183u, 1u, count, 0u, 0u})
        answer.U16(value);
    return answer.bytes + question + answers.bytes;
}

int DnsServer(const char* address, int port, int argc, char** argv)
{
    std::multimap<std::string, DnsRecord> records;
    for (int i = 0; i < argc; ++i) {
        const std::string item = argv[i];
        const size_t equals = item.find('=');
        if (equals == std::string::npos)
            return 2;
        DnsRecord record;
        record.name = Lower(item.substr(0, equals));
        const std::string value = item.substr(equals + 1);
        in_addr v4 {};
        in6_addr v6 {};
        if (value.rfind("cname:", 0) == 0) {
            record.type = 5;
            record.data = Lower(value.substr(6));
        } else if (::inet_pton(AF_INET, value.c_str(), &v4) == 1) {
            record.data.assign(reinterpret_cast<const char*>(&v4), 4);
        } else if (::inet_pton(AF_INET6, value.c_str(), &v6) == 1) {
            record.type = 28;
            record.data.assign(reinterpret_cast<const char*>(&v6), 16);
        } else {
            return 2;
        }
        records.emplace(record.name, record);
    }
    const int udp = Bound(SOCK_DGRAM, address, port);
    const int tcp = Bound(SOCK_STREAM, address, port);
    ::listen(tcp, 8);
    Say("listening");
    for (;;) {
        pollfd waiting[2] = {{udp, POLLIN, 0}, {tcp, POLLIN, 0}};
        if (::poll(waiting, 2, -1) <= 0)
            continue;
        ::alarm(30);
        if (waiting[0].revents & POLLIN) {
            char buffer[1500];
            sockaddr_storage from {};
            socklen_t length = sizeof from;
            const ssize_t n = ::recvfrom(udp, buffer, sizeof buffer, 0, reinterpret_cast<sockaddr*>(&from), &length);
            const std::string answer = n > 0 ? DnsAnswer(std::string(buffer, static_cast<size_t>(n)), records) : "";
            if (!answer.empty())
                ::sendto(udp, answer.data(), answer.size(), 0, reinterpret_cast<sockaddr*>(&from), length);
        }
        if (waiting[1].revents & POLLIN) {
            const int c = ::accept(tcp, nullptr, nullptr);
            timeval timeout {2, 0};
            ::setsockopt(c, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
            for (;;) {
                unsigned char head[2];
                if (::recv(c, head, 2, MSG_WAITALL) != 2)
                    break;
                std::string query(static_cast<size_t>(head[0] << 8 | head[1]), '\0');
                if (::recv(c, query.data(), query.size(), MSG_WAITALL) != static_cast<ssize_t>(query.size()))
                    break;
                const std::string answer = DnsAnswer(query, records);
                testing_support::DnsMessage framed;
                framed.U16(static_cast<unsigned>(answer.size()));
                framed.bytes += answer;
                // In small pieces, as a slow network would deliver it.
                for (size_t sent = 0; sent < framed.bytes.size(); sent += 7)
                    ::send(c, framed.bytes.data() + sent, std::min<size_t>(7, framed.bytes.size() - sent),
                           MSG_NOSIGNAL);
            }
            ::close(c);
        }
    }
}

extern "C" pid_t __vfork() __attribute__((returns_twice));

// What a child in its parent's memory does to the socket's number before
// it execs or ends.
[[noreturn]] void InChild(const std::string& what, int fd)
{
    static const char* const kTrue[] = {"/bin/true", nullptr};
    if (what == "close")
        ::close(fd);
    else if (what == "close-range")
        ::close_range(3, ~0u, 0);
    else if (what == "dup2")
        ::dup2(2, fd);
    else if (what == "exec" && ::close_range(3, ~0u, 0) == 0)
        ::execve(kTrue[0], const_cast<char**>(kTrue), environ);
    ::_exit(0);
}

struct ChildTask {
    std::string what;
    int fd;
};

int ClonedChild(void* task)
{
    InChild(static_cast<ChildTask*>(task)->what, static_cast<ChildTask*>(task)->fd);
}

// A child that runs in the parent's memory until it ends or execs, and
// does to the socket's number what programs do before an exec.
bool ChildInSharedMemory(const std::string& way, int fd)
{
    static const char* const kTrue[] = {"/bin/true", nullptr};
    pid_t child = -1;
    const std::string how = way.substr(0, way.find('-'));
    const std::string what = way.substr(way.find('-') + 1);
    if (way == "posix-spawn") {
        posix_spawn_file_actions_t actions;
        ::posix_spawn_file_actions_init(&actions);
        ::posix_spawn_file_actions_addclose(&actions, fd);
        const int error = ::posix_spawn(&child, kTrue[0], &actions, nullptr, const_cast<char**>(kTrue), environ);
        ::posix_spawn_file_actions_destroy(&actions);
        if (error != 0)
            return false;
    } else if (how == "clone") {
        static char stack[256 * 1024];
        ChildTask task {what, fd};
        child = ::clone(ClonedChild, stack + sizeof stack, CLONE_VM | CLONE_VFORK | SIGCHLD, &task);
    } else if (how == "__vfork") {
        if ((child = ::__vfork()) == 0)
            InChild(what, fd);
    } else if ((child = ::vfork()) == 0) {
        InChild(what, fd);
    }
    int status = 0;
    return child > 0 && ::waitpid(child, &status, 0) == child && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

}  // namespace

int main(int argc, char** argv)
{
    ::alarm(30);
    if (argc < 2)
        return 2;
    const std::string mode = argv[1];
    if (mode == "tcp-server" && argc >= 4) {
        const int fd = Bound(SOCK_STREAM, argv[2], std::atoi(argv[3]));
        ::listen(fd, 64);
        Say("listening");
        for (;;) {
            Endpoint from;
            const int c = ::accept(fd, from.get(), &from.length);
            if (c >= 0) {
                ::alarm(30); // ends 30 s after its last client, however long it served
                Serve(c, from);
            }
        }
    }
    if (mode == "dns-server" && argc >= 4)
        return DnsServer(argv[2], std::atoi(argv[3]), argc - 4, argv + 4);
    if (mode == "named-connect" && argc >= 5) {
        // Looks the name up with the given call of the C library, then
        // connects to the address it gave, written out.
        const std::string call = argv[2];
        const char* name = argv[3];
        hostent storage {};
        hostent* entry = nullptr;
        char buffer[8192];
        int error = 0;
        in_addr first {};
        char* firstOnly[2] = {reinterpret_cast<char*>(&first), nullptr};
        if (call == "getaddrinfo") {
            addrinfo hints {};
            hints.ai_family = AF_INET;
            addrinfo* found = nullptr;
            if (::getaddrinfo(name, nullptr, &hints, &found) != 0 || !found) {
                Say("not found");
                return 2;
            }
            first = reinterpret_cast<sockaddr_in*>(found->ai_addr)->sin_addr;
            ::freeaddrinfo(found);
            storage.h_addrtype = AF_INET;
            storage.h_addr_list = firstOnly;
            entry = &storage;
        } else if (call == "gethostbyname")
            entry = ::gethostbyname(name);
        else if (call == "gethostbyname2")
            entry = ::gethostbyname2(name, AF_INET);
        else if (call == "gethostbyname_r")
            ::gethostbyname_r(name, &storage, buffer, sizeof buffer, &entry, &error);
        else if (call == "gethostbyname2_r")
            ::gethostbyname2_r(name, AF_INET, &storage, buffer, sizeof buffer, &entry, &error);
        if (!entry || entry->h_addrtype != AF_INET || !entry->h_addr_list[0]) {
            Say("not found");
            return 2;
        }
        char address[INET_ADDRSTRLEN] = {};
        ::inet_ntop(AF_INET, entry->h_addr_list[0], address, sizeof address);
        const int result = Connect("127.0.0.3", address, std::atoi(argv[4]), nullptr);
        Say(result == 1 ? "ok" : result == 0 ? "refused" : "failed");
        return result == 1 ? 0 : 1;
    }
    if (mode == "tcp-client" && argc >= 5) {
        std::string answer;
        const int result = Connect(argv[2], argv[3], std::atoi(argv[4]), &answer);
        Say(result == 1 ? "connected " + answer.substr(0, answer.find('\n')) : result == 0 ? "refused" : "failed");
        return result == 1 ? 0 : 1;
    }
    if (mode == "tcp-repeat" && argc >= 7) {
        // Long runs (a soak) get their own limit: the run's length and then some.
        ::alarm(static_cast<unsigned>(std::atoi(argv[5])) * static_cast<unsigned>(std::atoi(argv[6])) / 1000 + 30);
        for (int i = 0; i < std::atoi(argv[5]); ++i) {
            const int result = Connect(argv[2], argv[3], std::atoi(argv[4]), nullptr);
            Say(result == 1 ? "ok" : result == 0 ? "refused" : "failed");
            // Fixed: the pace of a program the tests watch at work over time.
            std::this_thread::sleep_for(std::chrono::milliseconds(std::atoi(argv[6])));
        }
        return 0;
    }
    if (mode == "tcp-threads" && argc >= 7) {
        std::atomic<int> ok {0}, failed {0};
        std::vector<std::thread> threads;
        for (int t = 0; t < std::atoi(argv[5]); ++t)
            threads.emplace_back([&] {
                for (int i = 0; i < std::atoi(argv[6]); ++i)
                    (Connect(argv[2], argv[3], std::atoi(argv[4]), nullptr) == 1 ? ok : failed)++;
            });
        for (auto& thread : threads)
            thread.join();
        Say("ok=" + std::to_string(ok.load()) + " failed=" + std::to_string(failed.load()));
        return 0;
    }
    if (mode == "sink" && argc >= 4) {
        const int fd = Bound(SOCK_STREAM, argv[2], std::atoi(argv[3]));
        ::listen(fd, 4);
        Say("listening");
        const int c = ::accept(fd, nullptr, nullptr);
        std::vector<char> buffer(1 << 16);
        long long total = 0;
        for (ssize_t n; (n = ::recv(c, buffer.data(), buffer.size(), 0)) > 0;)
            total += n;
        Say("received " + std::to_string(total));
        return 0;
    }
    if (mode == "send" && argc >= 6) {
        const int fd = Bound(SOCK_STREAM, argv[2], 0);
        Endpoint to = Address(argv[3], std::atoi(argv[4]));
        if (::connect(fd, to.get(), to.length) != 0)
            return 1;
        long long left = std::atoll(argv[5]);
        std::vector<char> buffer(1 << 16, 'x');
        while (left > 0) {
            const ssize_t n = ::send(fd, buffer.data(), std::min<long long>(left, buffer.size()), MSG_NOSIGNAL);
            if (n <= 0)
                return 1;
            left -= n;
        }
        ::close(fd);
        Say("sent");
        return 0;
    }
    if (mode == "udp-echo" && argc >= 4) {
        const int fd = Bound(SOCK_DGRAM, argv[2], std::atoi(argv[3]));
        Say("listening");
        for (;;) {
            char buffer[512];
            Endpoint from;
            const ssize_t n = ::recvfrom(fd, buffer, sizeof buffer, 0, from.get(), &from.length);
            if (n < 0)
                continue;
            Say("got " + Text(from));
            ::sendto(fd, "pong", 4, 0, from.get(), from.length);
        }
    }
    if (mode == "udp-repeat" && argc >= 7) {
        const int fd = Bound(SOCK_DGRAM, argv[2], 0);
        Endpoint to = Address(argv[3], std::atoi(argv[4]));
        for (int i = 0; i < std::atoi(argv[5]); ++i) {
            const ssize_t n = ::sendto(fd, "ping", 4, 0, to.get(), to.length);
            Say(n == 4 ? "sent" : errno == EPERM ? "refused" : "failed");
            // Fixed: the pace of a program the tests watch at work over time.
            std::this_thread::sleep_for(std::chrono::milliseconds(std::atoi(argv[6])));
        }
        return 0;
    }
    if (mode == "udp-after-child" && argc >= 6) {
        const int fd = Bound(SOCK_DGRAM, argv[2], 0);
        Endpoint to = Address(argv[3], std::atoi(argv[4]));
        if (::connect(fd, to.get(), to.length) != 0)
            return 1;
        const auto sent = [](ssize_t n) { return n == 4 ? "sent" : errno == EPERM ? "refused" : "failed"; };
        const std::string before = sent(::send(fd, "ping", 4, 0));
        if (!ChildInSharedMemory(argv[5], fd)) {
            Say("no child");
            return 1;
        }
        const std::string afterSend = sent(::send(fd, "ping", 4, 0));
        const std::string afterWrite = sent(::write(fd, "ping", 4));
        // The parent's own calls change what the hook knows again: a copy is known as the socket.
        Say(before + " " + afterSend + " " + afterWrite + " " + sent(::send(::dup(fd), "ping", 4, 0)));
        return 0;
    }
    if (mode == "udp-recvmmsg" && argc >= 6) {
        const int fd = Bound(SOCK_DGRAM, argv[2], std::atoi(argv[3]));
        Say("listening");
        const unsigned count = static_cast<unsigned>(std::atoi(argv[4]));
        std::vector<mmsghdr> messages(count);
        std::vector<std::vector<char>> buffers(count, std::vector<char>(512));
        std::vector<iovec> parts(count);
        for (unsigned i = 0; i < count; ++i) {
            parts[i] = {buffers[i].data(), buffers[i].size()};
            messages[i].msg_hdr.msg_iov = &parts[i];
            messages[i].msg_hdr.msg_iovlen = 1;
        }
        const int ms = std::atoi(argv[5]);
        timespec timeout {ms / 1000, (ms % 1000) * 1000000L};
        const auto start = std::chrono::steady_clock::now();
        const int got = ::recvmmsg(fd, messages.data(), count, 0, &timeout);
        const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
        Say("got " + std::to_string(got) + " after " + std::to_string(elapsed.count()));
        return 0;
    }
    if (mode == "priv-server" && argc >= 5) {
        const int fd = Bound(SOCK_STREAM, argv[2], std::atoi(argv[3]));
        ::listen(fd, 16);
        Say("listening");
        const pid_t worker = ::fork();
        if (worker == 0) {
            // As the workers of a server do: an environment of their own and no privileges.
            ::clearenv();
            ::alarm(30);
            if (::setgid(65534) != 0 || ::setuid(65534) != 0) {
                Say("cannot drop privileges");
                ::_exit(1);
            }
            for (int served = 0; served < std::atoi(argv[4]); ++served) {
                Endpoint from;
                const int c = ::accept(fd, from.get(), &from.length);
                if (c >= 0)
                    Serve(c, from);
            }
            std::exit(0);
        }
        int status = 0;
        ::waitpid(worker, &status, 0);
        return 0;
    }
    if (mode == "udp-client" && argc >= 5) {
        const int fd = Bound(SOCK_DGRAM, argv[2], 0);
        timeval timeout {2, 0};
        ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
        Endpoint to = Address(argv[3], std::atoi(argv[4]));
        if (::sendto(fd, "ping", 4, 0, to.get(), to.length) < 0) {
            Say("denied");
            return 1;
        }
        char buffer[64];
        const ssize_t n = ::recvfrom(fd, buffer, sizeof buffer, 0, nullptr, nullptr);
        Say(n > 0 ? "reply" : "timeout");
        return n > 0 ? 0 : 1;
    }
    return 2;
}
