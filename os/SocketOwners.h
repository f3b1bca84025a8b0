#pragma once

#include <chrono>
#include <cstdint>
#include <span>
#include <string>
#include <sys/types.h>
#include <unordered_map>
#include <vector>

namespace os::sockdiag {

// Which process holds each socket (by inode) of one user. Owners are kept:
// only inodes not seen before make it look into /proc/<pid>/fd, of that
// user's processes alone, the likeliest first, and each refresh looks into a
// bounded number of them in a bounded time. An inode that a whole round of
// the user's processes did not find (a program that may not be examined, or
// one in another pid namespace) is no longer looked for.
class SocketOwners {
public:
    struct Limits {
        size_t maxProcesses = 64;       // /proc/<pid>/fd folders read per refresh
        size_t maxDescriptors = 20000;  // their entries read per refresh
        std::chrono::milliseconds maxTime {10};
    };
    struct Counts {
        uint64_t looks = 0;     // /proc/<pid>/fd folders read
        uint64_t listings = 0;  // readings of the process list
    };

    SocketOwners(uid_t owner, std::string procRoot, Limits limits);
    explicit SocketOwners(uid_t owner) : SocketOwners(owner, "/proc", Limits {}) {}

    // inodes are the user's open sockets now (owners of the others are
    // forgotten); candidates are the processes to look at first (those known
    // to use the network), before those started since the last look and then
    // the rest in turn.
    void Refresh(std::span<const uint64_t> inodes, std::span<const pid_t> candidates);

    // 0 while not known.
    pid_t Owner(uint64_t inode) const;
    const Counts& counts() const { return counts_; }

private:
    struct Entry {
        pid_t pid = 0;
        uint32_t refresh = 0;  // the last refresh that listed it
        uint32_t round = 0;    // rounds_ when it was last unknown
    };
    bool Wanted(const Entry& entry) const { return entry.pid == 0 && rounds_ < entry.round + 2; }
    size_t Look(pid_t pid, std::chrono::steady_clock::time_point deadline);

    uid_t owner_;
    std::string procRoot_;
    Limits limits_;
    Counts counts_;
    std::unordered_map<uint64_t, Entry> entries_;
    std::vector<pid_t> known_;  // the user's processes at the last listing, ascending
    pid_t cursor_ = 0;          // the last process of the round looked at
    struct {
        pid_t pid = 0;
        long descriptor = -1;
    } resume_;  // a descriptor table read in part: read on after this descriptor
    size_t descriptorsLeft_ = 0;  // in this refresh
    uint32_t refreshes_ = 0;
    uint32_t rounds_ = 0;  // whole rounds through the user's processes
};

}  // namespace os::sockdiag
