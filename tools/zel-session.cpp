// zel-session: what the session's start-up files and the control panel call
// so that the programs of the user's session start under the firewall's hook
// when the user chose "Decide every program I start". The hook is the one
// beside this program; it is named only when it is there and only root or
// the user can change it, so a removed installation leaves nothing behind
// that the loader would complain about.
//   zel-session --generator     as a systemd user environment generator: LD_PRELOAD="..." or nothing
//   zel-session --preload       for an X session's start-up file: the new LD_PRELOAD value, or nothing
//   zel-session --run COMMAND [ARGS...]
//                               runs the command with the hook named as --preload names it: an X
//                               session starts through it after a set-group-ID ssh-agent, which
//                               clears LD_PRELOAD for what it starts
//   zel-session --update-session [--manager-only]
//                               the running session: the systemd user manager (and, unless told
//                               otherwise, the session bus) start services with the hook when the
//                               option is on, and without it when it is off
// Nothing is printed on success but what the start-up files read; the exit
// status is 0 unless a running session's manager refused a change.
#include "os/Processes.h"
#include "os/hooksafe/Retry.h"
#include "session/SessionPreload.h"
#include "text/ToolStart.h"
#include "text/Translate.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <limits.h>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace {

namespace session = session;

std::string HookBesideMe()
{
    const std::string self = os::processes::OwnExecutablePath();
    return self.substr(0, self.rfind('/') + 1) + session::kHookFileName;
}

std::string CurrentPreload()
{
    const char* value = std::getenv("LD_PRELOAD");
    return value ? value : "";
}

struct Outcome {
    bool started = false; // false: the program is not there (or could not start)
    int status = -1;
    std::string output;
};

// Runs a program found on PATH, its standard output kept (up to a size).
Outcome Run(std::vector<std::string> arguments)
{
    Outcome outcome;
    std::vector<char*> argv;
    for (std::string& argument : arguments)
        argv.push_back(argument.data());
    argv.push_back(nullptr);
    int out[2];
    if (::pipe2(out, O_CLOEXEC) != 0)
        return outcome;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    pid_t child = -1;
    const int error = ::posix_spawnp(&child, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(out[1]);
    if (error == 0) {
        outcome.started = true;
        char buffer[4096];
        for (;;) {
            const ssize_t n = os::RetryOnInterrupt([&] { return ::read(out[0], buffer, sizeof buffer); });
            if (n <= 0)
                break;
            if (outcome.output.size() < (1u << 20))
                outcome.output.append(buffer, static_cast<size_t>(n));
        }
        int status = 0;
        os::RetryOnInterrupt([&] { return ::waitpid(child, &status, 0); });
        outcome.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    ::close(out[0]);
    return outcome;
}

bool Succeeded(const Outcome& outcome, const char* what)
{
    if (outcome.started && outcome.status == 0)
        return true;
    if (outcome.started)
        std::fprintf(stderr, "zel-session: %s\n", text::Arg(text::Tr("zel-session", "%1 did not succeed"), {what}).c_str());
    // A desktop without the program has nothing of it to update.
    return !outcome.started;
}

int UpdateSession(bool managerOnly)
{
    const std::string hook = HookBesideMe();
    const bool on = session::IsOptionOn() && session::CheckHook(hook, ::getuid()) == session::HookProblem::kNone;
    char real[PATH_MAX];
    const std::string named = ::realpath(hook.c_str(), real) ? std::string(real) : hook;

    // The manager's own value is the base: the user's other entries stay.
    const Outcome shown = Run({"systemctl", "--user", "show-environment"});
    const bool manager = shown.started && shown.status == 0;
    const std::string base = manager ? session::ManagerVariable(shown.output, "LD_PRELOAD").value_or("") : CurrentPreload();
    const std::string wanted = on ? session::WithHookFirst(named, base) : session::WithoutHook(base);
    bool ok = true;
    if (manager && wanted != base) {
        ok = wanted.empty() ? Succeeded(Run({"systemctl", "--user", "unset-environment", "LD_PRELOAD"}), "systemctl --user unset-environment")
                            : Succeeded(Run({"systemctl", "--user", "set-environment", "LD_PRELOAD=" + wanted}),
                                        "systemctl --user set-environment");
    }
    // The session bus's own activation environment, for what it starts
    // itself; it cannot be read back, so it is set whenever asked. Without
    // a session bus named there is none to tell (and none to start).
    const char* bus = std::getenv("DBUS_SESSION_BUS_ADDRESS");
    if (!managerOnly && bus && *bus)
        ok = Succeeded(Run({"dbus-update-activation-environment", "LD_PRELOAD=" + wanted}),
                       "dbus-update-activation-environment")
            && ok;
    return ok ? 0 : 1;
}

// On standard error for a mistake (exit status 2), on standard output when asked for.
int Usage(std::FILE* out = stderr)
{
    std::fputs(text::Tr("zel-session",
                            "usage: zel-session --generator | --preload | --run COMMAND [ARGS...] | --update-session [--manager-only]\n")
                   .c_str(),
               out);
    if (out == stdout)
        std::fputs(text::Tr("zel-session", "Puts the firewall's hook in front of the programs of the session when the user chose\n"
                                               "\"Decide every program I start\". See zel-session(1).\n")
                       .c_str(),
                   out);
    return out == stdout ? 0 : 2;
}

}  // namespace

int main(int argc, char** argv)
{
    if (const auto answered = text::StartTool({"zel-session", argc, argv, Usage}))
        return *answered;
    const std::string mode = argc > 1 ? argv[1] : "";
    if (mode == "--generator" || mode == "--preload") {
        const auto value = session::SessionPreload(HookBesideMe(), CurrentPreload(), ::getuid());
        if (value && *value != CurrentPreload()) {
            const std::string text = mode == "--generator" ? session::GeneratorLine(*value) : *value + "\n";
            std::fputs(text.c_str(), stdout);
        }
        return 0;
    }
    if (mode == "--update-session")
        return UpdateSession(argc > 2 && !std::strcmp(argv[2], "--manager-only"));
    if (mode == "--run" && argc > 2) {
        // Whatever happens here, the command runs: a session must start.
        if (const auto value = session::SessionPreload(HookBesideMe(), CurrentPreload(), ::getuid()))
            ::setenv("LD_PRELOAD", value->c_str(), 1);
        ::execvp(argv[2], argv + 2);
        const std::string reason = std::strerror(errno);
        std::fprintf(stderr, "zel-session: %s\n",
                     text::Arg(text::Tr("zel-session", "cannot run %1: %2"), {argv[2], reason}).c_str());
        return errno == ENOENT ? 127 : 126;
    }
    return Usage();
}
