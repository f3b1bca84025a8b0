#pragma once

#include "backstop/CompiledRules.h"

#include <vector>

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace engine {
class RuleTable;
}

namespace backstop {

// Turns a user's rules file into what the kernel decides by. The tables are
// built by the engine's own reader, one per application the file names and
// one for every other program, so that the kernel and the engine never read
// the file differently; of a table, the compiler looks only at the outgoing
// default and the entries, in order.
//
// Each (program, port) list of entries becomes address intervals of each
// family, IPv4 and IPv6, each holding the first entry that matches there, so
// that the kernel finds a decision in a few halvings however many entries the
// program has. Host-name entries are decided as for a peer whose name is not
// known, which is all the kernel can know: "?" covers every address, other
// names none. Incoming entries are compiled as outgoing ones, into lists of
// their own.
//
// An entry bound to a path holds for the file at that path alone, as in the
// engine: each such path gets tables of its own, found in the kernel by the
// folder the program was executed from and its file name; with a content
// check, one for the very file checked (its inode and change time) and one
// for any other file there, in which the check's permits are questions.
class RulesCompiler {
public:
    // What the kernel knows a file by (see backstop.h), as the service finds it.
    struct FileFacts {
        bool folderFound = false; // the folder exists, and the path is as the kernel sees it (no link on the way)
        uint64_t folder = 0;
        uint32_t folderDevice = 0;
        bool fileFound = false;
        uint64_t file = 0;
        uint32_t fileDevice = 0;
        int64_t changed = 0;
        uint32_t changedNs = 0;
        std::string digest;  // os::DigestText of its contents, when asked for and readable
        bool settled = true; // false: changed too lately (or while read) for the digest to be sure of
    };
    using FileLookup = std::function<FileFacts(const std::string& path, bool digest)>;
    struct Options {
        // The machine's rules for the system services: only the entries marked
        // as services (ISSERVICE) apply, and the general one.
        bool services = false;
        // The files of bound entries; none: such entries hold for no file.
        FileLookup files;
    };

    // The whole document; nullopt (error says why) when it does not parse or
    // does not fit the kernel's maps.
    static std::optional<CompiledRules> Compile(std::string_view document, std::string& error,
                                                const Options& options);
    static std::optional<CompiledRules> Compile(std::string_view document, std::string& error)
    {
        return Compile(document, error, Options {});
    }
    // The paths entries of the document are bound to (those a compile looks
    // at): what to watch for changes.
    static std::vector<std::string> BoundPaths(std::string_view document);
    // No rules file: every program is asked, as the engine does without one.
    static CompiledRules NoRules();

    // Adds one program's table under its name's hash (ZEL_RULES_GENERAL:
    // every program without an application of its own; general: no entry of
    // the program's own is in it). false (error says why) when the maps
    // cannot hold it; nothing of it is added then.
    bool Add(uint64_t hash, const engine::RuleTable& table, std::string& error, bool general = false);
    const CompiledRules& Rules() const { return rules_; }

private:
    CompiledRules rules_;
    // Lists alike share their intervals: by their bytes, the place they start.
    std::map<std::string, uint32_t, std::less<>> runs_, runs6_;
};

}  // namespace backstop
