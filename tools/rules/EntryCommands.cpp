// The commands that change a program's entry: what it does by default
// (allow, block, ask), a rule added, a rule or the whole entry removed.
#include "tools/rules/Commands.h"

#include "panel/core/RuleChecks.h"
#include "rules/HostPatterns.h"
#include "rules/RulesFormat.h"
#include "text/Translate.h"
#include "tools/common/Arguments.h"
#include "tools/rules/LoadedRules.h"
#include "tools/rules/ProgramEntries.h"

namespace tools::zel_rules {

namespace {

using rules::Direction;
using rules::Permission;
using text::Arg;
using text::Tr;

// What a command or an option named allow, block or ask sets.
std::optional<rules::Permission> PermissionOfVerb(std::string_view verb)
{
    if (verb == "allow")
        return Permission::kPermit;
    if (verb == "block")
        return Permission::kDeny;
    if (verb == "ask")
        return Permission::kAsk;
    return std::nullopt;
}

// The rule "add" describes; nullopt (told, status set) for a value that is none.
std::optional<rules::Rule> RuleOf(Arguments options, int& status)
{
    status = kMisused;
    std::optional<Direction> direction;
    std::optional<Permission> permission;
    std::vector<std::string> ports {"0"}, addresses, hosts;
    std::optional<std::string> name;
    while (!options.Done()) {
        const std::string& option = options.Peek();
        if (option == "--in" || option == "--out")
            direction = options.Take() == "--in" ? Direction::kIncoming : Direction::kOutgoing;
        else if (option.size() > 2 && PermissionOfVerb(option.substr(2)) && option.starts_with("--"))
            permission = PermissionOfVerb(options.Take().substr(2));
        else if (const auto portList = options.TakeValue("--port"))
            ports = ListItems(*portList);
        else if (const auto addressList = options.TakeValue("--address"))
            addresses = ListItems(*addressList);
        else if (const auto hostList = options.TakeValue("--host"))
            hosts = ListItems(*hostList);
        else if (const auto given = options.TakeValue("--name"))
            name = *given;
        else
            return Usage(), std::nullopt;
    }
    if (!direction || !permission)
        return Fail(kMisused, Tr("zel-rules", "add needs a direction (--in or --out) and what to do (--allow, --block or --ask)")),
               std::nullopt;
    rules::Rule rule;
    rule.direction = direction;
    rule.permission = permission;
    rule.inForce = true;
    // What the panel's rule editor accepts: an address, a prefix or a range.
    for (const std::string& address : addresses)
        if (const size_t dash = address.find('-');
            dash == std::string::npos ? !panel::CheckIpList(address)
                                      : !panel::CheckIpRange(address.substr(0, dash), address.substr(dash + 1)))
            return Fail(kMisused, Arg(Tr("zel-rules", "\"%1\" is no address, range or prefix"), {address})), std::nullopt;
    std::vector<std::string> patterns;
    for (const std::string& host : hosts) {
        const auto pattern = rules::NormalizeHostPattern(host);
        if (!pattern)
            return Fail(kMisused, Arg(Tr("zel-rules", "\"%1\" is no host name or pattern (name, *.domain, *)"), {host})), std::nullopt;
        patterns.push_back(*pattern);
    }
    if (!patterns.empty() && direction == Direction::kIncoming)
        return Fail(kMisused, Tr("zel-rules", "host names are for outgoing rules: the peers of incoming connections have none")),
               std::nullopt;
    for (const std::string& text : ports) {
        const std::optional<int> number = rules::PortOf(text);
        if (!number)
            return Fail(kMisused, Arg(Tr("zel-rules", "\"%1\" is no port (a number from 1 to 65535, 0 for every port)"), {text})),
                   std::nullopt;
        rules::Port port = rules::Port::Numbered(*number);
        if (!addresses.empty())
            port.addresses = addresses;
        if (!patterns.empty())
            port.hosts = patterns;
        for (rules::Port& written : rules::PortsForOlderReaders(port, *direction, *permission))
            rule.ports.push_back(std::move(written));
    }
    rule.name = name.value_or(std::string(Verb(permission)) + (direction == Direction::kIncoming ? " in " : " out ")
                              + Joined(ports));
    status = 0;
    return rule;
}

// The entry a command changes: the program's, or with a parent its entry
// limited to that parent; made when there is none. Empty (told) for none.
std::string ChangedEntry(const Call& call, LoadedRules& rules, const std::string& program,
                         const std::optional<std::string>& parent)
{
    return parent ? LimitedEntry(call.target, rules, program, *parent) : Entry(call.target, rules, program);
}

}  // namespace

int SetDefault(const Call& call)
{
    std::vector<std::string> args = call.args;
    std::optional<std::string> parent;
    if (!TakeParent(args, parent))
        return kMisused;
    const std::optional<Permission> permission = PermissionOfVerb(call.command);
    if (!permission || args.empty() || args.size() > 2 || (args.size() == 2 && args[1] != "--in" && args[1] != "--out"))
        return Usage();
    return Change(call.target, [&](LoadedRules& rules) {
        const std::string key = ChangedEntry(call, rules, args[0], parent);
        if (key.empty())
            return kFailed;
        rules::Application& app = *rules.core.Rules().Find(key);
        if (args.size() == 1 || args[1] == "--in")
            app.incoming = *permission;
        if (args.size() == 1 || args[1] == "--out")
            app.outgoing = *permission;
        return 0;
    });
}

int Add(const Call& call)
{
    std::vector<std::string> args = call.args;
    std::optional<std::string> parent;
    if (!TakeParent(args, parent))
        return kMisused;
    if (args.empty())
        return Usage();
    int status = 0;
    const std::optional<rules::Rule> rule = RuleOf(Arguments({args.begin() + 1, args.end()}), status);
    if (!rule)
        return status;
    return Change(call.target, [&](LoadedRules& rules) {
        const std::string key = ChangedEntry(call, rules, args[0], parent);
        if (key.empty())
            return kFailed;
        rules.core.Rules().Find(key)->rules.push_back(*rule);
        return 0;
    });
}

int Remove(const Call& call)
{
    std::vector<std::string> args = call.args;
    std::optional<std::string> parent;
    if (!TakeParent(args, parent))
        return kMisused;
    if (args.size() != 1 && args.size() != 2)
        return Usage();
    std::optional<size_t> number;
    if (args.size() == 2) {
        const std::optional<int> parsed = rules::PortOf(args[1]);
        if (!parsed || *parsed < 1)
            return Fail(kMisused, Arg(Tr("zel-rules", "\"%1\" is no rule number (as zel-rules show numbers them)"), {args[1]}));
        number = static_cast<size_t>(*parsed);
    }
    return Change(call.target, [&](LoadedRules& rules) {
        const rules::Application* app = parent ? ExistingLimited(rules, args[0], *parent) : Existing(rules, args[0]);
        if (!app)
            return kFailed;
        rules::Document& document = rules.core.Rules().Document();
        if (!number) {
            if (app->IsGeneral())
                return Fail(kFailed, Tr("zel-rules", "the system settings (ANY) cannot be removed"));
            document.Remove(static_cast<size_t>(document.IndexOf(*app)));
            return 0;
        }
        if (*number > app->rules.size())
            return Fail(kFailed, Arg(Tr("zel-rules", "%1 has no rule %2 (it has %n)", nullptr, int(app->rules.size())),
                                     {*app->name, std::to_string(*number)}));
        rules::Application& changed = document.applications[static_cast<size_t>(document.IndexOf(*app))];
        changed.rules.erase(changed.rules.begin() + static_cast<long>(*number - 1));
        return 0;
    });
}

}  // namespace tools::zel_rules
