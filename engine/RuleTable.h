#pragma once

#include "engine/HeldAnswers.h"
#include "engine/HostPattern.h"
#include "os/Files.h"
#include "protocol/Profiles.h"
#include "rules/AddressRange.h"

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <sys/types.h>
#include <unordered_map>
#include <vector>

namespace engine {

enum Decision : int { kDeny = 0, kPermit = 1, kAsk = 2 };
enum Direction : int { kIncoming = 0, kOutgoing = 1 };

struct RuleEntry {
    int permission = kDeny;
    int direction = kOutgoing;
    int port = 0; // 0 matches every port
    // The addresses the entry covers, IPv4 or IPv6. None: every address,
    // unless the entry names a host.
    std::optional<rules::AddressRange> addresses;
    std::optional<HostPattern> host; // set: the entry covers the peers of that name, whatever their address
};

// The program whose rules are read: its name as rules_format::ProgramName
// gives it, and its executable's path. An entry bound to a path applies only
// to the program at that path; without a path, bound entries apply to none,
// unless everyPath says that the reader knows programs by name alone (the
// kernel layer) and takes every entry of the name as its own.
struct ProgramIdentity {
    std::string_view name;
    std::string_view path;
    bool everyPath = false;
    // The digest of the program's file (os::DigestText), asked for only
    // when an entry that applies has a content check; null: unknown, so such
    // an entry never permits without asking.
    const std::string& (*digest)(void* context) = nullptr;
    void* digestContext = nullptr;
    // The program's parent as its own entry would name it, and its path;
    // both empty: no known parent. An entry limited to that parent
    // (rules::Application::parent) takes the place of the program's plain
    // entry; one limited to another parent never applies.
    std::string_view parentName;
    std::string_view parentPath;
    // Set by the readers: read the entry limited to the parent, not the
    // plain one; and where to note that the file holds one.
    bool limited = false;
    bool* limitedSeen = nullptr;
    bool HasParent() const { return !parentName.empty() || !parentPath.empty(); }
    ProgramIdentity(std::string_view programName, std::string_view programPath = {})
        : name(programName), path(programPath)
    {
    }
    ProgramIdentity(const char* programName) : name(programName) {}
    ProgramIdentity(const std::string& programName) : name(programName) {}
};

// How reading a rules file went.
enum class LoadStatus {
    kLoaded,     // the file parsed (whether or not it had rules for the program)
    kMissing,    // nothing at that path, not even a link (or no path)
    kMalformed,  // not a whole document: perhaps caught half-written
    kUnreadable, // cannot be read whole now: no descriptor left, no permission, a link leading
                 // nowhere, not a regular file, larger than the limit, an error on the way
};

using os::FileStamp;
using os::StampOf;

// The rules of one executable: two defaults and the entries, first match wins.
class RuleTable {
public:
    int defaultIncoming = kAsk;
    int defaultOutgoing = kAsk;
    std::vector<RuleEntry> entries;
    // The user's answers for a time (the file's TIMED): they answer only
    // what the entries and defaults leave to a question.
    HeldAnswers timedAnswers;
    // Whether an entry of the program's own (not "ANY") was read.
    bool ownEntry = false;
    // Whether an entry of the program's own that is surely this program's
    // (its content check, if any, passed) asks that the host lists be left
    // out: then its own rules decide a listed peer.
    bool ignoresLists = false;
    // What the profile in force decides for this program before its
    // entries, by direction; kNoOverride: nothing.
    static constexpr int kNoOverride = -1;
    int overrideIncoming = kNoOverride;
    int overrideOutgoing = kNoOverride;
    // The profile's name as records carry it (escaped); empty: none in force.
    std::string profileForLog;

    // Takes what the profile says of the program at path: its defaults
    // replace the file's when the program has no entry of its own, and an
    // override for the path decides before the entries.
    void ApplyProfile(const protocol::profiles::Profile& profile, std::string_view path);

    // Appends the defaults and entries of the rules file at path that apply to
    // program. Returns 1 when an entry with a non-empty INDEF ended the
    // reading, else 0. An element that lacks what it must hold is read as
    // rules::MeaningOf says and the reading goes on (see RulesReader.h).
    int LoadRulesFor(const std::string& path, ProgramIdentity program);
    // The same, telling how reading the file went and which version was read.
    // The file is read only when it is a regular file within the format's
    // size limit, without ever waiting (a FIFO in its place must not hang
    // the program), and whole: a file that cannot be read whole adds nothing.
    int LoadRulesFor(const std::string& path, ProgramIdentity program, LoadStatus& status, FileStamp& stamp);
    // The same from a document held in memory.
    int LoadRulesFromText(std::string_view text, ProgramIdentity program);
    // The same, always building the whole document in memory: what the
    // reading above falls back to for a document of an unusual shape, and
    // what tests compare it with.
    int LoadRulesFromDocument(std::string_view text, ProgramIdentity program);

    // Adds one entry; an address text that is not an address, a range or a
    // prefix of either family (rules::ParseAddressRange) rejects the
    // entry (returns false).
    bool AddEntry(int port, int direction, int permission, const char* addressText);
    // Adds one entry for a host pattern; false (nothing added) for a pattern
    // that is not one.
    bool AddHostEntry(int port, int direction, int permission, std::string_view pattern);
    bool HasHostEntries() const { return hostEntries_ > 0; }

    void Clear();

    // The first matching entry's permission, else the default of the direction.
    // addressText: the peer's address, IPv4 or IPv6 (an IPv4-mapped one is
    // IPv4); any other text is matched only by entries that name no address.
    // name: what the program looked the peer up as (null: unknown); only
    // entries with a host pattern look at it. Allocates nothing.
    int MatchRules(int direction, int port, std::string_view addressText, const HostKey* name = nullptr) const;
    // The same for a peer known by several names (none: unknown): a host
    // entry covers the peer when any of its names matches, and the first
    // entry in the rules' order decides, so the answer never depends on the
    // order in which the names were learnt. matchedName gets the index of
    // the name the deciding entry matched, or -1 when no host entry decided.
    // byEntry (when given) tells whether an entry decided, not the default.
    int MatchRules(int direction, int port, std::string_view addressText, std::span<const HostKey> names,
                   int* matchedName, bool* byEntry = nullptr) const;
    // The same for a peer whose address is parsed already (nullopt: no address).
    int MatchRules(int direction, int port, const std::optional<rules::PeerAddress>& peer,
                   std::span<const HostKey> names, int* matchedName, bool* byEntry = nullptr) const;

private:
    // Reads with read(program); when the program's parent is known and the
    // file holds an entry limited to it, reads again with that entry in
    // place of the plain one (what the table held before kept).
    template <typename Read>
    int ReadPreferringLimited(ProgramIdentity program, const Read& read);
    int LoadRulesOnce(const std::string& path, ProgramIdentity program, LoadStatus& status, FileStamp& stamp);
    int LoadRulesFromTextOnce(std::string_view text, ProgramIdentity program);

    // So that a decision need not look at every host entry: the entries by
    // kind, in order. Host patterns of names and domains by their hash, so
    // that a name finds the few that can match it; "*" and "?" apart.
    // Address entries by direction and port (port 0: every port), each list
    // in rule order, so that a decision looks only at the entries that can
    // cover its port, however many the program has. Each port's entries by
    // the family they cover, with their addresses at hand: a peer looks only
    // at its family's and at those of every address. An entry that covers
    // nothing is in none of them.
    static uint64_t PortKey(int direction, int port)
    {
        return (static_cast<uint64_t>(static_cast<uint32_t>(direction)) << 32) | static_cast<uint32_t>(port);
    }
    struct Ipv4Slot {
        uint32_t index; // of the entry
        uint32_t first;
        uint32_t span; // the entry covers first to first + span
    };
    struct Ipv6Slot {
        uint32_t index;
        rules::Address128 first;
        rules::Address128 span;
    };
    struct PortEntries {
        std::vector<Ipv4Slot> ipv4;
        std::vector<Ipv6Slot> ipv6;
        std::vector<uint32_t> everyAddress; // for a peer that is no address
    };
    // The first entry of lists below bound that covers peer, else bound.
    static uint32_t FirstAddressMatch(const PortEntries& lists, const std::optional<rules::PeerAddress>& peer,
                                      uint32_t bound);
    std::unordered_map<uint64_t, PortEntries> addressesByPort_;
    std::unordered_map<uint64_t, std::vector<uint32_t>> hostsByHash_;
    std::vector<uint32_t> anyHostEntries_;
    size_t hostEntries_ = 0;
};

using rules::ParseIpv4;

}  // namespace engine
