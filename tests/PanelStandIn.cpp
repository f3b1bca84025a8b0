// Stands in for the running control panel in tests: takes the presence lock,
// says "ready" and keeps it until its standard input closes.
#include "platform/Presence.h"

#include <cstdio>
#include <unistd.h>

int main()
{
    const int lock = platform::presence::HoldControlPanelLock(platform::presence::ControlPanelLockPath());
    if (lock < 0)
        return 1;
    std::printf("ready\n");
    std::fflush(stdout);
    char byte;
    while (::read(STDIN_FILENO, &byte, 1) > 0) {
    }
    return 0;
}
