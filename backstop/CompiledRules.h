#pragma once

#include "backstop/backstop.h"

#include <cstdint>
#include <vector>

namespace backstop {

// Rules as the kernel programs decide by them (see rules_lookup.h): what
// RulesCompiler makes and PinnedRules writes into the maps. Offsets count
// from 0; the writer places them in a generation's half.
struct CompiledRules {
    struct Program {
        uint64_t hash = ZEL_RULES_GENERAL; // of the application's name (exe_name.h), or a bound file's table
        uint32_t index = 0;                // of its lists
        uint32_t outgoing = ZEL_RULES_ASK; // its defaults
        uint32_t incoming = ZEL_RULES_ASK;
        uint32_t general = 0;              // 1: no entry of its own applies (the general settings decide)
        zel_rules_list every {0, 0, 0, 0}; // its entries of every port, outgoing
        zel_rules_list everyIn {0, 0, 0, 0}; // and incoming
    };
    struct List {
        uint32_t program = 0;
        uint32_t port = 0; // 1 to 65535
        uint32_t incoming = 0;
        zel_rules_list list {};
    };
    // A path that entries are bound to: the file there, and its tables.
    struct Bound {
        zel_rules_bound_key key {}; // generation 0: the writer sets it
        zel_rules_bound file {};
    };
    std::vector<Program> programs; // one has the hash ZEL_RULES_GENERAL
    std::vector<List> lists;
    std::vector<zel_rules_interval> intervals;
    std::vector<zel_rules_interval6> intervals6;
    std::vector<Bound> bound;
};

}  // namespace backstop
