// Finding the alert program that serves this desktop's questions, or starting
// one: the rendezvous socket and lock in the runtime folder, and the start
// of the alert program with nothing of the carrier's but its channel.
#include "engine/AlertRendezvous.h"

#include "engine/AlertConversation.h"
#include "os/Clock.h"
#include "os/Net.h"
#include "os/Paths.h"
#include "os/hooksafe/Environment.h"
#include "os/hooksafe/Retry.h"
#include "os/hooksafe/TrustedFile.h"

#include <cerrno>
#include <chrono>
#include <cstring>
#include <dlfcn.h>
#include <fcntl.h>
#include <limits.h>
#include <poll.h>
#include <spawn.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>
#include <utility>
#include <vector>

extern char** environ;

namespace engine {

namespace launch {

namespace {

// How long a question waits for its turn at the rendezvous (another question
// finding or starting the alert program) before it shows a window of its own.
constexpr int kRendezvousWaitMs = 2000;
// The descriptor a serving alert program finds its listening socket on.
constexpr int kListenerDescriptor = 3;

// The environment for the alert program: the carrier's, without the hook, so
// that the alert never decides about itself.
std::vector<char*> AlertEnvironment()
{
    std::vector<char*> env;
    for (char** item = environ; item && *item; ++item)
        if (std::strncmp(*item, "LD_PRELOAD=", 11) != 0)
            env.push_back(*item);
    env.push_back(nullptr);
    return env;
}

// The desktop the questions are shown on: programs of one display share one
// alert, another display (a nested or a forwarded one) has its own.
std::string DesktopKey()
{
    const char* display = os::GetEnv("DISPLAY");
    if (!display || !*display)
        display = os::GetEnv("WAYLAND_DISPLAY");
    std::string key = display && *display ? display : "none";
    // ":0.1" is screen 1 of display ":0": the same desktop.
    if (const size_t colon = key.rfind(':'); colon != std::string::npos)
        if (const size_t dot = key.find('.', colon); dot != std::string::npos)
            key.resize(dot);
    for (char& c : key)
        if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '.'))
            c = '_';
    if (key.size() > 40)
        key.resize(40);
    return key;
}

// The rendezvous lock, held while a question looks for the alert program or
// starts one, so that questions arriving together start one program, not
// many. Held for a connect or a start, never for the question's wait.
class RendezvousLock {
public:
    RendezvousLock(const std::string& path, const sigset_t& mask)
    {
        fd_ = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
        struct stat st {};
        if (fd_ >= 0 && (::fstat(fd_, &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != ::geteuid()))
            Release();
        // Each round pauses 2 ms at least: the time runs out before the
        // rounds do, unless the clock stands still.
        const auto until = os::MonotonicNow() + std::chrono::milliseconds(kRendezvousWaitMs);
        for (int round = 0; fd_ >= 0 && ::flock(fd_, LOCK_EX | LOCK_NB) != 0; ++round) {
            if ((errno != EWOULDBLOCK && errno != EINTR) || os::MonotonicNow() > until || round > kRendezvousWaitMs) {
                Release();
            } else if (!Pause(2, mask)) {
                interrupted_ = true;
                Release();
            }
        }
        held_ = fd_ >= 0;
    }
    ~RendezvousLock()
    {
        // Unlocked explicitly: a child the carrier forked meanwhile shares the
        // descriptor, and must not keep the lock for as long as it lives.
        if (held_)
            ::flock(fd_, LOCK_UN);
        Release();
    }
    RendezvousLock(const RendezvousLock&) = delete;
    RendezvousLock& operator=(const RendezvousLock&) = delete;

    bool Held() const { return held_; }
    bool Interrupted() const { return interrupted_; }

private:
    void Release()
    {
        if (fd_ >= 0)
            ::close(fd_);
        fd_ = -1;
    }
    int fd_ = -1;
    bool held_ = false;
    bool interrupted_ = false;
};

// A descriptor moved above the standard ones and the listener's place, so
// that placing one in the child never overwrites another.
int MoveHigh(int fd)
{
    const int high = ::fcntl(fd, F_DUPFD_CLOEXEC, 10);
    ::close(fd);
    return high;
}

// One end of a new channel for us (told who writes to it), the other in theirs.
int NewChannel(int& theirs)
{
    int pair[2];
    // One socket pair carries both directions; close-on-exec keeps it out of
    // programs that other threads of the carrier start meanwhile.
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair) != 0)
        return -1;
    const int on = 1;
    ::setsockopt(pair[0], SOL_SOCKET, SO_PASSCRED, &on, sizeof on);
    theirs = MoveHigh(pair[1]);
    if (theirs < 0) {
        ::close(pair[0]);
        return -1;
    }
    return pair[0];
}

// Starts the alert program with theirs as its standard input and output;
// with a listener, also as the alert that serves the later questions.
pid_t SpawnAlert(int theirs, int listener, const AlertRendezvous& rendezvous)
{
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, theirs, STDIN_FILENO);
    posix_spawn_file_actions_adddup2(&actions, theirs, STDOUT_FILENO);
    if (listener >= 0)
        posix_spawn_file_actions_adddup2(&actions, listener, kListenerDescriptor);
    // Nothing of the carrier's but the channel and its error output: a listening
    // socket or a file of the carrier must not stay open while the alert shows.
    posix_spawn_file_actions_addclosefrom_np(&actions, listener >= 0 ? kListenerDescriptor + 1 : STDERR_FILENO + 1);
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    // The alert program starts with default signal handling, whatever the carrier set.
    sigset_t defaults;
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGPIPE);
    sigaddset(&defaults, SIGCHLD);
    sigaddset(&defaults, SIGTERM);
    sigaddset(&defaults, SIGINT);
    sigaddset(&defaults, SIGHUP);
    posix_spawnattr_setsigdefault(&attributes, &defaults);
    sigset_t noneBlocked;
    sigemptyset(&noneBlocked);
    posix_spawnattr_setsigmask(&attributes, &noneBlocked);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);

    const std::string& program = rendezvous.program;
    std::vector<char*> env = AlertEnvironment();
    std::vector<char*> argv {const_cast<char*>(program.c_str())};
    if (listener >= 0) {
        argv.push_back(const_cast<char*>("--serve"));
        argv.push_back(const_cast<char*>(rendezvous.socketPath.c_str()));
        argv.push_back(const_cast<char*>(rendezvous.lockPath.c_str()));
    }
    argv.push_back(nullptr);
    pid_t child = -1;
    const int spawned = ::posix_spawn(&child, program.c_str(), &actions, &attributes, argv.data(), env.data());
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    return spawned == 0 ? child : -1;
}

// Under the rendezvous lock: the running alert program, else a new serving
// one. fd -1 with mode kOwn: the rendezvous is unusable, show a window of our
// own; fd -1 with mode kStarted: the alert program could not be started.
Channel Meet(const AlertRendezvous& rendezvous)
{
    Channel channel;
    sockaddr_un address {};
    if (!os::net::UnixSocketAddress(rendezvous.socketPath, address))
        return channel;
    struct stat st {};
    if (::lstat(rendezvous.socketPath.c_str(), &st) == 0) {
        // Only a socket of our own: nothing else belongs there.
        if (!S_ISSOCK(st.st_mode) || st.st_uid != ::geteuid())
            return channel;
        const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
        if (fd < 0)
            return channel;
        const int on = 1;
        ::setsockopt(fd, SOL_SOCKET, SO_PASSCRED, &on, sizeof on);
        if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0) {
            ucred peer {};
            socklen_t size = sizeof peer;
            if (::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &size) != 0 || peer.uid != ::geteuid()) {
                ::close(fd);
                return channel;
            }
            ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
            channel.fd = fd;
            channel.mode = Mode::kJoined;
            channel.socketId = st.st_ino;
            return channel;
        }
        const int error = errno;
        ::close(fd);
        // Busy (its queue of connections full) or odd: a window of our own.
        if (error != ECONNREFUSED)
            return channel;
        // Left by an alert program that ended without removing it.
        ::unlink(rendezvous.socketPath.c_str());
    } else if (errno != ENOENT) {
        return channel;
    }

    // The later questions connect to this socket from now on and wait in its
    // queue until the program we start takes them: nobody waits for it to start.
    int listener = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (listener < 0)
        return channel;
    if (::bind(listener, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0
        || ::listen(listener, SOMAXCONN) != 0 || ::lstat(rendezvous.socketPath.c_str(), &st) != 0
        || (listener = MoveHigh(listener)) < 0) {
        if (listener >= 0)
            ::close(listener);
        ::unlink(rendezvous.socketPath.c_str());
        return channel;
    }
    channel.mode = Mode::kStarted;
    channel.socketId = st.st_ino;
    int theirs = -1;
    pid_t started = -1;
    channel.fd = NewChannel(theirs);
    if (channel.fd >= 0) {
        started = SpawnAlert(theirs, listener, rendezvous);
        channel.child = StartedChild(started);
        ::close(theirs);
    }
    ::close(listener);
    if (started < 0) {
        ::unlink(rendezvous.socketPath.c_str());
        if (channel.fd >= 0)
            ::close(channel.fd);
        channel.fd = -1;
    }
    return channel;
}

// waitid's P_PIDFD, which the C library's headers do not name yet.
constexpr auto kByDescriptor = static_cast<idtype_t>(3);

}  // namespace

StartedChild::StartedChild(pid_t pid) : pid_(pid)
{
    if (pid_ <= 0)
        return;
    pidfd_ = static_cast<int>(::syscall(SYS_pidfd_open, pid_, 0));
    if (pidfd_ < 0)
        return;
    // Still ours to wait for? The carrier may have reaped it already (a wait
    // for any child, SIGCHLD ignored), its number may be another's now: then
    // there is nothing of ours left to reap or end. A kernel that cannot
    // wait on a descriptor (before 5.4) leaves its number alone.
    siginfo_t info {};
    if (::waitid(kByDescriptor, static_cast<id_t>(pidfd_), &info, WEXITED | WNOHANG | WNOWAIT) != 0) {
        const bool gone = errno == ECHILD;
        ::close(pidfd_);
        pidfd_ = -1;
        if (gone)
            pid_ = -1;
    }
}

StartedChild::~StartedChild()
{
    if (pidfd_ >= 0)
        ::close(pidfd_);
}

StartedChild::StartedChild(StartedChild&& other) noexcept
    : pid_(std::exchange(other.pid_, -1)), pidfd_(std::exchange(other.pidfd_, -1))
{
}

StartedChild& StartedChild::operator=(StartedChild&& other) noexcept
{
    if (this != &other) {
        if (pidfd_ >= 0)
            ::close(pidfd_);
        pid_ = std::exchange(other.pid_, -1);
        pidfd_ = std::exchange(other.pidfd_, -1);
    }
    return *this;
}

void StartedChild::Forget()
{
    if (pidfd_ >= 0)
        ::close(pidfd_);
    pidfd_ = -1;
    pid_ = -1;
}

void StartedChild::ReapIfEnded()
{
    if (pidfd_ < 0)
        return;
    siginfo_t info {};
    const int waited = os::RetryOnInterrupt(
        [&] { return ::waitid(kByDescriptor, static_cast<id_t>(pidfd_), &info, WEXITED | WNOHANG); });
    // Reaped now, or by the carrier before us.
    if ((waited == 0 && info.si_pid != 0) || (waited != 0 && errno == ECHILD))
        Forget();
}

void StartedChild::End(int graceMs)
{
    if (pid_ <= 0)
        return;
    // Its end wakes us through the descriptor; without one it is asked again
    // every few milliseconds. Rounds are bounded too, should the clock stand still.
    const auto until = os::MonotonicNow() + std::chrono::milliseconds(graceMs);
    for (int round = 0; round <= graceMs; ++round) {
        if (pidfd_ >= 0) {
            ReapIfEnded();
        } else {
            int status = 0;
            const pid_t done = ::waitpid(pid_, &status, WNOHANG);
            if (done == pid_ || (done < 0 && errno != EINTR))
                Forget();
        }
        const auto now = os::MonotonicNow();
        if (pid_ <= 0 || now >= until)
            break;
        if (pidfd_ >= 0) {
            pollfd end {pidfd_, POLLIN, 0};
            ::poll(&end, 1, static_cast<int>(std::chrono::ceil<std::chrono::milliseconds>(until - now).count()));
        } else {
            const timespec pause {0, 5 * 1000000L};
            ::nanosleep(&pause, nullptr);
        }
    }
    if (pid_ <= 0)
        return;
    if (pidfd_ >= 0) {
        ::syscall(SYS_pidfd_send_signal, pidfd_, SIGKILL, nullptr, 0);
        siginfo_t info {};
        os::RetryOnInterrupt(
            [&] { return ::waitid(kByDescriptor, static_cast<id_t>(pidfd_), &info, WEXITED); });
    } else {
        ::kill(pid_, SIGKILL);
        int status = 0;
        os::RetryOnInterrupt([&] { return ::waitpid(pid_, &status, 0); });
    }
    Forget();
}

Channel OpenChannel(const AlertRendezvous& rendezvous, const sigset_t& mask, bool& interrupted)
{
    if (!rendezvous.socketPath.empty()) {
        const RendezvousLock lock(rendezvous.lockPath, mask);
        if (lock.Interrupted()) {
            interrupted = true;
            return {};
        }
        if (lock.Held()) {
            Channel channel = Meet(rendezvous);
            if (channel.fd >= 0 || channel.mode == Mode::kStarted)
                return channel;
        }
    }
    Channel channel;
    int theirs = -1;
    channel.fd = NewChannel(theirs);
    if (channel.fd < 0)
        return channel;
    const pid_t started = SpawnAlert(theirs, -1, rendezvous);
    channel.child = StartedChild(started);
    ::close(theirs);
    if (started < 0) {
        ::close(channel.fd);
        channel.fd = -1;
    }
    return channel;
}

void GiveUpRendezvous(const AlertRendezvous& rendezvous, ino_t socketId, const sigset_t& mask)
{
    const RendezvousLock lock(rendezvous.lockPath, mask);
    struct stat st {};
    if (lock.Held() && ::lstat(rendezvous.socketPath.c_str(), &st) == 0 && st.st_ino == socketId)
        ::unlink(rendezvous.socketPath.c_str());
}

}  // namespace launch

std::string AlertProgramPath()
{
    // Started as the program's user, who may be root with a caller's
    // environment (su, sudo -E): only a program others could not have
    // written. Anything else is one that cannot start: the answer is deny.
    if (const char* program = os::GetEnv("ZEL_ALERT_PROGRAM"); program && *program) {
        char resolved[PATH_MAX];
        return os::ResolveTrustedFile(program, resolved, sizeof resolved) ? std::string(resolved) : std::string();
    }
    Dl_info info {};
    if (::dladdr(reinterpret_cast<void*>(&AlertProgramPath), &info) && info.dli_fname) {
        std::string path = info.dli_fname;
        const size_t slash = path.rfind('/');
        return (slash == std::string::npos ? std::string(".") : path.substr(0, slash)) + "/zel-alert";
    }
    return "zel-alert";
}

AlertRendezvous FindAlertRendezvous()
{
    const std::string folder = os::RuntimeDir();
    if (folder.empty())
        return {};
    const std::string base = folder + "/alert-" + launch::DesktopKey();
    if (base.size() + sizeof ".sock" > sizeof(sockaddr_un::sun_path))
        return {};
    return {base + ".sock", base + ".lock", {}};
}

}  // namespace engine
