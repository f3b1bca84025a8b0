#include "engine/AlertLauncher.h"

#include "os/Net.h"
#include "os/Paths.h"
#include "os/hooksafe/Environment.h"
#include "os/hooksafe/Retry.h"
#include "os/hooksafe/TrustedFile.h"
#include "protocol/AlertWords.h"
#include "text/Strings.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <dlfcn.h>
#include <fcntl.h>
#include <iterator>
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
#include <string_view>
#include <utility>
#include <vector>

extern char** environ;

namespace engine {

namespace {

namespace words = protocol::alert_words;

using Clock = std::chrono::steady_clock;

// Checked more often than the window's own half-second animation step, so
// that an answer remembered by another alert closes this one promptly.
constexpr int kPressCheckMs = 100;
// How long a question waits for its turn at the rendezvous (another question
// finding or starting the alert program) before it shows a window of its own.
constexpr int kRendezvousWaitMs = 2000;
// A serving alert program leaves the process we started at once and goes on
// in the background: that process ends within this time.
constexpr int kStarterExitMs = 1000;
// The descriptor a serving alert program finds its listening socket on.
constexpr int kListenerDescriptor = 3;

bool SendAll(int fd, const std::string& data)
{
    size_t done = 0;
    while (done < data.size()) {
        // MSG_NOSIGNAL: an alert program that died must not take the carrier with it.
        const ssize_t n = os::RetryOnInterrupt([&] { return ::send(fd, data.data() + done, data.size() - done, MSG_NOSIGNAL); });
        if (n <= 0)
            return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

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

void WaitFor(pid_t child)
{
    int status = 0;
    os::RetryOnInterrupt([&] { return ::waitpid(child, &status, 0); });
}

// The alert program has answered, gone or been given up: it ends now.
void Reap(pid_t child)
{
    ::kill(child, SIGKILL);
    WaitFor(child);
}

// Whether text is " " and word.
bool IsLastWord(std::string_view text, std::string_view word)
{
    return text.size() == word.size() + 1 && text.front() == ' ' && text.ends_with(word);
}

// The place among choices of what follows prefix in text; -1 for none.
template <size_t N>
int WordAfter(std::string_view text, std::string_view prefix, const std::string_view (&choices)[N])
{
    if (!text.starts_with(prefix))
        return -1;
    const auto found = std::find(choices, choices + N, text.substr(prefix.size()));
    return found == choices + N ? -1 : static_cast<int>(found - choices);
}

// " for=LENGTH to=SCOPE" after an answer's button; false for anything else.
bool ParseChoices(std::string_view rest, AlertResult& result)
{
    static_assert(std::size(words::kLengths) == 4 && std::size(words::kScopes) == 4);
    // Both or neither: a line half understood is for this connection alone.
    const size_t gap = rest.find(' ', 1);
    if (!rest.starts_with(' ') || gap == std::string_view::npos)
        return false;
    const int length = WordAfter(rest.substr(1, gap - 1), words::kFor, words::kLengths);
    const int scope = WordAfter(rest.substr(gap + 1), words::kTo, words::kScopes);
    if (length < 0 || scope < 0)
        return false;
    result.length = static_cast<AnswerLength>(length);
    result.scope = static_cast<AnswerScope>(scope);
    return true;
}

bool ParseAnswer(const std::string& line, AlertResult& result)
{
    int button = 0, ticked = 0, consumed = 0;
    if (!std::string_view(line).starts_with(words::kAnswer)
        || std::sscanf(line.c_str() + words::kAnswer.size(), " %d %d%n", &button, &ticked, &consumed) != 2
        || (button != 1 && button != 2))
        return false;
    const std::string_view rest = std::string_view(line).substr(words::kAnswer.size() + static_cast<size_t>(consumed));
    result.timedOut = IsLastWord(rest, words::kTimeout);
    result.away = IsLastWord(rest, words::kAway);
    // A time-out is nobody's decision: Block for this connection only. The
    // away answer is the user's setting, for this connection only too.
    result.button = result.timedOut ? 2 : button;
    if (!result.timedOut && !result.away && ticked == 0 && ParseChoices(rest, result)) {
        result.ticked = result.length == AnswerLength::kAlways
            && (result.scope == AnswerScope::kAny || result.scope == AnswerScope::kHost);
        result.hostOnly = result.ticked && result.scope == AnswerScope::kHost;
        return true;
    }
    result.ticked = ticked != 0 && !result.timedOut && !result.away;
    result.hostOnly = result.ticked && IsLastWord(rest, words::kHost);
    if (result.ticked) {
        result.length = AnswerLength::kAlways;
        result.scope = result.hostOnly ? AnswerScope::kHost : AnswerScope::kAny;
    }
    return true;
}

// The signals to hold back while waiting: those whose handler asks for the
// interrupted call to be restarted. The kernel would run such a handler and
// go on waiting; holding them back for at most one check interval does the
// same, while any other handler interrupts the wait at once.
sigset_t RestartingSignals()
{
    sigset_t mask;
    ::pthread_sigmask(SIG_SETMASK, nullptr, &mask);
    // The end of the alert program itself is ours to see, not the program's
    // reason to give up waiting.
    ::sigaddset(&mask, SIGCHLD);
    for (int signal = 1; signal < NSIG; ++signal) {
        if (signal == SIGKILL || signal == SIGSTOP)
            continue;
        struct sigaction action {};
        if (::sigaction(signal, nullptr, &action) != 0)
            continue;
        const bool handled = (action.sa_flags & SA_SIGINFO) ? action.sa_sigaction != nullptr
                                                             : action.sa_handler != SIG_DFL && action.sa_handler != SIG_IGN;
        if (handled && (action.sa_flags & SA_RESTART))
            ::sigaddset(&mask, signal);
    }
    return mask;
}

// Sleeps, as the wait does: false when a signal interrupted it.
bool Pause(int milliseconds, const sigset_t& mask)
{
    const timespec pause {milliseconds / 1000, (milliseconds % 1000) * 1000000L};
    return !(::ppoll(nullptr, 0, &pause, &mask) < 0 && errno == EINTR);
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
        const auto until = Clock::now() + std::chrono::milliseconds(kRendezvousWaitMs);
        while (fd_ >= 0 && ::flock(fd_, LOCK_EX | LOCK_NB) != 0) {
            if ((errno != EWOULDBLOCK && errno != EINTR) || Clock::now() > until) {
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

enum class Mode {
    kOwn,     // an alert program for this question alone, our child
    kStarted, // the serving alert program, started by this question
    kJoined,  // the serving alert program another question started
};

struct Channel {
    int fd = -1;
    Mode mode = Mode::kOwn;
    pid_t child = -1;    // the program this call started, reaped before the call returns
    ino_t socketId = 0;  // the rendezvous socket met, to give up one that stays mute
};

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
            return {fd, Mode::kJoined, -1, st.st_ino};
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
    channel.fd = NewChannel(theirs);
    if (channel.fd >= 0) {
        channel.child = SpawnAlert(theirs, listener, rendezvous);
        ::close(theirs);
    }
    ::close(listener);
    if (channel.child < 0) {
        ::unlink(rendezvous.socketPath.c_str());
        if (channel.fd >= 0)
            ::close(channel.fd);
        channel.fd = -1;
    }
    return channel;
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
    channel.child = SpawnAlert(theirs, -1, rendezvous);
    ::close(theirs);
    if (channel.child < 0) {
        ::close(channel.fd);
        channel.fd = -1;
    }
    return channel;
}

// The rendezvous socket of an alert program that never spoke is removed, so
// that the next question starts a working one: only when it is still the
// socket this question met.
void GiveUpRendezvous(const AlertRendezvous& rendezvous, ino_t socketId, const sigset_t& mask)
{
    const RendezvousLock lock(rendezvous.lockPath, mask);
    struct stat st {};
    if (lock.Held() && ::lstat(rendezvous.socketPath.c_str(), &st) == 0 && st.st_ino == socketId)
        ::unlink(rendezvous.socketPath.c_str());
}

// The alert program that speaks on the channel, as the kernel vouches for it.
class Speaker {
public:
    ~Speaker()
    {
        if (pidfd_ >= 0)
            ::close(pidfd_);
    }
    // From the credentials of its first message: false when that came from
    // another user's process.
    bool Identify(const ucred& credentials)
    {
        if (credentials.uid != ::geteuid())
            return false;
        pid_ = credentials.pid;
        // Held from now on, so that ending a silent alert can never reach a
        // process that took its number after it ended.
        pidfd_ = static_cast<int>(::syscall(SYS_pidfd_open, pid_, 0));
        return true;
    }
    pid_t Pid() const { return pid_; }
    void End() const
    {
        if (pidfd_ >= 0)
            ::syscall(SYS_pidfd_send_signal, pidfd_, SIGKILL, nullptr, 0);
        else if (pid_ > 0)
            ::kill(pid_, SIGKILL);
    }

private:
    pid_t pid_ = 0;
    int pidfd_ = -1;
};

enum class Ending {
    kAnswered,
    kInterrupted,
    kWithdrawn,
    kSilent,      // spoke, then fell silent: stopped or hung
    kMute,        // never spoke within kFirstWordLimitMs
    kClosedEarly, // closed the channel before its first word
    kClosed,      // closed it later, or failed
};

struct Conversation {
    Ending ending = Ending::kClosed;
    bool heard = false;
};

Conversation Converse(int fd, const std::string& request, const std::function<int()>& pressRequest,
                      const sigset_t& waitMask, int withdrawFd, Speaker& speaker, AlertResult& result)
{
    Conversation conversation;
    if (!SendAll(fd, request))
        return conversation;
    const timespec interval {0, kPressCheckMs * 1000000L};
    const auto startedAt = Clock::now();
    auto heardAt = startedAt;
    std::string pending;
    int pressed = 0;
    for (;;) {
        pollfd waiting[2] = {{fd, POLLIN, 0}, {withdrawFd, POLLIN, 0}};
        const int ready = ::ppoll(waiting, withdrawFd >= 0 ? 2 : 1, &interval, &waitMask);
        if (ready < 0 && errno == EINTR) {
            conversation.ending = Ending::kInterrupted;
            return conversation;
        }
        if (ready < 0)
            return conversation;
        if (withdrawFd >= 0 && waiting[1].revents) {
            conversation.ending = Ending::kWithdrawn;
            return conversation;
        }
        if (ready == 0) {
            // Silence counts once the alert has spoken: a program still
            // starting, or one busy taking many questions at once, has not.
            const auto now = Clock::now();
            if (conversation.heard && now - heardAt > std::chrono::milliseconds(kSilenceLimitMs)) {
                conversation.ending = Ending::kSilent;
                return conversation;
            }
            if (!conversation.heard && now - startedAt > std::chrono::milliseconds(kFirstWordLimitMs)) {
                conversation.ending = Ending::kMute;
                return conversation;
            }
            const int press = pressRequest ? pressRequest() : 0;
            if (press != 0 && press != pressed) {
                pressed = press;
                if (!SendAll(fd, std::string(words::kPress) + ' ' + std::to_string(press) + '\n'))
                    return conversation;
            }
            continue;
        }
        char buffer[256];
        alignas(cmsghdr) char control[CMSG_SPACE(sizeof(ucred))];
        iovec data {buffer, sizeof buffer};
        msghdr message {};
        message.msg_iov = &data;
        message.msg_iovlen = 1;
        message.msg_control = control;
        message.msg_controllen = sizeof control;
        const ssize_t n = ::recvmsg(fd, &message, MSG_DONTWAIT | MSG_CMSG_CLOEXEC);
        if (n < 0 && (errno == EINTR || errno == EAGAIN))
            continue;
        if (n <= 0) {
            conversation.ending = conversation.heard ? Ending::kClosed : Ending::kClosedEarly;
            return conversation;
        }
        if (!conversation.heard) {
            const cmsghdr* header = CMSG_FIRSTHDR(&message);
            ucred credentials {};
            if (!header || header->cmsg_level != SOL_SOCKET || header->cmsg_type != SCM_CREDENTIALS)
                return conversation;
            std::memcpy(&credentials, CMSG_DATA(header), sizeof credentials);
            if (!speaker.Identify(credentials))
                return conversation;
            conversation.heard = true;
        }
        heardAt = Clock::now();
        pending.append(buffer, static_cast<size_t>(n));
        for (size_t end; (end = pending.find('\n')) != std::string::npos;) {
            if (ParseAnswer(pending.substr(0, end), result)) {
                conversation.ending = Ending::kAnswered;
                return conversation;
            }
            pending.erase(0, end + 1);
        }
        // A line that never ends is no alert's.
        if (pending.size() > 4096)
            return conversation;
    }
}

// The program we started: a serving alert leaves it at once and speaks from
// a process of its own; one that spoke itself served this question alone and
// ends now, as does one that never spoke.
void ReapStarted(pid_t child, pid_t speaker)
{
    if (speaker > 0 && speaker != child) {
        const auto until = Clock::now() + std::chrono::milliseconds(kStarterExitMs);
        int status = 0;
        for (;;) {
            const pid_t done = ::waitpid(child, &status, WNOHANG);
            if (done == child || (done < 0 && errno != EINTR))
                return;
            if (Clock::now() > until)
                break;
            const timespec pause {0, 5 * 1000000L};
            ::nanosleep(&pause, nullptr);
        }
    }
    Reap(child);
}

std::string Request(const AlertTexts& texts)
{
    std::string request;
    const auto add = [&request](std::string_view key, std::string_view value) {
        request += key;
        request += '\t';
        request += text::EscapeLine(value);
        request += '\n';
    };
    add(words::kCaption, texts.caption);
    add(words::kMessage, texts.message);
    add(words::kCheckBox, texts.checkBox);
    add(words::kPeer, texts.peer);
    add(words::kIcon, texts.icon);
    add(words::kDirection, texts.outgoing ? words::kOutgoing : words::kIncoming);
    if (!texts.host.empty())
        add(words::kHost, texts.host);
    // The asker takes an answer's length and scope ("for=... to=...").
    if (texts.timedMinutes > 0) {
        add(words::kChoices, std::to_string(texts.timedMinutes));
        add(words::kPort, std::to_string(texts.port));
    }
    if (texts.timeoutSeconds > 0)
        add(words::kTimeout, std::to_string(texts.timeoutSeconds));
    add(words::kAway, std::to_string(texts.awayButton) + " " + std::to_string(texts.awaySeconds));
    if (!texts.path.empty())
        add(words::kPath, texts.path);
    // An alert predating these words the caption and message as sent.
    if (!texts.program.empty()) {
        add(words::kProgram, texts.program);
        add(words::kCompany, texts.company);
        add(words::kProtocol, texts.protocol);
        if (texts.timedMinutes <= 0)
            add(words::kPort, std::to_string(texts.port));
    }
    if (texts.process.pid > 0)
        add(words::kPid, std::to_string(texts.process.pid));
    if (!texts.process.user.empty())
        add(words::kUser, texts.process.user);
    if (!texts.process.commandLine.empty())
        add(words::kCommandLine, texts.process.commandLine);
    if (texts.process.parentPid > 0)
        add(words::kParentPid, std::to_string(texts.process.parentPid));
    if (!texts.process.parentPath.empty())
        add(words::kParent, texts.process.parentPath);
    request += words::kEnd;
    request += '\n';
    return request;
}

}  // namespace

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
    const std::string base = folder + "/alert-" + DesktopKey();
    if (base.size() + sizeof ".sock" > sizeof(sockaddr_un::sun_path))
        return {};
    return {base + ".sock", base + ".lock", {}};
}

AlertResult RunAlert(const AlertTexts& texts, const std::function<int()>& pressRequest, const std::string& program,
                     int withdrawFd)
{
    const std::string request = Request(texts);
    const sigset_t waitMask = RestartingSignals();
    AlertRendezvous rendezvous = FindAlertRendezvous();
    rendezvous.program = program.empty() ? AlertProgramPath() : program;
    // A second try only for a question that met an alert program just as it
    // ended: it closes the question unheard, and the next one starts anew.
    for (int attempt = 0; attempt < 2; ++attempt) {
        AlertResult result;
        bool interrupted = false;
        const Channel channel = OpenChannel(rendezvous, waitMask, interrupted);
        if (interrupted) {
            result.interrupted = true;
            return result;
        }
        if (channel.fd < 0)
            return result;
        Speaker speaker;
        const Conversation conversation =
            Converse(channel.fd, request, pressRequest, waitMask, withdrawFd, speaker, result);
        // Closing the channel withdraws the question from the queue.
        ::close(channel.fd);
        if (conversation.ending != Ending::kAnswered)
            result = AlertResult {};
        result.interrupted = conversation.ending == Ending::kInterrupted;
        result.withdrawn = conversation.ending == Ending::kWithdrawn;
        if (conversation.ending == Ending::kSilent)
            speaker.End();
        if (channel.mode == Mode::kOwn && channel.child > 0)
            Reap(channel.child);
        if (channel.mode == Mode::kStarted)
            ReapStarted(channel.child, speaker.Pid());
        if (conversation.ending == Ending::kMute && channel.mode != Mode::kOwn)
            GiveUpRendezvous(rendezvous, channel.socketId, waitMask);
        if (conversation.ending == Ending::kClosedEarly && channel.mode == Mode::kJoined)
            continue;
        return result;
    }
    return {};
}

}  // namespace engine
