// Any bytes as a rules file for the control panel: loading must not crash,
// what it saves must load again to the same document (nothing lost on the
// next save) and parse for the engine, and an engine that predates IPv6 and
// prefixes in rules must never permit what this one does not.
#include "engine/RuleTable.h"
#include "settings/AppBuffer.h"
#include "tests/OlderEngineView.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include <pugixml.hpp>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    panel::AppBuffer buffer;
    if (!buffer.LoadFromText(text))
        return 0;
    const std::string saved = buffer.ToText();
    panel::AppBuffer again;
    if (!again.LoadFromText(saved) || again.ToText() != saved || again.AllRules.size() != buffer.AllRules.size())
        __builtin_trap();
    pugi::xml_document document;
    if (!document.load_buffer(saved.data(), saved.size()))
        __builtin_trap();
    const std::string program = buffer.AllRules.empty() ? "TOOL" : buffer.AllRules.front()->ExeName;
    engine::RuleTable table, older;
    table.LoadRulesFromText(saved, program);
    older.LoadRulesFromText(testing_support::AsAnOlderEngineReadsIt(document), program);
    for (const int direction : {0, 1})
        for (const int port : {0, 22, 80, 443})
            for (const char* peer : {"10.0.0.1", "10.1.2.3", "192.168.1.7", "fd00::1", "2001:db8::1", "::ffff:10.0.0.1"})
                if (older.MatchRules(direction, port, peer) == engine::kPermit
                    && table.MatchRules(direction, port, peer) != engine::kPermit)
                    __builtin_trap();
    return 0;
}
