// A signal handler may make any call the hook stands in front of: write
// and close are safe in a handler, and programs use them there. Looking up
// the C library's function behind the hook's (dlsym) is not: it takes the
// dynamic linker's lock and may allocate, and a handler that interrupted
// the linker or malloc would hang or corrupt the program. So before the
// program installs a handler of its own, however it does, every such
// function is looked up at once; a program that never installs one pays
// nothing. Handlers installed by another library's start-up come through
// here too, before the hook's own start-up has run.
#include "hook/descriptors/Kernel.h"

#include <csignal>

namespace {

void BeforeHandler(sighandler_t handler)
{
    if (handler != SIG_DFL && handler != SIG_IGN && handler != SIG_HOLD && handler != SIG_ERR)
        hook::LookUpAllRealFunctions();
}

}  // namespace

ZEL_HOOK int sigaction(int signal, const struct sigaction* action, struct sigaction* old) noexcept
{
    if (action)
        BeforeHandler(action->sa_handler); // the same pointer as sa_sigaction
    REAL(sigaction);
    return real_sigaction(signal, action, old);
}

ZEL_HOOK int __sigaction(int signal, const struct sigaction* action, struct sigaction* old) noexcept
{
    return sigaction(signal, action, old);
}

// The C library's signal and its relatives install through its own
// sigaction, not through the one above.
#define SIGNAL_WRAPPER(name)                                       \
    ZEL_HOOK sighandler_t name(int signal, sighandler_t handler) noexcept \
    {                                                              \
        BeforeHandler(handler);                                    \
        REAL(name);                                                \
        return real_##name(signal, handler);                       \
    }

SIGNAL_WRAPPER(signal)
SIGNAL_WRAPPER(bsd_signal)
SIGNAL_WRAPPER(ssignal)
SIGNAL_WRAPPER(sysv_signal)
SIGNAL_WRAPPER(__sysv_signal)
// Deprecated, and still called by older programs.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
SIGNAL_WRAPPER(sigset)
#pragma GCC diagnostic pop
