// A program whose signal handler makes calls the hook stands in front of
// (write, close and send are safe in a handler): it tells whether anything
// was looked up with dlsym while the handler ran, which is no call for a
// handler. It stands in front of dlsym itself (exported, so that the hook's
// calls come here) and hands every call on.
//   handler_probe HOW   the handler installed with HOW: sigaction, signal,
//                       sysv_signal, bsd_signal or sigset; prints "looked up
//                       N in the handler" and the first name looked up there
#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <dlfcn.h>
#include <string>
#include <sys/socket.h>
#include <unistd.h>

namespace {

std::atomic<bool> g_inHandler {false};
std::atomic<int> g_lookedUp {0};
const char* g_first = "";

int g_pipe[2] = {-1, -1};
int g_pair[2] = {-1, -1};

void Handler(int)
{
    g_inHandler = true;
    (void)::write(g_pipe[1], "x", 1);
    ::close(g_pipe[0]);
    (void)::send(g_pair[0], "x", 1, MSG_DONTWAIT);
    g_inHandler = false;
}

}  // namespace

// Still in the C library, no longer in its headers.
extern "C" sighandler_t bsd_signal(int signal, sighandler_t handler);

extern "C" __attribute__((visibility("default"))) void* dlsym(void* handle, const char* name) noexcept
{
    if (g_inHandler && g_lookedUp++ == 0)
        g_first = name;
    using Lookup = void* (*)(void*, const char*);
    static const auto real = reinterpret_cast<Lookup>(::dlvsym(RTLD_NEXT, "dlsym", "GLIBC_2.34"));
    // The hook asks for what comes after it: in this program, the C library.
    static void* const next = ::dlopen("libc.so.6", RTLD_NOLOAD | RTLD_LAZY);
    return real(handle == RTLD_NEXT ? next : handle, name);
}

#pragma GCC diagnostic ignored "-Wdeprecated-declarations" // sigset, as older programs call it

int main(int argc, char** argv)
{
    if (argc < 2 || ::pipe(g_pipe) != 0 || ::socketpair(AF_UNIX, SOCK_DGRAM, 0, g_pair) != 0)
        return 2;
    const std::string how = argv[1];
    struct sigaction action {};
    action.sa_handler = Handler;
    const bool installed = how == "sigaction" ? ::sigaction(SIGUSR1, &action, nullptr) == 0
        : how == "signal"                     ? ::signal(SIGUSR1, Handler) != SIG_ERR
        : how == "sysv_signal"                ? ::sysv_signal(SIGUSR1, Handler) != SIG_ERR
        : how == "bsd_signal"                 ? ::bsd_signal(SIGUSR1, Handler) != SIG_ERR
        : how == "sigset"                     ? ::sigset(SIGUSR1, Handler) != SIG_ERR
                                              : false;
    if (!installed || ::raise(SIGUSR1) != 0)
        return 3;
    std::printf("looked up %d in the handler%s%s\n", g_lookedUp.load(), g_lookedUp ? ": " : "", g_first);
    return 0;
}
