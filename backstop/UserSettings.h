#pragma once

#include "backstop/CompiledRules.h"

#include "rules/RulesFormat.h"

#include <chrono>
#include <cstdint>
#include <string>
#include <sys/types.h>
#include <vector>

namespace backstop {

// What the root service reads of a covered user's settings: Block All and
// the rules file, compiled. Everything is read by a child process that has
// taken the user's identity (user and groups) before it opens anything, so
// that a link the user points at a file only root may read is refused as it
// would be for the user; the service itself opens none of the user's files
// and parses none of their text. The child is bounded in memory and time,
// so that whatever a file makes a reader build, the child fails and the
// service stays as small as the compiled rules; its answer is bounded by
// what the kernel's maps hold.
class UserSettings {
public:
    static constexpr size_t kMaxRulesBytes = rules::rules_format::kMaxRulesFileBytes; // every reader's bound
    static constexpr int kReadSeconds = 5;              // a reader that takes longer is killed
    // The reader's memory past what it started with: a file whose reading
    // needs more is refused. Reading a file at the format's limits takes
    // well under half of it.
    static constexpr size_t kReadMemoryBytes = 128u << 20;

    // Which version of a file was read.
    struct Stamp {
        dev_t device = 0;
        ino_t inode = 0;
        long long size = -1;
        long long modified = 0; // nanoseconds
        long long changed = 0;
        bool operator==(const Stamp&) const = default;
    };
    enum class Rules : uint8_t {
        kUnchanged,  // the file read last time (same path and stamp): not read again
        kRead,       // compiled holds it
        kMissing,    // no rules file, nothing at its path (or no setting naming one)
        kUnreadable, // cannot be read whole by the user (why says why): a link that leads
                     // nowhere, a FIFO, over the size limit, no permission, an error
        kRefused,    // read, but not to be used (why says why): over the elements'
                     // limit, does not parse, its reading takes more memory or time than
                     // the reader has, or the kernel's maps cannot hold it
    };
    struct Look {
        bool done = false;       // false: the reader failed (why says why); nothing else is known
        bool blockAll = false;   // "SecurityStatus" "0"
        std::string keyFolder;   // the settings key's folder, to watch; empty when there is none yet
        std::string rulesPath;   // the rules file, as the setting names it
        Rules rules = Rules::kMissing;
        Stamp stamp;             // of the file read (kRead, kRefused)
        CompiledRules compiled;  // kRead
        uint64_t textHash = 0;   // of the text compiled
        std::string why;
        // The folders of the files entries are bound to (kRead): a change
        // there asks for the rules to be compiled again.
        std::vector<std::string> boundFolders;
        bool unsettled = false;  // a bound file changed too lately to be trusted yet: compile again soon
    };

    // store: the user's settings store (what ZEL_REGISTRY_ROOT names); empty:
    // the user's own, under their home folder.
    UserSettings(uid_t uid, std::string store);
    // The machine's rules for the system services: the file at rulesPath,
    // which must be root's and written by root alone (and its folder too);
    // read as root, its service entries and general settings compiled.
    static UserSettings Machine(std::string rulesPath);

    // known, knownPath: the rules file read last time; its text is read
    // again only when the file is another one now.
    Look Read(const Stamp& known, const std::string& knownPath) const;
    bool IsMachine() const { return machine_; }

    uid_t Uid() const { return uid_; }
    const std::string& Store() const { return store_; }

private:
    // In the child, as the user: the look, written to fd.
    [[noreturn]] void ReadAsUser(int fd, const Stamp& known, const std::string& knownPath) const;
    // In the service: the rules the child compiled; false when it did not
    // say them whole (look.why then says why when known).
    static bool TakeCompiled(int fd, std::chrono::steady_clock::time_point deadline, Look& look);

    bool machine_ = false;
    uid_t uid_;
    gid_t gid_;
    std::string name_; // the account's, for its groups; empty: no account
    std::string home_;
    std::string store_;
};

}  // namespace backstop
