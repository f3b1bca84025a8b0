#include "zelconn/JournalSocket.h"

#include "os/Files.h"
#include "os/Net.h"
#include "os/hooksafe/Environment.h"
#include "os/hooksafe/Retry.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace zelconn {

std::string JournalSocket::DefaultPath()
{
    const char* configured = os::GetEnv("ZEL_JOURNAL_SOCKET");
    return configured && *configured ? configured : "/run/systemd/journal/socket";
}

JournalSocket::~JournalSocket() { Disconnect(); }

bool JournalSocket::Connect()
{
    sockaddr_un address;
    if (path_.empty() || !os::net::UnixSocketAddress(path_, address))
        return false;
    fd_ = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd_ < 0)
        return false;
    if (::connect(fd_, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        Disconnect();
        return false;
    }
    return true;
}

void JournalSocket::Disconnect()
{
    if (fd_ >= 0)
        ::close(fd_);
    fd_ = -1;
}

JournalSocket::Sent JournalSocket::Send(std::string_view datagram)
{
    // A journal that restarted listens on a new socket: connected anew once.
    for (int attempt = 0; attempt < 2; ++attempt) {
        if (fd_ < 0 && !Connect())
            return Sent::kAbsent;
        const ssize_t n = os::RetryOnInterrupt(
            [&] { return ::send(fd_, datagram.data(), datagram.size(), MSG_NOSIGNAL | MSG_DONTWAIT); });
        if (n >= 0)
            return Sent::kSent;
        if (errno == EAGAIN || errno == EWOULDBLOCK || errno == ENOBUFS)
            return Sent::kBusy;
        if (errno == EMSGSIZE)
            return SendAsFile(datagram);
        if (errno != ECONNREFUSED && errno != ENOTCONN && errno != ECONNRESET && errno != ENOENT && errno != EPIPE)
            return Sent::kRefused;
        Disconnect();
    }
    return Sent::kAbsent;
}

JournalSocket::Sent JournalSocket::SendAsFile(std::string_view datagram)
{
    // The journal takes an entry of any size from a memory file it is sure
    // nobody changes any more: sealed before it is sent.
    const int file = ::memfd_create("journal-entry", MFD_CLOEXEC | MFD_ALLOW_SEALING);
    if (file < 0)
        return Sent::kRefused;
    if (!os::WriteAll(file, datagram)) {
        ::close(file);
        return Sent::kRefused;
    }
    if (::fcntl(file, F_ADD_SEALS, F_SEAL_SHRINK | F_SEAL_GROW | F_SEAL_WRITE | F_SEAL_SEAL) != 0) {
        ::close(file);
        return Sent::kRefused;
    }
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int))] {};
    msghdr message {};
    message.msg_control = control;
    message.msg_controllen = sizeof control;
    cmsghdr* header = CMSG_FIRSTHDR(&message);
    header->cmsg_level = SOL_SOCKET;
    header->cmsg_type = SCM_RIGHTS;
    header->cmsg_len = CMSG_LEN(sizeof(int));
    std::memcpy(CMSG_DATA(header), &file, sizeof file);
    const ssize_t n = os::RetryOnInterrupt([&] { return ::sendmsg(fd_, &message, MSG_NOSIGNAL | MSG_DONTWAIT); });
    const int error = errno;
    ::close(file);
    if (n >= 0)
        return Sent::kSent;
    if (error == EAGAIN || error == EWOULDBLOCK || error == ENOBUFS)
        return Sent::kBusy;
    if (error == ECONNREFUSED || error == ENOTCONN || error == ECONNRESET || error == EPIPE) {
        Disconnect();
        return Sent::kAbsent;
    }
    return Sent::kRefused;
}

}  // namespace zelconn
