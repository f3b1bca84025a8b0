#include "hook/EngineHost.h"

#include "backstop/backstop.h"
#include "hook/decisions/Datagrams.h"
#include "hook/names/DnsReplies.h"
#include "hook/names/Names.h"
#include "hook/descriptors/SocketTable.h"
#include "hook/decisions/StandIns.h"
#include "os/hooksafe/Descriptors.h"
#include "os/hooksafe/Environment.h"
#include "os/hooksafe/LockFiles.h"
#include "os/hooksafe/RuntimeFolder.h"
#include "os/hooksafe/TrustedFile.h"
#include "protocol/hooksafe/CarrierRegistration.h"
#include "protocol/hooksafe/HookLink.h"
#include "rules/hooksafe/Names.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <dlfcn.h>
#include <fcntl.h>
#include <limits.h>
#include <pthread.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

namespace hook {

__attribute__((tls_model("initial-exec"))) thread_local int t_inside = 0;

namespace {

// ---- Start-up -------------------------------------------------------------

char g_environmentStore[16384];
const char* g_environment[32];
protocol::HookLink g_link;
// The arguments that fit, each whole, and the working folder at the start.
char g_argumentStore[8192];
const char* g_arguments[64];
char g_startFolder[PATH_MAX];
protocol::HookStart g_start;
protocol::HookParent g_parent;
std::atomic<pid_t> g_pid {0};
// What the hook learns when it is first needed, not at every program's start.
pthread_mutex_t g_readyMutex = PTHREAD_MUTEX_INITIALIZER;
std::atomic<int> g_ready {0}; // 0 not yet, 1 ready, 2 secure execution

// ---- The engine -----------------------------------------------------------

pthread_mutex_t g_loadMutex = PTHREAD_MUTEX_INITIALIZER;
std::atomic<int> g_engineState {0}; // 0 not loaded, 1 loaded, 2 none to load
// The program changed its user or group while its engine could not be loaded.
std::atomic<bool> g_changedUnprepared {false};
EngineBinding g_engine;

// ---- Guarded descriptors --------------------------------------------------

constexpr int kGuardSlots = 32;
pthread_mutex_t g_guardMutex = PTHREAD_MUTEX_INITIALIZER;
std::atomic<std::atomic<int>*> g_guarded[kGuardSlots];
std::atomic<int> g_guardCount {0};
// No guarded descriptor lies below this: most closes are answered by it alone.
std::atomic<int> g_lowestGuarded {0};

void UpdateLowestGuarded()
{
    int lowest = -1;
    for (const auto& slot : g_guarded)
        if (std::atomic<int>* holder = slot.load())
            if (const int fd = holder->load(); fd >= 0 && (lowest < 0 || fd < lowest))
                lowest = fd;
    g_lowestGuarded.store(lowest < 0 ? 0 : lowest, std::memory_order_release);
}

void Keep(std::atomic<int>* holder)
{
    pthread_mutex_lock(&g_guardMutex);
    for (auto& slot : g_guarded)
        if (!slot.load()) {
            slot.store(holder);
            ++g_guardCount;
            break;
        }
    UpdateLowestGuarded();
    pthread_mutex_unlock(&g_guardMutex);
}

void Release(std::atomic<int>* holder)
{
    pthread_mutex_lock(&g_guardMutex);
    for (auto& slot : g_guarded)
        if (slot.load() == holder) {
            slot.store(nullptr);
            --g_guardCount;
            break;
        }
    UpdateLowestGuarded();
    pthread_mutex_unlock(&g_guardMutex);
}

// ---- Registration with the interceptor's process ----------------------------

os::KeptDescriptor g_registration;
std::atomic<pid_t> g_registeredPid {0};
char g_runtimeFolder[PATH_MAX];

bool RuntimeFile(char* path, size_t size, const char* leaf)
{
    const int n = std::snprintf(path, size, "%s/%s", g_runtimeFolder, leaf);
    return n > 0 && static_cast<size_t>(n) < size;
}

bool IsInterceptorRunning()
{
    char lock[PATH_MAX];
    return RuntimeFile(lock, sizeof lock, "zelconn.lock") && os::IsLockFileHeld(lock);
}

// Registrations of processes that ended while no interceptor process ran to
// report them are removed now and then by the next program that registers.
void RemoveEndedRegistrations()
{
    constexpr time_t kEverySeconds = 10;
    char stamp[PATH_MAX];
    if (!RuntimeFile(stamp, sizeof stamp, "hosts/.swept"))
        return;
    struct stat st {};
    if (::stat(stamp, &st) == 0 && ::time(nullptr) - st.st_mtime < kEverySeconds)
        return;
    if (IsInterceptorRunning())
        return;
    protocol::carriers::RemoveEnded(g_runtimeFolder);
    const int fd = os::OpenRegularFile(stamp, O_WRONLY | O_CREAT | O_TRUNC, 0600, false);
    if (fd >= 0)
        ::close(fd);
}

// Tells the interceptor's process that this host has an engine: it waits for
// its reloads and reports its end. A forked child registers on its own.
void RegisterCarrier()
{
    const pid_t pid = g_pid.load(std::memory_order_relaxed);
    if (g_registeredPid.load(std::memory_order_acquire) == pid)
        return;
    pthread_mutex_lock(&g_loadMutex);
    if (g_registeredPid.load() != pid) {
        g_registeredPid = pid;
        if (os::ResolveRuntimeFolder(g_runtimeFolder, sizeof g_runtimeFolder) == os::RuntimeFolderProblem::kNone) {
            char exe[PATH_MAX];
            const ssize_t n = ::readlink("/proc/self/exe", exe, sizeof exe - 1);
            exe[n > 0 ? n : 0] = '\0';
            if (char* deleted = std::strstr(exe, " (deleted)"); deleted && deleted[10] == '\0')
                *deleted = '\0';
            rules::CleanCarrierPathInPlace(exe);
            char name[NAME_MAX + 1];
            rules::UpperFileName(exe, name, sizeof name);
            RemoveEndedRegistrations();
            g_registration.Adopt(protocol::carriers::Register(g_runtimeFolder, pid, name));
        } else {
            g_runtimeFolder[0] = '\0';
        }
    }
    pthread_mutex_unlock(&g_loadMutex);
}

bool HookFolder(char* folder, size_t size)
{
    Dl_info info {};
    if (!::dladdr(reinterpret_cast<void*>(&HookFolder), &info) || !info.dli_fname)
        return false;
    const char* slash = std::strrchr(info.dli_fname, '/');
    const size_t length = slash ? static_cast<size_t>(slash - info.dli_fname) : 0;
    if (length + 1 > size)
        return false;
    std::memcpy(folder, info.dli_fname, length);
    folder[length] = '\0';
    return true;
}

// ---- Fork and end ------------------------------------------------------------

// The locks of what the hook remembers are taken around a fork too, so that
// a child never finds one held by a thread it does not have.
void BeforeFork()
{
    pthread_mutex_lock(&g_readyMutex);
    pthread_mutex_lock(&g_loadMutex);
    pthread_mutex_lock(&g_guardMutex);
    // In the order they are taken in: a datagram's question is asked under
    // the datagrams' lock, a connection permitted while it stood in is
    // followed as DNS under the stand-ins', and an answer read from it is
    // learnt under the DNS lock.
    LockDatagramsForFork();
    LockStandInsForFork();
    LockDnsForFork();
    LockNamesForFork();
}

void AfterForkInParent()
{
    UnlockNamesAfterFork();
    UnlockDnsAfterFork(false);
    UnlockStandInsAfterFork(false);
    UnlockDatagramsAfterFork(false);
    pthread_mutex_unlock(&g_guardMutex);
    pthread_mutex_unlock(&g_loadMutex);
    pthread_mutex_unlock(&g_readyMutex);
}

void AfterForkInChild()
{
    g_pid = ::getpid();
    UnlockNamesAfterFork();
    UnlockDnsAfterFork(true);
    UnlockStandInsAfterFork(true);
    UnlockDatagramsAfterFork(true);
    pthread_mutex_unlock(&g_readyMutex);
    pthread_mutex_unlock(&g_guardMutex);
    pthread_mutex_unlock(&g_loadMutex);
    // The registration is the parent's: the child holding it would keep the
    // parent alive in the interceptor's eyes. It registers on its own when it decides.
    g_registration.Close();
}

// Everything the hook sets up the first time the program needs it: whether
// this is secure execution, the start-up environment for the platform, the
// guard over kept descriptors, the fork handlers.
bool Ready()
{
    const int ready = g_ready.load(std::memory_order_acquire);
    if (ready != 0)
        return ready == 1;
    pthread_mutex_lock(&g_readyMutex);
    if (g_ready.load() == 0) {
        if (os::IsSecureExecution()) {
            g_ready.store(2, std::memory_order_release);
        } else {
            g_pid = ::getpid();
            os::UseStartupEnvironment(g_environment);
            os::SetDescriptorGuard(Keep, Release);
            g_link.startupEnvironment = g_environment;
            g_link.keepDescriptor = Keep;
            g_link.releaseDescriptor = Release;
            g_ready.store(1, std::memory_order_release);
            // Registered last: the handlers take the ready lock too.
            pthread_mutex_unlock(&g_readyMutex);
            ::pthread_atfork(BeforeFork, AfterForkInParent, AfterForkInChild);
            return true;
        }
    }
    pthread_mutex_unlock(&g_readyMutex);
    return g_ready.load() == 1;
}

__attribute__((destructor)) void HookDetach()
{
    // A program that ends normally takes its registration along when no
    // interceptor process is there to report its end.
    if (g_ready.load() != 1 || g_registeredPid.load() != ::getpid() || !g_registration.IsOpen() || !g_runtimeFolder[0])
        return;
    if (!IsInterceptorRunning())
        protocol::carriers::Unregister(g_runtimeFolder, ::getpid());
}

}  // namespace

void StartUp(int argc, char** argv)
{
    // Copied now, whatever comes: a program may clear its environment before
    // it first uses the network. Used only outside secure execution.
    os::CaptureStartupEnvironment(g_environmentStore, sizeof g_environmentStore, g_environment,
                                        sizeof g_environment / sizeof g_environment[0]);
    // The arguments that do not fit are left out, never cut: the script's
    // name comes before its own arguments. argv[0], whatever the starter
    // wrote, names nothing and is kept empty, so that a long one crowds
    // nothing out.
    const size_t most = argc > 0 ? static_cast<size_t>(argc) : 0;
    size_t used = 0;
    size_t count = 0;
    for (; argv && count < most && count < sizeof g_arguments / sizeof g_arguments[0] && argv[count]; ++count) {
        const size_t length = count == 0 ? 1 : std::strlen(argv[count]) + 1;
        if (length > sizeof g_argumentStore - used)
            break;
        std::memcpy(g_argumentStore + used, count == 0 ? "" : argv[count], length);
        g_arguments[count] = g_argumentStore + used;
        used += length;
    }
    if (!::getcwd(g_startFolder, sizeof g_startFolder) || g_startFolder[0] != '/')
        g_startFolder[0] = '\0';
    g_start.arguments = g_arguments;
    g_start.count = count;
    g_start.folder = g_startFolder;
    g_parent.self = ::getpid();
    g_parent.parent = ::getppid();
}

bool IsSecure() { return !Ready(); }

// Tells the kernel backstop, where one is installed, that this program image
// has the hook in it: once, before its first connection is decided. A fork
// stays registered in the kernel; an exec starts over. Without a backstop
// the kernel answers ENOPROTOOPT and nothing changes. Raw system calls: the
// program's own socket calls are the hook's.
namespace {

std::atomic<bool> g_backstopAsked {false};
std::atomic<bool> g_backstopTook {false};
std::atomic<bool> g_backstopAskedAgain {false};

bool AskBackstop()
{
    const int saved = errno;
    bool took = false;
    const long fd = ::syscall(SYS_socket, AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd >= 0) {
        const int one = 1;
        took = ::syscall(SYS_setsockopt, fd, ZEL_BACKSTOP_LEVEL, ZEL_BACKSTOP_REGISTER, &one, sizeof one) == 0;
        ::syscall(SYS_close, fd);
    }
    errno = saved;
    return took;
}

void RegisterWithBackstop()
{
    if (!g_backstopAsked.exchange(true))
        g_backstopTook = AskBackstop();
}

}  // namespace

bool RegisterAgainWithBackstop()
{
    // Only a program that found no backstop when it first asked: one was
    // installed since. Once: a refusal after that is someone else's.
    if (!Ready() || g_backstopTook.load() || g_backstopAskedAgain.exchange(true))
        return false;
    g_backstopTook = AskBackstop();
    return g_backstopTook.load();
}

EngineState EnsureEngine()
{
    if (!Ready())
        return EngineState::kPassThrough;
    // The program changed its user without an engine made ready before: it
    // cannot be decided by its rules any more, so nothing it does passes.
    if (g_changedUnprepared.load(std::memory_order_relaxed))
        return EngineState::kUndecidable;
    int state = g_engineState.load(std::memory_order_acquire);
    if (state == 0) {
        RegisterWithBackstop();
        Inside inside;
        pthread_mutex_lock(&g_loadMutex);
        state = g_engineState.load();
        if (state == 0) {
            char path[PATH_MAX + 32];
            const char* configured = os::GetEnv("ZEL_ENGINE_LIBRARY");
            char folder[PATH_MAX];
            int written;
            // The variable may come from a caller with fewer rights than the
            // program (su, sudo -E): an engine it names is loaded only from
            // where nobody but root and this user could have put it.
            if (configured && *configured)
                written = os::ResolveTrustedFile(configured, path, sizeof path)
                    ? static_cast<int>(std::strlen(path))
                    : -1;
            else if (HookFolder(folder, sizeof folder))
                written = std::snprintf(path, sizeof path, "%s/libqrbruler.so", folder);
            else
                written = std::snprintf(path, sizeof path, "libqrbruler.so");
            if (written > 0 && static_cast<size_t>(written) < sizeof path && g_engine.Load(path)) {
                state = 1;
            } else {
                // Out of descriptors or memory the engine cannot load now, but
                // may at the next decision; anything else will never change.
                const int probe = ::open("/", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
                const int error = errno;
                if (probe >= 0)
                    ::close(probe);
                state = probe < 0 && os::IsTransientError(error) ? 0 : 2;
            }
            g_engineState.store(state, std::memory_order_release);
        }
        pthread_mutex_unlock(&g_loadMutex);
        if (state == 0)
            return EngineState::kUndecidable;
    }
    if (state != 1)
        return EngineState::kPassThrough;
    Inside inside;
    RegisterCarrier();
    return EngineState::kReady;
}

bool IsEngineLoaded() { return g_engineState.load(std::memory_order_acquire) == 1; }

const EngineBinding& Engine() { return g_engine; }

uint32_t VerdictEpoch()
{
    const auto epoch = g_link.verdictEpoch;
    return epoch && g_engineState.load(std::memory_order_acquire) == 1 ? epoch() : 0;
}

void BeforeCredentialChange()
{
    if (!Ready())
        return;
    if (EnsureEngine() == EngineState::kReady && g_link.prepareForCredentialChange) {
        Inside inside;
        g_link.prepareForCredentialChange();
    }
}

void AfterCredentialChange()
{
    if (!Ready())
        return;
    const int state = g_engineState.load();
    // No engine installed: nothing was ever decided. One that could not be
    // loaded before the change (out of descriptors) would now be loaded as
    // the new user, who cannot read this user's rules: everything is refused.
    if (state == 0)
        g_changedUnprepared.store(true, std::memory_order_relaxed);
    if (state != 1 || !g_link.credentialsChanged)
        return;
    Inside inside;
    g_link.credentialsChanged();
}

bool IsGuarded(int fd)
{
    if (g_guardCount.load(std::memory_order_relaxed) == 0 || fd < g_lowestGuarded.load(std::memory_order_acquire))
        return false;
    for (const auto& slot : g_guarded)
        if (std::atomic<int>* holder = slot.load(std::memory_order_acquire); holder && holder->load() == fd)
            return true;
    return false;
}

bool FirstGuardedIn(unsigned first, unsigned last, unsigned& fd)
{
    if (g_guardCount.load(std::memory_order_relaxed) == 0)
        return false;
    bool found = false;
    for (const auto& slot : g_guarded)
        if (std::atomic<int>* holder = slot.load(std::memory_order_acquire)) {
            const int guarded = holder->load();
            const auto number = static_cast<unsigned>(guarded);
            if (guarded >= 0 && number >= first && number <= last && (!found || number < fd)) {
                fd = number;
                found = true;
            }
        }
    return found;
}

void MoveGuardedAside(int fd)
{
    pthread_mutex_lock(&g_guardMutex);
    for (const auto& slot : g_guarded)
        if (std::atomic<int>* holder = slot.load(); holder && holder->load() == fd) {
            const int moved = os::MoveDescriptorHigh(::fcntl(fd, F_DUPFD_CLOEXEC, fd + 1));
            if (moved >= 0)
                holder->store(moved);
            else
                holder->store(-1); // nowhere to go: given up, the number is the program's
        }
    UpdateLowestGuarded();
    pthread_mutex_unlock(&g_guardMutex);
}

}  // namespace hook

// The link the engine looks for when it is loaded (see protocol/hooksafe/HookLink.h).
extern "C" __attribute__((visibility("default"))) protocol::HookLink* zel_hook_link() { return &hook::g_link; }
extern "C" __attribute__((visibility("default"))) const protocol::HookStart* zel_hook_start() { return &hook::g_start; }
extern "C" __attribute__((visibility("default"))) const protocol::HookParent* zel_hook_parent() { return &hook::g_parent; }
