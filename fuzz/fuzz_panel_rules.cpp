// Any bytes as a rules file, saved back as the control panel saves it
// (through the rules model): the engine must decide the saved file exactly
// as the original, for every program it names and for others, and again
// with the fields of every application, rule and port in another order.
// The saved file must read back to itself.
#include "engine/RuleTable.h"
#include "platform/RulesFormat.h"
#include "rules/DocumentReader.h"
#include "rules/DocumentWriter.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include <pugixml.hpp>

namespace {

struct Decided {
    int stopped = 0;
    engine::RuleTable table;
};

Decided Decide(std::string_view text, std::string_view program)
{
    Decided decided;
    decided.stopped = decided.table.LoadRulesFromText(text, program);
    return decided;
}

bool Same(const Decided& a, const Decided& b)
{
    if (a.stopped != b.stopped || a.table.defaultIncoming != b.table.defaultIncoming
        || a.table.defaultOutgoing != b.table.defaultOutgoing || a.table.entries.size() != b.table.entries.size())
        return false;
    for (size_t i = 0; i < a.table.entries.size(); ++i) {
        const engine::RuleEntry& x = a.table.entries[i];
        const engine::RuleEntry& y = b.table.entries[i];
        if (x.permission != y.permission || x.direction != y.direction || x.port != y.port
            || x.addressRanges != y.addressRanges || x.host.has_value() != y.host.has_value()
            || (x.host && x.host->text != y.host->text))
            return false;
    }
    return true;
}

// The children of the elements that hold fields (applications, rules,
// ports: depths 1, 3 and 5) in another order, those of one name keeping
// theirs among themselves: the order of names follows a seed.
void Shuffle(pugi::xml_node node, int depth, uint32_t seed)
{
    if (depth % 2 == 1) {
        std::vector<pugi::xml_node> children(node.begin(), node.end());
        const auto key = [seed](const pugi::xml_node& child) {
            uint32_t hash = seed;
            for (const char* c = child.name(); *c; ++c)
                hash = (hash ^ static_cast<uint8_t>(*c)) * 16777619u;
            return hash ^ static_cast<uint32_t>(child.type());
        };
        std::stable_sort(children.begin(), children.end(),
                         [&](const pugi::xml_node& a, const pugi::xml_node& b) { return key(a) < key(b); });
        for (const pugi::xml_node& child : children)
            node.append_move(child);
    }
    if (depth < 5)
        for (pugi::xml_node child : node.children())
            Shuffle(child, depth + 1, seed);
}

struct StringWriter : pugi::xml_writer {
    std::string text;
    void write(const void* data, size_t size) override { text.append(static_cast<const char*>(data), size); }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string_view original(reinterpret_cast<const char*>(data), size);
    const std::optional<rules::Document> document = rules::ReadDocument(original);
    if (!document)
        return 0;
    const std::string saved = rules::WriteDocument(*document);
    const std::optional<rules::Document> again = rules::ReadDocument(saved);
    if (!again || rules::WriteDocument(*again) != saved)
        __builtin_trap();

    pugi::xml_document xml;
    xml.load_buffer(original.data(), original.size());
    Shuffle(xml.document_element(), 0, size > 0 ? data[size / 2] * 2654435761u : 1);
    StringWriter shuffled;
    xml.save(shuffled, "", pugi::format_raw | pugi::format_no_declaration, pugi::encoding_utf8);

    // Programs as the engine names them (rules_format::ProgramName): those
    // the document names, and others.
    namespace rf = platform::rules_format;
    std::vector<std::string> programs = {rf::ProgramName("any"), rf::ProgramName("tool")};
    for (const rules::Application& application : document->applications)
        if (application.name && programs.size() < 12)
            programs.push_back(rf::ProgramName(rf::FileNameOfProgram(*application.name)));
    for (const std::string& program : programs) {
        const Decided decided = Decide(original, program);
        if (!Same(Decide(saved, program), decided) || !Same(Decide(shuffled.text, program), decided))
            __builtin_trap();
    }
    return 0;
}
