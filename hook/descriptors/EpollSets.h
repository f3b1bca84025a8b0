#pragma once

#include <cstdint>
#include <sys/epoll.h>

// Where the program watches a descriptor with epoll. Nothing is kept about
// epoll while no question is open: when a descriptor starts to stand in for
// a socket (see StandIns.h), the kernel is asked which of the program's epoll
// sets hold it (each epoll descriptor's /proc/self/fdinfo), and from then on
// the program's own epoll_ctl calls on it are followed, so that the socket
// goes back into every set, with the program's events and data, when it
// comes back under its number.
namespace hook {

struct EpollRegistration {
    int epoll;
    uint32_t events;
    uint64_t data;
};

// A descriptor is rarely in more than one or two sets.
constexpr unsigned kMaxEpollRegistrations = 8;

struct EpollRegistrations {
    unsigned count = 0;
    EpollRegistration items[kMaxEpollRegistrations];

    // What the program's epoll_ctl(epoll, op, ...) changed (after it succeeded).
    void Follow(int epoll, int op, const epoll_event* event);
};

// The sets that hold fd, the file of the given inode (a set also lists
// entries whose number was closed while the file lived on under another).
// Skips every descriptor whose kind the hook knows (sockets are no epoll sets).
void FindEpollRegistrations(int fd, unsigned long inode, EpollRegistrations& found);
// Takes fd out of each set, or puts it into each as the file it refers to now.
void LeaveEpollSets(int fd, const EpollRegistrations& registrations);
void JoinEpollSets(int fd, const EpollRegistrations& registrations);

}  // namespace hook
