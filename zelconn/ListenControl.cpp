// libzelconn.so: how the control panel starts and stops the interceptor's
// process. Both calls return 0 on success and -1 otherwise; the panel goes
// on either way.
#include "os/hooksafe/Retry.h"
#include "protocol/Registry.h"
#include "protocol/SettingNames.h"
#include "zelconn/Listener.h"

#include <cerrno>
#include <csignal>
#include <dlfcn.h>
#include <spawn.h>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace {

std::string ProgramPath()
{
    // The installation folder ends in "/"; the program sits in it.
    const std::string folder = protocol::registry::GetString(protocol::registry::RootKey::LocalMachine,
                                                             protocol::registry::kSettingsKey, protocol::settings::kVrnFolder);
    if (!folder.empty() && ::access((folder + "zelconn").c_str(), X_OK) == 0)
        return folder + "zelconn";
    Dl_info info {};
    if (::dladdr(reinterpret_cast<void*>(&ProgramPath), &info) && info.dli_fname) {
        const std::string library = info.dli_fname;
        return library.substr(0, library.rfind('/') + 1) + "zelconn";
    }
    return "zelconn";
}

}  // namespace

extern "C" __attribute__((visibility("default"))) int StartListen()
{
    if (zelconn::listener::RunningPid() != 0)
        return 0;
    const std::string program = ProgramPath();
    char* argv[] = {const_cast<char*>(program.c_str()), const_cast<char*>("--daemon"), nullptr};
    pid_t child = -1;
    if (::posix_spawn(&child, program.c_str(), nullptr, nullptr, argv, environ) != 0)
        return -1;
    int status = 0;
    os::RetryOnInterrupt([&] { return ::waitpid(child, &status, 0); });
    return WIFEXITED(status) && WEXITSTATUS(status) == 0 && zelconn::listener::RunningPid() != 0 ? 0 : -1;
}

extern "C" __attribute__((visibility("default"))) int StopListen()
{
    const pid_t pid = zelconn::listener::RunningPid();
    if (pid == 0)
        return 0;
    if (::kill(pid, SIGTERM) != 0)
        return -1;
    for (int i = 0; i < 300 && zelconn::listener::RunningPid() != 0; ++i)
        ::usleep(10000);
    return zelconn::listener::RunningPid() == 0 ? 0 : -1;
}
