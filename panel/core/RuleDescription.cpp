#include "core/RuleDescription.h"

namespace panel {

std::string RuleDescription(const rules::Rule& rule)
{
    std::string text = std::string(rule.permission ? rules::WordOf(*rule.permission) : "") + " "
        + (rule.direction ? rules::WordOf(*rule.direction) : "");
    if (rule.ports.empty())
        return text;
    text += " for : ";
    for (size_t i = 0; i < rule.ports.size(); ++i) {
        const rules::Port& port = rule.ports[i];
        if (i > 0)
            text += ", ";
        const std::optional<int> number = port.Number();
        text += number ? std::to_string(*number) : port.number.value_or(std::string());
        std::vector<std::string> peers = port.ShownAddresses();
        if (port.hosts)
            peers.insert(peers.end(), port.hosts->begin(), port.hosts->end());
        if (!peers.empty()) {
            text += "(";
            for (size_t j = 0; j < peers.size(); ++j)
                text += (j > 0 ? "," : "") + peers[j];
            text += ")";
        }
    }
    return text;
}

}  // namespace panel
