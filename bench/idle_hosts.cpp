// Stands in for many idle networked programs: forks N processes that each
// register as a host, as an engine does at its first decision, and then do
// nothing until this program's standard input closes (or it is signalled).
//   idle_hosts N [NAME]     prints "ready" once all are registered
#include "protocol/CarrierRegistry.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

int main(int argc, char** argv)
{
    const int count = argc > 1 ? std::atoi(argv[1]) : 0;
    const std::string name = argc > 2 ? argv[2] : "IDLE-HOST";
    if (count <= 0 || count > 20000) {
        std::fprintf(stderr, "usage: idle_hosts N [NAME]\n");
        return 2;
    }
    int ready[2];
    if (::pipe(ready) != 0)
        return 1;
    std::vector<pid_t> children;
    for (int i = 0; i < count; ++i) {
        const pid_t child = ::fork();
        if (child < 0)
            break;
        if (child == 0) {
            ::prctl(PR_SET_PDEATHSIG, SIGKILL); // never outlive the run
            const int fd = protocol::carriers::RegisterCarrier(::getpid(), name);
            const char byte = fd >= 0 ? 'y' : 'n';
            [[maybe_unused]] const ssize_t n = ::write(ready[1], &byte, 1);
            ::pause();
            ::_exit(0);
        }
        children.push_back(child);
    }
    int registered = 0;
    for (size_t i = 0; i < children.size(); ++i) {
        char byte = 0;
        if (::read(ready[0], &byte, 1) == 1 && byte == 'y')
            ++registered;
    }
    std::printf("ready %d\n", registered);
    std::fflush(stdout);
    char byte;
    while (::read(STDIN_FILENO, &byte, 1) > 0) {
    }
    for (const pid_t child : children)
        ::kill(child, SIGKILL);
    for (const pid_t child : children)
        ::waitpid(child, nullptr, 0);
    return registered == count ? 0 : 1;
}
