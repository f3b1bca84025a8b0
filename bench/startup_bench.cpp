// What the hook adds to starting a program: the program is run again and
// again, in turns without and with the hook preloaded, and each pair gives a
// difference and a ratio. The machine's speed drifts, so the figures are the
// medians of the pairs.
//   startup_bench RUNS HOOK_LIBRARY PROGRAM [ARGS...]
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
    if (argc < 4) {
        std::fprintf(stderr, "usage: startup_bench RUNS HOOK_LIBRARY PROGRAM [ARGS...]\n");
        return 2;
    }
    const int runs = std::max(3, std::atoi(argv[1]));
    std::vector<char*> plainEnv = Environment(nullptr);
    std::vector<char*> hookedEnv = Environment(argv[2]);
    char** program = argv + 3;
    RunOnce(program, plainEnv); // warm the caches for both
    RunOnce(program, hookedEnv);
    std::vector<double> plain, hooked, added, ratios;
    for (int i = 0; i < runs; ++i) {
        const double a = RunOnce(program, plainEnv);
        const double b = RunOnce(program, hookedEnv);
        if (a < 0 || b < 0) {
            std::fprintf(stderr, "startup_bench: cannot run %s\n", program[0]);
            return 1;
        }
        plain.push_back(a);
        hooked.push_back(b);
        added.push_back(b - a);
        ratios.push_back(b / a);
    }
    std::printf("%s: %.0f us plain, %.0f us with the hook; added %.0f us, ratio %.3f (medians of %d pairs)\n",
                program[0], Median(plain), Median(hooked), Median(added), Median(ratios), runs);
    return 0;
}
