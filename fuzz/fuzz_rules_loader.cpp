// Any bytes as a rules file: the loader must neither crash nor read outside
// the document, and whatever it keeps must be a usable table.
#include "engine/RuleTable.h"

#include <cstddef>
#include <cstdint>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    engine::RuleTable table;
    table.LoadRulesFromText(text, "TOOL.EXE");
    table.MatchRules(1, 80, "10.0.0.1");
    table.MatchRules(0, 22, "not an address");
    if (table.defaultIncoming < 0 || table.defaultIncoming > 2 || table.defaultOutgoing < 0 || table.defaultOutgoing > 2)
        __builtin_trap();
    return 0;
}
