// The stand-ins' table and what both kinds of stand-in share: the entries,
// the firewall's descriptors kept aside, putting a stand-in under the
// program's number and the socket back; every call the program makes on a
// number that stands in (StandIns.h).
#include "hook/decisions/StandInTable.h"

#include "hook/names/DnsReplies.h"
#include "hook/descriptors/EpollSets.h"
#include "hook/descriptors/Kernel.h"
#include "hook/Memory.h"
#include "hook/descriptors/SocketTable.h"

#include "os/hooksafe/Retry.h"

#include <cerrno>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <pthread.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/stat.h>
#include <unistd.h>


namespace hook::standins {

pthread_mutex_t g_mutex = PTHREAD_MUTEX_INITIALIZER;
std::atomic<Entries*> g_standIns {nullptr};
int g_used = 0;
uint32_t g_generation = 0;

namespace {

// Read ends of pipes that stood in, closed a while after they were emptied:
// a poll woken by the emptying looks at the number again, which is the
// socket by then; one that was looking at the pipe just then must not see
// the pipe without reader (an error) instead of writable.
struct Retired {
    int fd;
    long long at;
};
constexpr int kRetiredPipes = 8;
constexpr long long kRetiredMs = 1000;
Retired g_retired[kRetiredPipes] = {{-1, 0}, {-1, 0}, {-1, 0}, {-1, 0}, {-1, 0}, {-1, 0}, {-1, 0}, {-1, 0}};

}  // namespace

long long NowMs()
{
    timespec now {};
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<long long>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

void CloseKept(int& fd)
{
    if (fd < 0)
        return;
    ClearMark(fd, kMarkKept);
    kernel::Close(fd);
    fd = -1;
}

int Kept(int fd)
{
    if (fd >= 0)
        SetMark(fd, kMarkKept);
    return fd;
}

void Retire(int& fd)
{
    const long long now = NowMs();
    Retired* slot = &g_retired[0];
    for (Retired& retired : g_retired) {
        if (retired.fd >= 0 && now - retired.at > kRetiredMs)
            CloseKept(retired.fd);
        if (retired.fd < 0 || (slot->fd >= 0 && retired.at < slot->at))
            slot = &retired;
    }
    CloseKept(slot->fd); // the oldest, when all are taken
    *slot = {fd, now};
    fd = -1;
}

uint64_t Token(int index, uint32_t held, uint32_t generation)
{
    return (static_cast<uint64_t>(index) << 40) | (static_cast<uint64_t>(held) << 32) | generation;
}
StandIn& EntryOf(uint64_t token) { return g_standIns.load(std::memory_order_relaxed)->items[(token >> 40) & 0xFFFFFF]; }
uint32_t HeldOf(uint64_t token) { return static_cast<uint32_t>(token >> 32) & 0xFF; }
int IndexOf(const StandIn& entry) { return static_cast<int>(&entry - g_standIns.load(std::memory_order_relaxed)->items); }

StandIn* Find(int fd)
{
    if (!(MarksOf(fd) & kMarkStandsIn))
        return nullptr;
    for (StandIn& entry : InUse())
        if (entry.role != Role::kFree && entry.fd == fd)
            return &entry;
    return nullptr;
}

StandIn* FreeEntry()
{
    Entries* entries = MapOnce(g_standIns);
    for (int index = 0; entries && index < kMaxStandIns; ++index)
        if (entries->items[index].role == Role::kFree) {
            if (index >= g_used)
                g_used = index + 1;
            return &entries->items[index];
        }
    return nullptr;
}

void Release(StandIn& entry)
{
    entry.role = Role::kFree;
    const StandIn* items = g_standIns.load(std::memory_order_relaxed)->items;
    while (g_used > 0 && items[g_used - 1].role == Role::kFree)
        --g_used;
}

namespace {

int Dup3(int from, int to, int flags)
{
    // Not a plain retry: EBUSY is dup3's race with an open of the same number
    // on another thread, which a few more tries get past.
    int result = -1;
    for (int attempt = 0; attempt < 8; ++attempt) {
        result = kernel::Dup3(from, to, flags);
        if (result >= 0 || (errno != EINTR && errno != EBUSY))
            break;
    }
    return result;
}

}  // namespace

int CloseOnExecFlag(int fd)
{
    const int flags = kernel::Fcntl(fd, F_GETFD);
    return flags > 0 && (flags & FD_CLOEXEC) ? O_CLOEXEC : 0;
}

// Puts standIn under fd, with the socket (already kept aside as real) out of
// the program's epoll sets and the stand-in in them instead.
bool PutStandIn(StandIn& entry, int fd, int real, int standIn)
{
    struct stat st {};
    if (::fstat(real, &st) != 0 || !SetMark(fd, kMarkStandsIn))
        return false;
    entry.fd = fd;
    entry.real = real;
    entry.generation = ++g_generation;
    FindEpollRegistrations(fd, st.st_ino, entry.registrations);
    LeaveEpollSets(fd, entry.registrations);
    if (Dup3(standIn, fd, CloseOnExecFlag(fd)) < 0) {
        JoinEpollSets(fd, entry.registrations);
        ClearMark(fd, kMarkStandsIn);
        entry.fd = -1;
        entry.real = -1;
        return false;
    }
    JoinEpollSets(fd, entry.registrations);
    Kept(real);
    return true;
}

// The socket back under the program's number, in the program's epoll sets.
void PutSocketBack(StandIn& entry)
{
    const int fd = entry.fd;
    LeaveEpollSets(fd, entry.registrations);
    if (Dup3(entry.real, fd, CloseOnExecFlag(fd)) >= 0)
        JoinEpollSets(fd, entry.registrations);
    CloseKept(entry.real);
    ClearMark(fd, kMarkStandsIn);
    entry.fd = -1;
}

// A connection the program never saw, ended as a refused one: with a reset.
void Reset(int& socket)
{
    const linger abort {1, 0};
    kernel::SetSocketOption(socket, SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
    CloseKept(socket);
}

bool AnyHeld(const StandIn& entry, bool permittedOnly)
{
    for (const Held& held : entry.held)
        if (held.used && (held.permitted || !permittedOnly))
            return true;
    return false;
}

void PutListenerBack(StandIn& entry)
{
    if (entry.fd >= 0)
        PutSocketBack(entry);
    CloseKept(entry.real);
    CloseKept(entry.signal);
    Release(entry);
}

// How a call on the connection fd stands in for may wait: false when it
// may not; deadline from the socket's time-out (0: none).
bool MayWait(const StandIn& entry, int flags, int timeoutOption, long long& deadline)
{
    if (flags & MSG_DONTWAIT)
        return false;
    const int status = kernel::Fcntl(entry.real, F_GETFL);
    if (status < 0 || (status & O_NONBLOCK))
        return false;
    timeval timeout {};
    socklen_t size = sizeof timeout;
    deadline = 0;
    if (kernel::GetSocketOption(entry.real, SOL_SOCKET, timeoutOption, &timeout, &size) == 0
        && (timeout.tv_sec > 0 || timeout.tv_usec > 0))
        deadline = NowMs() + static_cast<long long>(timeout.tv_sec) * 1000 + (timeout.tv_usec + 999) / 1000;
    return true;
}

}  // namespace hook::standins

namespace hook {

using namespace standins;

// ---- Every call on a number that stands in ----------------------------------------------

int HoldKeptSocket(int fd)
{
    pthread_mutex_lock(&g_mutex);
    if (const StandIn* entry = Find(fd))
        return entry->real;
    pthread_mutex_unlock(&g_mutex);
    return -1;
}

void ReleaseKeptSocket() { pthread_mutex_unlock(&g_mutex); }

int BeforeData(int fd, bool sending, int flags)
{
    if (TakeRefusal(fd)) {
        errno = ECONNREFUSED;
        return -1;
    }
    pthread_mutex_lock(&g_mutex);
    const StandIn* entry = Find(fd);
    if (!entry) {
        pthread_mutex_unlock(&g_mutex);
        return 0;
    }
    if (entry->role == Role::kListening) {
        pthread_mutex_unlock(&g_mutex);
        errno = ENOTCONN;
        return -1;
    }
    long long deadline = 0;
    const bool mayWait = MayWait(*entry, flags, sending ? SO_SNDTIMEO : SO_RCVTIMEO, deadline);
    pthread_mutex_unlock(&g_mutex);
    if (!mayWait) {
        errno = EAGAIN;
        return -1;
    }
    if (AwaitConnection(fd, deadline) == 0)
        return 0;
    if (errno == EINPROGRESS)
        errno = EAGAIN; // the time-out of a blocking send or receive
    return -1;
}

bool EpollControl(int epoll, int op, int fd, epoll_event* event, int& result)
{
    pthread_mutex_lock(&g_mutex);
    StandIn* entry = Find(fd);
    if (entry) {
        result = kernel::EpollControl(epoll, op, fd, event);
        if (result == 0)
            entry->registrations.Follow(epoll, op, event);
    }
    pthread_mutex_unlock(&g_mutex);
    return entry != nullptr;
}

void Withdraw(int fd)
{
    pthread_mutex_lock(&g_mutex);
    if (StandIn* entry = Find(fd)) {
        ClearMark(fd, kMarkStandsIn);
        entry->fd = -1;
        if (entry->role == Role::kConnecting) {
            // Its thread closes what it kept; a connection it is making is
            // aborted. A question that never had its turn has no thread.
            if (WithdrawQuestion(entry->question)) {
                CloseKept(entry->real);
                CloseKept(entry->signal);
                entry->question = -1;
                Release(*entry);
            } else if (entry->phase == Phase::kConnecting) {
                kernel::Shutdown(entry->real, SHUT_RDWR);
            }
        } else {
            for (Held& held : entry->held) {
                if (!held.used || (held.question >= 0 && !WithdrawQuestion(held.question)))
                    continue; // its thread resets it
                held.question = -1;
                Reset(held.socket);
                held.used = false;
            }
            CloseKept(entry->real);
            CloseKept(entry->signal);
            if (!AnyHeld(*entry, false))
                Release(*entry);
        }
    }
    pthread_mutex_unlock(&g_mutex);
}

void MoveKeptAside(int fd)
{
    pthread_mutex_lock(&g_mutex);
    const auto move = [fd](int& kept) {
        if (kept != fd)
            return;
        const int moved = kernel::MoveHigh(kernel::Fcntl(fd, F_DUPFD_CLOEXEC, fd + 1));
        if (moved < 0)
            return;
        ClearMark(fd, kMarkKept);
        kept = Kept(moved);
    };
    for (StandIn& entry : InUse()) {
        if (entry.role == Role::kFree)
            continue;
        move(entry.real);
        move(entry.signal);
        for (Held& held : entry.held)
            if (held.used)
                move(held.socket);
    }
    for (Retired& retired : g_retired)
        move(retired.fd);
    pthread_mutex_unlock(&g_mutex);
}

void LockStandInsForFork()
{
    pthread_mutex_lock(&g_mutex);
    LockQuestionsForFork();
}

void UnlockStandInsAfterFork(bool inChild)
{
    if (inChild) {
        // No thread answers here: the child's number is the socket itself,
        // shared with the parent, which goes on deciding about it.
        for (StandIn& entry : InUse()) {
            if (entry.role == Role::kFree)
                continue;
            if (entry.fd >= 0) {
                Dup3(entry.real, entry.fd, CloseOnExecFlag(entry.fd));
                ClearMark(entry.fd, kMarkStandsIn);
            }
            CloseKept(entry.real);
            CloseKept(entry.signal);
            if (entry.role == Role::kListening)
                for (Held& held : entry.held)
                    if (held.used) {
                        CloseKept(held.socket);
                        held.used = false;
                    }
            entry.role = Role::kFree;
        }
        g_used = 0;
        for (Retired& retired : g_retired)
            CloseKept(retired.fd);
    }
    UnlockQuestionsAfterFork(inChild);
    pthread_mutex_unlock(&g_mutex);
}

}  // namespace hook
