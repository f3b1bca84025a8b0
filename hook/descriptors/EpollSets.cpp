#include "hook/descriptors/EpollSets.h"

#include "hook/descriptors/Kernel.h"
#include "hook/descriptors/OpenDescriptors.h"
#include "hook/descriptors/SocketTable.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace hook {

namespace {

// value's decimal digits written at text, with the ending zero.
void WriteNumber(char* text, unsigned value)
{
    char digits[12];
    int length = 0;
    do
        digits[length++] = static_cast<char>('0' + value % 10);
    while (value /= 10);
    while (length > 0)
        *text++ = digits[--length];
    *text = '\0';
}

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
    WriteNumber(path + std::strlen(path), static_cast<unsigned>(epoll));
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
    struct Search {
        int fd;
        unsigned long inode;
        EpollRegistrations& found;
    } search {fd, inode, found};
    ForEachOpenDescriptor(0, [](int number, int folder, const char* name, void* context) {
        auto& wanted = *static_cast<Search*>(context);
        if (number != wanted.fd && KnownKind(number) == kUnknown && IsEpollSet(folder, name))
            ReadSet(number, wanted.fd, wanted.inode, wanted.found);
    }, &search);
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
