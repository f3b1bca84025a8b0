// The firewall's mode (mode) and what a quiet or the learning mode decided
// without asking (review; review accept makes rules of it, review reject
// drops it).
#include "tools/rules/Commands.h"

#include "panel/core/RuleChecks.h"
#include "protocol/FirewallMode.h"
#include "protocol/ReviewList.h"
#include "protocol/SettingNames.h"
#include "rules/AddressRange.h"
#include "rules/HostPatterns.h"
#include "text/Translate.h"
#include "tools/common/Arguments.h"
#include "tools/rules/LoadedRules.h"
#include "tools/rules/ProgramEntries.h"

#include <ctime>

namespace tools::zel_rules {

namespace {

namespace mode = protocol::mode;
namespace review = protocol::review;
using rules::Direction;
using rules::Permission;
using text::Arg;
using text::Tr;

constexpr std::time_t kDay = 24 * 60 * 60;

int ShowMode()
{
    const mode::State state = mode::Read();
    const std::time_t now = std::time(nullptr);
    if (state.mode != mode::Mode::kLearn)
        std::printf("%s\n", std::string(mode::Word(state.mode)).c_str());
    else if (mode::LearningOver(state, now))
        std::printf("%s\n", Arg(Tr("zel-rules", "learn (over: the firewall asks; learning ended %1)"),
                                {LocalTime(state.learnUntil)}).c_str());
    else
        std::printf("%s\n", Arg(Tr("zel-rules", "learn (until %1)"), {LocalTime(state.learnUntil)}).c_str());
    return FinishOutput();
}

// "peer port N", as the log's rules are named: in English whatever the
// user's language, as the name is kept in the rules file.
std::string RuleName(bool allow, const std::string& peer, unsigned port)
{
    std::string name = allow ? "Allow" : "Block";
    if (!peer.empty())
        name += " " + peer;
    name += port == 0 ? std::string(" every port") : " port " + std::to_string(port);
    return name;
}

struct Scope {
    bool peer = true;
    bool port = true;
};

// The rule for a reviewed peer: its direction, the decision (or the one
// asked for), its port and peer as far as the scope goes. nullopt (told)
// for a peer that is no address or host name.
std::optional<rules::Rule> RuleFor(const review::Peer& peer, std::optional<bool> allow, const Scope& scope)
{
    const bool permits = allow.value_or(peer.permitted);
    const Direction direction = peer.outgoing ? Direction::kOutgoing : Direction::kIncoming;
    const Permission permission = permits ? Permission::kPermit : Permission::kDeny;
    rules::Port port = rules::Port::Numbered(scope.port ? static_cast<int>(peer.port) : 0);
    if (scope.peer) {
        if (rules::ParseAddress(peer.host) && panel::CheckIpList(peer.host)) {
            port.addresses = std::vector<std::string> {peer.host};
        } else if (const auto pattern = rules::NormalizeHostPattern(peer.host); pattern && peer.outgoing) {
            port.hosts = std::vector<std::string> {*pattern};
        } else {
            Fail(kFailed, Arg(Tr("zel-rules", "\"%1\" is no address or host name: no rule made of it"), {peer.host}));
            return std::nullopt;
        }
    }
    rules::Rule rule;
    rule.direction = direction;
    rule.permission = permission;
    rule.inForce = true;
    rule.name = RuleName(permits, scope.peer ? peer.host : std::string(), scope.port ? peer.port : 0);
    rule.ports = rules::PortsForOlderReaders(port, direction, permission);
    return rule;
}

struct Chosen {
    std::string path;
    std::vector<review::Peer> peers;
};

// The peers an ITEM (an id) or --program PATH names; nullopt (told) when none.
std::optional<Chosen> Choose(Arguments& args)
{
    const std::vector<review::Program> programs = review::Group(review::ReadAll(review::ListPath()));
    if (const auto program = args.TakeValue("--program")) {
        for (const review::Program& listed : programs)
            if (listed.path == *program)
                return Chosen {listed.path, listed.peers};
        Fail(kMisused, Arg(Tr("zel-rules", "the review list has nothing of %1"), {*program}));
        return std::nullopt;
    }
    if (args.Done() || args.Peek().starts_with("--")) {
        Usage();
        return std::nullopt;
    }
    const std::string id = args.Take();
    for (const review::Program& listed : programs)
        for (const review::Peer& peer : listed.peers)
            if (review::ItemId(listed.path, peer) == id)
                return Chosen {listed.path, {peer}};
    Fail(kMisused, Arg(Tr("zel-rules", "the review list has no item %1 (zel-rules review lists them)"), {id}));
    return std::nullopt;
}

int Drop(const Chosen& chosen)
{
    const bool removed = review::Remove(review::ListPath(), [&chosen](const review::Item& item) {
        for (const review::Peer& peer : chosen.peers)
            if (review::Covers(chosen.path, peer, item))
                return true;
        return false;
    });
    if (!removed)
        return Fail(kFailed, Arg(Tr("zel-rules", "the review list %1 could not be rewritten"), {review::ListPath()}));
    return 0;
}

int Accept(const Target& target, Arguments args)
{
    std::optional<Chosen> chosen = Choose(args);
    if (!chosen)
        return kMisused;
    std::optional<bool> allow;
    Scope scope;
    while (!args.Done()) {
        if (args.Take("--allow")) {
            allow = true;
        } else if (args.Take("--block")) {
            allow = false;
        } else if (const auto word = args.TakeValue("--scope")) {
            if (*word != "host" && *word != "port" && *word != "any")
                return Fail(kMisused, Arg(Tr("zel-rules", "\"%1\" is no scope (host, port or any)"), {*word}));
            scope = {*word == "host", *word == "port"};
        } else {
            return Usage();
        }
    }
    std::vector<rules::Rule> made;
    for (const review::Peer& peer : chosen->peers) {
        std::optional<rules::Rule> rule = RuleFor(peer, allow, scope);
        if (!rule)
            return kFailed;
        made.push_back(std::move(*rule));
    }
    const int status = Change(target, [&](LoadedRules& rules) {
        const std::string key = Entry(target, rules, chosen->path);
        if (key.empty())
            return kFailed;
        // First among the program's rules, as the panel puts a rule made
        // from the log, the newest peer's on top.
        std::vector<rules::Rule>& list = rules.core.Rules().Find(key)->rules;
        list.insert(list.begin(), made.begin(), made.end());
        return 0;
    });
    return status != 0 ? status : Drop(*chosen);
}

int ShowReview(bool json)
{
    const std::vector<review::Program> programs = review::Group(review::ReadAll(review::ListPath()));
    if (json) {
        nlohmann::ordered_json list = nlohmann::ordered_json::array();
        for (const review::Program& program : programs) {
            nlohmann::ordered_json peers = nlohmann::ordered_json::array();
            for (const review::Peer& peer : program.peers)
                peers.push_back({{"id", review::ItemId(program.path, peer)},
                                 {"direction", peer.outgoing ? "out" : "in"},
                                 {"protocol", peer.protocol == 2 ? "UDP" : "TCP"},
                                 {"port", peer.port},
                                 {"host", peer.host},
                                 {"decided", peer.permitted ? "allowed" : "blocked"},
                                 {"mode", peer.mode},
                                 {"count", peer.count},
                                 {"last", static_cast<long long>(peer.last)}});
            list.push_back({{"program", program.path},
                            {"count", program.count},
                            {"last", static_cast<long long>(program.last)},
                            {"peers", std::move(peers)}});
        }
        std::printf("%s\n", JsonText(list, 2).c_str());
        return FinishOutput();
    }
    for (const review::Program& program : programs) {
        std::printf("%s\n", program.path.c_str());
        std::printf("  %-8s %-3s %-5s %5s  %-32s %-16s %5s  %s\n", "ID", "DIR", "PROTO", "PORT", "HOST", "DECIDED",
                    "COUNT", "LAST");
        for (const review::Peer& peer : program.peers)
            std::printf("  %-8s %-3s %-5s %5u  %-32s %-16s %5d  %s\n", review::ItemId(program.path, peer).c_str(),
                        peer.outgoing ? "out" : "in", peer.protocol == 2 ? "UDP" : "TCP", peer.port, peer.host.c_str(),
                        ((peer.permitted ? "allowed (" : "blocked (") + peer.mode + ")").c_str(), peer.count,
                        LocalTime(peer.last).c_str());
    }
    return FinishOutput();
}

}  // namespace

int Mode(const Call& call)
{
    if (call.target.services || call.args.size() > 3)
        return Usage();
    if (call.args.empty())
        return ShowMode();
    const std::optional<mode::Mode> chosen = mode::Parse(call.args[0]);
    if (!chosen || call.args[0] != mode::Word(*chosen))
        return Fail(kMisused, Arg(Tr("zel-rules", "\"%1\" is no mode (ask, quiet-allow, quiet-block, learn)"), {call.args[0]}));
    Arguments options({call.args.begin() + 1, call.args.end()});
    int days = protocol::settings::kDefaultLearnDays;
    if (const auto given = options.TakeValue("--days")) {
        if (*chosen != mode::Mode::kLearn)
            return Usage();
        const bool digits = !given->empty() && given->size() <= 3
            && given->find_first_not_of("0123456789") == std::string::npos;
        days = digits ? std::stoi(*given) : 0;
        if (days < 1 || days > protocol::settings::kMaxLearnDays)
            return Fail(kMisused, Arg(Tr("zel-rules", "\"%1\" is no number of days (1 to %2)"),
                                      {*given, std::to_string(protocol::settings::kMaxLearnDays)}));
    }
    if (!options.Done())
        return Usage();
    mode::State state;
    state.mode = *chosen;
    if (state.mode == mode::Mode::kLearn)
        state.learnUntil = std::time(nullptr) + days * kDay;
    if (!mode::Write(state))
        return Fail(kFailed, Tr("zel-rules", "the mode could not be written to the settings"));
    return ShowMode();
}

int Review(const Call& call)
{
    if (call.target.services)
        return Usage();
    Arguments args(call.args);
    if (args.Done() || (args.Left() == 1 && args.Peek() == "--json"))
        return ShowReview(!args.Done());
    const std::string action = args.Take();
    if (action == "accept")
        return Accept(call.target, std::move(args));
    if (action != "reject")
        return Usage();
    const std::optional<Chosen> chosen = Choose(args);
    if (!chosen)
        return kMisused;
    if (!args.Done())
        return Usage();
    return Drop(*chosen);
}

}  // namespace tools::zel_rules
