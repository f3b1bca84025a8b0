#include "RulesCompiler.h"

#include "exe_name.h"

#include "engine/HostPattern.h"
#include "engine/RuleTable.h"
#include "engine/RulesReader.h"
#include "platform/RulesFormat.h"
#include "rules/DocumentReader.h"

#include <algorithm>
#include <set>
#include <unordered_set>
#include <vector>


namespace {

// Addresses [low, last] where an entry matches, and the match it gives.
struct Span {
    uint64_t low;
    uint64_t last;
    uint32_t match;
};

// One port's entries of a program, in order.
struct PortEntries {
    std::vector<Span> spans;
    uint32_t other = ZEL_RULES_NONE; // the first that matches a peer that is not an IPv4 address
};

// Where AddressMatches finds an entry's ranges: a value falls to the range
// with the least last address not below it, and matches when the range's
// first address is not above it.
void AddRanges(const engine::RuleEntry& entry, uint32_t match, PortEntries& port)
{
    uint64_t low = 0;
    for (const auto& [last, first] : entry.addressRanges) {
        const uint64_t from = std::max<uint64_t>(low, first);
        if (from <= last)
            port.spans.push_back({from, last, match});
        low = static_cast<uint64_t>(last) + 1;
    }
}

// The first match at every address: from 0.0.0.0 on, a new interval where
// it changes.
std::vector<zel_rules_interval> Intervals(const std::vector<Span>& spans)
{
    struct Change {
        uint64_t at;
        bool begins;
        uint32_t match;
    };
    std::vector<Change> changes;
    changes.reserve(spans.size() * 2);
    for (const Span& span : spans) {
        changes.push_back({span.low, true, span.match});
        if (span.last < 0xffffffffull)
            changes.push_back({span.last + 1, false, span.match});
    }
    std::sort(changes.begin(), changes.end(), [](const Change& a, const Change& b) { return a.at < b.at; });
    std::multiset<uint32_t> covering;
    std::vector<zel_rules_interval> intervals {{0, ZEL_RULES_NONE}};
    for (size_t i = 0; i < changes.size();) {
        const uint64_t at = changes[i].at;
        for (; i < changes.size() && changes[i].at == at; ++i) {
            if (changes[i].begins)
                covering.insert(changes[i].match);
            else
                covering.erase(covering.find(changes[i].match));
        }
        const uint32_t first = covering.empty() ? ZEL_RULES_NONE : *covering.begin();
        if (at == 0)
            intervals.front().first = first;
        else if (first != intervals.back().first)
            intervals.push_back({static_cast<uint32_t>(at), first});
    }
    return intervals;
}

// Names of the document's applications, as the reader meets them.
std::vector<std::string> ApplicationNames(const rules::Document& document)
{
    std::vector<std::string> names;
    std::unordered_set<std::string> seen;
    for (const rules::Application& app : document.applications) {
        if (!app.name)
            break; // the reader stops here: nothing after it is read for any program
        if (seen.insert(*app.name).second)
            names.push_back(*app.name);
    }
    return names;
}

}  // namespace

CompiledRules RulesCompiler::NoRules()
{
    RulesCompiler compiler;
    std::string error;
    compiler.Add(ZEL_RULES_GENERAL, engine::RuleTable(), error);
    return compiler.rules_;
}

std::optional<CompiledRules> RulesCompiler::Compile(std::string_view document, std::string& error)
{
    std::string problem;
    const std::optional<rules::Document> parsed = rules::ReadDocument(document, &problem);
    if (!parsed) {
        error = "it does not parse: " + problem;
        return std::nullopt;
    }
    namespace rf = platform::rules_format;
    RulesCompiler compiler;
    const std::vector<std::string> names = ApplicationNames(*parsed);
    std::unordered_set<std::string> programs;
    for (const std::string& name : names) {
        if (name == rf::kGeneralApp)
            continue; // the general settings: in every table, and alone in the one below
        // Each program once, read under the name its engine has (an entry
        // may spell it escaped, or raw as an older panel wrote it), and
        // found by the file name the kernel hashes.
        const std::string program = rf::ProgramName(rf::FileNameOfProgram(name));
        if (!programs.insert(program).second)
            continue;
        engine::RuleTable table;
        engine::ReadRulesDocument(*parsed, table, program);
        const std::string fileName = rf::FileNameOfProgram(program);
        if (!compiler.Add(zel_rules_name_hash(fileName.data(), fileName.size()), table, error))
            return std::nullopt;
    }
    // Every other program: read under a name no application has.
    std::string other = "\x01";
    while (std::find(names.begin(), names.end(), other) != names.end())
        other += '\x01';
    engine::RuleTable table;
    engine::ReadRulesDocument(*parsed, table, other);
    if (!compiler.Add(ZEL_RULES_GENERAL, table, error))
        return std::nullopt;
    return std::move(compiler.rules_);
}

bool RulesCompiler::Add(uint64_t hash, const engine::RuleTable& table, std::string& error)
{
    if (rules_.programs.size() >= ZEL_RULES_PROGRAMS) {
        error = "more than " + std::to_string(ZEL_RULES_PROGRAMS) + " applications";
        return false;
    }
    if (table.entries.size() >= ZEL_RULES_MAX_ENTRIES) {
        error = "an application with too many entries";
        return false;
    }
    const auto index = static_cast<uint32_t>(rules_.programs.size());
    const engine::HostKey unknown(nullptr);
    std::map<uint32_t, PortEntries> ports;
    for (size_t i = 0; i < table.entries.size(); ++i) {
        const engine::RuleEntry& entry = table.entries[i];
        if (entry.direction != engine::kOutgoing)
            continue; // incoming connections are not the kernel's to decide
        if (entry.host && !unknown.Matches(*entry.host))
            continue; // a name the kernel cannot know: matches no peer here
        const uint32_t match = ZEL_RULES_MATCH(static_cast<uint32_t>(i), static_cast<uint32_t>(entry.permission) & 3u);
        PortEntries& port = ports[static_cast<uint32_t>(entry.port)];
        if (entry.host || entry.addressRanges.empty()) {
            port.spans.push_back({0, 0xffffffffull, match});
            port.other = std::min(port.other, match);
        } else {
            AddRanges(entry, match, port);
        }
    }
    // Checked whole before anything is added.
    std::vector<CompiledRules::List> lists;
    zel_rules_list every {0, 0, ZEL_RULES_NONE, 0};
    std::vector<zel_rules_interval> intervals; // runs new to the rules, placed after theirs
    std::map<std::string, uint32_t, std::less<>> newRuns;
    for (const auto& [number, entries] : ports) {
        const std::vector<zel_rules_interval> run = Intervals(entries.spans);
        std::string bytes(reinterpret_cast<const char*>(run.data()), run.size() * sizeof run[0]);
        uint32_t offset;
        if (const auto known = runs_.find(bytes); known != runs_.end()) {
            offset = known->second;
        } else if (const auto fresh = newRuns.find(bytes); fresh != newRuns.end()) {
            offset = fresh->second;
        } else {
            offset = static_cast<uint32_t>(rules_.intervals.size() + intervals.size());
            intervals.insert(intervals.end(), run.begin(), run.end());
            newRuns.emplace(std::move(bytes), offset);
        }
        const zel_rules_list list {offset, static_cast<uint32_t>(run.size()), entries.other, 0};
        if (number == 0)
            every = list;
        else
            lists.push_back({index, number, list});
    }
    if (rules_.intervals.size() + intervals.size() > ZEL_RULES_INTERVALS) {
        error = "the rules need more than " + std::to_string(ZEL_RULES_INTERVALS) + " address intervals";
        return false;
    }
    if (rules_.lists.size() + lists.size() > ZEL_RULES_LISTS) {
        error = "the rules need more than " + std::to_string(ZEL_RULES_LISTS) + " lists of ports";
        return false;
    }
    rules_.intervals.insert(rules_.intervals.end(), intervals.begin(), intervals.end());
    rules_.lists.insert(rules_.lists.end(), lists.begin(), lists.end());
    runs_.merge(newRuns);
    const int outgoing = table.defaultOutgoing;
    rules_.programs.push_back({hash, index,
                               outgoing >= ZEL_RULES_DENY && outgoing <= ZEL_RULES_ASK ? static_cast<uint32_t>(outgoing)
                                                                                      : ZEL_RULES_DENY,
                               every});
    return true;
}
