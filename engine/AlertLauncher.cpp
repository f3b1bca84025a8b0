#include "engine/AlertLauncher.h"

#include "platform/Environment.h"
#include "platform/Text.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <dlfcn.h>
#include <poll.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace engine {

namespace {

using Clock = std::chrono::steady_clock;

// Checked more often than the window's own half-second animation step, so
// that an answer remembered by another alert closes this one promptly.
constexpr int kPressCheckMs = 100;

bool SendAll(int fd, const std::string& data)
{
    size_t done = 0;
    while (done < data.size()) {
        // MSG_NOSIGNAL: an alert program that died must not take the host with it.
        const ssize_t n = ::send(fd, data.data() + done, data.size() - done, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

// The environment for the alert program: the host's, without the hook, so
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

// The alert program has answered, gone or been given up: it ends now.
void Reap(pid_t child)
{
    ::kill(child, SIGKILL);
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
}

bool ParseAnswer(const std::string& line, AlertResult& result)
{
    int button = 0, ticked = 0, consumed = 0;
    if (std::sscanf(line.c_str(), "answer %d %d%n", &button, &ticked, &consumed) != 2 || (button != 1 && button != 2))
        return false;
    const std::string_view rest = std::string_view(line).substr(static_cast<size_t>(consumed));
    result.timedOut = rest == " timeout";
    // A time-out is nobody's decision: Block for this connection only.
    result.button = result.timedOut ? 2 : button;
    result.ticked = ticked != 0 && !result.timedOut;
    result.hostOnly = result.ticked && rest == " host";
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

}  // namespace

std::string AlertProgramPath()
{
    if (const char* program = platform::GetEnv("ZEL_ALERT_PROGRAM"); program && *program)
        return program;
    Dl_info info {};
    if (::dladdr(reinterpret_cast<void*>(&AlertProgramPath), &info) && info.dli_fname) {
        std::string path = info.dli_fname;
        const size_t slash = path.rfind('/');
        return (slash == std::string::npos ? std::string(".") : path.substr(0, slash)) + "/zel-alert";
    }
    return "zel-alert";
}

AlertResult RunAlert(const AlertTexts& texts, const std::function<int()>& pressRequest, const std::string& alertProgram)
{
    AlertResult result;
    int channel[2];
    // One socket pair carries both directions; close-on-exec keeps it out of
    // programs that other threads of the host start meanwhile.
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, channel) != 0)
        return result;
    const int ours = channel[0], theirs = channel[1];

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, theirs, STDIN_FILENO);
    posix_spawn_file_actions_adddup2(&actions, theirs, STDOUT_FILENO);
    // Nothing of the host's but the channel and its error output: a listening
    // socket or a file of the host must not stay open while the alert shows.
    posix_spawn_file_actions_addclosefrom_np(&actions, STDERR_FILENO + 1);
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    // The alert program starts with default signal handling, whatever the host set.
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

    const std::string program = alertProgram.empty() ? AlertProgramPath() : alertProgram;
    std::vector<char*> env = AlertEnvironment();
    char* argv[] = {const_cast<char*>(program.c_str()), nullptr};
    pid_t child = -1;
    const int spawned = ::posix_spawn(&child, program.c_str(), &actions, &attributes, argv, env.data());
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    ::close(theirs);
    if (spawned != 0) {
        ::close(ours);
        return result;
    }

    std::string request;
    request += "caption\t" + platform::EscapeLine(texts.caption) + "\n";
    request += "message\t" + platform::EscapeLine(texts.message) + "\n";
    request += "checkbox\t" + platform::EscapeLine(texts.checkBox) + "\n";
    request += "peer\t" + platform::EscapeLine(texts.peer) + "\n";
    request += "icon\t" + platform::EscapeLine(texts.icon) + "\n";
    request += std::string("direction\t") + (texts.outgoing ? "outgoing" : "incoming") + "\n";
    if (!texts.host.empty())
        request += "host\t" + platform::EscapeLine(texts.host) + "\n";
    if (texts.timeoutSeconds > 0)
        request += "timeout\t" + std::to_string(texts.timeoutSeconds) + "\n";
    request += "end\n";
    bool open = SendAll(ours, request);

    const sigset_t waitMask = RestartingSignals();
    const timespec interval {0, kPressCheckMs * 1000000L};
    auto heardAt = Clock::now();
    std::string pending;
    int pressed = 0;
    while (open && result.button == 0) {
        pollfd waiting {ours, POLLIN, 0};
        const int ready = ::ppoll(&waiting, 1, &interval, &waitMask);
        if (ready < 0 && errno == EINTR) {
            result.interrupted = true;
            break;
        }
        if (ready < 0)
            break;
        if (ready == 0) {
            if (Clock::now() - heardAt > std::chrono::milliseconds(kSilenceLimitMs))
                break; // stopped or hung: no answer
            const int press = pressRequest ? pressRequest() : 0;
            if (press != 0 && press != pressed) {
                pressed = press;
                open = SendAll(ours, "press " + std::to_string(press) + "\n");
            }
            continue;
        }
        char buffer[256];
        const ssize_t n = ::recv(ours, buffer, sizeof buffer, MSG_DONTWAIT);
        if (n < 0 && (errno == EINTR || errno == EAGAIN))
            continue;
        if (n <= 0)
            break; // the program ended without an answer
        heardAt = Clock::now();
        pending.append(buffer, static_cast<size_t>(n));
        for (size_t end; result.button == 0 && (end = pending.find('\n')) != std::string::npos;) {
            ParseAnswer(pending.substr(0, end), result);
            pending.erase(0, end + 1);
        }
    }
    ::close(ours);
    Reap(child);
    return result;
}

}  // namespace engine
