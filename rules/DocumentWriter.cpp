#include "rules/DocumentWriter.h"

#include "platform/RulesFormat.h"
#include "platform/Text.h"

#include <pugixml.hpp>

namespace rules {

namespace rf = platform::rules_format;

namespace {

// Text XML carries. Vertical tab and form feed are blanks to the readers of
// numbers, addresses and host names (platform::TrimBlanks): a blank keeps
// their meaning where U+FFFD would take an entry away.
std::string ValueText(std::string_view text)
{
    std::string blanked(text);
    for (char& c : blanked)
        if (c == '\v' || c == '\f')
            c = ' ';
    // Blanks alone are no text to a reader: written as none, they read back the same.
    if (platform::TrimBlanks(blanked).empty())
        return {};
    return rf::XmlSafeText(blanked);
}

void AddText(pugi::xml_node parent, const char* name, const std::string& text)
{
    parent.append_child(name).text().set(text.c_str());
}

void AddList(pugi::xml_node parent, const char* listName, const char* itemName, const std::vector<std::string>& items)
{
    pugi::xml_node list = parent.append_child(listName);
    for (const std::string& item : items)
        AddText(list, itemName, ValueText(item));
}

void WritePort(pugi::xml_node ports, const Port& port)
{
    pugi::xml_node node = ports.append_child(rf::kPort);
    if (!port.alias.empty())
        AddText(node, rf::kAlias, rf::XmlSafeText(port.alias));
    if (port.number)
        AddText(node, rf::kNumber, ValueText(*port.number));
    if (port.addresses)
        AddList(node, rf::kIps, rf::kIp, *port.addresses);
    if (port.hosts)
        AddList(node, rf::kHosts, rf::kHost, *port.hosts);
}

void WriteRule(pugi::xml_node rules, const Rule& rule)
{
    pugi::xml_node node = rules.append_child(rf::kRule);
    if (!rule.name.empty())
        AddText(node, rf::kRuleName, rf::XmlSafeText(rule.name));
    if (rule.direction)
        AddText(node, rf::kDirection, WordOf(*rule.direction));
    if (rule.permission)
        AddText(node, rf::kPermission, WordOf(*rule.permission));
    if (rule.inForce)
        AddText(node, rf::kState, *rule.inForce ? "1" : "0");
    AddText(node, rf::kEnable, rule.listed ? "1" : "0");
    if (rule.ports.empty())
        return;
    pugi::xml_node ports = node.append_child(rf::kPorts);
    for (const Port& port : rule.ports)
        WritePort(ports, port);
}

void WriteApplication(pugi::xml_node root, const Application& application)
{
    pugi::xml_node node = root.append_child(rf::kApplication);
    if (application.name)
        AddText(node, rf::kExeName, rf::XmlSafeText(*application.name));
    // Descriptions in upper case, as the panel has always written them.
    if (!application.description.empty())
        AddText(node, rf::kDescription, rf::XmlSafeText(platform::ToUpper(application.description)));
    if (!application.path.empty())
        AddText(node, rf::kAppPath, rf::PathText(application.path));
    AddText(node, rf::kIsService, application.service ? "1" : "0");
    AddText(node, rf::kInDef, application.incoming ? WordOf(*application.incoming) : "");
    AddText(node, rf::kOutDef, application.outgoing ? WordOf(*application.outgoing) : "");
    if (application.rules.empty())
        return;
    pugi::xml_node rules = node.append_child(rf::kRules);
    for (const Rule& rule : application.rules)
        WriteRule(rules, rule);
}

struct StringWriter : pugi::xml_writer {
    std::string text;
    void write(const void* data, size_t size) override { text.append(static_cast<const char*>(data), size); }
};

}  // namespace

std::string WriteDocument(const Document& document)
{
    pugi::xml_document xml;
    pugi::xml_node root = xml.append_child(rf::kApplications);
    for (const Application& application : document.applications)
        WriteApplication(root, application);
    StringWriter writer;
    xml.save(writer, "", pugi::format_raw | pugi::format_no_declaration, pugi::encoding_utf8);
    return writer.text + "\n";
}

}  // namespace rules
