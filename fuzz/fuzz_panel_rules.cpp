// Any bytes as a rules file for the control panel: loading must not crash,
// and what it saves must load again to the same document (nothing lost on
// the next save) and parse for the engine.
#include "engine/RuleTable.h"
#include "settings/AppBuffer.h"

#include <cstddef>
#include <cstdint>
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
    engine::RuleTable table;
    table.LoadRulesFromText(saved, buffer.AllRules.empty() ? "TOOL" : buffer.AllRules.front()->ExeName);
    table.MatchRules(1, 80, "10.0.0.1");
    return 0;
}
