// libzelhook.so: loaded into a program with LD_PRELOAD, it stands between the
// program and the socket calls of the C library. Every TCP connection made or
// accepted and every UDP datagram sent or received is put to the rule engine
// before it happens; a denied one never reaches the network or the program.
// Everything that is not an IPv4 or IPv6 socket passes untouched.
#include "EngineBinding.h"
#include "platform/HostRegistry.h"
#include "platform/Processes.h"

#include <arpa/inet.h>
#include <atomic>
#include <cerrno>
#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <dlfcn.h>
#include <fcntl.h>
#include <map>
#include <mutex>
#include <netdb.h>
#include <netinet/in.h>
#include <pthread.h>
#include <string>
#include <sys/socket.h>
#include <sys/uio.h>
#include <unistd.h>

#define ZEL_HOOK extern "C" __attribute__((visibility("default")))

namespace {

constexpr int kIncoming = 0;
constexpr int kOutgoing = 1;
constexpr int kTcp = 1;
constexpr int kUdp = 2;
// Counter A takes what the host received, counter B what it sent.
constexpr int kReceivedCounter = 1;
constexpr int kSentCounter = 0;

template <typename Fn>
Fn Next(const char* name)
{
    return reinterpret_cast<Fn>(::dlsym(RTLD_NEXT, name));
}
#define REAL(name) static const auto real_##name = Next<decltype(&::name)>(#name)

// ---- What each descriptor is ---------------------------------------------

enum Kind : unsigned char { kUnknown = 0, kOther = 1, kTcpSocket = 2, kUdpSocket = 3 };
constexpr int kTrackedDescriptors = 65536;
std::atomic<unsigned char> g_kinds[kTrackedDescriptors];
// The local port of listening sockets, so that accepting needs no extra call.
std::atomic<uint16_t> g_listenPorts[kTrackedDescriptors];

void SetKind(int fd, Kind kind)
{
    if (fd >= 0 && fd < kTrackedDescriptors) {
        g_kinds[fd].store(kind, std::memory_order_relaxed);
        g_listenPorts[fd].store(0, std::memory_order_relaxed);
    }
}

Kind KnownKind(int fd)
{
    return fd >= 0 && fd < kTrackedDescriptors ? static_cast<Kind>(g_kinds[fd].load(std::memory_order_relaxed))
                                               : kUnknown;
}

// The kind, asking the kernel when the descriptor was made behind our back.
Kind KindOf(int fd)
{
    Kind kind = KnownKind(fd);
    if (kind != kUnknown)
        return kind;
    int domain = 0, type = 0;
    socklen_t length = sizeof domain;
    if (::getsockopt(fd, SOL_SOCKET, SO_DOMAIN, &domain, &length) != 0)
        kind = kOther;
    else if (domain != AF_INET && domain != AF_INET6)
        kind = kOther;
    else {
        length = sizeof type;
        ::getsockopt(fd, SOL_SOCKET, SO_TYPE, &type, &length);
        kind = type == SOCK_STREAM ? kTcpSocket : type == SOCK_DGRAM ? kUdpSocket : kOther;
    }
    SetKind(fd, kind);
    return kind;
}

bool IsIpSocket(Kind kind) { return kind == kTcpSocket || kind == kUdpSocket; }

// ---- The engine ------------------------------------------------------------

thread_local int t_inside = 0; // inside the hook's own work: no decisions

struct Inside {
    Inside() { ++t_inside; }
    ~Inside() { --t_inside; }
};

std::mutex g_loadMutex;
std::atomic<int> g_engineState {0}; // 0 not tried, 1 loaded, 2 unavailable
EngineBinding g_engine;
std::atomic<pid_t> g_registeredPid {0};
std::atomic<pid_t> g_pid {0}; // the process's id, kept so that no call needs asking
int g_registration = -1;

std::string HookFolder()
{
    Dl_info info {};
    if (::dladdr(reinterpret_cast<void*>(&HookFolder), &info) && info.dli_fname) {
        const std::string path = info.dli_fname;
        const size_t slash = path.rfind('/');
        if (slash != std::string::npos)
            return path.substr(0, slash);
    }
    return ".";
}

// Tells the interceptor's process that this host has an engine: it waits for
// its reloads and reports its end. Done again in a forked child.
void RegisterHost()
{
    const pid_t pid = g_pid.load(std::memory_order_relaxed);
    if (g_registeredPid.load() == pid)
        return;
    std::lock_guard lock(g_loadMutex);
    if (g_registeredPid.load() == pid)
        return;
    if (g_registration >= 0)
        ::close(g_registration);
    const std::string exe = platform::processes::CleanHostPath(platform::processes::OwnExecutablePath());
    g_registration = platform::hosts::RegisterHost(pid, platform::processes::HostExeName(exe));
    g_registeredPid = pid;
}

// Loads the engine at the first connection, so that programs that never use
// the network never carry it.
bool EnsureEngine()
{
    int state = g_engineState.load(std::memory_order_acquire);
    if (state == 0) {
        Inside inside;
        std::lock_guard lock(g_loadMutex);
        state = g_engineState.load();
        if (state == 0) {
            const char* configured = std::getenv("ZEL_ENGINE_LIBRARY");
            const std::string path = configured && *configured ? configured : HookFolder() + "/libqrbruler.so";
            state = g_engine.Load(path.c_str()) ? 1 : 2;
            g_engineState.store(state, std::memory_order_release);
        }
    }
    if (state != 1)
        return false;
    Inside inside;
    RegisterHost();
    return true;
}

// ---- Names the program looked up ---------------------------------------------

std::mutex g_namesMutex;
std::map<std::string, std::string>* g_names = nullptr; // address text -> host name
constexpr size_t kMaxNames = 4096;

void RememberName(const char* name, const sockaddr* address)
{
    if (!name || !address)
        return;
    char text[INET6_ADDRSTRLEN] = {};
    if (address->sa_family == AF_INET)
        ::inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in*>(address)->sin_addr, text, sizeof text);
    else if (address->sa_family == AF_INET6)
        ::inet_ntop(AF_INET6, &reinterpret_cast<const sockaddr_in6*>(address)->sin6_addr, text, sizeof text);
    if (!*text || std::strcmp(text, name) == 0)
        return;
    std::lock_guard lock(g_namesMutex);
    if (!g_names)
        g_names = new std::map<std::string, std::string>();
    if (g_names->size() >= kMaxNames)
        g_names->clear();
    (*g_names)[text] = name;
}

std::string NameOf(const std::string& address)
{
    std::lock_guard lock(g_namesMutex);
    if (g_names)
        if (auto found = g_names->find(address); found != g_names->end())
            return found->second;
    return address;
}

// ---- Decisions ---------------------------------------------------------------

struct Peer {
    char address[INET6_ADDRSTRLEN] = {};
    unsigned port = 0;
};

// An IPv4 or IPv6 peer as text; IPv4-mapped IPv6 addresses are IPv4.
bool DescribePeer(const sockaddr* address, Peer& peer)
{
    if (!address)
        return false;
    if (address->sa_family == AF_INET) {
        const auto* in = reinterpret_cast<const sockaddr_in*>(address);
        ::inet_ntop(AF_INET, &in->sin_addr, peer.address, sizeof peer.address);
        peer.port = ntohs(in->sin_port);
        return true;
    }
    if (address->sa_family == AF_INET6) {
        const auto* in6 = reinterpret_cast<const sockaddr_in6*>(address);
        if (IN6_IS_ADDR_V4MAPPED(&in6->sin6_addr))
            ::inet_ntop(AF_INET, &in6->sin6_addr.s6_addr[12], peer.address, sizeof peer.address);
        else
            ::inet_ntop(AF_INET6, &in6->sin6_addr, peer.address, sizeof peer.address);
        peer.port = ntohs(in6->sin6_port);
        return true;
    }
    return false;
}

unsigned LocalPort(int fd)
{
    sockaddr_storage local {};
    socklen_t length = sizeof local;
    if (::getsockname(fd, reinterpret_cast<sockaddr*>(&local), &length) != 0)
        return 0;
    Peer peer;
    return DescribePeer(reinterpret_cast<sockaddr*>(&local), peer) ? peer.port : 0;
}

unsigned ListeningPort(int listener)
{
    if (listener < 0 || listener >= kTrackedDescriptors)
        return LocalPort(listener);
    unsigned port = g_listenPorts[listener].load(std::memory_order_relaxed);
    if (port == 0) {
        port = LocalPort(listener);
        g_listenPorts[listener].store(static_cast<uint16_t>(port), std::memory_order_relaxed);
    }
    return port;
}

// The engine's verdict: ask it, and ask the user when it says so.
bool Permits(int fd, int direction, const Peer& peer, int protocol, unsigned knownLocalPort = 0)
{
    Inside inside;
    const unsigned localPort = knownLocalPort ? knownLocalPort : LocalPort(fd);
    int result = g_engine.Approve(localPort, direction, peer.address, protocol, peer.port);
    if (result == 2) {
        const std::string name = NameOf(peer.address);
        result = g_engine.UserApprove(localPort, direction, peer.address, name.c_str(), protocol, peer.port);
    }
    return result == 1;
}

// Datagram sockets repeat the same peer: the last verdict per descriptor and
// direction is kept, so that a stream of datagrams is decided (and logged) once.
struct DatagramMemory {
    Peer peer[2];
    bool permitted[2] = {false, false};
    bool valid[2] = {false, false};
};
std::mutex g_datagramMutex;
std::map<int, DatagramMemory>* g_datagrams = nullptr;

void ForgetDescriptor(int fd)
{
    SetKind(fd, kUnknown);
    std::lock_guard lock(g_datagramMutex);
    if (g_datagrams)
        g_datagrams->erase(fd);
}

bool PermitsDatagram(int fd, int direction, const sockaddr* address)
{
    Peer peer;
    if (!DescribePeer(address, peer) || !EnsureEngine())
        return true;
    {
        std::lock_guard lock(g_datagramMutex);
        if (g_datagrams) {
            if (auto found = g_datagrams->find(fd); found != g_datagrams->end()) {
                const DatagramMemory& memory = found->second;
                if (memory.valid[direction] && memory.peer[direction].port == peer.port
                    && std::strcmp(memory.peer[direction].address, peer.address) == 0)
                    return memory.permitted[direction];
            }
        }
    }
    const bool permitted = Permits(fd, direction, peer, kUdp);
    std::lock_guard lock(g_datagramMutex);
    if (!g_datagrams)
        g_datagrams = new std::map<int, DatagramMemory>();
    DatagramMemory& memory = (*g_datagrams)[fd];
    memory.peer[direction] = peer;
    memory.permitted[direction] = permitted;
    memory.valid[direction] = true;
    return permitted;
}

// Bytes moved on an IP socket go to the engine's traffic counters; the
// result of the call is handed back unchanged.
ssize_t CountTraffic(int fd, int counter, ssize_t bytes)
{
    if (bytes > 0 && t_inside == 0 && IsIpSocket(KnownKind(fd)) && g_engineState.load(std::memory_order_relaxed) == 1)
        g_engine.WriteTraffic(counter, static_cast<unsigned>(bytes));
    return bytes;
}

bool IsNonBlocking(int fd, int flags)
{
    if (flags & MSG_DONTWAIT)
        return true;
    const int status = ::fcntl(fd, F_GETFL);
    return status >= 0 && (status & O_NONBLOCK);
}

// ---- Fork ------------------------------------------------------------------------

void LockAll()
{
    g_loadMutex.lock();
    g_namesMutex.lock();
    g_datagramMutex.lock();
}

void UnlockAll()
{
    g_datagramMutex.unlock();
    g_namesMutex.unlock();
    g_loadMutex.unlock();
}

void UnlockInChild()
{
    g_pid = ::getpid();
    UnlockAll();
}

__attribute__((constructor)) void HookAttach()
{
    g_pid = ::getpid();
    ::pthread_atfork(LockAll, UnlockAll, UnlockInChild);
}

// Receives one datagram the way recvmsg does, skipping those from denied
// peers; message->msg_name gets the peer when the caller asked for it.
ssize_t ReceiveDecided(int fd, msghdr* message, int flags)
{
    REAL(recvmsg);
    REAL(recv);
    sockaddr_storage from {};
    void* const callerName = message->msg_name;
    const socklen_t callerLength = message->msg_namelen;
    for (;;) {
        message->msg_name = &from;
        message->msg_namelen = sizeof from;
        const ssize_t n = real_recvmsg(fd, message, flags);
        const socklen_t fromLength = message->msg_namelen;
        message->msg_name = callerName;
        message->msg_namelen = callerLength;
        if (n < 0)
            return n;
        if (PermitsDatagram(fd, kIncoming, reinterpret_cast<sockaddr*>(&from))) {
            if (callerName) {
                std::memcpy(callerName, &from, std::min(callerLength, fromLength));
                message->msg_namelen = fromLength;
            }
            CountTraffic(fd, kReceivedCounter, n);
            return n;
        }
        if (flags & MSG_PEEK) {
            // Peeked at a denied datagram: take it off the queue.
            char discard;
            real_recv(fd, &discard, 1, MSG_DONTWAIT);
        }
        if (IsNonBlocking(fd, flags)) {
            errno = EAGAIN;
            return -1;
        }
    }
}

ssize_t ReceiveDatagramInto(int fd, void* buffer, size_t length, int flags, sockaddr* from, socklen_t* fromLength)
{
    iovec part {buffer, length};
    msghdr message {};
    message.msg_name = from;
    message.msg_namelen = from && fromLength ? *fromLength : 0;
    message.msg_iov = &part;
    message.msg_iovlen = 1;
    const ssize_t n = ReceiveDecided(fd, &message, flags);
    if (n >= 0 && from && fromLength)
        *fromLength = message.msg_namelen;
    return n;
}

bool IsDecidedDatagram(int fd) { return t_inside == 0 && KindOf(fd) == kUdpSocket; }

}  // namespace

// ---- The wrapped calls ---------------------------------------------------------------

ZEL_HOOK int socket(int domain, int type, int protocol) noexcept
{
    REAL(socket);
    const int fd = real_socket(domain, type, protocol);
    if (fd >= 0) {
        const int base = type & ~(SOCK_NONBLOCK | SOCK_CLOEXEC);
        const bool ip = domain == AF_INET || domain == AF_INET6;
        SetKind(fd, !ip ? kOther : base == SOCK_STREAM ? kTcpSocket : base == SOCK_DGRAM ? kUdpSocket : kOther);
        std::lock_guard lock(g_datagramMutex);
        if (g_datagrams)
            g_datagrams->erase(fd);
    }
    return fd;
}

ZEL_HOOK int close(int fd)
{
    REAL(close);
    if (IsIpSocket(KnownKind(fd)))
        ForgetDescriptor(fd);
    else
        SetKind(fd, kUnknown);
    return real_close(fd);
}

ZEL_HOOK int dup2(int from, int to) noexcept
{
    REAL(dup2);
    const int result = real_dup2(from, to);
    if (result >= 0 && from != to)
        ForgetDescriptor(to);
    return result;
}

ZEL_HOOK int dup3(int from, int to, int flags) noexcept
{
    REAL(dup3);
    const int result = real_dup3(from, to, flags);
    if (result >= 0)
        ForgetDescriptor(to);
    return result;
}

ZEL_HOOK int connect(int fd, const sockaddr* address, socklen_t length)
{
    REAL(connect);
    Peer peer;
    if (t_inside == 0 && DescribePeer(address, peer)) {
        const Kind kind = KindOf(fd);
        if (IsIpSocket(kind) && EnsureEngine()) {
            const bool permitted = kind == kUdpSocket ? PermitsDatagram(fd, kOutgoing, address)
                                                      : Permits(fd, kOutgoing, peer, kTcp);
            if (!permitted) {
                errno = ECONNREFUSED;
                return -1;
            }
        }
    }
    return real_connect(fd, address, length);
}

ZEL_HOOK int accept4(int fd, sockaddr* address, socklen_t* length, int flags)
{
    REAL(accept4);
    if (t_inside != 0 || KindOf(fd) != kTcpSocket)
        return real_accept4(fd, address, length, flags);
    for (;;) {
        sockaddr_storage from {};
        socklen_t fromLength = sizeof from;
        const int connection = real_accept4(fd, reinterpret_cast<sockaddr*>(&from), &fromLength, flags);
        if (connection < 0)
            return connection;
        SetKind(connection, kTcpSocket);
        Peer peer;
        if (!DescribePeer(reinterpret_cast<sockaddr*>(&from), peer) || !EnsureEngine()
            || Permits(connection, kIncoming, peer, kTcp, ListeningPort(fd))) {
            if (address && length) {
                std::memcpy(address, &from, std::min(*length, fromLength));
                *length = fromLength;
            }
            return connection;
        }
        // Denied: the connection is closed before the program sees it, and
        // the call goes on as the program asked.
        close(connection);
        if (IsNonBlocking(fd, 0)) {
            errno = EAGAIN;
            return -1;
        }
    }
}

ZEL_HOOK int accept(int fd, sockaddr* address, socklen_t* length) { return accept4(fd, address, length, 0); }

ZEL_HOOK ssize_t sendto(int fd, const void* buffer, size_t length, int flags, const sockaddr* to, socklen_t toLength)
{
    REAL(sendto);
    if (to && t_inside == 0) {
        const Kind kind = KindOf(fd);
        if (kind == kUdpSocket && !PermitsDatagram(fd, kOutgoing, to)) {
            errno = EPERM;
            return -1;
        }
        Peer peer;
        // A TCP Fast Open send is a connect.
        if (kind == kTcpSocket && (flags & MSG_FASTOPEN) && DescribePeer(to, peer) && EnsureEngine()
            && !Permits(fd, kOutgoing, peer, kTcp)) {
            errno = ECONNREFUSED;
            return -1;
        }
    }
    return CountTraffic(fd, kSentCounter, real_sendto(fd, buffer, length, flags, to, toLength));
}

ZEL_HOOK ssize_t send(int fd, const void* buffer, size_t length, int flags)
{
    REAL(send);
    return CountTraffic(fd, kSentCounter, real_send(fd, buffer, length, flags));
}

ZEL_HOOK ssize_t sendmsg(int fd, const msghdr* message, int flags)
{
    REAL(sendmsg);
    if (message && message->msg_name && t_inside == 0 && KindOf(fd) == kUdpSocket
        && !PermitsDatagram(fd, kOutgoing, static_cast<const sockaddr*>(message->msg_name))) {
        errno = EPERM;
        return -1;
    }
    return CountTraffic(fd, kSentCounter, real_sendmsg(fd, message, flags));
}

ZEL_HOOK int sendmmsg(int fd, mmsghdr* messages, unsigned int count, int flags)
{
    REAL(sendmmsg);
    unsigned allowed = count;
    if (messages && t_inside == 0 && KindOf(fd) == kUdpSocket) {
        for (unsigned i = 0; i < count; ++i) {
            const void* to = messages[i].msg_hdr.msg_name;
            if (to && !PermitsDatagram(fd, kOutgoing, static_cast<const sockaddr*>(to))) {
                allowed = i;
                break;
            }
        }
        if (allowed == 0 && count > 0) {
            errno = EPERM;
            return -1;
        }
    }
    const int sent = real_sendmmsg(fd, messages, allowed, flags);
    for (int i = 0; i < sent; ++i)
        CountTraffic(fd, kSentCounter, messages[i].msg_len);
    return sent;
}

ZEL_HOOK ssize_t recvfrom(int fd, void* buffer, size_t length, int flags, sockaddr* from, socklen_t* fromLength)
{
    REAL(recvfrom);
    if (IsDecidedDatagram(fd))
        return ReceiveDatagramInto(fd, buffer, length, flags, from, fromLength);
    return CountTraffic(fd, kReceivedCounter, real_recvfrom(fd, buffer, length, flags, from, fromLength));
}

ZEL_HOOK ssize_t recv(int fd, void* buffer, size_t length, int flags)
{
    REAL(recv);
    if (IsDecidedDatagram(fd))
        return ReceiveDatagramInto(fd, buffer, length, flags, nullptr, nullptr);
    return CountTraffic(fd, kReceivedCounter, real_recv(fd, buffer, length, flags));
}

ZEL_HOOK ssize_t recvmsg(int fd, msghdr* message, int flags)
{
    REAL(recvmsg);
    if (message && IsDecidedDatagram(fd))
        return ReceiveDecided(fd, message, flags);
    return CountTraffic(fd, kReceivedCounter, real_recvmsg(fd, message, flags));
}

ZEL_HOOK int recvmmsg(int fd, mmsghdr* messages, unsigned int count, int flags, struct timespec* timeout)
{
    REAL(recvmmsg);
    if (!messages || !IsDecidedDatagram(fd))
        return real_recvmmsg(fd, messages, count, flags, timeout);
    // One datagram at a time, each decided; after the first, only what is queued.
    unsigned received = 0;
    int nextFlags = flags & ~MSG_WAITFORONE;
    while (received < count) {
        const ssize_t n = ReceiveDecided(fd, &messages[received].msg_hdr, nextFlags);
        if (n < 0) {
            if (received > 0)
                break;
            return -1;
        }
        messages[received++].msg_len = static_cast<unsigned>(n);
        if (flags & MSG_WAITFORONE)
            nextFlags |= MSG_DONTWAIT;
    }
    return static_cast<int>(received);
}

ZEL_HOOK ssize_t read(int fd, void* buffer, size_t length)
{
    REAL(read);
    if (KnownKind(fd) == kUdpSocket && t_inside == 0) {
        const ssize_t n = ReceiveDatagramInto(fd, buffer, length, 0, nullptr, nullptr);
        if (n >= 0 || errno != ENOTSOCK)
            return n;
        // Closed behind our back (close_range, a raw system call) and reused for a file.
        SetKind(fd, kOther);
    }
    return CountTraffic(fd, kReceivedCounter, real_read(fd, buffer, length));
}

ZEL_HOOK ssize_t write(int fd, const void* buffer, size_t length)
{
    REAL(write);
    return CountTraffic(fd, kSentCounter, real_write(fd, buffer, length));
}

ZEL_HOOK ssize_t readv(int fd, const iovec* parts, int count)
{
    REAL(readv);
    return CountTraffic(fd, kReceivedCounter, real_readv(fd, parts, count));
}

ZEL_HOOK ssize_t writev(int fd, const iovec* parts, int count)
{
    REAL(writev);
    return CountTraffic(fd, kSentCounter, real_writev(fd, parts, count));
}

ZEL_HOOK int getaddrinfo(const char* node, const char* service, const addrinfo* hints, addrinfo** result)
{
    REAL(getaddrinfo);
    const int status = real_getaddrinfo(node, service, hints, result);
    if (status == 0 && node && result && t_inside == 0)
        for (const addrinfo* item = *result; item; item = item->ai_next)
            RememberName(node, item->ai_addr);
    return status;
}

ZEL_HOOK hostent* gethostbyname(const char* name)
{
    REAL(gethostbyname);
    hostent* entry = real_gethostbyname(name);
    if (entry && t_inside == 0 && entry->h_addrtype == AF_INET) {
        for (char** address = entry->h_addr_list; *address; ++address) {
            sockaddr_in in {};
            in.sin_family = AF_INET;
            std::memcpy(&in.sin_addr, *address, sizeof in.sin_addr);
            RememberName(name, reinterpret_cast<sockaddr*>(&in));
        }
    }
    return entry;
}
