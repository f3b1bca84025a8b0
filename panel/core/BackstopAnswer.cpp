#include "panel/core/BackstopAnswer.h"

#include "os/Processes.h"
#include "panel/core/ErrorLog.h"
#include "panel/core/FileInformation.h"
#include "protocol/PanelMessages.h"
#include "rules/RulesFormat.h"

#include <algorithm>
#include <arpa/inet.h>

namespace panel {

namespace {

// The rule an answer for this peer makes, named so that the rule lists say what it is for.
std::string RuleNameFor(const BackstopAnswer& answer)
{
    return (answer.incoming ? "Backstop: from " : "Backstop: ") + answer.address + " port " + std::to_string(answer.port);
}

rules::Direction DirectionOf(const BackstopAnswer& answer)
{
    return answer.incoming ? rules::Direction::kIncoming : rules::Direction::kOutgoing;
}

bool IsAnswerRule(const rules::Rule& rule, const std::string& name, rules::Direction direction)
{
    return rule.name == name && rule.direction == direction && rule.ports.size() == 1;
}

}  // namespace

std::optional<AlertedApp> StoreBackstopAnswer(PanelCore& core, const BackstopAnswer& answer)
{
    const char* caller = "BackstopAnswer : StoreBackstopAnswer";
    // From another process: only what names a program and a peer plainly.
    const bool plain = !answer.program.empty() && answer.program.size() < 4096
        && std::none_of(answer.program.begin(), answer.program.end(), [](char c) { return static_cast<unsigned char>(c) < 0x20; });
    in_addr ipv4 {};
    in6_addr ipv6 {};
    const bool isIpv4 = ::inet_pton(AF_INET, answer.address.c_str(), &ipv4) == 1;
    const bool isIpv6 = !isIpv4 && ::inet_pton(AF_INET6, answer.address.c_str(), &ipv6) == 1;
    if (!plain || (!isIpv4 && !isIpv6) || answer.port == 0 || answer.port > 65535) {
        WriteErrLog(caller, "the backstop's question names no program or peer a rule can hold; the answer is not stored");
        return std::nullopt;
    }
    if (!core.RulesReadable()) {
        WriteErrLog(caller, "the rules file could not be read; the answer is not stored (the backstop asks again)");
        return std::nullopt;
    }
    const std::string path = answer.program.front() == '/' ? rules::rules_format::CleanCarrierPath(answer.program) : std::string();
    const std::string exeName = rules::rules_format::CarrierExeName(rules::rules_format::CleanCarrierPath(answer.program));
    const rules::Permission permission = answer.permit ? rules::Permission::kPermit : rules::Permission::kDeny;

    rules::Application& app = ProgramEntry(core, exeName, path.empty() ? std::string() : GetDisplayName(path), path);
    if (answer.forAll) {
        SetAnsweredDefault(core, app,
                           answer.incoming ? (answer.permit ? protocol::kCodeIncomingPermitted : protocol::kCodeIncomingBlocked)
                                           : (answer.permit ? protocol::kCodeOutgoingPermitted : protocol::kCodeOutgoingBlocked));
    } else {
        const std::string name = RuleNameFor(answer);
        const rules::Direction direction = DirectionOf(answer);
        std::erase_if(app.rules, [&](const rules::Rule& rule) { return IsAnswerRule(rule, name, direction); });
        rules::Port port = rules::Port::Numbered(static_cast<int>(answer.port));
        port.addresses = std::vector<std::string> {answer.address}; // IPv4 or IPv6: the rule covers that peer alone
        rules::Rule rule;
        rule.name = name;
        rule.permission = permission;
        rule.direction = direction;
        rule.inForce = true;
        rule.ports.push_back(std::move(port));
        // First: the question was raised because no earlier rule decided,
        // but a broader one after it (an ASK for every port) would.
        app.rules.insert(app.rules.begin(), std::move(rule));
    }
    const AlertedApp shown {app.Key(), app.description};
    core.Save();
    core.Updates().Add(exeName);
    core.Changes().Announce({Change::Kind::kApplicationChanged, shown.key});
    return shown;
}

}  // namespace panel
