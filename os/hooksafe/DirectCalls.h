#pragma once

#include <cerrno>
#include <cstddef>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/types.h>
#include <unistd.h>

// File calls made straight to the kernel, not through the C library's
// symbols. Inside somebody else's program those symbols may be another
// preloaded library's wrappers, which can misbehave once that library has
// ended (its static objects destroyed) while the program is exiting; the
// hook and the engine still do I/O then (the program's end record, the
// registration left). Same results and errno as the C library's calls.
// Part of the platform core: no C++ runtime. Where the kernel's calls are
// not known here, the C library's are used.
namespace os::direct {

// Under ThreadSanitizer the C library's calls are used: it follows
// descriptors through them, and one opened or closed behind its back makes
// it report the next user of that number as a race.
#if defined(__SANITIZE_THREAD__)
#define ZEL_DIRECT_CALLS 0
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define ZEL_DIRECT_CALLS 0
#endif
#endif
#if !defined(ZEL_DIRECT_CALLS) && (defined(__x86_64__) || defined(__aarch64__))
#define ZEL_DIRECT_CALLS 1
#endif

#if ZEL_DIRECT_CALLS

inline long Call(long number, long a = 0, long b = 0, long c = 0, long d = 0)
{
#if defined(__x86_64__)
    long result;
    register long r10 __asm__("r10") = d;
    __asm__ volatile("syscall"
                     : "=a"(result)
                     : "a"(number), "D"(a), "S"(b), "d"(c), "r"(r10)
                     : "rcx", "r11", "memory");
    return result;
#else
    register long x8 __asm__("x8") = number;
    register long x0 __asm__("x0") = a;
    register long x1 __asm__("x1") = b;
    register long x2 __asm__("x2") = c;
    register long x3 __asm__("x3") = d;
    __asm__ volatile("svc 0" : "+r"(x0) : "r"(x8), "r"(x1), "r"(x2), "r"(x3) : "memory");
    return x0;
#endif
}

// The C library's convention: -1 and errno on failure.
inline long Result(long result)
{
    if (result < 0 && result > -4096) {
        errno = static_cast<int>(-result);
        return -1;
    }
    return result;
}

inline int OpenAt(int folder, const char* path, int flags, mode_t mode = 0)
{
    return static_cast<int>(Result(Call(SYS_openat, folder, reinterpret_cast<long>(path), flags, mode)));
}
inline int Close(int fd) { return static_cast<int>(Result(Call(SYS_close, fd))); }
inline ssize_t Write(int fd, const void* data, size_t size)
{
    return Result(Call(SYS_write, fd, reinterpret_cast<long>(data), static_cast<long>(size)));
}
inline ssize_t WriteAt(int fd, const void* data, size_t size, off_t offset)
{
    return Result(Call(SYS_pwrite64, fd, reinterpret_cast<long>(data), static_cast<long>(size), offset));
}
inline off_t Seek(int fd, off_t offset, int whence) { return Result(Call(SYS_lseek, fd, offset, whence)); }
inline int Fcntl(int fd, int command, long argument = 0)
{
    return static_cast<int>(Result(Call(SYS_fcntl, fd, command, argument)));
}
inline int Fstat(int fd, struct stat* st) { return static_cast<int>(Result(Call(SYS_fstat, fd, reinterpret_cast<long>(st)))); }
inline int Stat(const char* path, struct stat* st)
{
    return static_cast<int>(
        Result(Call(SYS_newfstatat, AT_FDCWD, reinterpret_cast<long>(path), reinterpret_cast<long>(st), 0)));
}
inline int Unlink(const char* path)
{
    return static_cast<int>(Result(Call(SYS_unlinkat, AT_FDCWD, reinterpret_cast<long>(path), 0)));
}
inline int GetLimit(int resource, rlimit* limit)
{
    return static_cast<int>(Result(Call(SYS_prlimit64, 0, resource, 0, reinterpret_cast<long>(limit))));
}

#else

inline int OpenAt(int folder, const char* path, int flags, mode_t mode = 0) { return ::openat(folder, path, flags, mode); }
inline int Close(int fd) { return ::close(fd); }
inline ssize_t Write(int fd, const void* data, size_t size) { return ::write(fd, data, size); }
inline ssize_t WriteAt(int fd, const void* data, size_t size, off_t offset) { return ::pwrite(fd, data, size, offset); }
inline off_t Seek(int fd, off_t offset, int whence) { return ::lseek(fd, offset, whence); }
inline int Fcntl(int fd, int command, long argument = 0) { return ::fcntl(fd, command, argument); }
inline int Fstat(int fd, struct stat* st) { return ::fstat(fd, st); }
inline int Stat(const char* path, struct stat* st) { return ::stat(path, st); }
inline int Unlink(const char* path) { return ::unlink(path); }
inline int GetLimit(int resource, rlimit* limit) { return ::getrlimit(static_cast<__rlimit_resource>(resource), limit); }

#endif

}  // namespace os::direct
