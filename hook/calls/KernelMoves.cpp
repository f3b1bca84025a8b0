// Bytes the kernel moves itself (sendfile, splice): into a datagram socket
// they leave as datagrams to its connected peer, out of one they are
// datagrams received, decided as a send or a receive is.
#include "hook/decisions/Decisions.h"

#include "hook/descriptors/Kernel.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/sendfile.h>
#include <sys/socket.h>
#include <sys/uio.h>

using namespace hook;

namespace {

// A datagram the kernel is to send from a file or pipe cannot be held back
// while the user decides: a call that does not wait hears "try again".
bool MaySendFromKernel(int fd, bool nonBlocking)
{
    if (!MayMoveData(fd, true, 0))
        return false;
    if (!IsKnownDatagram(fd))
        return true;
    Peer peer;
    const Verdict verdict = PermitsConnectedDatagram(fd, peer, nonBlocking ? MSG_DONTWAIT : 0);
    if (verdict == Verdict::kPermitted)
        return true;
    if (verdict == Verdict::kAsking)
        errno = EAGAIN;
    else
        Refuse(verdict, EPERM);
    return false;
}

// The next datagram is looked at first (MSG_PEEK): one that is not let in is
// taken off, as a receive does, and the kernel moves the next.
bool MayReceiveIntoKernel(int fd, bool nonBlocking)
{
    if (!MayMoveData(fd, false, 0))
        return false;
    if (!IsKnownDatagram(fd))
        return true;
    char first;
    iovec part {&first, 1};
    msghdr message {};
    message.msg_iov = &part;
    message.msg_iovlen = 1;
    return ReceiveByRecvmsg(fd, &message, MSG_PEEK | (nonBlocking ? MSG_DONTWAIT : 0)) >= 0;
}

}  // namespace

ZEL_HOOK ssize_t sendfile(int out, int in, off_t* offset, size_t count) noexcept
{
    REAL(sendfile);
    if (!MaySendFromKernel(out, false))
        return -1;
    return real_sendfile(out, in, offset, count);
}

ZEL_HOOK ssize_t sendfile64(int out, int in, off64_t* offset, size_t count) noexcept
{
    REAL(sendfile64);
    if (!MaySendFromKernel(out, false))
        return -1;
    return real_sendfile64(out, in, offset, count);
}

ZEL_HOOK ssize_t splice(int in, loff_t* inOffset, int out, loff_t* outOffset, size_t length, unsigned int flags)
{
    REAL(splice);
    const bool nonBlocking = flags & SPLICE_F_NONBLOCK;
    if (!MayReceiveIntoKernel(in, nonBlocking) || !MaySendFromKernel(out, nonBlocking))
        return -1;
    return real_splice(in, inOffset, out, outOffset, length, flags);
}
