#include "hook/decisions/StandIns.h"

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

namespace hook {

namespace {

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

pthread_mutex_t g_mutex = PTHREAD_MUTEX_INITIALIZER;
// Made at the first stand-in: a few kilobytes for each one at a time.
std::atomic<Entries*> g_standIns {nullptr};
int g_used = 0; // entries past this one are free
uint32_t g_generation = 0;

// The entries that may be in use: none before the first was made.
struct InUse {
    StandIn* begin() const { return g_used > 0 ? g_standIns.load(std::memory_order_relaxed)->items : nullptr; }
    StandIn* end() const { return begin() + g_used; }
};

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

// A pipe whose write end is never writable: every buffer of it full.
bool MakeFullPipe(int& readEnd, int& writeEnd)
{
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC | O_NONBLOCK) != 0)
        return false;
    kernel::Fcntl(ends[1], F_SETPIPE_SZ, 4096); // the smallest: one page fills it
    static const char kPage[4096] = {};
    for (int i = 0; i < 256 && kernel::Write(ends[1], kPage, sizeof kPage) > 0; ++i) {
    }
    pollfd full {ends[1], POLLOUT, 0};
    if (kernel::Poll(&full, 1, 0) != 0) {
        kernel::Close(ends[0]);
        kernel::Close(ends[1]);
        return false;
    }
    readEnd = Kept(kernel::MoveHigh(ends[0]));
    writeEnd = ends[1];
    return true;
}

void EmptyPipe(int readEnd)
{
    char discard[4096];
    for (int i = 0; i < 256 && kernel::Read(readEnd, discard, sizeof discard) > 0; ++i) {
    }
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

// ---- On the question's thread ---------------------------------------------------------------

void ConnectionAnswered(uint64_t token, const Question&, UserAnswer answer, int withdrawFd)
{
    pthread_mutex_lock(&g_mutex);
    StandIn& entry = EntryOf(token);
    if (entry.fd >= 0 && answer == UserAnswer::kPermitted) {
        // Made from here: until it goes back, the socket is the firewall's alone.
        entry.phase = Phase::kConnecting;
        const int real = entry.real;
        sockaddr_storage to = entry.to;
        const socklen_t length = entry.toLength;
        pthread_mutex_unlock(&g_mutex);
        const int made = kernel::Connect(real, reinterpret_cast<sockaddr*>(&to), length);
        if (made != 0 && (errno == EINPROGRESS || errno == EALREADY || errno == EINTR)) {
            pollfd waiting[2] = {{real, POLLOUT, 0}, {withdrawFd, POLLIN, 0}};
            os::RetryOnInterrupt([&] { return kernel::Poll(waiting, 2, -1); });
        }
        pthread_mutex_lock(&g_mutex);
        if (entry.fd >= 0) {
            const int fd = entry.fd;
            SetDecidedPeer(fd, entry.peerKey);
            PutSocketBack(entry);
            if (entry.dnsStream) {
                SetDnsStream(fd);
                StartDnsStream(fd);
            }
        }
    } else if (entry.fd >= 0) {
        // Denied (or no answer could be had): back unconnected, refused.
        // Marked before it goes back: a program woken by its return asks at once.
        SetMark(entry.fd, kMarkRefused);
        PutSocketBack(entry);
    }
    // Emptied once the socket is back: whoever waited on the pipe looks again.
    if (entry.fd < 0 && entry.real < 0) {
        EmptyPipe(entry.signal);
        Retire(entry.signal);
    }
    CloseKept(entry.real);
    CloseKept(entry.signal);
    entry.question = -1;
    Release(entry);
    pthread_mutex_unlock(&g_mutex);
}

void HeldAnswered(uint64_t token, const Question&, UserAnswer answer, int)
{
    pthread_mutex_lock(&g_mutex);
    StandIn& entry = EntryOf(token);
    Held& held = entry.held[HeldOf(token)];
    held.question = -1;
    if (entry.fd >= 0 && answer == UserAnswer::kPermitted) {
        held.permitted = true;
        const uint64_t one = 1;
        kernel::Write(entry.signal, &one, sizeof one);
    } else {
        Reset(held.socket);
        held.used = false;
    }
    if (!AnyHeld(entry, false))
        PutListenerBack(entry);
    pthread_mutex_unlock(&g_mutex);
}

}  // namespace

// ---- Connections being made ---------------------------------------------------------

bool StandInForConnection(int fd, const sockaddr* address, socklen_t length, const Question& question,
                          uint64_t peerKey, bool dnsStream)
{
    if (length > sizeof(sockaddr_storage))
        return false;
    pthread_mutex_lock(&g_mutex);
    StandIn* entry = Find(fd) ? nullptr : FreeEntry();
    int readEnd = -1, writeEnd = -1;
    const int real = entry ? kernel::MoveHigh(kernel::Fcntl(fd, F_DUPFD_CLOEXEC, 0)) : -1;
    bool standing = real >= 0 && MakeFullPipe(readEnd, writeEnd);
    if (standing) {
        entry->role = Role::kConnecting;
        entry->phase = Phase::kAsking;
        entry->signal = readEnd;
        std::memcpy(&entry->to, address, length);
        entry->toLength = length;
        entry->peerKey = peerKey;
        entry->dnsStream = dnsStream;
        standing = PutStandIn(*entry, fd, real, writeEnd);
        kernel::Close(writeEnd);
        if (!standing) {
            kernel::Close(real);
        } else {
            entry->question = AskInBackground(question, ConnectionAnswered, Token(IndexOf(*entry), kNoHeld, entry->generation));
            if (entry->question < 0) {
                // As if nothing happened: the caller asks the old way.
                PutSocketBack(*entry);
                standing = false;
            }
        }
        if (!standing) {
            CloseKept(entry->signal);
            Release(*entry);
        }
    } else if (real >= 0) {
        kernel::Close(real);
    }
    pthread_mutex_unlock(&g_mutex);
    return standing;
}

int AwaitConnection(int fd, long long deadlineMs)
{
    for (;;) {
        const long long left = deadlineMs ? deadlineMs - NowMs() : -1;
        if (deadlineMs && left <= 0) {
            errno = EINPROGRESS;
            return -1;
        }
        pollfd waiting {fd, POLLOUT, 0};
        const int ready = ::poll(&waiting, 1, left > 0x7fffffff ? 0x7fffffff : static_cast<int>(left));
        if (ready < 0)
            return -1;
        if (ready == 0 || (MarksOf(fd) & kMarkStandsIn))
            continue;
        if (waiting.revents & POLLNVAL) {
            errno = EBADF;
            return -1;
        }
        if (TakeRefusal(fd)) {
            errno = ECONNREFUSED;
            return -1;
        }
        int error = 0;
        socklen_t size = sizeof error;
        if (kernel::GetSocketOption(fd, SOL_SOCKET, SO_ERROR, &error, &size) == 0 && error != 0) {
            errno = error;
            return -1;
        }
        return 0;
    }
}

namespace {

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

}  // namespace

bool ConnectAgain(int fd, int& result)
{
    pthread_mutex_lock(&g_mutex);
    const StandIn* entry = Find(fd);
    if (!entry || entry->role != Role::kConnecting) {
        pthread_mutex_unlock(&g_mutex);
        return false;
    }
    long long deadline = 0;
    const bool mayWait = MayWait(*entry, 0, SO_SNDTIMEO, deadline);
    pthread_mutex_unlock(&g_mutex);
    if (!mayWait) {
        errno = EALREADY;
        result = -1;
    } else {
        result = AwaitConnection(fd, deadline);
    }
    return true;
}

// Taken only once the socket is back: while it stands in, the connection is
// pending. Under the lock, because the program may wake as soon as the socket
// is back, before the answer's thread has cleared the stand-in's mark.
bool TakeRefusal(int fd)
{
    if (!AnyMarks() || !(MarksOf(fd) & (kMarkRefused | kMarkStandsIn)))
        return false;
    pthread_mutex_lock(&g_mutex);
    const bool taken = !(MarksOf(fd) & kMarkStandsIn) && ClearMark(fd, kMarkRefused);
    pthread_mutex_unlock(&g_mutex);
    return taken;
}

// ---- Listeners --------------------------------------------------------------------------

bool HoldConnection(int listener, int connection, const sockaddr* peer, socklen_t peerLength,
                    const Question& question)
{
    if (peerLength > sizeof(sockaddr_storage))
        return false;
    pthread_mutex_lock(&g_mutex);
    StandIn* entry = Find(listener);
    bool made = false;
    if (entry && entry->role != Role::kListening) {
        entry = nullptr;
    } else if (!entry && (entry = FreeEntry())) {
        // An epoll set of the firewall's stands in: readable when the socket is.
        const int real = kernel::MoveHigh(kernel::Fcntl(listener, F_DUPFD_CLOEXEC, 0));
        const int signal = kernel::MoveHigh(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
        const int set = ::epoll_create1(EPOLL_CLOEXEC);
        epoll_event readable {};
        readable.events = EPOLLIN;
        made = real >= 0 && signal >= 0 && set >= 0 && kernel::EpollControl(set, EPOLL_CTL_ADD, real, &readable) == 0
            && kernel::EpollControl(set, EPOLL_CTL_ADD, signal, &readable) == 0;
        if (made) {
            std::memset(entry->held, 0, sizeof entry->held);
            entry->role = Role::kListening;
            made = PutStandIn(*entry, listener, real, set);
        }
        if (made) {
            entry->signal = Kept(signal);
        } else {
            Release(*entry);
            if (real >= 0)
                kernel::Close(real);
            if (signal >= 0)
                kernel::Close(signal);
            entry = nullptr;
        }
        if (set >= 0)
            kernel::Close(set);
    }
    Held* held = nullptr;
    if (entry)
        for (Held& candidate : entry->held)
            if (!candidate.used) {
                held = &candidate;
                break;
            }
    if (held) {
        held->question = AskInBackground(question, HeldAnswered,
                                         Token(IndexOf(*entry), static_cast<uint32_t>(held - entry->held), entry->generation));
        if (held->question >= 0) {
            held->used = true;
            held->permitted = false;
            held->socket = Kept(kernel::MoveHigh(connection));
            Forget(connection);
            std::memcpy(&held->peer, peer, peerLength);
            held->peerLength = peerLength;
        } else {
            held = nullptr;
        }
    }
    if (!held && made)
        PutListenerBack(*entry);
    pthread_mutex_unlock(&g_mutex);
    return held != nullptr;
}

int AcceptOnStandIn(int listener, sockaddr* peer, socklen_t* peerLength, int flags, bool& handedOver)
{
    handedOver = false;
    pthread_mutex_lock(&g_mutex);
    StandIn* entry = Find(listener);
    if (!entry || entry->role != Role::kListening) {
        pthread_mutex_unlock(&g_mutex);
        return -2;
    }
    for (Held& held : entry->held) {
        if (!held.used || !held.permitted)
            continue;
        int socket = held.socket;
        ClearMark(socket, kMarkKept);
        if (peer && peerLength) {
            std::memcpy(peer, &held.peer, *peerLength < held.peerLength ? *peerLength : held.peerLength);
            *peerLength = held.peerLength;
        }
        held.used = false;
        if (!AnyHeld(*entry, true)) {
            uint64_t count;
            kernel::Read(entry->signal, &count, sizeof count);
        }
        if (!AnyHeld(*entry, false))
            PutListenerBack(*entry);
        pthread_mutex_unlock(&g_mutex);
        // Under the lowest free number, as accept gives it, with the call's flags.
        const int fd = kernel::Fcntl(socket, (flags & SOCK_CLOEXEC) ? F_DUPFD_CLOEXEC : F_DUPFD, 0);
        const int error = errno;
        kernel::Close(socket);
        if (fd < 0) {
            errno = error;
            return -1;
        }
        const int status = kernel::Fcntl(fd, F_GETFL);
        if (status >= 0)
            kernel::Fcntl(fd, F_SETFL, (flags & SOCK_NONBLOCK) ? status | O_NONBLOCK : status & ~O_NONBLOCK);
        handedOver = true;
        return fd;
    }
    // The kernel's queue, through a copy: the program may close its number meanwhile.
    const int copy = kernel::Fcntl(entry->real, F_DUPFD_CLOEXEC, 0);
    pthread_mutex_unlock(&g_mutex);
    if (copy < 0)
        return -1;
    const int connection = kernel::Accept4(copy, peer, peerLength, flags);
    const int error = errno;
    kernel::Close(copy);
    errno = error;
    return connection;
}

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
