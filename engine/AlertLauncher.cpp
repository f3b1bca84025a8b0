#include "engine/AlertLauncher.h"

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

// Checked more often than the window's own half-second animation step, so
// that an answer remembered by another alert closes this one promptly.
constexpr int kPressCheckMs = 100;
constexpr int kExitGraceMs = 2000;

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

// Waits for the program to end; ends it when it lingers after answering.
void Reap(pid_t child)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kExitGraceMs);
    int status = 0;
    for (;;) {
        const pid_t done = ::waitpid(child, &status, WNOHANG);
        if (done == child || (done < 0 && errno != EINTR))
            return;
        if (std::chrono::steady_clock::now() >= deadline) {
            ::kill(child, SIGKILL);
            while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
            }
            return;
        }
        ::usleep(5000);
    }
}

bool ParseAnswer(const std::string& line, AlertResult& result)
{
    int button = 0, ticked = 0;
    if (std::sscanf(line.c_str(), "answer %d %d", &button, &ticked) != 2 || (button != 1 && button != 2))
        return false;
    result.button = button;
    result.ticked = ticked != 0;
    return true;
}

}  // namespace

std::string AlertProgramPath()
{
    if (const char* program = std::getenv("ZEL_ALERT_PROGRAM"); program && *program)
        return program;
    Dl_info info {};
    if (::dladdr(reinterpret_cast<void*>(&AlertProgramPath), &info) && info.dli_fname) {
        std::string path = info.dli_fname;
        const size_t slash = path.rfind('/');
        return (slash == std::string::npos ? std::string(".") : path.substr(0, slash)) + "/zel-alert";
    }
    return "zel-alert";
}

AlertResult RunAlert(const AlertTexts& texts, const std::function<int()>& pressRequest)
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
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    // The alert program starts with default signal handling, whatever the host set.
    sigset_t defaults;
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGPIPE);
    sigaddset(&defaults, SIGCHLD);
    sigaddset(&defaults, SIGTERM);
    sigaddset(&defaults, SIGINT);
    posix_spawnattr_setsigdefault(&attributes, &defaults);
    sigset_t noneBlocked;
    sigemptyset(&noneBlocked);
    posix_spawnattr_setsigmask(&attributes, &noneBlocked);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);

    const std::string program = AlertProgramPath();
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
    request += "end\n";
    bool open = SendAll(ours, request);

    std::string pending;
    int pressed = 0;
    while (open && result.button == 0) {
        pollfd waiting {ours, POLLIN, 0};
        const int ready = ::poll(&waiting, 1, kPressCheckMs);
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready < 0)
            break;
        if (ready == 0) {
            const int press = pressRequest ? pressRequest() : 0;
            if (press != 0 && press != pressed) {
                pressed = press;
                open = SendAll(ours, "press " + std::to_string(press) + "\n");
            }
            continue;
        }
        char buffer[256];
        const ssize_t n = ::recv(ours, buffer, sizeof buffer, 0);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break; // the program ended without an answer
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
