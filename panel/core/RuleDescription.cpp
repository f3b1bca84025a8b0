#include "panel/core/RuleDescription.h"

#include "text/Translate.h"

namespace panel {

namespace {

// One port entry: its port ("all ports" for 0) and the peers it names.
std::string PortText(const rules::Port& port)
{
    const std::optional<int> number = port.Number();
    std::string text;
    if (!number)
        text = text::Arg(text::Tr("RuleDescription", "no port (\"%1\")"), {port.number.value_or(std::string())});
    else if (*number == 0)
        text = text::Tr("RuleDescription", "all ports");
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
        text += text::Tr("RuleDescription", "(no address)"); // IPS written with nothing in it
    }
    return text;
}

}  // namespace

std::string ShownWord(rules::Permission permission)
{
    switch (permission) {
    case rules::Permission::kPermit:
        return text::Tr("RuleDescription", "Allow");
    case rules::Permission::kAsk:
        return text::Tr("RuleDescription", "Ask");
    case rules::Permission::kDeny:
        break;
    }
    return text::Tr("RuleDescription", "Block");
}

std::string ShownWord(rules::Direction direction)
{
    return direction == rules::Direction::kIncoming ? text::Tr("RuleDescription", "Incoming")
                                                    : text::Tr("RuleDescription", "Outgoing");
}

std::string RuleDescription(const rules::Rule& rule)
{
    // Whole sentences, so that a translation may put the words in its own order.
    static constexpr const char* kSentences[3][2] = {
        {ZEL_TEXT_NOOP("RuleDescription", "Block incoming for : %1"),
         ZEL_TEXT_NOOP("RuleDescription", "Block outgoing for : %1")},
        {ZEL_TEXT_NOOP("RuleDescription", "Allow incoming for : %1"),
         ZEL_TEXT_NOOP("RuleDescription", "Allow outgoing for : %1")},
        {ZEL_TEXT_NOOP("RuleDescription", "Ask incoming for : %1"),
         ZEL_TEXT_NOOP("RuleDescription", "Ask outgoing for : %1")},
    };
    // A rule without ports matches no connection: it must not read as one
    // that covers everything.
    std::string ports;
    if (rule.ports.empty())
        ports = text::Tr("RuleDescription", "nothing (no port)");
    for (size_t i = 0; i < rule.ports.size(); ++i)
        ports += (i > 0 ? ", " : "") + PortText(rule.ports[i]);
    if (rule.permission && rule.direction) {
        const size_t permission = *rule.permission == rules::Permission::kDeny     ? 0
                                : *rule.permission == rules::Permission::kPermit ? 1
                                                                                 : 2;
        const size_t direction = *rule.direction == rules::Direction::kIncoming ? 0 : 1;
        return text::Arg(text::Tr("RuleDescription", kSentences[permission][direction]), {ports});
    }
    // A rule the file left without a permission or a direction.
    const std::string direction = !rule.direction ? std::string()
        : *rule.direction == rules::Direction::kIncoming ? text::Tr("RuleDescription", "incoming")
                                                         : text::Tr("RuleDescription", "outgoing");
    return text::Arg(text::Tr("RuleDescription", "%1 %2 for : %3"),
                         {rule.permission ? ShownWord(*rule.permission) : std::string(), direction, ports});
}

}  // namespace panel
