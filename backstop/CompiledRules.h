#pragma once

#include "backstop/backstop.h"

#include <cstdint>
#include <vector>

// A user's rules as the kernel programs decide by them (see rules_lookup.h):
// what RulesCompiler makes and PinnedRules writes into the maps. Offsets
// count from 0; the writer places them in a generation's half.
struct CompiledRules {
    struct Program {
        uint64_t hash = ZEL_RULES_GENERAL; // of the application's name (exe_name.h)
        uint32_t index = 0;                // of its lists
        uint32_t outgoing = ZEL_RULES_ASK; // its outgoing default
        zel_rules_list every {0, 0, 0, 0}; // its entries of every port
    };
    struct List {
        uint32_t program = 0;
        uint32_t port = 0; // 1 to 65535
        zel_rules_list list {};
    };
    std::vector<Program> programs; // one has the hash ZEL_RULES_GENERAL
    std::vector<List> lists;
    std::vector<zel_rules_interval> intervals;
    std::vector<zel_rules_interval6> intervals6;
};
