#pragma once

#include "backstop/CompiledRules.h"

#include <functional>
#include <string>

namespace backstop {

// The compiled rules and the rules' state (Block All, this computer's
// address) in a backstop's pinned maps. New rules go into the generation
// not in force, which one write of the state then puts in force: a
// decision sees the old rules or the new, never a mix. The entries of that
// generation were last in force a whole change ago, so no decision still
// reads them when they are replaced. Callers hold the pin folder's parent
// lock (see zel-backstop.cpp): there is one writer at a time.
class PinnedRules {
public:
    struct State {
        bool loaded = false;    // rules were compiled in
        bool blockAll = false;
        unsigned programs = 0;  // tables in force, the general one and those of bound paths included
        unsigned bound = 0;     // paths entries are bound to
    };

    explicit PinnedRules(std::string folder) : folder_(std::move(folder)) {}

    bool Put(const CompiledRules& rules, std::string& error) const;
    bool SetBlockAll(bool on, std::string& error) const;
    // The services' "permit and record": what the general settings permit is told.
    bool SetRecordGeneral(bool on, std::string& error) const;
    // network order; 0: none
    bool SetOwnAddress(unsigned address, std::string& error) const;
    // false when the maps are not there (or not readable).
    bool Read(State& state) const;

private:
    std::string Path(const char* name) const { return folder_ + "/" + name; }
    // Reads the state, changes it, writes it back (one writer: see above).
    bool ChangeState(const std::function<void(zel_rules_state&)>& change, const char* what, std::string& error) const;

    std::string folder_;
};

}  // namespace backstop
