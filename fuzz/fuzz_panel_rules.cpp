// Any bytes as a rules file, saved back as the control panel saves it
// (through the rules model): the engine must decide the saved file exactly
// as the original, for every program it names and for others, and again
// with the fields of every application, rule and port in another order.
// The saved file must read back to itself, and an engine that predates IPv6
// and prefixes in rules must never permit by it what this one does not.
#include "engine/RuleTable.h"
#include "rules/DocumentReader.h"
#include "rules/DocumentWriter.h"
#include "rules/RulesFormat.h"
#include "rules/Words.h"
#include "tests/OlderEngineView.h"

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

// The entries that can decide something: an entry of addresses that covers
// none (the range a permitting port of host names is written with, for
// readers that predate names) decides nothing.
std::vector<const engine::RuleEntry*> Deciding(const engine::RuleTable& table)
{
    std::vector<const engine::RuleEntry*> entries;
    for (const engine::RuleEntry& entry : table.entries)
        if (entry.host || !entry.addresses || entry.addresses->first <= entry.addresses->last)
            entries.push_back(&entry);
    return entries;
}

bool Same(const Decided& a, const Decided& b)
{
    const auto x = Deciding(a.table), y = Deciding(b.table);
    if (a.stopped != b.stopped || a.table.defaultIncoming != b.table.defaultIncoming
        || a.table.defaultOutgoing != b.table.defaultOutgoing || x.size() != y.size())
        return false;
    for (size_t i = 0; i < x.size(); ++i)
        if (x[i]->permission != y[i]->permission || x[i]->direction != y[i]->direction || x[i]->port != y[i]->port
            || x[i]->addresses != y[i]->addresses || x[i]->host.has_value() != y[i]->host.has_value()
            || (x[i]->host && x[i]->host->text != y[i]->host->text))
            return false;
    return true;
}

// The children of the elements that hold fields (applications, rules,
// ports: depths 1, 3 and 5) in another order, those of one name keeping
// theirs among themselves: the order of names follows a seed. Only the
// lists of rules and ports are entered: the texts inside a field stay as
// they are, since pieces of text a skipped node split would join when
// moved together and read as another value.
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
    if (depth >= 5)
        return;
    namespace rf = rules::rules_format;
    const char* list = depth == 1 ? rf::kRules : depth == 3 ? rf::kPorts : nullptr;
    for (pugi::xml_node child : node.children())
        if (!list || std::string_view(child.name()) == list)
            Shuffle(child, depth + 1, seed);
}

// A rule or port that lacks a piece is read more strictly by this engine
// than by older ones (a denial in force where they passed it over), so the
// older engines' reading is compared only where every rule is whole.
bool EveryRuleWhole(const rules::Document& document)
{
    for (const rules::Application& application : document.applications)
        for (const rules::Rule& rule : application.rules) {
            if (!rule.inForce || (*rule.inForce && (!rule.direction || !rule.permission)))
                return false;
            for (const rules::Port& port : rule.ports)
                if (!port.number || !rules::PortOf(*port.number))
                    return false;
        }
    return true;
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

    // The order of fields is judged against the same document written back
    // unshuffled: writing joins texts a skipped instruction split, the same
    // way in both.
    pugi::xml_document xml;
    xml.load_buffer(original.data(), original.size());
    const auto raw = [&xml] {
        StringWriter writer;
        xml.save(writer, "", pugi::format_raw | pugi::format_no_declaration, pugi::encoding_utf8);
        return writer.text;
    };
    const std::string resaved = raw();
    Shuffle(xml.document_element(), 0, size > 0 ? data[size / 2] * 2654435761u : 1);
    const std::string shuffled = raw();

    // Programs as the engine names them (rules_format::ProgramName): those
    // the document names, and others.
    namespace rf = rules::rules_format;
    std::vector<std::string> programs = {rf::ProgramName("any"), rf::ProgramName("tool")};
    for (const rules::Application& application : document->applications)
        if (application.name && programs.size() < 12)
            programs.push_back(rf::ProgramName(rf::FileNameOfProgram(*application.name)));
    for (const std::string& program : programs) {
        const Decided decided = Decide(original, program);
        if (!Same(Decide(saved, program), decided) || !Same(Decide(shuffled, program), Decide(resaved, program)))
            __builtin_trap();
    }

    // What an engine that predates IPv6 and prefixes reads of the saved
    // file permits nothing that this one does not.
    pugi::xml_document savedXml;
    if (!savedXml.load_buffer(saved.data(), saved.size()))
        __builtin_trap();
    if (!EveryRuleWhole(*document))
        return 0;
    const std::string older = testing_support::AsAnOlderEngineReadsIt(savedXml);
    for (const std::string& program : programs) {
        const Decided before = Decide(older, program);
        const Decided current = Decide(saved, program);
        for (const int direction : {0, 1})
            for (const int port : {0, 22, 80, 443})
                for (const char* peer :
                     {"10.0.0.1", "10.1.2.3", "192.168.1.7", "fd00::1", "2001:db8::1", "::ffff:10.0.0.1"})
                    if (before.table.MatchRules(direction, port, peer) == engine::kPermit
                        && current.table.MatchRules(direction, port, peer) != engine::kPermit)
                        __builtin_trap();
    }
    return 0;
}
