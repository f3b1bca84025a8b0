#include "EpollSets.h"

#include "Kernel.h"
#include "SocketTable.h"

#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace hook {

namespace {

bool IsEpollSet(int folder, const char* name)
{
    static constexpr char kEventPoll[] = "anon_inode:[eventpoll]";
    char target[sizeof kEventPoll + 1];
    const ssize_t length = ::readlinkat(folder, name, target, sizeof target);
    return length == static_cast<ssize_t>(sizeof kEventPoll - 1) && std::memcmp(target, kEventPoll, length) == 0;
}

// "key:" followed by a number in base; false when the key is not in line.
bool Field(const char* line, const char* end, const char* key, int base, unsigned long long& value)
{
    const size_t keyLength = std::strlen(key);
    for (const char* at = line; at + keyLength <= end; ++at) {
        if (std::memcmp(at, key, keyLength) != 0)
            continue;
        at += keyLength;
        while (at < end && *at == ' ')
            ++at;
        value = 0;
        bool any = false;
        for (; at < end; ++at) {
            int digit;
            if (*at >= '0' && *at <= '9')
                digit = *at - '0';
            else if (base == 16 && *at >= 'a' && *at <= 'f')
                digit = *at - 'a' + 10;
            else
                break;
            value = value * base + digit;
            any = true;
        }
        return any;
    }
    return false;
}

// One line of an epoll set's fdinfo: "tfd: FD events: HEX data: HEX pos:N ino:HEX sdev:HEX".
void TakeLine(int epoll, const char* line, const char* end, int fd, unsigned long inode, EpollRegistrations& found)
{
    unsigned long long target, events, data, ino;
    if (end - line < 4 || std::memcmp(line, "tfd:", 4) != 0 || !Field(line, end, "tfd:", 10, target)
        || static_cast<int>(target) != fd || !Field(line, end, "events:", 16, events)
        || !Field(line, end, "data:", 16, data) || !Field(line, end, "ino:", 16, ino) || ino != inode
        || found.count >= kMaxEpollRegistrations)
        return;
    found.items[found.count++] = {epoll, static_cast<uint32_t>(events), data};
}

void ReadSet(int epoll, int fd, unsigned long inode, EpollRegistrations& found)
{
    char path[48] = "/proc/self/fdinfo/";
    char digits[12];
    int length = 0;
    for (unsigned value = static_cast<unsigned>(epoll); length == 0 || value; value /= 10)
        digits[length++] = static_cast<char>('0' + value % 10);
    size_t at = std::strlen(path);
    while (length > 0)
        path[at++] = digits[--length];
    path[at] = '\0';
    const int info = ::open(path, O_RDONLY | O_CLOEXEC);
    if (info < 0)
        return;
    // Line by line through a window: a set of many descriptors is long.
    char buffer[4096];
    size_t held = 0;
    for (;;) {
        const ssize_t n = kernel::Read(info, buffer + held, sizeof buffer - held);
        if (n <= 0)
            break;
        held += static_cast<size_t>(n);
        size_t start = 0;
        for (size_t i = 0; i < held; ++i)
            if (buffer[i] == '\n') {
                TakeLine(epoll, buffer + start, buffer + i, fd, inode, found);
                start = i + 1;
            }
        if (start == 0 && held == sizeof buffer)
            held = 0; // a line longer than any the kernel writes: dropped
        std::memmove(buffer, buffer + start, held - start);
        held -= start;
    }
    kernel::Close(info);
}

}  // namespace

void EpollRegistrations::Follow(int epoll, int op, const epoll_event* event)
{
    unsigned at = 0;
    while (at < count && items[at].epoll != epoll)
        ++at;
    if (op == EPOLL_CTL_DEL) {
        if (at < count)
            items[at] = items[--count];
    } else if (event && (op == EPOLL_CTL_ADD || op == EPOLL_CTL_MOD)) {
        if (at == count && count < kMaxEpollRegistrations)
            ++count;
        if (at < count)
            items[at] = {epoll, event->events, event->data.u64};
    }
}

void FindEpollRegistrations(int fd, unsigned long inode, EpollRegistrations& found)
{
    found.count = 0;
    const int folder = ::open("/proc/self/fd", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder < 0)
        return;
    alignas(8) char entries[4096];
    for (int rounds = 0; rounds < 4096; ++rounds) {
        const long length = ::syscall(SYS_getdents64, folder, entries, sizeof entries);
        if (length <= 0)
            break;
        for (long at = 0; at < length;) {
            const auto* entry = reinterpret_cast<const dirent64*>(entries + at);
            at += entry->d_reclen;
            int number = 0;
            const char* digit = entry->d_name;
            for (; *digit >= '0' && *digit <= '9' && number < (1 << 24); ++digit)
                number = number * 10 + (*digit - '0');
            if (*digit != '\0' || digit == entry->d_name || number == folder || number == fd
                || KnownKind(number) != kUnknown)
                continue;
            if (IsEpollSet(folder, entry->d_name))
                ReadSet(number, fd, inode, found);
        }
    }
    kernel::Close(folder);
}

void LeaveEpollSets(int fd, const EpollRegistrations& registrations)
{
    for (unsigned i = 0; i < registrations.count; ++i)
        kernel::EpollControl(registrations.items[i].epoll, EPOLL_CTL_DEL, fd, nullptr);
}

void JoinEpollSets(int fd, const EpollRegistrations& registrations)
{
    for (unsigned i = 0; i < registrations.count; ++i) {
        epoll_event event {};
        event.events = registrations.items[i].events;
        event.data.u64 = registrations.items[i].data;
        kernel::EpollControl(registrations.items[i].epoll, EPOLL_CTL_ADD, fd, &event);
    }
}

}  // namespace hook
