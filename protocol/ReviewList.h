#pragma once

#include "protocol/DecisionList.h"

#include <ctime>
#include <cstddef>
#include <functional>
#include <string>
#include <vector>

// What a quiet or the learning mode decided without asking, for the user to
// review and make rules of: one line per decision in
// $XDG_DATA_HOME/korvel/review, kept across reboots. A private file of the
// user in a folder no one else may change, never reached through a link;
// appended by the engines, rewritten by the tools and the panel, each under
// a lock of the file (protocol/DecisionList.h). Past kMaxBytes nothing more
// is added (the traffic log has every decision).
namespace protocol::review {

struct Item : decision_list::Peer {
    std::time_t time = 0;
    std::string mode; // "quiet" or "learn", the log's REASON
    std::string path; // the program

    bool operator==(const Item&) const = default;
};

inline constexpr size_t kMaxBytes = 1024 * 1024;
// A longer line is no decision this list wrote.
inline constexpr size_t kMaxLineBytes = 8192;

std::string ListPath();

// Adds one at the end, making the folder when needed; false when it could
// not be written, the list is full or its folder or file is not safe.
bool Append(const std::string& path, const Item& item);
// Every item, oldest first; lines that do not read are left out.
std::vector<Item> ReadAll(const std::string& path);
// Takes out the items drop says; false when the list could not be rewritten.
bool Remove(const std::string& path, const std::function<bool(const Item&)>& drop);

// What one rule would cover of a program's items: direction, protocol, the
// rule's port (the remote one going out, the local one coming in) and the
// peer's host name, or its address when it had none. decided and mode are
// the newest item's.
struct Peer {
    bool outgoing = true;
    int protocol = 1;
    unsigned port = 0;
    std::string host;
    bool permitted = false;
    std::string mode;
    int count = 0;
    std::time_t last = 0;
};

struct Program {
    std::string path;
    std::vector<Peer> peers; // newest first
    int count = 0;
    std::time_t last = 0;
};

// The items by program, newest program first.
std::vector<Program> Group(const std::vector<Item>& items);
// Whether the item is one of the peer's of that program.
bool Covers(const std::string& path, const Peer& peer, const Item& item);
// A short id of a program's peer that stays the same while the list changes:
// 8 hexadecimal digits.
std::string ItemId(const std::string& path, const Peer& peer);

}  // namespace protocol::review
