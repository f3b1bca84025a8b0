// What the hook knows of a descriptor, when the program closes, replaces or
// copies it: forgotten with the number, or copied with it.
#include "hook/descriptors/Lifecycle.h"

#include "hook/Vfork.h"
#include "hook/decisions/Datagrams.h"
#include "hook/descriptors/SocketTable.h"
#include "hook/descriptors/SocketView.h"
#include "hook/names/DnsReplies.h"

namespace hook {

// Not from a vfork child: what it closes or replaces is its own copy of the
// number, and what the hook knows of it is the parent's (Vfork.h).
void ForgetDescriptor(int fd)
{
    if (InParentsMemory())
        return;
    const SocketView view = View(fd);
    // The generation counted first: a verdict still being written for the
    // old socket sees the number changed (RememberVerdict, SetDecidedPeer).
    Forget(fd);
    if (view.kind == kUdpSocket)
        ForgetDatagrams(fd);
    if (view.dnsStream)
        EndDnsStream(fd);
}

void ForgetRange(unsigned first, unsigned last)
{
    if (InParentsMemory())
        return;
    unsigned fd = 0;
    for (unsigned from = first; from <= last && FirstKnownIn(from, last, fd); from = fd + 1)
        ForgetDescriptor(static_cast<int>(fd));
}

// A descriptor duplicated: what is known of the original holds for the copy.
int Duplicated(int from, int to)
{
    if (to >= 0 && to != from && !InParentsMemory()) {
        ForgetDescriptor(to);
        CopyKnowledge(from, to);
        if (KnownKind(from) == kUdpSocket) {
            ShareDatagramSocket(from);
            ShareDatagramSocket(to);
        }
    }
    return to;
}

}  // namespace hook
