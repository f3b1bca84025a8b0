// A listener whose incoming connection waits for the user's answer, held
// back while an epoll set of the firewall's stands in for it (StandIns.h).
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
        // Kept under a number of the firewall's from the start: its peer
        // resetting it withdraws the question (nobody is left to answer
        // for), watched by that number whenever the question's turn comes.
        const int kept = kernel::MoveHigh(kernel::Fcntl(connection, F_DUPFD_CLOEXEC, 0));
        held->question = kept < 0 ? -1
            : AskInBackground(question, HeldAnswered,
                              Token(IndexOf(*entry), static_cast<uint32_t>(held - entry->held), entry->generation), kept);
        if (held->question < 0 && kept >= 0)
            kernel::Close(kept);
        if (held->question >= 0) {
            held->used = true;
            held->permitted = false;
            held->socket = Kept(kept);
            kernel::Close(connection);
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

}  // namespace hook
