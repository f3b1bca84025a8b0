#pragma once

#include "rules/Document.h"
#include "rules/Words.h"

#include <cstddef>
#include <optional>
#include <string>
#include <sys/types.h>
#include <utility>
#include <vector>

// The system services as an administrator's panel shows them: the programs
// of root and of the system users that hold network sockets, and what
// decides them (the machine's service rules, by the services' kernel
// backstop). Read from places given as parameters, so that tests lay out a
// machine of their own.
namespace panel::services {

// Where the machine keeps what the services' backstop uses.
struct Places {
    std::string procRoot = "/proc";
    std::string loginDefs = "/etc/login.defs";
    std::string rulesFile = "/etc/korvel/Rules.xml";
    std::string backstopSocket; // empty: the services' backstop's own (protocol/BackstopSocket.h)
    std::string logFolder = "/var/log/korvel/services"; // its day logs, root:sudo

    // The machine's, or below the folder ZEL_SERVICES_ROOT names (the same
    // paths in it: tests and pictures lay out a machine there).
    static Places OfThisMachine();
};
// Its members, and root, are the administrators.
inline constexpr const char* kAdministrators = "sudo";
// At most this many services are listed (a machine has a few dozen).
inline constexpr size_t kMaxServices = 300;

// The ordinary users' ids, first and last (UID_MIN and UID_MAX of
// login.defs, as useradd takes them; 1000 to 60000 where it names none):
// every other user, root among them, is the system's.
std::pair<uid_t, uid_t> OrdinaryUsers(const std::string& loginDefs);

// Whether the calling process is root or in the administrators' group.
bool IsAdministrator();

// What decides a service.
enum class DecidedBy {
    kEntry,    // its service entry in the rules file
    kDefault,  // the file's system settings (the general entry)
    kShipped,  // no rules file: the shipped "permit and record"
    kUnknown,  // the rules file cannot be read
};

struct Service {
    pid_t pid = 0;
    uid_t uid = 0;
    std::string command; // the kernel's short name
    std::string exePath; // the executable; from the command line when that could not be read
    bool pathFromCommandLine = false; // exePath is what the program says it is, not what the kernel does
    int sockets = -1;                 // its network sockets; -1: not visible, but its user holds some
    DecidedBy decidedBy = DecidedBy::kUnknown;
    std::string entry; // the entry as the rules page names it (EntryDisplayName) when decidedBy is kEntry
    std::optional<rules::Permission> incoming, outgoing; // the defaults that apply
    size_t rules = 0; // rules of its own entry, before the defaults
};

struct Listing {
    std::vector<Service> services; // in process order
    bool truncated = false;        // more than kMaxServices
    size_t unseen = 0;             // root's processes whose descriptors this user cannot see
    bool rulesMissing = false;     // no rules file: the shipped settings hold
    std::string rulesProblem;      // why the rules file cannot be read, in the user's language; empty when read
    bool backstopRuns = false;     // the services' backstop answers on its socket
};

// The services with network sockets, and what decides each. Processes the
// caller cannot look into are listed when their system user (not root, whose
// services always hold some) owns internet sockets; kernel threads never.
Listing List(const Places& places);

// An administrator's choice for one service: one direction's default.
enum class Direction { kIncoming, kOutgoing };
struct DefaultChange {
    std::string exePath; // the service's executable, as listed
    Direction direction = Direction::kOutgoing;
    rules::Permission permission = rules::Permission::kPermit;
};

// What stands for the machine's rules while there is no file: the general
// settings, a service's, permitting both ways (and so recording).
rules::Document ShippedRules();

// The machine's rules (current: the file's text; nullopt: there is none)
// with the change made, as the new file's text: the service's own entry
// bound to its path changed, or added where it has none: a copy of the
// entry of its name it followed (its rules with it) or a new one, bound to
// the path, a service's, holding the other direction's default as it
// applied, so that nothing but the choice changes. nullopt (why, in the
// user's language) when the rules cannot be read or the path is none.
std::optional<std::string> WithDefault(const std::optional<std::string>& current, const DefaultChange& change,
                                       std::string& why);
// The same on the rules file of places, read now; over: what zel-admin's
// --over is given, the digest of the rules read ("none": there were none).
std::optional<std::string> WithDefault(const Places& places, const DefaultChange& change, std::string& why,
                                       std::string& over);

}  // namespace panel::services
