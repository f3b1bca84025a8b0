#include "tests/ChildProcess.h"

#include "tests/EventWait.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace testing_support {

ChildProcess::ChildProcess(const std::vector<std::string>& argv, const std::map<std::string, std::string>& extraEnv)
{
    // What the program starts and leaves behind comes back to the test to be reaped.
    ::prctl(PR_SET_CHILD_SUBREAPER, 1);
    int pipeFds[2];
    if (::pipe2(pipeFds, O_CLOEXEC) != 0)
        return;
    std::vector<std::string> env;
    for (char** item = environ; *item; ++item) {
        const std::string entry = *item;
        if (!extraEnv.count(entry.substr(0, entry.find('='))))
            env.push_back(entry);
    }
    for (const auto& [name, value] : extraEnv)
        if (!value.empty())
            env.push_back(name + "=" + value);
    std::vector<char*> envp, args;
    for (auto& entry : env)
        envp.push_back(entry.data());
    envp.push_back(nullptr);
    std::vector<std::string> copy = argv;
    for (auto& arg : copy)
        args.push_back(arg.data());
    args.push_back(nullptr);
    pid_ = ::fork();
    if (pid_ == 0) {
        // A group of its own: whatever it starts ends with it.
        ::setpgid(0, 0);
        ::dup2(pipeFds[1], STDOUT_FILENO);
        ::execve(args[0], args.data(), envp.data());
        ::_exit(127);
    }
    ::close(pipeFds[1]);
    output_ = pipeFds[0];
}

ChildProcess::~ChildProcess()
{
    Kill();
    if (output_ >= 0)
        ::close(output_);
}

std::optional<std::string> ChildProcess::ReadLine(std::chrono::milliseconds timeout)
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        if (const size_t end = pending_.find('\n'); end != std::string::npos) {
            std::string line = pending_.substr(0, end);
            pending_.erase(0, end + 1);
            return line;
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0 || output_ < 0)
            return std::nullopt;
        pollfd waiting {output_, POLLIN, 0};
        if (::poll(&waiting, 1, static_cast<int>(left.count())) <= 0)
            continue;
        char buffer[4096];
        const ssize_t n = ::read(output_, buffer, sizeof buffer);
        if (n <= 0)
            return std::nullopt;
        pending_.append(buffer, static_cast<size_t>(n));
    }
}

bool ChildProcess::LineReady()
{
    pollfd waiting {output_, POLLIN, 0};
    return pending_.find('\n') != std::string::npos || (output_ >= 0 && ::poll(&waiting, 1, 0) > 0);
}

int ChildProcess::Wait(std::chrono::milliseconds timeout)
{
    if (reaped_)
        return status_;
    int status = 0;
    if (pid_ <= 0 || !WaitChild(pid_, status, timeout))
        return -1;
    reaped_ = true;
    status_ = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return status_;
}

void ChildProcess::Kill()
{
    if (pid_ <= 0)
        return;
    // The program and everything it started that is still there (forked
    // workers, a server's children).
    ::kill(-pid_, SIGKILL);
    if (!reaped_) {
        ::kill(pid_, SIGKILL);
        int status;
        ::waitpid(pid_, &status, 0);
        reaped_ = true;
    }
    // All of them were killed: each comes back (to us, the subreaper) within moments.
    for (int i = 0; i < 1000 && ::waitpid(-pid_, nullptr, 0) > 0; ++i) {
    }
}

}  // namespace testing_support
