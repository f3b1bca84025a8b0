#include "backstop/NoticeRelay.h"

#include "os/Net.h"

#include "protocol/LogFiles.h"
#include "protocol/TrafficLog.h"
#include "text/Strings.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace backstop {

namespace {

// One notice per program (by its executable) and verdict in this long.
constexpr std::chrono::minutes kNoticeInterval {10};

const char* ModeWord(unsigned mode)
{
    return mode == ZEL_BACKSTOP_RULES ? "rules" : mode == ZEL_BACKSTOP_DENY ? "deny" : "notify";
}

// Whether a client that poll() says is readable has closed: it never sends.
bool Closed(int fd)
{
    char scrap[256];
    const ssize_t n = ::recv(fd, scrap, sizeof scrap, MSG_DONTWAIT);
    return !(n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR));
}

}  // namespace

bool NoticeRelay::Listen(std::string& error)
{
    sockaddr_un address;
    if (path_.empty() || !os::net::UnixSocketAddress(path_, address)) {
        error = "the socket path is empty or too long";
        return false;
    }
    const size_t slash = path_.rfind('/');
    const std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : path_.substr(0, slash);
    // The socket's folder is root's alone, or another user could put a
    // socket of theirs in its place.
    ::mkdir(folder.c_str(), 0755);
    struct stat info {};
    if (::lstat(folder.c_str(), &info) != 0 || !S_ISDIR(info.st_mode) || info.st_uid != 0
        || (info.st_mode & (S_IWGRP | S_IWOTH)) != 0) {
        error = folder + " is not a folder that only root may write";
        return false;
    }
    if (::lstat(path_.c_str(), &info) == 0) {
        if (!S_ISSOCK(info.st_mode)) {
            error = path_ + " is there and is not a socket";
            return false;
        }
        ::unlink(path_.c_str()); // a stale one: this backstop's relay is this process (it holds the lock)
    }
    listener_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (listener_ < 0) {
        error = std::strerror(errno);
        return false;
    }
    // Made root's and private (0600), then given to the user: no moment
    // when another may connect.
    const mode_t previous = ::umask(0177);
    const int bound = ::bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address);
    ::umask(previous);
    // The services' socket: root's and the administrators' group's.
    const bool shared = uid_ == ZEL_BACKSTOP_SERVICES;
    const bool owned = shared ? administrators_ == static_cast<gid_t>(-1)
            || (::chown(path_.c_str(), 0, administrators_) == 0 && ::chmod(path_.c_str(), 0660) == 0)
                              : ::chown(path_.c_str(), uid_, static_cast<gid_t>(-1)) == 0;
    if (bound != 0 || ::lstat(path_.c_str(), &info) != 0 || !owned || ::listen(listener_, 16) != 0) {
        error = std::strerror(errno);
        if (bound == 0)
            ::unlink(path_.c_str());
        ::close(listener_);
        listener_ = -1;
        return false;
    }
    device_ = info.st_dev;
    inode_ = info.st_ino;
    return true;
}

std::vector<pollfd> NoticeRelay::Waits() const
{
    std::vector<pollfd> waits;
    if (listener_ < 0)
        return waits;
    waits.push_back({listener_, POLLIN, 0});
    for (const int client : clients_)
        waits.push_back({client, POLLIN | POLLRDHUP, 0});
    return waits;
}

void NoticeRelay::Served(const pollfd* waits, size_t count)
{
    if (count == 0)
        return;
    // Clients first, by their places when Waits() was called; from the last,
    // so that the earlier places stay.
    for (size_t i = std::min(count - 1, clients_.size()); i > 0; --i) {
        const size_t index = i - 1;
        if (waits[i].revents != 0 && waits[i].fd == clients_[index] && Closed(clients_[index]))
            Drop(index);
    }
    if (waits[0].revents & POLLIN)
        Accept();
}

void NoticeRelay::Accept()
{
    for (;;) {
        const int client = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
        if (client < 0)
            return;
        const bool allowed = Allowed(client);
        if (allowed && clients_.size() >= kMaxClients)
            Prune(); // closed clients not yet seen go before a new one is turned away
        if (!allowed || clients_.size() >= kMaxClients) {
            ::close(client);
            continue;
        }
        // What the backstop does, first.
        const std::string state = std::string("state ") + ModeWord(mode_) + "\n";
        if (::send(client, state.data(), state.size(), MSG_NOSIGNAL | MSG_DONTWAIT) != static_cast<ssize_t>(state.size())) {
            ::close(client);
            continue;
        }
        clients_.push_back(client);
    }
}

bool NoticeRelay::Allowed(int client) const
{
    ucred peer {};
    socklen_t size = sizeof peer;
    if (::getsockopt(client, SOL_SOCKET, SO_PEERCRED, &peer, &size) != 0)
        return false;
    if (peer.uid == 0 || (uid_ != ZEL_BACKSTOP_SERVICES && peer.uid == uid_))
        return true;
    if (uid_ != ZEL_BACKSTOP_SERVICES || administrators_ == static_cast<gid_t>(-1))
        return false;
    // An administrator: the group among the client's, as the kernel knew them when it connected.
    gid_t groups[256];
    size = sizeof groups;
    if (::getsockopt(client, SOL_SOCKET, SO_PEERGROUPS, groups, &size) != 0)
        return false;
    for (size_t i = 0; i < size / sizeof groups[0]; ++i)
        if (groups[i] == administrators_)
            return true;
    return peer.gid == administrators_;
}

void NoticeRelay::Record(const zel_backstop_event& event, const std::string& program, const std::string& address) const
{
    if (logFolder_.empty())
        return;
    const protocol::TrafficLog log(logFolder_);
    const std::string name = program.substr(program.rfind('/') + 1);
    const std::string head
        = protocol::ConnectionRecordHead(text::EscapeLogText(program), text::EscapeLogText(name));
    const protocol::ConnectionRecord record {&head,
                                             event.protocol == 17 ? 2 : 1,
                                             event.incoming ? 0 : 1,
                                             address.c_str(),
                                             event.incoming ? event.local_port : 0u,
                                             event.port,
                                             event.verdict == ZEL_VERDICT_PASSED ? 1 : 0,
                                             true};
    protocol::RecordText body;
    protocol::FormatConnectionBody(record, body);
    body.Append(protocol::kOpenTag<protocol::record_tag::kBackstop>);
    body.Append("1");
    body.Append(protocol::kEndTag<protocol::record_tag::kBackstop>);
    log.AppendLogRecord(body.View(), std::time(nullptr));
}

void NoticeRelay::Prune()
{
    for (size_t i = clients_.size(); i > 0; --i) {
        pollfd wait {clients_[i - 1], POLLIN | POLLRDHUP, 0};
        if (::poll(&wait, 1, 0) > 0 && Closed(clients_[i - 1]))
            Drop(i - 1);
    }
}

void NoticeRelay::Drop(size_t index)
{
    ::close(clients_[index]);
    clients_.erase(clients_.begin() + static_cast<long>(index));
}

void NoticeRelay::Tell(const zel_backstop_event& event)
{
    // The program by the name the kernel took when it was executed; its
    // whole path while the process still runs it. A program that ended
    // already is named by its file name alone (or, run before the backstop
    // and never seen executed, by its command name).
    const std::string name = event.named ? std::string(event.name, strnlen(event.name, sizeof event.name)) : std::string();
    char link[64];
    std::snprintf(link, sizeof link, "/proc/%u/exe", event.pid);
    char path[4096];
    const ssize_t length = ::readlink(link, path, sizeof path - 1);
    std::string program = length > 0 ? std::string(path, static_cast<size_t>(length)) : std::string();
    if (program.ends_with(" (deleted)"))
        program.resize(program.size() - 10);
    if (!name.empty() && program.substr(program.rfind('/') + 1) != name)
        program = name;
    if (program.empty())
        program = std::string(event.comm, strnlen(event.comm, sizeof event.comm));
    // A program's name is shown on a line of its own: no line breaks in it.
    for (char& c : program)
        if (c == '\n' || c == '\r')
            c = '?';
    const char* verdict = event.verdict == ZEL_VERDICT_ASKED ? "asked"
        : event.verdict == ZEL_VERDICT_DENIED               ? "denied"
                                                            : "passed";
    // Once a while per program and verdict: a change of mode is news. A
    // question is the kernel's to space out: each one counts.
    if (event.verdict != ZEL_VERDICT_ASKED) {
        const std::string key = std::to_string(event.mode) + " " + verdict + (event.incoming ? " in " : " ") + program;
        const auto now = std::chrono::steady_clock::now();
        const auto last = lastNotice_.find(key);
        if (last != lastNotice_.end() && now - last->second < kNoticeInterval)
            return;
        if (lastNotice_.size() > 4096)
            lastNotice_.clear();
        lastNotice_[key] = now;
    }

    // An IPv4 address mapped into IPv6 is written as the IPv4 address, as the hook names it.
    static constexpr unsigned char kMapped[12] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xff, 0xff};
    const bool mapped = event.family == AF_INET6 && std::memcmp(event.address, kMapped, sizeof kMapped) == 0;
    char address[INET6_ADDRSTRLEN] = "?";
    if (event.family == AF_INET6 && !mapped)
        ::inet_ntop(AF_INET6, event.address, address, sizeof address);
    else
        ::inet_ntop(AF_INET, mapped ? event.address + 12 : event.address, address, sizeof address);
    // Incoming: "-in", and the program's own port after the peer's.
    char head[256];
    if (event.incoming)
        std::snprintf(head, sizeof head, "%s-in %u %s %u %u %s ", verdict, event.pid, address, event.port,
                      event.local_port, event.protocol == 17 ? "UDP" : "TCP");
    else
        std::snprintf(head, sizeof head, "%s %u %s %u %s ", verdict, event.pid, address, event.port,
                      event.protocol == 17 ? "UDP" : "TCP");
    const std::string line = head + program + "\n";
    Record(event, program, address);
    std::fputs(line.c_str(), stdout);
    std::fflush(stdout);
    for (size_t i = clients_.size(); i > 0; --i)
        if (::send(clients_[i - 1], line.data(), line.size(), MSG_NOSIGNAL | MSG_DONTWAIT)
            != static_cast<ssize_t>(line.size()))
            Drop(i - 1);
}

NoticeRelay::~NoticeRelay()
{
    for (const int client : clients_)
        ::close(client);
    if (listener_ < 0)
        return;
    ::close(listener_);
    // Only the socket this relay made: a relay of a backstop started since
    // may have put its own there.
    struct stat info {};
    if (::lstat(path_.c_str(), &info) == 0 && info.st_dev == device_ && info.st_ino == inode_)
        ::unlink(path_.c_str());
}

}  // namespace backstop
