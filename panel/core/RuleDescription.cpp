#include "core/RuleDescription.h"

namespace panel {

namespace {

// One port entry: its port ("all ports" for 0) and the peers it names.
std::string PortText(const rules::Port& port)
{
    const std::optional<int> number = port.Number();
    std::string text;
    if (!number)
        text = "no port (\"" + port.number.value_or(std::string()) + "\")";
    else if (*number == 0)
        text = "all ports";
    else
        text = std::to_string(*number);
    std::vector<std::string> peers = port.ShownAddresses();
    if (port.hosts)
        peers.insert(peers.end(), port.hosts->begin(), port.hosts->end());
    if (!peers.empty()) {
        text += "(";
        for (size_t j = 0; j < peers.size(); ++j)
            text += (j > 0 ? "," : "") + peers[j];
        text += ")";
    } else if (port.addresses && !port.hosts) {
        text += "(no address)"; // IPS written with nothing in it
    }
    return text;
}

}  // namespace

const char* ShownWord(rules::Permission permission)
{
    switch (permission) {
    case rules::Permission::kPermit:
        return "Allow";
    case rules::Permission::kAsk:
        return "Ask";
    case rules::Permission::kDeny:
        break;
    }
    return "Block";
}

const char* ShownWord(rules::Direction direction)
{
    return direction == rules::Direction::kIncoming ? "Incoming" : "Outgoing";
}

std::string RuleDescription(const rules::Rule& rule)
{
    std::string text = std::string(rule.permission ? ShownWord(*rule.permission) : "") + " "
        + (rule.direction ? (*rule.direction == rules::Direction::kIncoming ? "incoming" : "outgoing") : "");
    // A rule without ports matches no connection: it must not read as one
    // that covers everything.
    if (rule.ports.empty())
        return text + " for : nothing (no port)";
    text += " for : ";
    for (size_t i = 0; i < rule.ports.size(); ++i)
        text += (i > 0 ? ", " : "") + PortText(rule.ports[i]);
    return text;
}

}  // namespace panel
