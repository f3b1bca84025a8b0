#include "protocol/DecisionList.h"

#include "os/Files.h"
#include "os/hooksafe/Descriptors.h"
#include "text/Strings.h"

#include <cerrno>
#include <ctime>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace protocol::decision_list {

namespace {

// How long a program waits for another holder of the lock: a program that
// keeps it forever must not hang every program asking a question.
constexpr int kLockWaitMs = 500;
constexpr int kLockPollMs = 5;
// Replacements of the file met in a row before giving up.
constexpr int kMostReplacements = 8;

bool LockWithin(int fd)
{
    const timespec pause {0, kLockPollMs * 1000000L};
    for (int waited = 0; waited <= kLockWaitMs; waited += kLockPollMs) {
        if (::flock(fd, LOCK_EX | LOCK_NB) == 0)
            return true;
        if (errno != EWOULDBLOCK && errno != EINTR)
            return false;
        ::nanosleep(&pause, nullptr);
    }
    errno = EWOULDBLOCK;
    return false;
}

// The list's file, locked, and still the one at path (a rewrite may have
// replaced it while this waited for its lock); -1 with errno otherwise.
// Never through a link, never a FIFO or a device.
class LockedFile {
public:
    LockedFile(const std::string& path, int flags, const Limits& limits)
    {
        for (int attempt = 0; attempt < kMostReplacements && fd_ < 0; ++attempt) {
            const int fd = os::OpenRegularFile(path.c_str(), flags, 0600, false);
            if (fd < 0)
                return;
            struct stat held {}, now {};
            if (::fstat(fd, &held) != 0
                || (limits.privateFile && (held.st_uid != ::geteuid() || (held.st_mode & 022) != 0))) {
                ::close(fd);
                errno = EPERM;
                return;
            }
            if (!LockWithin(fd)) {
                const int error = errno;
                ::close(fd);
                errno = error;
                return;
            }
            if (::lstat(path.c_str(), &now) == 0 && now.st_dev == held.st_dev && now.st_ino == held.st_ino)
                fd_ = fd;
            else
                ::close(fd);
        }
        if (fd_ < 0)
            errno = EAGAIN;
    }
    ~LockedFile()
    {
        if (fd_ >= 0)
            ::close(fd_);
    }
    LockedFile(const LockedFile&) = delete;
    LockedFile& operator=(const LockedFile&) = delete;
    int Fd() const { return fd_; }

private:
    int fd_ = -1;
};

}  // namespace

bool Append(const std::string& path, std::string_view line, const Limits& limits)
{
    if (path.empty() || line.size() > limits.maxBytes)
        return false;
    const LockedFile file(path, O_WRONLY | O_CREAT | O_APPEND, limits);
    struct stat st {};
    if (file.Fd() < 0 || ::fstat(file.Fd(), &st) != 0 || static_cast<size_t>(st.st_size) >= limits.maxBytes)
        return false;
    return os::WriteAll(file.Fd(), line);
}

std::optional<std::string> Read(const std::string& path, const Limits& limits)
{
    if (path.empty())
        return std::nullopt;
    const LockedFile file(path, O_RDONLY, limits);
    if (file.Fd() < 0)
        return std::nullopt;
    return os::ReadFrom(file.Fd(), 4 * limits.maxBytes);
}

bool Rewrite(const std::string& path, const Limits& limits, const std::function<std::string(const std::string&)>& keep)
{
    if (path.empty())
        return false;
    errno = 0;
    const LockedFile file(path, O_RDONLY, limits);
    if (file.Fd() < 0)
        return errno == ENOENT;
    const auto text = os::ReadFrom(file.Fd(), 4 * limits.maxBytes);
    if (!text)
        return false;
    const std::string kept = keep(*text);
    // Replaced while the old file is still locked: an appender waiting for
    // it finds it replaced and appends to the new one.
    return kept == *text || os::WriteFileAtomically(path, kept, 0600, limits.durable);
}

bool SplitFields(std::string_view line, std::string_view* fields, int count)
{
    int found = 0;
    for (size_t start = 0; found < count; ++found) {
        const size_t tab = line.find('\t', start);
        fields[found] = line.substr(start, tab == std::string_view::npos ? std::string_view::npos : tab - start);
        if (tab == std::string_view::npos)
            return found + 1 == count;
        start = tab + 1;
    }
    return false;
}

void AddField(std::string& line, std::string_view field)
{
    line += '\t';
    line += text::EscapeLine(field);
}

bool IsNumber(std::string_view text)
{
    if (text.empty() || text.size() > 19)
        return false;
    for (const char c : text)
        if (c < '0' || c > '9')
            return false;
    return true;
}

void AddPeerFields(std::string& line, const Peer& peer)
{
    AddField(line, peer.outgoing ? "out" : "in");
    AddField(line, peer.protocol == 2 ? "UDP" : "TCP");
    AddField(line, peer.address);
    AddField(line, std::to_string(peer.remotePort));
    AddField(line, std::to_string(peer.localPort));
    AddField(line, peer.host);
    AddField(line, peer.permitted ? "allowed" : "blocked");
}

bool ParsePeerFields(const std::string_view* fields, Peer& peer)
{
    if ((fields[0] != "out" && fields[0] != "in") || (fields[1] != "TCP" && fields[1] != "UDP") || fields[2].empty()
        || !IsNumber(fields[3]) || !IsNumber(fields[4]) || (fields[6] != "allowed" && fields[6] != "blocked"))
        return false;
    peer.outgoing = fields[0] == "out";
    peer.protocol = fields[1] == "UDP" ? 2 : 1;
    peer.address = text::UnescapeLine(fields[2]);
    peer.remotePort = static_cast<unsigned>(text::ParseDecimal(fields[3]) & 0xFFFF);
    peer.localPort = static_cast<unsigned>(text::ParseDecimal(fields[4]) & 0xFFFF);
    peer.host = text::UnescapeLine(fields[5]);
    peer.permitted = fields[6] == "allowed";
    return true;
}

}  // namespace protocol::decision_list
