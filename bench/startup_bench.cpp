// What the hook adds to starting a program: the program is run again and
// again, in turns without and with the hook preloaded, and each pair gives a
// difference and a ratio. The machine's speed drifts, so the figures are the
// medians of the pairs.
//   startup_bench RUNS HOOK_LIBRARY PROGRAM [ARGS...]
// With --zel-run, the pairs are the program with the hook preloaded and the
// same program started by zel-run (with that hook): what the launcher adds.
//   startup_bench RUNS HOOK_LIBRARY --zel-run ZEL_RUN PROGRAM [ARGS...]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <vector>

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

std::vector<char*> Environment(const char* preload)
{
    static std::string entry;
    std::vector<char*> env;
    for (char** item = environ; *item; ++item)
        if (std::strncmp(*item, "LD_PRELOAD=", 11) != 0)
            env.push_back(*item);
    if (preload) {
        entry = std::string("LD_PRELOAD=") + preload;
        env.push_back(entry.data());
    }
    env.push_back(nullptr);
    return env;
}

// Microseconds from the start of the program to its end; -1 when it failed to start.
double RunOnce(char** argv, std::vector<char*>& env)
{
    const auto start = Clock::now();
    pid_t child = -1;
    if (::posix_spawn(&child, argv[0], nullptr, nullptr, argv, env.data()) != 0)
        return -1;
    int status = 0;
    ::waitpid(child, &status, 0);
    return std::chrono::duration<double, std::micro>(Clock::now() - start).count();
}

double Median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 4 || (std::strcmp(argv[3], "--zel-run") == 0 && argc < 6)) {
        std::fprintf(stderr, "usage: startup_bench RUNS HOOK_LIBRARY [--zel-run ZEL_RUN] PROGRAM [ARGS...]\n");
        return 2;
    }
    const int runs = std::max(3, std::atoi(argv[1]));
    const bool launcher = std::strcmp(argv[3], "--zel-run") == 0;
    std::vector<char*> plainEnv = Environment(launcher ? argv[2] : nullptr);
    std::vector<char*> hookedEnv = Environment(launcher ? nullptr : argv[2]);
    char** program = argv + (launcher ? 5 : 3);
    // zel-run PROGRAM..., told where the hook is.
    std::vector<char*> launched;
    static std::string hookSetting;
    if (launcher) {
        hookSetting = std::string("ZEL_HOOK_LIBRARY=") + argv[2];
        hookedEnv.insert(hookedEnv.end() - 1, hookSetting.data());
        launched.push_back(argv[4]);
        for (char** arg = program; *arg; ++arg)
            launched.push_back(*arg);
        launched.push_back(nullptr);
    }
    char** measured = launcher ? launched.data() : program;
    RunOnce(program, plainEnv); // warm the caches for both
    RunOnce(measured, hookedEnv);
    std::vector<double> plain, hooked, added, ratios;
    for (int i = 0; i < runs; ++i) {
        const double a = RunOnce(program, plainEnv);
        const double b = RunOnce(measured, hookedEnv);
        if (a < 0 || b < 0) {
            std::fprintf(stderr, "startup_bench: cannot run %s\n", measured[0]);
            return 1;
        }
        plain.push_back(a);
        hooked.push_back(b);
        added.push_back(b - a);
        ratios.push_back(b / a);
    }
    std::printf(launcher ? "%s: %.0f us with the hook preloaded, %.0f us under zel-run; added %.0f us, ratio %.3f "
                           "(medians of %d pairs)\n"
                         : "%s: %.0f us plain, %.0f us with the hook; added %.0f us, ratio %.3f (medians of %d pairs)\n",
                program[0], Median(plain), Median(hooked), Median(added), Median(ratios), runs);
    return 0;
}
