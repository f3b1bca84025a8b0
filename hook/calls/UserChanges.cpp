// A program that starts as one user and goes on as another (a server's
// workers, apt's download methods, often with their environment cleared)
// has its engine made ready before its effective user changes, while the
// settings, the rules and the log can still be opened. Changes of group
// leave the user's own files open to it, and so does a change to the user
// it already is (ping as root): those cost nothing. A change of the root
// folder is made ready for the same way.
#include "hook/EngineHost.h"
#include "hook/descriptors/Kernel.h"
#include "hook/Vfork.h"

#include <cerrno>
#include <grp.h>
#include <unistd.h>

using namespace hook;

namespace {

constexpr uid_t kUnchanged = static_cast<uid_t>(-1);

}  // namespace

#define CREDENTIAL_CHANGE(name, parameters, arguments, effectiveUser)      \
    ZEL_HOOK int name parameters noexcept                                   \
    {                                                                       \
        REAL(name);                                                         \
        const uid_t wanted = effectiveUser;                                 \
        const uid_t before = wanted == kUnchanged ? kUnchanged : ::geteuid(); \
        /* A vfork child's change is its own: the engine is the parent's. */ \
        const bool changing = wanted != kUnchanged && wanted != before && !InParentsMemory(); \
        if (changing)                                                       \
            BeforeCredentialChange();                                       \
        const int result = real_##name arguments;                           \
        const int error = errno;                                            \
        if (result == 0 && changing && ::geteuid() != before)               \
            AfterCredentialChange();                                        \
        errno = error;                                                      \
        return result;                                                      \
    }

CREDENTIAL_CHANGE(setuid, (uid_t uid), (uid), uid)
CREDENTIAL_CHANGE(seteuid, (uid_t uid), (uid), uid)
CREDENTIAL_CHANGE(setreuid, (uid_t real, uid_t effective), (real, effective), effective)
CREDENTIAL_CHANGE(setresuid, (uid_t real, uid_t effective, uid_t saved), (real, effective, saved), effective)
CREDENTIAL_CHANGE(setgid, (gid_t gid), (gid), kUnchanged)
CREDENTIAL_CHANGE(setegid, (gid_t gid), (gid), kUnchanged)
CREDENTIAL_CHANGE(setregid, (gid_t real, gid_t effective), (real, effective), kUnchanged)
CREDENTIAL_CHANGE(setresgid, (gid_t real, gid_t effective, gid_t saved), (real, effective, saved), kUnchanged)
CREDENTIAL_CHANGE(setgroups, (size_t count, const gid_t* groups), (count, groups), kUnchanged)

// A server that shuts itself into a folder (bind, postfix, ntpd) reaches
// neither the engine nor its settings from inside: they are made ready
// before, as for a change of user, and a program whose engine could not be
// is refused everything after.
ZEL_HOOK int chroot(const char* path) noexcept
{
    REAL(chroot);
    if (InParentsMemory())  // a vfork child's jail is its own
        return real_chroot(path);
    BeforeCredentialChange();
    const int result = real_chroot(path);
    const int error = errno;
    if (result == 0)
        AfterCredentialChange();
    errno = error;
    return result;
}
