#include "backstop/RulesCompiler.h"

#include "backstop/exe_name.h"

#include "engine/HostPattern.h"
#include "engine/RuleTable.h"
#include "engine/RulesReader.h"
#include "rules/AddressRange.h"
#include "rules/DocumentReader.h"
#include "rules/RulesFormat.h"

#include <algorithm>
#include <set>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace backstop {

namespace {

__extension__ typedef unsigned __int128 Wide;

Wide WideOf(const rules::Address128& value) { return (static_cast<Wide>(value.high) << 64) | value.low; }

// Addresses [low, last] of one family where an entry matches, and the match it gives.
template <typename Value>
struct Span {
    Value low;
    Value last;
    uint32_t match;
};

// One port's entries of a program, in order, by the family they cover.
struct PortEntries {
    std::vector<Span<uint32_t>> ipv4;
    std::vector<Span<Wide>> ipv6;
};

// The first match at every address of a family: from its first address on,
// a new interval where it changes. None when no entry covers the family.
template <typename Value>
std::vector<std::pair<Value, uint32_t>> Intervals(const std::vector<Span<Value>>& spans)
{
    if (spans.empty())
        return {};
    struct Change {
        Value at;
        bool begins;
        uint32_t match;
    };
    std::vector<Change> changes;
    changes.reserve(spans.size() * 2);
    for (const Span<Value>& span : spans) {
        changes.push_back({span.low, true, span.match});
        if (span.last != static_cast<Value>(~static_cast<Value>(0)))
            changes.push_back({static_cast<Value>(span.last + 1), false, span.match});
    }
    std::sort(changes.begin(), changes.end(), [](const Change& a, const Change& b) { return a.at < b.at; });
    std::multiset<uint32_t> covering;
    std::vector<std::pair<Value, uint32_t>> intervals {{0, ZEL_RULES_NONE}};
    for (size_t i = 0; i < changes.size();) {
        const Value at = changes[i].at;
        for (; i < changes.size() && changes[i].at == at; ++i) {
            if (changes[i].begins)
                covering.insert(changes[i].match);
            else
                covering.erase(covering.find(changes[i].match));
        }
        const uint32_t first = covering.empty() ? ZEL_RULES_NONE : *covering.begin();
        if (at == 0)
            intervals.front().second = first;
        else if (first != intervals.back().second)
            intervals.emplace_back(at, first);
    }
    return intervals;
}

std::vector<zel_rules_interval> KernelIntervals(const std::vector<Span<uint32_t>>& spans)
{
    std::vector<zel_rules_interval> run;
    for (const auto& [start, first] : Intervals(spans))
        run.push_back({start, first});
    return run;
}

std::vector<zel_rules_interval6> KernelIntervals(const std::vector<Span<Wide>>& spans)
{
    std::vector<zel_rules_interval6> run;
    for (const auto& [start, first] : Intervals(spans))
        run.push_back({static_cast<uint64_t>(start >> 64), static_cast<uint64_t>(start), first, 0});
    return run;
}

// Where a run of intervals starts among all of the rules': where the same
// run was placed before (runs alike are shared), else after what is there
// and what was added meanwhile (pending).
template <typename Interval>
uint32_t Place(const std::vector<Interval>& run, const std::map<std::string, uint32_t, std::less<>>& known,
               std::map<std::string, uint32_t, std::less<>>& fresh, size_t placed, std::vector<Interval>& pending)
{
    if (run.empty())
        return 0;
    std::string bytes(reinterpret_cast<const char*>(run.data()), run.size() * sizeof run[0]);
    if (const auto found = known.find(bytes); found != known.end())
        return found->second;
    if (const auto found = fresh.find(bytes); found != fresh.end())
        return found->second;
    const auto offset = static_cast<uint32_t>(placed + pending.size());
    pending.insert(pending.end(), run.begin(), run.end());
    fresh.emplace(std::move(bytes), offset);
    return offset;
}

// Names of the document's applications, as the reader meets them.
std::vector<std::string> ApplicationNames(const rules::Document& document)
{
    std::vector<std::string> names;
    std::unordered_set<std::string> seen;
    for (const rules::Application& app : document.applications) {
        if (!app.name)
            continue; // applies to no program: the reader passes over it
        if (seen.insert(*app.name).second)
            names.push_back(*app.name);
    }
    return names;
}

// The places of the applications the engine reads, by name: those before
// the first without a name, where the engine's reading stops for every program.
using Places = std::unordered_map<std::string, std::vector<size_t>>;
Places ApplicationPlaces(const rules::Document& document)
{
    Places places;
    for (size_t i = 0; i < document.applications.size() && document.applications[i].name; ++i)
        places[*document.applications[i].name].push_back(i);
    return places;
}

// Reads program's table as the engine would read the whole document, from
// the applications that apply to it alone (rules_format::EntryApplies: its
// name, the general one's, its raw name), so that compiling many programs
// costs each its own applications rather than the whole document's.
// Whether one of them is the program's own (not the general one) goes to
// own when given.
void ReadProgram(rules::Document& document, const Places& places, const engine::ProgramIdentity& program,
                 engine::RuleTable& table, bool* ownEntry = nullptr)
{
    namespace rf = rules::rules_format;
    std::vector<size_t> order;
    const auto add = [&](const std::string& name) {
        if (const auto found = places.find(name); found != places.end())
            order.insert(order.end(), found->second.begin(), found->second.end());
    };
    const std::string name(program.name);
    add(name);
    if (name != rf::kGeneralApp)
        add(rf::kGeneralApp);
    if (const std::string raw = rf::FileNameOfProgram(name); raw != name && raw != rf::kGeneralApp)
        add(raw);
    std::sort(order.begin(), order.end());
    // Lent to the program's own document and given back, in the file's order.
    rules::Document own;
    own.applications.reserve(order.size());
    for (const size_t at : order)
        own.applications.push_back(std::move(document.applications[at]));
    engine::ReadRulesDocument(own, table, program);
    if (ownEntry) {
        *ownEntry = false;
        for (const rules::Application& app : own.applications)
            *ownEntry = *ownEntry || (!app.IsGeneral() && app.AppliesTo(program.name, program.path));
    }
    for (size_t i = 0; i < order.size(); ++i)
        document.applications[order[i]] = std::move(own.applications[i]);
}

// The hash under which a bound path's table is found: never a name's, since
// a file name holds no '/' and these hash one.
uint64_t BoundTableHash(const std::string& path, bool trusted)
{
    const std::string text = std::string(trusted ? "trusted:" : "doubted:") + path;
    const uint64_t hash = zel_rules_name_hash(text.data(), text.size());
    return hash == ZEL_RULES_GENERAL ? 1 : hash;
}

std::string FileNameOf(const std::string& path) { return path.substr(path.rfind('/') + 1); }

// The services' rules: the entries marked as services, and the general one.
void KeepServices(rules::Document& document)
{
    std::erase_if(document.applications,
                  [](const rules::Application& app) { return app.name && !app.IsGeneral() && !app.service; });
}

}  // namespace

CompiledRules RulesCompiler::NoRules()
{
    RulesCompiler compiler;
    std::string error;
    compiler.Add(ZEL_RULES_GENERAL, engine::RuleTable(), error, true);
    return compiler.rules_;
}

std::vector<std::string> RulesCompiler::BoundPaths(std::string_view document)
{
    std::vector<std::string> paths;
    std::string problem;
    if (const std::optional<rules::Document> parsed = rules::ReadDocument(document, &problem))
        for (const rules::Application& app : parsed->applications)
            if (app.name && app.IsBound() && std::find(paths.begin(), paths.end(), app.path) == paths.end())
                paths.push_back(app.path);
    return paths;
}

std::optional<CompiledRules> RulesCompiler::Compile(std::string_view document, std::string& error, const Options& options)
{
    std::string problem;
    std::optional<rules::Document> parsed = rules::ReadDocument(document, &problem);
    if (!parsed) {
        error = "it does not parse: " + problem;
        return std::nullopt;
    }
    if (options.services)
        KeepServices(*parsed);
    namespace rf = rules::rules_format;
    RulesCompiler compiler;
    const std::vector<std::string> names = ApplicationNames(*parsed);
    const Places places = ApplicationPlaces(*parsed);
    std::unordered_set<std::string> programs;
    for (const std::string& name : names) {
        if (name == rf::kGeneralApp)
            continue; // the general settings: in every table, and alone in the one below
        // Each program once, read under the name its engine has (an entry
        // may spell it escaped, or raw as an older panel wrote it), and
        // found by the file name the kernel hashes. Read without a path:
        // entries bound to one hold for that file alone, below.
        const std::string program = rf::ProgramName(rf::FileNameOfProgram(name));
        if (!programs.insert(program).second)
            continue;
        engine::RuleTable table;
        bool own = false;
        ReadProgram(*parsed, places, program, table, &own);
        const std::string fileName = rf::FileNameOfProgram(program);
        if (!compiler.Add(zel_rules_name_hash(fileName.data(), fileName.size()), table, error, !own))
            return std::nullopt;
    }
    // The files entries are bound to, as the engine reads them for a program
    // executed at that path: the file checked, and any other there.
    std::vector<std::string> paths;
    for (const rules::Application& app : parsed->applications)
        if (app.name && app.IsBound() && std::find(paths.begin(), paths.end(), app.path) == paths.end())
            paths.push_back(app.path);
    for (const std::string& path : paths) {
        if (!options.files)
            break;
        if (compiler.rules_.bound.size() >= ZEL_RULES_BOUND) {
            error = "more than " + std::to_string(ZEL_RULES_BOUND) + " paths entries are bound to";
            return std::nullopt;
        }
        // The engine's name for a program there (its path is already as the engine cuts it).
        const std::string fileName = FileNameOf(path);
        const std::string program = rf::ProgramName(fileName);
        bool checked = false;
        for (const rules::Application& app : parsed->applications)
            checked = checked || (app.IsBound() && app.path == path && !app.fileHash.empty() && app.AppliesTo(program, path));
        const FileFacts facts = options.files(path, checked);
        if (!facts.folderFound)
            continue; // no file there the kernel can meet under this path
        struct Digest {
            std::string text;
            static const std::string& Of(void* context) { return static_cast<Digest*>(context)->text; }
        } digest {facts.fileFound && facts.settled ? facts.digest : std::string()};
        engine::ProgramIdentity asChecked(program, path);
        if (!digest.text.empty()) {
            asChecked.digest = &Digest::Of;
            asChecked.digestContext = &digest;
        }
        engine::RuleTable trusted;
        bool own = false;
        ReadProgram(*parsed, places, asChecked, trusted, &own);
        CompiledRules::Bound entry;
        entry.key.folder = facts.folder;
        entry.key.folder_device = facts.folderDevice;
        entry.key.raw = zel_raw_name_hash(fileName.data(), fileName.size());
        entry.file.trusted = BoundTableHash(path, true);
        entry.file.doubted = entry.file.trusted;
        if (!compiler.Add(entry.file.trusted, trusted, error, !own))
            return std::nullopt;
        if (checked) {
            // Any other file there: the checks' permits are questions.
            engine::RuleTable doubted;
            ReadProgram(*parsed, places, engine::ProgramIdentity(program, path), doubted);
            entry.file.checked = 1;
            entry.file.doubted = BoundTableHash(path, false);
            if (facts.fileFound) {
                entry.file.file = facts.file;
                entry.file.file_device = facts.fileDevice;
                entry.file.changed = facts.changed;
                entry.file.changed_ns = facts.changedNs;
            }
            if (!compiler.Add(entry.file.doubted, doubted, error, !own))
                return std::nullopt;
        }
        compiler.rules_.bound.push_back(entry);
    }
    // Every other program: read under a name no application has.
    std::string other = "\x01";
    while (std::find(names.begin(), names.end(), other) != names.end())
        other += '\x01';
    engine::RuleTable table;
    ReadProgram(*parsed, places, other, table);
    if (!compiler.Add(ZEL_RULES_GENERAL, table, error, true))
        return std::nullopt;
    return std::move(compiler.rules_);
}

bool RulesCompiler::Add(uint64_t hash, const engine::RuleTable& table, std::string& error, bool general)
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
    // By direction (incoming above bit 16) and port.
    std::map<uint32_t, PortEntries> ports;
    for (size_t i = 0; i < table.entries.size(); ++i) {
        const engine::RuleEntry& entry = table.entries[i];
        if (entry.host && !unknown.Matches(*entry.host))
            continue; // a name the kernel cannot know: matches no peer here
        const uint32_t match = ZEL_RULES_MATCH(static_cast<uint32_t>(i), static_cast<uint32_t>(entry.permission) & 3u);
        const uint32_t incoming = entry.direction == engine::kIncoming ? 1u << 16 : 0;
        PortEntries& port = ports[incoming | static_cast<uint32_t>(entry.port)];
        if (entry.host || !entry.addresses) {
            port.ipv4.push_back({0, UINT32_MAX, match});
            port.ipv6.push_back({0, ~static_cast<Wide>(0), match});
        } else if (const rules::AddressRange& range = *entry.addresses; range.first > range.last) {
            continue; // written backwards: covers nothing
        } else if (range.family == rules::AddressFamily::kIpv4) {
            port.ipv4.push_back({static_cast<uint32_t>(range.first.low), static_cast<uint32_t>(range.last.low), match});
        } else {
            port.ipv6.push_back({WideOf(range.first), WideOf(range.last), match});
        }
    }
    // Checked whole before anything is added.
    std::vector<CompiledRules::List> lists;
    zel_rules_list every {0, 0, 0, 0}, everyIn {0, 0, 0, 0};
    std::vector<zel_rules_interval> intervals; // runs new to the rules, placed after theirs
    std::vector<zel_rules_interval6> intervals6;
    std::map<std::string, uint32_t, std::less<>> newRuns, newRuns6;
    for (const auto& [key, entries] : ports) {
        const uint32_t number = key & 0xffff;
        const uint32_t incoming = key >> 16;
        const std::vector<zel_rules_interval> run = KernelIntervals(entries.ipv4);
        const std::vector<zel_rules_interval6> run6 = KernelIntervals(entries.ipv6);
        const zel_rules_list list {Place(run, runs_, newRuns, rules_.intervals.size(), intervals),
                                   static_cast<uint32_t>(run.size()),
                                   Place(run6, runs6_, newRuns6, rules_.intervals6.size(), intervals6),
                                   static_cast<uint32_t>(run6.size())};
        if (number == 0)
            (incoming ? everyIn : every) = list;
        else
            lists.push_back({index, number, incoming, list});
    }
    if (rules_.intervals.size() + intervals.size() > ZEL_RULES_INTERVALS) {
        error = "the rules need more than " + std::to_string(ZEL_RULES_INTERVALS) + " IPv4 address intervals";
        return false;
    }
    if (rules_.intervals6.size() + intervals6.size() > ZEL_RULES_INTERVALS6) {
        error = "the rules need more than " + std::to_string(ZEL_RULES_INTERVALS6) + " IPv6 address intervals";
        return false;
    }
    if (rules_.lists.size() + lists.size() > ZEL_RULES_LISTS) {
        error = "the rules need more than " + std::to_string(ZEL_RULES_LISTS) + " lists of ports";
        return false;
    }
    rules_.intervals.insert(rules_.intervals.end(), intervals.begin(), intervals.end());
    rules_.intervals6.insert(rules_.intervals6.end(), intervals6.begin(), intervals6.end());
    rules_.lists.insert(rules_.lists.end(), lists.begin(), lists.end());
    runs_.merge(newRuns);
    runs6_.merge(newRuns6);
    const auto permission = [](int value) {
        return value >= ZEL_RULES_DENY && value <= ZEL_RULES_ASK ? static_cast<uint32_t>(value) : ZEL_RULES_DENY;
    };
    CompiledRules::Program program;
    program.hash = hash;
    program.index = index;
    program.outgoing = permission(table.defaultOutgoing);
    program.incoming = permission(table.defaultIncoming);
    program.general = general ? 1 : 0;
    program.every = every;
    program.everyIn = everyIn;
    rules_.programs.push_back(program);
    return true;
}

}  // namespace backstop
