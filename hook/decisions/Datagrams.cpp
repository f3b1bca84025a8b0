#include "hook/decisions/Datagrams.h"

#include "hook/descriptors/Kernel.h"
#include "hook/Memory.h"
#include "hook/descriptors/SocketTable.h"

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <climits>
#include <ctime>
#include <new>
#include <pthread.h>

namespace hook {

namespace {

constexpr int kIncoming = 0;
constexpr int kOutgoing = 1;
constexpr unsigned kPeersPerSocket = 32;
constexpr size_t kLargestDatagram = 65535;

// Made with malloc, the payload right after it.
struct HeldDatagram {
    size_t size;
    socklen_t toLength; // 0: to the connected peer
    sockaddr_storage to;
};

struct Entry {
    Peer peer;
    bool used;
    unsigned char direction;
    bool permitted;
    bool asking;  // a question is open: no verdict yet
    int question; // while asking
    // While asking, outgoing: the datagram that leaves once permitted.
    struct HeldDatagram* held;
    uint32_t epoch;
    uint32_t lastUse;
};

struct SocketPeers {
    uint32_t generation; // changes when the socket is closed or disconnected
    bool shared;         // under another number too: its connected peer is never kept
    bool connected;
    Peer connectedPeer;
    uint32_t clock;
    Entry entries[kPeersPerSocket];
};

pthread_mutex_t g_mutex = PTHREAD_MUTEX_INITIALIZER;
// Peers being asked about, over every socket.
int g_asking = 0;
// Told whenever a question about a datagram peer was answered.
pthread_cond_t g_answered;
pthread_once_t g_answeredOnce = PTHREAD_ONCE_INIT;

void MakeAnsweredCondition()
{
    pthread_condattr_t attributes;
    pthread_condattr_init(&attributes);
    pthread_condattr_setclock(&attributes, CLOCK_MONOTONIC);
    pthread_cond_init(&g_answered, &attributes);
    pthread_condattr_destroy(&attributes);
}

// A socket's peers are made when it first needs them and kept for the
// descriptor number (cleared when it is closed): a datagram path never frees
// what another thread may be reading.
struct Sockets {
    SocketPeers* peers[kDescriptorsPerBlock];
};
constinit DescriptorBlocks<Sockets> g_sockets;

SocketPeers* PeersOf(int fd, bool make)
{
    unsigned at = 0;
    Sockets* sockets = make ? g_sockets.Made(fd, at) : g_sockets.Existing(fd, at);
    if (!sockets)
        return nullptr;
    if (!sockets->peers[at] && make)
        if (void* memory = std::malloc(sizeof(SocketPeers)))
            sockets->peers[at] = new (memory) SocketPeers();
    return sockets->peers[at];
}

Entry* Find(SocketPeers* peers, int direction, const Peer& peer)
{
    for (Entry& entry : peers->entries)
        if (entry.used && entry.direction == direction && SamePeer(entry.peer, peer))
            return &entry;
    return nullptr;
}

void Store(SocketPeers* peers, int direction, const Peer& peer, bool permitted, uint32_t epoch)
{
    Entry* entry = Find(peers, direction, peer);
    if (!entry) {
        // A free slot, else the one used longest ago.
        entry = &peers->entries[0];
        for (Entry& candidate : peers->entries) {
            if (!candidate.used) {
                entry = &candidate;
                break;
            }
            if (candidate.lastUse < entry->lastUse)
                entry = &candidate;
        }
    }
    if (entry->used && entry->asking)
        --g_asking; // its answer, when it comes, finds nothing to tell
    std::free(entry->held);
    entry->held = nullptr;
    entry->peer = peer;
    entry->used = true;
    entry->direction = static_cast<unsigned char>(direction);
    entry->permitted = permitted;
    entry->asking = false;
    entry->question = -1;
    entry->epoch = epoch;
    entry->lastUse = ++peers->clock;
}

Recalled RecallLocked(int fd, int direction, const Peer& peer, uint32_t epoch)
{
    if (SocketPeers* peers = PeersOf(fd, false))
        if (Entry* entry = Find(peers, direction, peer)) {
            // Asked about: whatever the epoch, one question is enough.
            if (entry->asking)
                return Recalled::kAsking;
            if (entry->epoch == epoch) {
                entry->lastUse = ++peers->clock;
                return entry->permitted ? Recalled::kPermitted : Recalled::kDenied;
            }
        }
    return Recalled::kNothing;
}

void StoreVerdict(SocketPeers* peers, int direction, const Peer& peer, bool permitted, uint32_t epoch)
{
    Store(peers, direction, peer, permitted, epoch);
    // The answer to a datagram let in belongs to the same exchange.
    if (direction == kIncoming && permitted)
        Store(peers, kOutgoing, peer, true, epoch);
}

// A datagram held back for a connected peer leaves only while the socket is
// still connected to it: connected elsewhere since (through any number of
// it), the datagram would go to a peer nobody decided.
bool StillConnectedTo(int fd, const Peer& peer)
{
    sockaddr_storage connected {};
    socklen_t length = sizeof connected;
    Peer now;
    return kernel::GetPeerName(fd, reinterpret_cast<sockaddr*>(&connected), &length) == 0
        && DescribePeer(reinterpret_cast<const sockaddr*>(&connected), now) && SamePeer(now, peer);
}

// The question's socket and its generation when asked.
uint64_t Token(int fd, uint32_t generation) { return (static_cast<uint64_t>(fd) << 32) | generation; }

void Answered(uint64_t token, const Question& question, UserAnswer answer, int)
{
    const int fd = static_cast<int>(token >> 32);
    Peer peer;
    std::memcpy(peer.address, question.address, sizeof peer.address);
    peer.port = question.remotePort;
    pthread_mutex_lock(&g_mutex);
    // Closed or disconnected since (the question was withdrawn): forgotten.
    if (SocketPeers* peers = PeersOf(fd, false); peers && peers->generation == static_cast<uint32_t>(token))
        if (Entry* entry = Find(peers, question.direction, peer); entry && entry->asking) {
            const uint32_t epoch = entry->epoch;
            if (const HeldDatagram* held = entry->held;
                held && answer == UserAnswer::kPermitted && (held->toLength || StillConnectedTo(fd, peer)))
                kernel::SendTo(fd, held + 1, held->size, MSG_DONTWAIT | MSG_NOSIGNAL,
                               held->toLength ? reinterpret_cast<const sockaddr*>(&held->to) : nullptr,
                               held->toLength);
            std::free(entry->held);
            entry->held = nullptr;
            entry->used = false;
            --g_asking;
            if (answer != UserAnswer::kWithdrawn)
                StoreVerdict(peers, question.direction, peer, answer == UserAnswer::kPermitted, epoch);
        }
    pthread_cond_broadcast(&g_answered);
    pthread_mutex_unlock(&g_mutex);
}

}  // namespace

Recalled RecallVerdict(int fd, int direction, const Peer& peer, uint32_t epoch)
{
    pthread_mutex_lock(&g_mutex);
    const Recalled recalled = RecallLocked(fd, direction, peer, epoch);
    pthread_mutex_unlock(&g_mutex);
    return recalled;
}

void RememberVerdict(int fd, int direction, const Peer& peer, bool permitted, uint32_t epoch,
                     const uint32_t* generation)
{
    pthread_mutex_lock(&g_mutex);
    // Under the lock: a close counts the generation before it forgets the
    // socket's datagrams (ForgetDescriptor), which waits for this lock.
    uint32_t now = 0;
    const bool sameSocket = !generation || (GenerationOf(fd, now) && now == *generation);
    if (SocketPeers* peers = sameSocket ? PeersOf(fd, true) : nullptr)
        StoreVerdict(peers, direction, peer, permitted, epoch);
    pthread_mutex_unlock(&g_mutex);
}

void SetConnectedPeer(int fd, const Peer& peer)
{
    pthread_mutex_lock(&g_mutex);
    if (SocketPeers* peers = PeersOf(fd, true); peers && !peers->shared) {
        peers->connected = true;
        peers->connectedPeer = peer;
    }
    pthread_mutex_unlock(&g_mutex);
}

void ForgetConnectedPeer(int fd)
{
    pthread_mutex_lock(&g_mutex);
    if (SocketPeers* peers = PeersOf(fd, false))
        peers->connected = false;
    pthread_mutex_unlock(&g_mutex);
}

void ShareDatagramSocket(int fd)
{
    pthread_mutex_lock(&g_mutex);
    if (SocketPeers* peers = PeersOf(fd, true)) {
        peers->shared = true;
        peers->connected = false;
    }
    pthread_mutex_unlock(&g_mutex);
}

bool ConnectedPeer(int fd, Peer& peer)
{
    bool known = false;
    pthread_mutex_lock(&g_mutex);
    if (SocketPeers* peers = PeersOf(fd, false); peers && peers->connected) {
        peer = peers->connectedPeer;
        known = true;
    }
    pthread_mutex_unlock(&g_mutex);
    return known;
}

size_t TotalBytes(const iovec* parts, size_t count)
{
    if (count > IOV_MAX)
        return SIZE_MAX;
    size_t size = 0;
    for (size_t i = 0; i < count; ++i) {
        if (parts[i].iov_len > SIZE_MAX - size)
            return SIZE_MAX;
        size += parts[i].iov_len;
    }
    return size;
}

bool HoldLocked(Entry* entry, const OutgoingDatagram& sent)
{
    if (!entry || !entry->asking || entry->direction != kOutgoing
        || (sent.to && sent.toLength > static_cast<socklen_t>(sizeof(sockaddr_storage))))
        return false;
    const size_t size = TotalBytes(sent.parts, sent.count);
    if (size > kLargestDatagram)
        return false;
    auto* held = static_cast<HeldDatagram*>(std::malloc(sizeof(HeldDatagram) + size));
    if (!held)
        return false;
    held->size = size;
    held->toLength = sent.to ? sent.toLength : 0;
    if (sent.to)
        std::memcpy(&held->to, sent.to, sent.toLength);
    auto* at = reinterpret_cast<char*>(held + 1);
    for (size_t i = 0; i < sent.count; ++i) {
        std::memcpy(at, sent.parts[i].iov_base, sent.parts[i].iov_len);
        at += sent.parts[i].iov_len;
    }
    std::free(entry->held);
    entry->held = held;
    return true;
}

bool HoldBack(int fd, const Peer& peer, const OutgoingDatagram& sent)
{
    pthread_mutex_lock(&g_mutex);
    SocketPeers* peers = PeersOf(fd, false);
    const bool held = peers && HoldLocked(Find(peers, kOutgoing, peer), sent);
    pthread_mutex_unlock(&g_mutex);
    return held;
}

bool AskWithoutWaiting(int fd, int direction, const Peer& peer, uint32_t epoch, const Question& question,
                       const OutgoingDatagram* sent)
{
    pthread_once(&g_answeredOnce, MakeAnsweredCondition);
    bool asking = false;
    pthread_mutex_lock(&g_mutex);
    if (SocketPeers* peers = PeersOf(fd, true)) {
        const int number = AskInBackground(question, Answered, Token(fd, peers->generation));
        if (number >= 0) {
            // Stored as a verdict first, for its place; then marked asked about.
            Store(peers, direction, peer, false, epoch);
            Entry* entry = Find(peers, direction, peer);
            entry->asking = true;
            entry->question = number;
            ++g_asking;
            asking = true;
            if (sent)
                HoldLocked(entry, *sent);
        }
    }
    pthread_mutex_unlock(&g_mutex);
    return asking;
}

Recalled WaitForVerdict(int fd, int direction, const Peer& peer, uint32_t epoch, long long deadlineMs)
{
    pthread_once(&g_answeredOnce, MakeAnsweredCondition);
    const timespec deadline {static_cast<time_t>(deadlineMs / 1000), static_cast<long>(deadlineMs % 1000) * 1000000L};
    pthread_mutex_lock(&g_mutex);
    Recalled recalled;
    while ((recalled = RecallLocked(fd, direction, peer, epoch)) == Recalled::kAsking) {
        const int waited = deadlineMs ? pthread_cond_timedwait(&g_answered, &g_mutex, &deadline)
                                      : pthread_cond_wait(&g_answered, &g_mutex);
        if (waited == ETIMEDOUT)
            break;
    }
    pthread_mutex_unlock(&g_mutex);
    return recalled;
}

void ForgetDatagrams(int fd, bool closed)
{
    pthread_mutex_lock(&g_mutex);
    if (SocketPeers* peers = PeersOf(fd, false)) {
        bool dropped = false;
        for (Entry& entry : peers->entries) {
            if (entry.used && entry.asking) {
                // One still waiting its turn is never answered: its waiters are told now.
                dropped |= WithdrawQuestion(entry.question);
                --g_asking;
            }
            std::free(entry.held);
        }
        const uint32_t generation = peers->generation + 1;
        const bool shared = peers->shared && !closed;
        *peers = SocketPeers();
        peers->generation = generation;
        peers->shared = shared;
        if (dropped)
            pthread_cond_broadcast(&g_answered);
    }
    pthread_mutex_unlock(&g_mutex);
}

void LockDatagramsForFork() { pthread_mutex_lock(&g_mutex); }

void UnlockDatagramsAfterFork(bool inChild)
{
    if (inChild && g_asking > 0) {
        for (unsigned block = 0; g_sockets.NextMade(block); ++block)
            for (SocketPeers* peers : g_sockets.Numbered(block)->peers)
                if (peers)
                    for (Entry& entry : peers->entries)
                        if (entry.used && entry.asking) {
                            std::free(entry.held);
                            entry.held = nullptr;
                            entry.used = false;
                        }
        g_asking = 0;
    }
    pthread_mutex_unlock(&g_mutex);
}

}  // namespace hook
