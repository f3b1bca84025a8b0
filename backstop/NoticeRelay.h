#pragma once

#include "backstop/backstop.h"

#include <chrono>
#include <map>
#include <poll.h>
#include <string>
#include <sys/types.h>
#include <vector>

namespace backstop {

// One covered user's notices: to the journal (standard output) and to that
// user's clients (the interceptor, the control panel), connected to a socket
// of the user's own, once per program and verdict in a while; every
// question the kernel raises (it spaces them out itself). The socket belongs
// to the user, mode 0600, in a folder only root may write; a client whose
// peer credentials are not the user's or root's is turned away, so no user
// hears another's programs. A client hears first what the backstop does
// ("state MODE"), then the notices.
//
// The system services' notices go to the administrators instead (root and
// the members of the administrators' group: the socket is root's and that
// group's, mode 0660), and each is written into the services' own day logs.
class NoticeRelay {
public:
    static constexpr size_t kMaxClients = 16;

    NoticeRelay(std::string socketPath, uid_t uid) : path_(std::move(socketPath)), uid_(uid) {}
    // The services' relay: clients of root and of group administrators
    // (none: root's alone); each notice also recorded in logFolder.
    void ServeAdministrators(gid_t administrators, std::string logFolder)
    {
        administrators_ = administrators;
        logFolder_ = std::move(logFolder);
    }
    // What a client hears first: the backstop's mode.
    void SetMode(unsigned mode) { mode_ = mode; }
    ~NoticeRelay();
    NoticeRelay(const NoticeRelay&) = delete;
    NoticeRelay& operator=(const NoticeRelay&) = delete;

    // Makes the socket (replacing a stale one); error says why not.
    bool Listen(std::string& error);
    // What to wait on: the listener, then each client. A client never
    // speaks, so a client readable has closed (or misbehaves): it goes.
    std::vector<pollfd> Waits() const;
    // After the wait on Waits(): newcomers taken, closed clients let go.
    void Served(const pollfd* waits, size_t count);
    void Tell(const zel_backstop_event& event);
    size_t Clients() const { return clients_.size(); }

private:
    void Accept();
    void Prune();
    void Drop(size_t index);
    bool Allowed(int client) const;
    void Record(const zel_backstop_event& event, const std::string& program, const std::string& address) const;

    std::string path_;
    uid_t uid_;
    gid_t administrators_ = static_cast<gid_t>(-1);
    std::string logFolder_;
    unsigned mode_ = 0;
    int listener_ = -1;
    dev_t device_ = 0; // the socket file made, to remove only that one
    ino_t inode_ = 0;
    std::vector<int> clients_;
    std::map<std::string, std::chrono::steady_clock::time_point> lastNotice_;
};

}  // namespace backstop
