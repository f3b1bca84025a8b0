#include "zelconn/BackstopNotices.h"

#include "protocol/BackstopSocket.h"

#include <cerrno>
#include <cstring>
#include <sstream>
#include <sys/socket.h>
#include <unistd.h>

namespace zelconn {

std::string BackstopNotices::SocketPath() { return protocol::backstop_socket::ForThisUser(); }

BackstopNotices::~BackstopNotices()
{
    if (fd_ >= 0)
        ::close(fd_);
}

int BackstopNotices::Fd(std::chrono::steady_clock::time_point now)
{
    if (fd_ >= 0 || now < nextTry_)
        return fd_;
    nextTry_ = now + std::chrono::seconds(5);
    const int fd = protocol::backstop_socket::Connect(path_, serviceUid_);
    if (fd < 0)
        return -1;
    fd_ = fd;
    pending_.clear();
    return fd_;
}

std::optional<BackstopNotices::Notice> BackstopNotices::Next()
{
    for (;;) {
        const size_t end = pending_.find('\n');
        if (end != std::string::npos) {
            const std::string line = pending_.substr(0, end);
            pending_.erase(0, end + 1);
            if (auto notice = Parse(line))
                return notice;
            continue;
        }
        if (fd_ < 0)
            return std::nullopt;
        char buffer[4096];
        const ssize_t n = ::recv(fd_, buffer, sizeof buffer, MSG_DONTWAIT);
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR))
            return std::nullopt;
        if (n <= 0 || pending_.size() > 65536) {
            // The service ended (or talks nonsense): connect again later.
            ::close(fd_);
            fd_ = -1;
            pending_.clear();
            return std::nullopt;
        }
        pending_.append(buffer, static_cast<size_t>(n));
    }
}

std::optional<BackstopNotices::Notice> BackstopNotices::Parse(const std::string& line)
{
    std::istringstream in(line);
    std::string verdict, protocol;
    Notice notice;
    long pid = 0;
    if (!(in >> verdict >> pid >> notice.address >> notice.port))
        return std::nullopt;
    notice.incoming = verdict.ends_with("-in");
    if (notice.incoming) {
        verdict.resize(verdict.size() - 3);
        if (!(in >> notice.localPort) || notice.localPort > 65535)
            return std::nullopt;
    }
    if (!(in >> protocol) || (verdict != "denied" && verdict != "passed" && verdict != "asked")
        || pid <= 0 || notice.port > 65535 || (protocol != "TCP" && protocol != "UDP"))
        return std::nullopt;
    notice.asked = verdict == "asked";
    notice.denied = verdict != "passed";
    notice.pid = static_cast<pid_t>(pid);
    notice.protocol = protocol == "TCP" ? 1 : 2;
    std::getline(in >> std::ws, notice.program);
    if (notice.program.empty())
        return std::nullopt;
    return notice;
}

}  // namespace zelconn
