#include "rules/DocumentWriter.h"

#include "rules/AddressRange.h"
#include "rules/RulesFormat.h"
#include "text/Strings.h"

#include <pugixml.hpp>

#include <algorithm>

namespace rules {

namespace rf = rules::rules_format;

namespace {

// Text XML carries. Vertical tab and form feed are blanks to the readers of
// numbers, addresses and host names (text::TrimBlanks): a blank keeps
// their meaning where U+FFFD would take an entry away.
std::string ValueText(std::string_view text)
{
    std::string blanked(text);
    for (char& c : blanked)
        if (c == '\v' || c == '\f')
            c = ' ';
    // Blanks alone are no text to a reader: written as none, they read back the same.
    if (text::TrimBlanks(blanked).empty())
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

// Where a port's addresses are written: IPS, unless the rule does not
// permit and an item is of a form that engines predating IPv6 and prefixes
// cannot read. Such an engine skips that item, so it would deny or ask less
// and permit what the rule does not; under ADDRESSES, with no IPS, it takes
// the port as every address instead. A permitting port stays in IPS, where
// such an engine permits only the items it reads.
const char* AddressElement(const Rule& rule, const Port& port)
{
    if (rule.permission == Permission::kPermit)
        return rf::kIps;
    // Judged as the item is written, which readers see.
    const bool unreadable = std::any_of(port.addresses->begin(), port.addresses->end(), [](const std::string& item) {
        const std::string written = ValueText(item);
        return !rules::IsIpv4Item(written) && rules::ParseAddressRange(written);
    });
    return unreadable ? rf::kAddresses : rf::kIps;
}

void WritePort(pugi::xml_node ports, const Port& port, const Rule& rule)
{
    pugi::xml_node node = ports.append_child(rf::kPort);
    if (!port.alias.empty())
        AddText(node, rf::kAlias, rf::XmlSafeText(port.alias));
    if (port.number)
        AddText(node, rf::kNumber, ValueText(*port.number));
    if (port.addresses)
        AddList(node, AddressElement(rule, port), rf::kIp, *port.addresses);
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
    for (const Port& port : rule.ports) {
        if (!rule.direction || !rule.permission) {
            WritePort(ports, port, rule);
            continue;
        }
        for (const Port& written : PortsForOlderReaders(port, *rule.direction, *rule.permission))
            WritePort(ports, written, rule);
    }
}

void WriteTimedAnswer(pugi::xml_node timed, const TimedAnswer& answer)
{
    pugi::xml_node node = timed.append_child(rf::kAnswer);
    AddText(node, rf::kDirection, WordOf(answer.direction));
    AddText(node, rf::kPermission, WordOf(answer.permission));
    AddText(node, rf::kUntil, std::to_string(answer.until));
    AddText(node, rf::kNumber, std::to_string(answer.port));
    if (!answer.address.empty())
        AddText(node, rf::kIp, ValueText(answer.address));
    if (!answer.host.empty())
        AddText(node, rf::kHost, ValueText(answer.host));
}

void WriteApplication(pugi::xml_node root, const Application& application)
{
    pugi::xml_node node = root.append_child(rf::kApplication);
    if (application.name)
        AddText(node, rf::kExeName, rf::XmlSafeText(*application.name));
    // Descriptions in upper case, as the panel has always written them.
    if (!application.description.empty())
        AddText(node, rf::kDescription, rf::XmlSafeText(text::ToUpper(application.description)));
    if (!application.path.empty())
        AddText(node, rf::kAppPath, rf::PathText(application.path));
    if (application.IsBound())
        AddText(node, rf::kByPath, "1");
    if (application.IsBound() && !application.fileHash.empty())
        AddText(node, rf::kFileHash, ValueText(application.fileHash));
    if (application.IsLimited())
        AddText(node, rf::kParent, rf::PathText(application.parent));
    AddText(node, rf::kIsService, application.service ? "1" : "0");
    if (application.ignoreLists && !application.IsGeneral())
        AddText(node, rf::kIgnoreLists, "1");
    AddText(node, rf::kInDef, application.incoming ? WordOf(*application.incoming) : "");
    AddText(node, rf::kOutDef, application.outgoing ? WordOf(*application.outgoing) : "");
    if (!application.rules.empty()) {
        pugi::xml_node rules = node.append_child(rf::kRules);
        for (const Rule& rule : application.rules)
            WriteRule(rules, rule);
    }
    // Apart from RULES, where readers that predate timed answers never look.
    if (!application.timed.empty()) {
        pugi::xml_node timed = node.append_child(rf::kTimed);
        for (const TimedAnswer& answer : application.timed)
            WriteTimedAnswer(timed, answer);
    }
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
