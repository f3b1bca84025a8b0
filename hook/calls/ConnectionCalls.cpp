// libzelhook.so: loaded into a program with LD_PRELOAD, it stands between the
// program and the socket calls of the C library. Every TCP connection made or
// accepted and every UDP datagram sent or received is put to the rule engine
// before it happens; a denied one never reaches the network. Everything that
// is not an IPv4 or IPv6 socket passes untouched.
//
// The hook is loaded into every program at its start, so it brings nothing
// along: no C++ runtime, no allocation at start, nothing resolved before it
// is needed. What a denial looks like to the program is what the kernel does
// in the nearest case: a refused connect, a connection reset before it was
// accepted, a datagram that never arrived.
#include "hook/decisions/Decisions.h"

#include "hook/Vfork.h"
#include "hook/decisions/Datagrams.h"
#include "hook/descriptors/Kernel.h"
#include "hook/descriptors/Peer.h"
#include "hook/descriptors/SocketTable.h"
#include "hook/descriptors/SocketView.h"
#include "hook/names/DnsReplies.h"
#include "hook/decisions/Questions.h"
#include "hook/decisions/StandIns.h"
#include "hook/EngineHost.h"
#include "os/hooksafe/Environment.h"

#include <cerrno>
#include <climits>
#include <cstring>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/uio.h>
#include <unistd.h>

using namespace hook;

namespace {

// The C library gives a constructor the program's arguments as main gets them.
__attribute__((constructor)) void HookAttach(int argc, char** argv, char**)
{
    StartUp(argc, argv);
    SetAsker(AskEngine);
    // What the program inherited is looked at now, before it can have
    // forbidden itself the calls that tell.
    if (!os::IsSecureExecution())
        LearnInheritedDescriptors();
}

}  // namespace

// ---- Connections -----------------------------------------------------------------

// A TCP connection is decided when it is made; a datagram socket's connect()
// only names the peer its datagrams go to, and they are decided when they
// leave or arrive: a socket connected only to learn a route (ping's probe, a
// browser's look for its own address) sends nothing and is never decided.
ZEL_HOOK int connect(int fd, const sockaddr* address, socklen_t length)
{
    REAL(connect);
    if (t_inside != 0)
        return real_connect(fd, address, length);
    SocketView view = View(fd);
    if (view.marks & (kMarkStandsIn | kMarkRefused)) {
        int result;
        if (ConnectAgain(fd, result))
            return result;
        if (TakeRefusal(fd)) {
            errno = ECONNREFUSED;
            return -1;
        }
    }
    Peer peer;
    Kind kind = kUnknown;
    const bool toPeer = address && DescribeDestination(fd, address, peer);
    if (address && address->sa_family == AF_UNSPEC) {
        // A socket disconnected: whatever it connects to next is decided anew.
        ForgetDatagrams(fd, false);
        SetDecidedPeer(fd, 0);
    } else if (toPeer) {
        kind = KindOf(view);
        if (kind == kTcpSocket) {
            Question question;
            Verdict verdict = PermitsConnection(view, peer, question);
            int result = 0;
            if (verdict == Verdict::kUndecided
                && (verdict = AskAboutConnection(view, address, length, peer, question, 0, true, result))
                    == Verdict::kAsking)
                return result;
            if (verdict != Verdict::kPermitted)
                return Refuse(verdict, ECONNREFUSED);
        } else if (kind == kUdpSocket) {
            // Until it is connected, its sends ask the kernel where they go.
            ForgetConnectedPeer(fd);
        }
    }
    int result = real_connect(fd, address, length);
    // Started before the kernel backstop was installed, the program had no
    // registration for it to take: it registers now and tries once more.
    if (result != 0 && errno == EPERM && toPeer && RegisterAgainWithBackstop())
        result = real_connect(fd, address, length);
    if (kind == kUdpSocket && result == 0)
        SetConnectedPeer(fd, peer);
    if (kind == kTcpSocket && peer.port == 53 && (result == 0 || errno == EINPROGRESS)) {
        const int error = errno;
        SetDnsStream(view);
        StartDnsStream(fd);
        errno = error;
    }
    return result;
}

namespace {

// accept and accept4 are decided alike; each makes its own system call.
int AcceptByAccept4(int fd, sockaddr* from, socklen_t* fromLength, int flags)
{
    REAL(accept4);
    return real_accept4(fd, from, fromLength, flags);
}

int AcceptByAccept(int fd, sockaddr* from, socklen_t* fromLength, int)
{
    REAL(accept);
    return real_accept(fd, from, fromLength);
}

}  // namespace

ZEL_HOOK int accept4(int fd, sockaddr* address, socklen_t* length, int flags)
{
    return Accepted(fd, address, length, flags, AcceptByAccept4);
}

ZEL_HOOK int accept(int fd, sockaddr* address, socklen_t* length)
{
    return Accepted(fd, address, length, 0, AcceptByAccept);
}
