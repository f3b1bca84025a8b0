#include "windows/RuleText.h"

namespace panel {

std::string RuleDescription(const AppRules& rule)
{
    std::string text = rule.Permission + " " + rule.Direction;
    if (rule.PORTS.empty())
        return text;
    text += " for : ";
    for (size_t i = 0; i < rule.PORTS.size(); ++i) {
        const AppPorts& port = *rule.PORTS[i];
        if (i > 0)
            text += ", ";
        text += std::to_string(port.nPort);
        std::vector<std::string> peers = port.WrittenIps();
        peers.insert(peers.end(), port.Hosts.begin(), port.Hosts.end());
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

QString NodeText(const std::string& description)
{
    const QString text = QString::fromStdString(description);
    return text.left(1) + text.mid(1).toLower();
}
