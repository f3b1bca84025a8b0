#pragma once

// The stand-ins' shared table and the steps both kinds of stand-in take
// (StandIns.cpp), for the connections being made (StandInConnections.cpp)
// and the listeners (StandInListeners.cpp). Everything here is used under
// g_mutex. Inside the hook only: see StandIns.h for what a stand-in is.
#include "hook/decisions/StandIns.h"
#include "hook/descriptors/EpollSets.h"

#include <atomic>
#include <cstdint>
#include <pthread.h>
#include <sys/socket.h>

namespace hook::standins {

// Past this many at once in one program (a flood, not a user's questions)
// a connection is asked about the old way, its call waiting for the answer.
constexpr int kMaxStandIns = 1024;
constexpr int kMaxHeld = 16;
constexpr uint32_t kNoHeld = 0xFF;

enum class Role : unsigned char { kFree, kConnecting, kListening };
enum class Phase : unsigned char { kAsking, kConnecting };

// An incoming connection held back from the program: its question is open,
// or it was permitted and waits for the program's accept.
struct Held {
    bool used;
    bool permitted;
    int socket;   // kept aside
    int question; // -1 once answered
    sockaddr_storage peer;
    socklen_t peerLength;
};

struct StandIn {
    Role role;
    int fd; // the program's number; -1 once it stands in no more (withdrawn, or the socket went back)
    uint32_t generation;
    int real;   // the socket kept aside; -1 once closed
    int signal; // a connection: the full pipe's read end; a listener: the eventfd, readable while a permitted one waits
    EpollRegistrations registrations;
    // A connection being made.
    Phase phase;
    int question;
    sockaddr_storage to;
    socklen_t toLength;
    uint64_t peerKey;
    bool dnsStream;
    // A listener.
    Held held[kMaxHeld];
};

struct Entries {
    StandIn items[kMaxStandIns];
};

extern pthread_mutex_t g_mutex;
// Made at the first stand-in: a few kilobytes for each one at a time.
extern std::atomic<Entries*> g_standIns;
extern int g_used; // entries past this one are free
extern uint32_t g_generation;

// The entries that may be in use: none before the first was made.
struct InUse {
    StandIn* begin() const { return g_used > 0 ? g_standIns.load(std::memory_order_relaxed)->items : nullptr; }
    StandIn* end() const { return begin() + g_used; }
};

long long NowMs();
// A descriptor of the firewall's own, closed (and -1); kept aside (marked).
void CloseKept(int& fd);
int Kept(int fd);
// A pipe's read end that stood in, closed a while later (see Retired).
void Retire(int& fd);
// What a question's thread is given to find its entry (and held connection) again.
uint64_t Token(int index, uint32_t held, uint32_t generation);
StandIn& EntryOf(uint64_t token);
uint32_t HeldOf(uint64_t token);
int IndexOf(const StandIn& entry);
// The entry fd stands in for, null when none.
StandIn* Find(int fd);
StandIn* FreeEntry();
void Release(StandIn& entry);
int CloseOnExecFlag(int fd);
bool PutStandIn(StandIn& entry, int fd, int real, int standIn);
void PutSocketBack(StandIn& entry);
void Reset(int& socket);
bool AnyHeld(const StandIn& entry, bool permittedOnly);
void PutListenerBack(StandIn& entry);
// How a call on the connection fd stands in for may wait: false when it
// may not; deadline from the socket's time-out (0: none).
bool MayWait(const StandIn& entry, int flags, int timeoutOption, long long& deadline);

}  // namespace hook::standins
