#include "panel/core/ReviewRules.h"

#include "rules/AddressRange.h"
#include "rules/HostPatterns.h"
#include "rules/Port.h"

#include <algorithm>
#include <string>
#include <vector>

namespace panel {

namespace {

// The port entry covering the peer within the scope, if one covers it alone.
std::optional<rules::Port> PeerPort(const protocol::review::Peer& peer, bool outgoing, ReviewScope scope)
{
    if (peer.port < 1 || peer.port > 65535)
        return std::nullopt;
    rules::Port port = rules::Port::Numbered(static_cast<int>(peer.port));
    if (scope == ReviewScope::kPort)
        return port;
    if (rules::ParseAddress(peer.host)) {
        port.addresses = std::vector<std::string> {peer.host};
        return port;
    }
    // Names are matched on outgoing connections alone.
    const std::optional<std::string> name = rules::NormalizeHostPattern(peer.host);
    if (!outgoing || !name || name->find('*') != std::string::npos || *name == "?")
        return std::nullopt;
    port.hosts = std::vector<std::string> {*name};
    return port;
}

}  // namespace

std::optional<rules::Rule> ReviewRule(std::span<const protocol::review::Peer> peers, bool allow, ReviewScope scope)
{
    if (peers.empty())
        return std::nullopt;
    rules::Rule rule;
    const bool outgoing = peers.front().outgoing;
    rule.direction = outgoing ? rules::Direction::kOutgoing : rules::Direction::kIncoming;
    rule.permission = allow ? rules::Permission::kPermit : rules::Permission::kDeny;
    rule.inForce = true;
    const std::string verb = allow ? "Allow" : "Block";
    if (scope == ReviewScope::kAny) {
        rule.name = verb + (outgoing ? " all outgoing" : " all incoming");
        rule.ports.push_back(rules::Port::Numbered(0));
        return rule;
    }
    std::vector<rules::Port> ports;
    for (const protocol::review::Peer& peer : peers) {
        if (peer.outgoing != outgoing)
            return std::nullopt;
        std::optional<rules::Port> port = PeerPort(peer, outgoing, scope);
        if (!port)
            return std::nullopt;
        if (std::find(ports.begin(), ports.end(), *port) == ports.end())
            ports.push_back(std::move(*port));
    }
    const rules::Port& first = ports.front();
    const std::string peer = first.hosts ? first.hosts->front() : first.addresses ? first.addresses->front() : "";
    rule.name = verb + (peer.empty() ? "" : " " + peer) + " port " + *first.number;
    if (ports.size() > 1)
        rule.name += " and " + std::to_string(ports.size() - 1) + " more";
    // As the file will hold them, so that the panel holds the same.
    for (const rules::Port& port : ports)
        for (rules::Port& kept : rules::PortsForOlderReaders(port, *rule.direction, *rule.permission))
            rule.ports.push_back(std::move(kept));
    return rule;
}

}  // namespace panel
