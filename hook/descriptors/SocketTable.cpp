#include "hook/descriptors/SocketTable.h"
#include "hook/descriptors/SocketView.h"

#include "hook/Memory.h"
#include "hook/descriptors/OpenDescriptors.h"

#include <cerrno>
#include <climits>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace hook {

std::atomic<int> g_markedDescriptors {0};

namespace {

// One block of descriptors (see DescriptorBlocks in Memory.h).
struct Tables {
    // Bits 0..1: the kind; bits 4..6: marks (SocketTable.h); bit 7: a TCP
    // connection to port 53.
    // Apart from the rest: the marks are searched across many numbers.
    std::atomic<unsigned char> kinds[kDescriptorsPerBlock];
    // The rest of a number side by side: a program's first socket touches
    // one new page for them, not three.
    struct Entry {
        std::atomic<uint64_t> decidedPeer;
        // Bit 16: the port is known; bits 0..15: the port.
        std::atomic<uint32_t> port;
        // Counts the number's closes and reuses, so that what was remembered
        // for a socket never holds for the next one given its number.
        std::atomic<uint32_t> generation;
    };
    Entry entries[kDescriptorsPerBlock];
};

constexpr unsigned char kKindBits = 0x03;
constexpr unsigned char kDnsStreamBit = 0x80;
constexpr unsigned char kMarkBits = kMarkRefused | kMarkKept | kMarkStandsIn;

int CountMarks(unsigned char bits)
{
    return ((bits & kMarkRefused) != 0) + ((bits & kMarkKept) != 0) + ((bits & kMarkStandsIn) != 0);
}

// Made at the program's first socket: a program without any never pays for them.
constinit DescriptorBlocks<Tables> g_tables;
// Set when what an IP socket is could not be kept (no memory for its block).
std::atomic<bool> g_lostKinds {false};

constexpr uint32_t kPortKnown = 1u << 16;

Tables* Existing(int fd, unsigned& at) { return g_tables.Existing(fd, at); }

Tables* Made(int fd, unsigned& at) { return g_tables.Made(fd, at); }

unsigned AskLocalPort(int fd)
{
    sockaddr_storage local {};
    socklen_t length = sizeof local;
    if (::getsockname(fd, reinterpret_cast<sockaddr*>(&local), &length) != 0)
        return 0;
    if (local.ss_family == AF_INET)
        return ntohs(reinterpret_cast<const sockaddr_in*>(&local)->sin_port);
    if (local.ss_family == AF_INET6)
        return ntohs(reinterpret_cast<const sockaddr_in6*>(&local)->sin6_port);
    return 0;
}

// What the kernel says the descriptor is; kUnknown when it is no socket.
Kind AskKind(int fd)
{
    int domain = 0, type = 0, protocol = 0;
    socklen_t length = sizeof domain;
    if (::getsockopt(fd, SOL_SOCKET, SO_DOMAIN, &domain, &length) != 0)
        return kUnknown;
    if (domain != AF_INET && domain != AF_INET6)
        return kOther;
    length = sizeof type;
    ::getsockopt(fd, SOL_SOCKET, SO_TYPE, &type, &length);
    length = sizeof protocol;
    ::getsockopt(fd, SOL_SOCKET, SO_PROTOCOL, &protocol, &length);
    return KindFrom(domain, type, protocol);
}

// An inherited socket: learnt as made, its port asked when needed. Other
// descriptors stay unknown, which costs a program without sockets nothing.
void LearnInherited(int fd)
{
    const Kind kind = AskKind(fd);
    if (IsIpSocket(kind)) {
        SetKind(fd, kind);
        SetBoundPort(fd, 0, false);
    }
}

}  // namespace

Kind KindFrom(int domain, int type, int protocol)
{
    if (domain != AF_INET && domain != AF_INET6)
        return kOther;
    const int base = type & ~(SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (base == SOCK_STREAM && (protocol == 0 || protocol == IPPROTO_TCP))
        return kTcpSocket;
    if (base == SOCK_DGRAM && (protocol == 0 || protocol == IPPROTO_UDP || protocol == IPPROTO_UDPLITE))
        return kUdpSocket;
    return kOther;
}

void SetKind(int fd, Kind kind)
{
    // Only an IP socket brings the tables: a program with local sockets
    // alone (a sandboxed one among them) never maps them, and its
    // descriptors stay of unknown kind, which costs it nothing either.
    unsigned at = 0;
    Tables* tables = IsIpSocket(kind) ? Made(fd, at) : Existing(fd, at);
    if (!tables) {
        if (IsIpSocket(kind) && fd >= 0)
            g_lostKinds.store(true, std::memory_order_relaxed);
        return;
    }
    // Marks stay: they are the firewall's, not the program's.
    unsigned char old = tables->kinds[at].load(std::memory_order_relaxed);
    while (!tables->kinds[at].compare_exchange_weak(old, static_cast<unsigned char>((old & kMarkBits) | kind),
                                                    std::memory_order_relaxed)) {
    }
}

Kind KnownKind(int fd)
{
    unsigned at = 0;
    const Tables* tables = Existing(fd, at);
    return tables ? static_cast<Kind>(tables->kinds[at].load(std::memory_order_relaxed) & kKindBits) : kUnknown;
}

Kind KindToDecide(int fd)
{
    const Kind kind = KnownKind(fd);
    return kind == kUnknown && g_lostKinds.load(std::memory_order_relaxed) ? KindOf(fd) : kind;
}

Kind KindOf(int fd)
{
    Kind kind = KnownKind(fd);
    if (kind != kUnknown)
        return kind;
    kind = AskKind(fd);
    if (kind == kUnknown)
        kind = kOther;
    // Made behind our back: its port is asked when needed.
    unsigned at = 0;
    if (Tables* tables = Existing(fd, at))
        tables->entries[at].port.store(0, std::memory_order_relaxed);
    SetKind(fd, kind);
    return kind;
}


namespace {

// Descriptors from first on, as /proc lists them.
void LearnInheritedFromProc(int first)
{
    ForEachOpenDescriptor(first, [](int fd, int, const char*, void*) { LearnInherited(fd); }, nullptr);
}

}  // namespace

void LearnInheritedDescriptors()
{
    // The first 64 descriptors in one call (poll marks the closed ones):
    // what nearly every program inherits, for a few microseconds at its
    // start. Only a program that has the last of them open too is looked at
    // further, through /proc.
    constexpr int kFirst = 64;
    const int saved = errno;
    pollfd descriptors[kFirst];
    for (int fd = 0; fd < kFirst; ++fd)
        descriptors[fd] = {fd, 0, 0};
    if (::poll(descriptors, kFirst, 0) < 0) {
        LearnInheritedFromProc(0);
    } else {
        for (int fd = 0; fd < kFirst; ++fd)
            if (!(descriptors[fd].revents & POLLNVAL))
                LearnInherited(fd);
        if (!(descriptors[kFirst - 1].revents & POLLNVAL))
            LearnInheritedFromProc(kFirst);
    }
    errno = saved;
}

void CopyKnowledge(int from, int to)
{
    unsigned fromAt = 0, toAt = 0;
    const Tables* source = Existing(from, fromAt);
    const unsigned char copied = source ? source->kinds[fromAt].load(std::memory_order_relaxed) & ~kMarkBits : 0;
    const bool ip = IsIpSocket(static_cast<Kind>(copied & kKindBits));
    Tables* target = ip ? Made(to, toAt) : Existing(to, toAt);
    if (!target) {
        if (ip && to >= 0)
            g_lostKinds.store(true, std::memory_order_relaxed);
        return;
    }
    const unsigned char old = target->kinds[toAt].exchange(copied, std::memory_order_acq_rel);
    if (old & kMarkBits)
        g_markedDescriptors.fetch_sub(CountMarks(old), std::memory_order_release);
    target->entries[toAt].port.store(source ? source->entries[fromAt].port.load(std::memory_order_relaxed) : 0,
                              std::memory_order_relaxed);
    target->entries[toAt].decidedPeer.store(source ? source->entries[fromAt].decidedPeer.load(std::memory_order_relaxed) : 0,
                                     std::memory_order_relaxed);
}

void SetDnsStream(int fd)
{
    unsigned at = 0;
    if (Tables* tables = Existing(fd, at))
        tables->kinds[at].fetch_or(kDnsStreamBit, std::memory_order_relaxed);
}

bool IsDnsStream(int fd)
{
    unsigned at = 0;
    const Tables* tables = Existing(fd, at);
    return tables && (tables->kinds[at].load(std::memory_order_relaxed) & kDnsStreamBit);
}

void SetBoundPort(int fd, unsigned port, bool known)
{
    unsigned at = 0;
    if (Tables* tables = Made(fd, at))
        tables->entries[at].port.store(known ? (kPortKnown | (port & 0xFFFFu)) : 0, std::memory_order_relaxed);
}

unsigned LocalPortOf(int fd)
{
    unsigned at = 0;
    Tables* tables = Existing(fd, at);
    if (!tables)
        return AskLocalPort(fd);
    const uint32_t port = tables->entries[at].port.load(std::memory_order_relaxed);
    if (port & kPortKnown)
        return port & 0xFFFFu;
    const unsigned asked = AskLocalPort(fd);
    // A port the kernel chose never changes; an unbound socket's 0 might.
    if (asked != 0)
        tables->entries[at].port.store(kPortKnown | asked, std::memory_order_relaxed);
    return asked;
}

unsigned ListeningPort(int fd) { return LocalPortOf(fd); }

void SetDecidedPeer(int fd, uint64_t peer)
{
    unsigned at = 0;
    if (Tables* tables = peer ? Made(fd, at) : Existing(fd, at))
        tables->entries[at].decidedPeer.store(peer, std::memory_order_relaxed);
}

uint64_t DecidedPeer(int fd)
{
    unsigned at = 0;
    const Tables* tables = Existing(fd, at);
    return tables ? tables->entries[at].decidedPeer.load(std::memory_order_relaxed) : 0;
}

void Forget(int fd)
{
    unsigned at = 0;
    Tables* tables = Existing(fd, at);
    if (!tables)
        return;
    // The generation first: a decision that read the old one and writes
    // after this sees it changed (SetDecidedPeer of a view), one that wrote
    // before has its write cleared below.
    tables->entries[at].generation.fetch_add(1, std::memory_order_seq_cst);
    const unsigned char old = tables->kinds[at].exchange(kUnknown, std::memory_order_acq_rel);
    if (old & kMarkBits)
        g_markedDescriptors.fetch_sub(CountMarks(old), std::memory_order_release);
    tables->entries[at].port.store(0, std::memory_order_relaxed);
    tables->entries[at].decidedPeer.store(0, std::memory_order_seq_cst);
}

bool GenerationOf(int fd, uint32_t& generation)
{
    unsigned at = 0;
    const Tables* tables = Existing(fd, at);
    if (!tables)
        return false;
    generation = tables->entries[at].generation.load(std::memory_order_relaxed);
    return true;
}

unsigned char MarksOf(int fd)
{
    unsigned at = 0;
    const Tables* tables = Existing(fd, at);
    return tables ? tables->kinds[at].load(std::memory_order_acquire) & kMarkBits : 0;
}

bool SetMark(int fd, Mark mark)
{
    unsigned at = 0;
    Tables* tables = Made(fd, at);
    if (!tables)
        return false;
    if (!(tables->kinds[at].fetch_or(mark, std::memory_order_acq_rel) & mark))
        g_markedDescriptors.fetch_add(1, std::memory_order_acq_rel);
    return true;
}

bool ClearMark(int fd, Mark mark)
{
    unsigned at = 0;
    Tables* tables = Existing(fd, at);
    if (!tables)
        return false;
    const bool was = tables->kinds[at].fetch_and(static_cast<unsigned char>(~mark), std::memory_order_acq_rel) & mark;
    if (was)
        g_markedDescriptors.fetch_sub(1, std::memory_order_acq_rel);
    return was;
}

namespace {

// The lowest descriptor in [first, last] with any of bits, looking only
// at the blocks that were made.
bool FirstWith(unsigned first, unsigned last, unsigned char bits, unsigned& fd)
{
    if (last > static_cast<unsigned>(INT_MAX))
        last = INT_MAX;
    for (unsigned block = first / kDescriptorsPerBlock; first <= last && g_tables.NextMade(block); ++block) {
        const unsigned from = block * kDescriptorsPerBlock > first ? block * kDescriptorsPerBlock : first;
        const unsigned to = block * kDescriptorsPerBlock + (kDescriptorsPerBlock - 1) < last
            ? block * kDescriptorsPerBlock + (kDescriptorsPerBlock - 1)
            : last;
        const Tables* tables = g_tables.Numbered(block);
        for (unsigned at = from; at <= to && from <= to; ++at)
            if (tables->kinds[at % kDescriptorsPerBlock].load(std::memory_order_relaxed) & bits) {
                fd = at;
                return true;
            }
        if (to == last)
            break;
    }
    return false;
}

}  // namespace

bool FirstMarkedIn(unsigned first, unsigned last, Mark mark, unsigned& fd)
{
    return AnyMarks() && FirstWith(first, last, mark, fd);
}

bool FirstKnownIn(unsigned first, unsigned last, unsigned& fd) { return FirstWith(first, last, kKindBits, fd); }

SocketView View(int fd)
{
    SocketView view;
    view.fd = fd;
    Tables* tables = Existing(fd, view.at);
    if (!tables)
        return view;
    view.block = tables;
    // Acquire, as MarksOf: a mark seen gone shows what was done before it went.
    const unsigned char bits = tables->kinds[view.at].load(std::memory_order_acquire);
    view.kind = static_cast<Kind>(bits & kKindBits);
    view.marks = bits & kMarkBits;
    view.dnsStream = (bits & kDnsStreamBit) != 0;
    const uint32_t port = tables->entries[view.at].port.load(std::memory_order_relaxed);
    view.portKnown = (port & kPortKnown) != 0;
    view.port = port & 0xFFFFu;
    view.decidedPeer = tables->entries[view.at].decidedPeer.load(std::memory_order_relaxed);
    view.generation = tables->entries[view.at].generation.load(std::memory_order_seq_cst);
    return view;
}

Kind KindOf(SocketView& view)
{
    if (view.kind != kUnknown)
        return view.kind;
    view.kind = KindOf(view.fd);
    if (!view.block) {
        // The kernel was asked about the socket under the number now: its
        // block (made by SetKind) holds the generation to write back under.
        Tables* tables = Existing(view.fd, view.at);
        view.block = tables;
        if (tables)
            view.generation = tables->entries[view.at].generation.load(std::memory_order_seq_cst);
    }
    view.portKnown = false; // made behind the hook's back: asked when needed
    return view.kind;
}

unsigned LocalPortOf(SocketView& view)
{
    if (view.portKnown)
        return view.port;
    auto* tables = static_cast<Tables*>(view.block);
    const unsigned asked = AskLocalPort(view.fd);
    // A port the kernel chose never changes; an unbound socket's 0 might.
    if (asked != 0 && tables && tables->entries[view.at].generation.load(std::memory_order_seq_cst) == view.generation)
        tables->entries[view.at].port.store(kPortKnown | asked, std::memory_order_relaxed);
    view.portKnown = asked != 0;
    view.port = asked;
    return asked;
}

bool SetDecidedPeer(SocketView& view, uint64_t peer)
{
    auto* tables = static_cast<Tables*>(view.block);
    if (!tables)
        tables = Made(view.fd, view.at); // no generation was read: as SetDecidedPeer(fd)
    if (!tables)
        return false;
    // Written, then the generation looked at: a Forget in between (the
    // number closed or replaced on another thread) either clears the write
    // after it or shows in the generation, and the write is taken back.
    tables->entries[view.at].decidedPeer.store(peer, std::memory_order_seq_cst);
    if (!view.block || tables->entries[view.at].generation.load(std::memory_order_seq_cst) == view.generation) {
        view.decidedPeer = peer;
        return true;
    }
    uint64_t written = peer;
    tables->entries[view.at].decidedPeer.compare_exchange_strong(written, 0, std::memory_order_seq_cst);
    return false;
}

void SetDnsStream(const SocketView& view)
{
    auto* tables = static_cast<Tables*>(view.block);
    if (tables && tables->entries[view.at].generation.load(std::memory_order_seq_cst) == view.generation)
        tables->kinds[view.at].fetch_or(kDnsStreamBit, std::memory_order_relaxed);
}

}  // namespace hook
