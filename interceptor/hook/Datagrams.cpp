#include "Datagrams.h"

#include "Memory.h"
#include "SocketTable.h"

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <new>
#include <pthread.h>

namespace hook {

namespace {

constexpr int kIncoming = 0;
constexpr int kOutgoing = 1;
constexpr unsigned kPeersPerSocket = 32;

struct Entry {
    Peer peer;
    bool used;
    unsigned char direction;
    bool permitted;
    uint32_t epoch;
    uint32_t lastUse;
};

struct SocketPeers {
    bool connected;
    Peer connectedPeer;
    uint32_t clock;
    Entry entries[kPeersPerSocket];
};

pthread_mutex_t g_mutex = PTHREAD_MUTEX_INITIALIZER;
// A socket's peers are made when it first needs them and kept for the
// descriptor number (cleared when it is closed): a datagram path never frees
// what another thread may be reading.
struct Sockets {
    SocketPeers* peers[kTrackedDescriptors];
};
std::atomic<Sockets*> g_sockets {nullptr};

SocketPeers* PeersOf(int fd, bool make)
{
    if (fd < 0 || fd >= kTrackedDescriptors)
        return nullptr;
    Sockets* sockets = make ? MapOnce(g_sockets) : g_sockets.load(std::memory_order_acquire);
    if (!sockets)
        return nullptr;
    if (!sockets->peers[fd] && make)
        if (void* memory = std::malloc(sizeof(SocketPeers)))
            sockets->peers[fd] = new (memory) SocketPeers();
    return sockets->peers[fd];
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
    entry->peer = peer;
    entry->used = true;
    entry->direction = static_cast<unsigned char>(direction);
    entry->permitted = permitted;
    entry->epoch = epoch;
    entry->lastUse = ++peers->clock;
}

}  // namespace

Recalled RecallVerdict(int fd, int direction, const Peer& peer, uint32_t epoch)
{
    Recalled recalled = Recalled::kNothing;
    pthread_mutex_lock(&g_mutex);
    if (SocketPeers* peers = PeersOf(fd, false))
        if (Entry* entry = Find(peers, direction, peer); entry && entry->epoch == epoch) {
            entry->lastUse = ++peers->clock;
            recalled = entry->permitted ? Recalled::kPermitted : Recalled::kDenied;
        }
    pthread_mutex_unlock(&g_mutex);
    return recalled;
}

void RememberVerdict(int fd, int direction, const Peer& peer, bool permitted, uint32_t epoch)
{
    pthread_mutex_lock(&g_mutex);
    if (SocketPeers* peers = PeersOf(fd, true)) {
        Store(peers, direction, peer, permitted, epoch);
        // The answer to a datagram let in belongs to the same exchange.
        if (direction == kIncoming && permitted)
            Store(peers, kOutgoing, peer, true, epoch);
    }
    pthread_mutex_unlock(&g_mutex);
}

void SetConnectedPeer(int fd, const Peer& peer)
{
    pthread_mutex_lock(&g_mutex);
    if (SocketPeers* peers = PeersOf(fd, true)) {
        peers->connected = true;
        peers->connectedPeer = peer;
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

void ForgetDatagrams(int fd)
{
    pthread_mutex_lock(&g_mutex);
    if (SocketPeers* peers = PeersOf(fd, false))
        *peers = SocketPeers();
    pthread_mutex_unlock(&g_mutex);
}

void LockDatagramsForFork() { pthread_mutex_lock(&g_mutex); }
void UnlockDatagramsAfterFork() { pthread_mutex_unlock(&g_mutex); }

}  // namespace hook
