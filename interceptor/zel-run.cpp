// zel-run PROGRAM [ARGS...]: runs a program under the firewall. The hook is
// put first in LD_PRELOAD, so the program and every program it starts have
// their connections decided; the program's exit status is zel-run's.
#include "platform/Paths.h"
#include "platform/SessionPreload.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits.h>
#include <string>
#include <unistd.h>

int main(int argc, char** argv)
{
    if (argc < 2 || !std::strcmp(argv[1], "--help") || !std::strcmp(argv[1], "-h")) {
        std::fprintf(stderr, "usage: zel-run PROGRAM [ARGS...]\n"
                             "Runs PROGRAM with its network connections decided by the firewall.\n");
        return argc < 2 ? 2 : 0;
    }
    std::string hook;
    if (const char* configured = ::secure_getenv("ZEL_HOOK_LIBRARY"); configured && *configured) {
        hook = configured;
    } else {
        char self[PATH_MAX];
        const ssize_t n = ::readlink("/proc/self/exe", self, sizeof self - 1);
        std::string folder = n > 0 ? std::string(self, static_cast<size_t>(n)) : std::string();
        folder = folder.substr(0, folder.rfind('/'));
        hook = folder + "/../" ZEL_PKG_DIR "/libzelhook.so";
        char real[PATH_MAX];
        if (::realpath(hook.c_str(), real))
            hook = real;
    }
    if (::access(hook.c_str(), R_OK) != 0) {
        std::fprintf(stderr, "zel-run: the hook library %s cannot be read: %s\n", hook.c_str(), std::strerror(errno));
        return 127;
    }
    // The program runs all the same, but nothing decides for it: say so.
    if (const std::string problem = platform::RuntimeDirProblem(); !problem.empty())
        std::fprintf(stderr, "zel-run: %s\n", problem.c_str());
    // In a session whose programs start under the hook already it is named
    // once: two hooks would each decide every connection.
    const char* existing = std::getenv("LD_PRELOAD");
    const std::string preload = platform::session::WithHookFirst(hook, existing ? existing : "");
    ::setenv("LD_PRELOAD", preload.c_str(), 1);
    ::execvp(argv[1], argv + 1);
    std::fprintf(stderr, "zel-run: cannot run %s: %s\n", argv[1], std::strerror(errno));
    return errno == ENOENT ? 127 : 126;
}
