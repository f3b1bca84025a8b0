#pragma once

#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <sys/types.h>
#include <unordered_map>
#include <vector>

// Which of the user's running programs with network sockets (any socket but
// a local or a netlink one) the firewall
// decides, and why the others escape it: read from a proc root (a parameter,
// so that tests can lay out a process table of their own).
namespace session::coverage {

enum class State {
    kFirewall, // the hook is in it: its connections are put to the rules
    kBackstop, // the hook is not, but the kernel backstop covers the user
    kNotCovered,
};

// Why the hook is not in a program (kNone when it is).
enum class Reason {
    kNone,
    kStartedWithout,      // its environment does not name the hook: started before protection, or by a program that was
    kHookNotLoaded,       // named, but not loaded (missing or unusable when it started)
    kStatic,              // statically linked: no loader to preload with
    kOwnSystemCalls,      // a Go program: it makes its socket calls itself
    kForeignArchitecture, // an executable of another word size than the hook's
    kSecureExecution,     // set-user-ID, set-group-ID or file capabilities: the loader leaves the preload out
    kSandboxed,           // a sandboxed bundle (Flatpak, Snap) started with a cleared environment
    kOtherUser,           // runs as another user (started from one of the user's programs)
};

struct Program {
    pid_t pid = 0;
    uid_t uid = 0;           // real user id
    std::string exePath;     // empty when it cannot be read
    std::string command;     // the kernel's short name of the process
    int sockets = -1;        // network sockets; -1 when they cannot be seen
    bool registered = false; // its engine registered with the interceptor
    State state = State::kNotCovered;
    Reason reason = Reason::kNone;
    uint64_t startTicks = 0; // start time, clock ticks after boot

    // Starting it again under the hook would bring it in.
    bool CanRestartUnderHook() const
    {
        return state != State::kFirewall && (reason == Reason::kStartedWithout || reason == Reason::kHookNotLoaded);
    }
};

struct ScanSettings {
    std::string procRoot = "/proc";
    uid_t uid = 0;              // the user whose programs are shown
    std::set<pid_t> registered = {}; // processes whose engine registered (alive entries of the carrier registry)
    bool backstop = false;      // the kernel backstop covers the user
    pid_t self = 0;             // left out (the caller)
};

// What an executable file is, as far as preloading goes.
struct ExecutableKind {
    bool readable = false;
    bool isStatic = false; // no program interpreter
    bool isGo = false;     // has a .go.buildinfo section
    bool foreignClass = false;
};

class Scanner {
public:
    // The user's programs with network sockets, and those whose sockets
    // cannot be seen but that escape the hook for a reason worth telling
    // (set-user-ID, another user's started from theirs); in process order.
    std::vector<Program> Scan(const ScanSettings& settings);

    // The kind of the executable open as fd, remembered by file identity.
    ExecutableKind KindOf(int fd);

private:
    // What was found out of a process whose image has not changed since.
    struct Known {
        bool valid = false;
        uint64_t startTicks = 0;
        std::string exePath;
        Reason reason = Reason::kNone;
        uint64_t seen = 0;
    };
    std::unordered_map<pid_t, Known> known_;
    uint64_t generation_ = 0;

    struct FileKey {
        dev_t device;
        ino_t inode;
        int64_t modified;
        int64_t size;
        auto operator<=>(const FileKey&) const = default;
    };
    std::map<FileKey, ExecutableKind> kinds_;
};

// The kind of an ELF file's contents (for tests and the cache above).
ExecutableKind ReadExecutableKind(int fd);

// What it takes to start a process again: its command line, folder and environment.
struct Launch {
    std::vector<std::string> arguments;
    std::string folder;
    std::vector<std::string> environment;
};
// Empty arguments when the process cannot be read.
Launch LaunchOf(const std::string& procRoot, pid_t pid);

// Whether the kernel backstop's notice socket is there: the root service
// that covers programs the hook cannot enter is running. ZEL_BACKSTOP_SOCKET
// names it where it is not the service's own path.
bool BackstopRunning();

}  // namespace session::coverage
