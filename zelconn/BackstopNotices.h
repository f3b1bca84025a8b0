#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <sys/types.h>

namespace zelconn {

// What the kernel backstop (a root service, when installed) reports of this
// user's programs that connected without the hook (and the questions it
// raises for them): read from the socket of
// this user's backstop, which it may open or close at any time. Only a
// service of the expected user (root) is listened to.
class BackstopNotices {
public:
    struct Notice {
        bool denied = false; // refused (also when asked)
        bool asked = false;  // refused because the user's rules say ASK: the user is asked
        bool incoming = false; // the peer connected (or sent) to the program
        pid_t pid = 0;
        std::string address;
        unsigned port = 0;      // the peer's
        unsigned localPort = 0; // incoming: the program's
        int protocol = 1; // as the log writes it: 1 TCP, 2 UDP
        std::string program; // the executable's path (or its command name)
    };

    // ZEL_BACKSTOP_SOCKET, else this user's backstop's own path
    // (/run/zel-backstop/UID.sock).
    static std::string SocketPath();

    explicit BackstopNotices(std::string path, uid_t serviceUid = 0) : path_(std::move(path)), serviceUid_(serviceUid) {}
    ~BackstopNotices();
    BackstopNotices(const BackstopNotices&) = delete;
    BackstopNotices& operator=(const BackstopNotices&) = delete;

    // Connects when not connected (at most every few seconds); the
    // descriptor to wait on, or -1.
    int Fd(std::chrono::steady_clock::time_point now);
    // The next whole notice read, nullopt when none waits.
    std::optional<Notice> Next();

    // One line of the service's: "denied|passed|asked PID ADDRESS PORT TCP|UDP PROGRAM", or
    // for what came in, "denied-in|passed-in|asked-in PID ADDRESS PORT LOCALPORT TCP|UDP PROGRAM";
    // nullopt for anything else (its first line, "state MODE", too).
    static std::optional<Notice> Parse(const std::string& line);

private:
    std::string path_;
    uid_t serviceUid_;
    int fd_ = -1;
    std::string pending_;
    std::chrono::steady_clock::time_point nextTry_ {};
};

}  // namespace zelconn
