#pragma once

#include <atomic>
#include <sys/stat.h>
#include <sys/types.h>

// Opening files safely and keeping descriptors for a program's whole life.
// Part of the platform core: no C++ runtime.
namespace os {

// Opens path only when it is a regular file: never waits on a FIFO or a
// device, never follows a symbolic link at the end of the path unless
// followLinks. flags are open(2) flags (O_CLOEXEC is added). Returns the
// descriptor, or -1 with errno (EINVAL for a file that is not regular).
int OpenRegularFile(const char* path, int flags, mode_t mode = 0, bool followLinks = true);
// The same relative to a folder descriptor.
int OpenRegularFileAt(int folder, const char* name, int flags, mode_t mode = 0, bool followLinks = true);

// True for failures that go away by themselves: no descriptor or memory left.
bool IsTransientError(int error);

// Where kept descriptors go: far above the numbers a program uses, so that a
// program which closes descriptors behind our back and opens new ones is
// unlikely ever to get one of our numbers.
int MoveDescriptorHigh(int fd);

// A descriptor kept for a long time in somebody else's program. It lives at a
// high number with close-on-exec, remembers which file it is, and is put under
// the guard (when there is one) that keeps the program's own close calls off it.
// Its owner closes it: it has no destructor, so that one can sit in static
// storage of the hook without anything to run at the program's start or end.
class KeptDescriptor {
public:
    constexpr KeptDescriptor() = default;
    KeptDescriptor(const KeptDescriptor&) = delete;
    KeptDescriptor& operator=(const KeptDescriptor&) = delete;

    // Takes fd over (it may be moved to another number); false when fd < 0.
    bool Adopt(int fd);
    // The same for a descriptor whose file the caller has just looked at (st):
    // spares asking the kernel again.
    bool Adopt(int fd, const struct stat& st);
    int Get() const { return fd_.load(std::memory_order_acquire); }
    bool IsOpen() const { return Get() >= 0; }
    // Still the file it was adopted as (not closed and reused behind our back).
    bool StillOurs() const;
    // Stops using the number without closing it: it belongs to someone else now.
    void Forget();
    void Close();

private:
    std::atomic<int> fd_ {-1};
    dev_t device_ = 0;
    ino_t inode_ = 0;
};

// Installed by whoever can keep a program's close calls off kept descriptors
// (the hook); keep is called with the holder of a descriptor that must stay
// open, release when it is given up. The holder's number may be changed by
// the guard when the program insists on that number (dup2).
using DescriptorGuardFn = void (*)(std::atomic<int>* holder);
void SetDescriptorGuard(DescriptorGuardFn keep, DescriptorGuardFn release);

}  // namespace os
