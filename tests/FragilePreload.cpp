// A preloaded library as some are: its wrappers of the file calls use state
// of its own, a C++ static object, which the program's exit destroys before
// the libraries' destructors run. A call after that ends the program, as a
// use of freed memory would: whatever still does I/O then through these
// symbols (rather than straight to the kernel) makes every program crash at
// its end.
#include <cstdarg>
#include <cstdlib>
#include <dlfcn.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace {

struct State {
    bool alive = true;
    ~State() { alive = false; }
};
State g_state;

void Check()
{
    if (g_state.alive)
        return;
    static const char message[] = "fragile_preload: a file call after the library ended\n";
    ::syscall(SYS_write, 2, message, sizeof message - 1);
    std::abort();
}

template <typename Fn>
Fn Next(const char* name)
{
    return reinterpret_cast<Fn>(::dlsym(RTLD_NEXT, name));
}

mode_t ModeOf(int flags, va_list arguments)
{
    return (flags & O_CREAT) || (flags & O_TMPFILE) == O_TMPFILE ? static_cast<mode_t>(va_arg(arguments, int)) : 0;
}

}  // namespace

#define ZEL_FRAGILE extern "C" __attribute__((visibility("default")))

ZEL_FRAGILE int open(const char* path, int flags, ...)
{
    Check();
    va_list arguments;
    va_start(arguments, flags);
    const mode_t mode = ModeOf(flags, arguments);
    va_end(arguments);
    return Next<int (*)(const char*, int, ...)>("open")(path, flags, mode);
}

ZEL_FRAGILE int open64(const char* path, int flags, ...)
{
    Check();
    va_list arguments;
    va_start(arguments, flags);
    const mode_t mode = ModeOf(flags, arguments);
    va_end(arguments);
    return Next<int (*)(const char*, int, ...)>("open64")(path, flags, mode);
}

ZEL_FRAGILE int openat(int folder, const char* path, int flags, ...)
{
    Check();
    va_list arguments;
    va_start(arguments, flags);
    const mode_t mode = ModeOf(flags, arguments);
    va_end(arguments);
    return Next<int (*)(int, const char*, int, ...)>("openat")(folder, path, flags, mode);
}

ZEL_FRAGILE ssize_t write(int fd, const void* data, size_t size)
{
    Check();
    return Next<ssize_t (*)(int, const void*, size_t)>("write")(fd, data, size);
}

ZEL_FRAGILE ssize_t pwrite(int fd, const void* data, size_t size, off_t offset)
{
    Check();
    return Next<ssize_t (*)(int, const void*, size_t, off_t)>("pwrite")(fd, data, size, offset);
}

ZEL_FRAGILE int close(int fd)
{
    Check();
    return Next<int (*)(int)>("close")(fd);
}

ZEL_FRAGILE int fstat(int fd, struct stat* st)
{
    Check();
    return Next<int (*)(int, struct stat*)>("fstat")(fd, st);
}

ZEL_FRAGILE int stat(const char* path, struct stat* st)
{
    Check();
    return Next<int (*)(const char*, struct stat*)>("stat")(path, st);
}

ZEL_FRAGILE int fcntl(int fd, int command, ...)
{
    Check();
    va_list arguments;
    va_start(arguments, command);
    void* argument = va_arg(arguments, void*);
    va_end(arguments);
    return Next<int (*)(int, int, ...)>("fcntl")(fd, command, argument);
}

ZEL_FRAGILE int unlink(const char* path)
{
    Check();
    return Next<int (*)(const char*)>("unlink")(path);
}
