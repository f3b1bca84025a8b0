#pragma once

#include "backstop/CompiledRules.h"

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace engine {
class RuleTable;
}

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
// names none.
class RulesCompiler {
public:
    // The whole document; nullopt (error says why) when it does not parse or
    // does not fit the kernel's maps.
    static std::optional<CompiledRules> Compile(std::string_view document, std::string& error);
    // No rules file: every program is asked, as the engine does without one.
    static CompiledRules NoRules();

    // Adds one program's table under its name's hash (ZEL_RULES_GENERAL:
    // every program without an application of its own). false (error says
    // why) when the maps cannot hold it; nothing of it is added then.
    bool Add(uint64_t hash, const engine::RuleTable& table, std::string& error);
    const CompiledRules& Rules() const { return rules_; }

private:
    CompiledRules rules_;
    // Lists alike share their intervals: by their bytes, the place they start.
    std::map<std::string, uint32_t, std::less<>> runs_, runs6_;
};
