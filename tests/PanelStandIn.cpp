// Stands in for the running control panel in tests: takes the presence lock,
// says "ready" and keeps it until its standard input closes. With --window
// it also registers the main window with its message box, and each line
// "list NAMES" read meanwhile publishes NAMES as the box's text, as the
// panel does after a change of rules.
#include "protocol/PanelMessages.h"
#include "protocol/Presence.h"
#include "protocol/Windows.h"

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <unistd.h>

int main(int argc, char** argv)
{
    const int lock = protocol::presence::HoldControlPanelLock(protocol::presence::ControlPanelLockPath());
    if (lock < 0)
        return 1;
    std::unique_ptr<protocol::windows::Window> window;
    if (argc > 1 && !std::strcmp(argv[1], "--window")) {
        window = protocol::windows::Window::Register(protocol::kMainWindowTitle, {protocol::kPictureBoxClass});
        if (!window)
            return 1;
    }
    std::printf("ready\n");
    std::fflush(stdout);
    std::string line;
    char byte;
    while (::read(STDIN_FILENO, &byte, 1) > 0) {
        if (byte != '\n') {
            line += byte;
            continue;
        }
        if (window && line.rfind("list ", 0) == 0) {
            protocol::windows::SetWindowText(window->ChildHandle(0), line.substr(4));
            std::printf("published\n");
            std::fflush(stdout);
        }
        line.clear();
    }
    return 0;
}
