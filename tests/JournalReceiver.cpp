#include "tests/JournalReceiver.h"

#include <cerrno>
#include <cstring>
#include <poll.h>
#include <stdexcept>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace testing_support {

JournalReceiver::JournalReceiver(std::string path) : path_(std::move(path)), buffer_(8 << 20)
{
    sockaddr_un address {};
    address.sun_family = AF_UNIX;
    if (path_.size() >= sizeof address.sun_path)
        throw std::runtime_error("journal socket path too long");
    std::memcpy(address.sun_path, path_.c_str(), path_.size());
    fd_ = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    const int size = 8 << 20;
    ::setsockopt(fd_, SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
    ::unlink(path_.c_str());
    if (::bind(fd_, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        ::close(fd_);
        fd_ = -1;
    }
}

JournalReceiver::~JournalReceiver()
{
    if (fd_ >= 0) {
        ::close(fd_);
        ::unlink(path_.c_str());
    }
}

std::optional<JournalReceiver::Entry> JournalReceiver::Receive(std::chrono::milliseconds timeout)
{
    if (fd_ < 0)
        return std::nullopt;
    pollfd waiting {fd_, POLLIN, 0};
    if (::poll(&waiting, 1, static_cast<int>(timeout.count())) <= 0)
        return std::nullopt;
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int))] {};
    iovec part {buffer_.data(), buffer_.size()};
    msghdr message {};
    message.msg_iov = &part;
    message.msg_iovlen = 1;
    message.msg_control = control;
    message.msg_controllen = sizeof control;
    const ssize_t n = ::recvmsg(fd_, &message, MSG_CMSG_CLOEXEC);
    if (n < 0)
        return std::nullopt;
    std::string data(buffer_.data(), static_cast<size_t>(n));
    for (cmsghdr* header = CMSG_FIRSTHDR(&message); header; header = CMSG_NXTHDR(&message, header)) {
        if (header->cmsg_level != SOL_SOCKET || header->cmsg_type != SCM_RIGHTS)
            continue;
        int file = -1;
        std::memcpy(&file, CMSG_DATA(header), sizeof file);
        struct stat st {};
        ::fstat(file, &st);
        data.assign(static_cast<size_t>(st.st_size), '\0');
        const ssize_t read = ::pread(file, data.data(), data.size(), 0);
        ::close(file);
        if (read != st.st_size)
            data.clear();
        ++fileEntries_;
    }
    auto entry = Parse(data);
    if (!entry)
        ++malformed_;
    return entry ? entry : Entry {};
}

std::optional<JournalReceiver::Entry> JournalReceiver::Parse(const std::string& data)
{
    Entry entry;
    size_t at = 0;
    while (at < data.size()) {
        const size_t lineEnd = data.find('\n', at);
        if (lineEnd == std::string::npos)
            return std::nullopt;
        const size_t equals = data.find('=', at);
        if (equals != std::string::npos && equals < lineEnd) {
            entry.emplace(data.substr(at, equals - at), data.substr(equals + 1, lineEnd - equals - 1));
            at = lineEnd + 1;
            continue;
        }
        // NAME, a line break, the size in 64 bits little endian, the bytes, a line break.
        const std::string name = data.substr(at, lineEnd - at);
        at = lineEnd + 1;
        if (data.size() - at < 8)
            return std::nullopt;
        uint64_t size = 0;
        for (int i = 7; i >= 0; --i)
            size = size << 8 | static_cast<unsigned char>(data[at + static_cast<size_t>(i)]);
        at += 8;
        if (data.size() - at < size + 1 || data[at + size] != '\n')
            return std::nullopt;
        entry.emplace(name, data.substr(at, size));
        at += size + 1;
    }
    return entry;
}

std::string Field(const JournalReceiver::Entry& entry, const std::string& name)
{
    const size_t count = entry.count(name);
    if (count == 0)
        return "<none>";
    if (count > 1)
        return "<" + std::to_string(count) + " values>";
    return entry.find(name)->second;
}

}  // namespace testing_support
