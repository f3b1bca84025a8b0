// A connection being made that waits for the user's answer, while a full
// pipe stands in for it (StandIns.h).
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


namespace hook {

using namespace standins;

namespace {

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

}  // namespace hook
