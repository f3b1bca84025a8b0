#include "protocol/BackstopSocket.h"

#include "os/Net.h"
#include "os/hooksafe/Environment.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace protocol::backstop_socket {

std::string PathFor(const std::string& name) { return std::string(kFolder) + "/" + name + ".sock"; }

std::string ForThisUser()
{
    const char* configured = os::GetEnv("ZEL_BACKSTOP_SOCKET");
    return configured && *configured ? configured : PathFor(std::to_string(::getuid()));
}

int Connect(const std::string& path, uid_t serviceUid)
{
    sockaddr_un address;
    if (!os::net::UnixSocketAddress(path, address))
        return -1;
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0)
        return -1;
    // A connect on a local socket is immediate; non-blocking it may say
    // EAGAIN when the service's queue is full: the caller tries again later.
    ucred peer {};
    socklen_t size = sizeof peer;
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0
        || ::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &size) != 0 || peer.uid != serviceUid) {
        ::close(fd);
        return -1;
    }
    return fd;
}

bool Answers(const std::string& path, uid_t serviceUid)
{
    const int fd = Connect(path, serviceUid);
    if (fd < 0)
        return false;
    ::close(fd);
    return true;
}

}  // namespace protocol::backstop_socket
