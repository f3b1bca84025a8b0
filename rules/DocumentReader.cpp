#include "rules/DocumentReader.h"

#include "rules/RulesFormat.h"
#include "text/Strings.h"

namespace rules {

namespace rf = rules::rules_format;

namespace {

// The engine's parse: blank-only text is no text, line ends are "\n".
constexpr unsigned kParseOptions = pugi::parse_default;

std::optional<std::string> TextOf(const pugi::xml_node& parent, const char* name)
{
    const pugi::xml_node element = parent.child(name);
    if (!element)
        return std::nullopt;
    return std::string(element.text().get());
}

// The texts of an IPS or HOSTS: every child's, text between them included.
std::optional<std::vector<std::string>> ItemsOf(const pugi::xml_node& parent, const char* name)
{
    const pugi::xml_node list = parent.child(name);
    if (!list)
        return std::nullopt;
    std::vector<std::string> items;
    for (const pugi::xml_node item : list.children())
        items.emplace_back(item.text().get());
    return items;
}

// A whole decimal number, a sign and blanks around it allowed.
std::optional<long long> WholeNumber(std::string_view text)
{
    text = text::TrimBlanks(text);
    const bool negative = !text.empty() && text.front() == '-';
    if (!text.empty() && (text.front() == '-' || text.front() == '+'))
        text.remove_prefix(1);
    if (text.empty() || text.size() > 18 || text.find_first_not_of("0123456789") != std::string_view::npos)
        return std::nullopt;
    const long long value = text::ParseDecimal(text);
    return negative ? -value : value;
}

Port ReadPort(const pugi::xml_node& node)
{
    Port port;
    port.alias = TextOf(node, rf::kAlias).value_or(std::string());
    port.number = TextOf(node, rf::kNumber);
    // ADDRESSES holds the items of a port that engines predating IPv6 and
    // prefixes must take as every address; to this reader they are more
    // items of the port, after those of IPS.
    port.addresses = ItemsOf(node, rf::kIps);
    if (auto more = ItemsOf(node, rf::kAddresses)) {
        if (port.addresses)
            port.addresses->insert(port.addresses->end(), more->begin(), more->end());
        else
            port.addresses = std::move(more);
    }
    port.hosts = ItemsOf(node, rf::kHosts);
    return port;
}

Rule ReadRule(const pugi::xml_node& node)
{
    Rule rule;
    rule.name = TextOf(node, rf::kRuleName).value_or(std::string());
    if (const auto word = TextOf(node, rf::kDirection))
        rule.direction = DirectionOf(*word);
    if (const auto word = TextOf(node, rf::kPermission))
        rule.permission = PermissionOf(*word);
    if (const auto state = TextOf(node, rf::kState))
        rule.inForce = *state == "1";
    // Shown unless it says otherwise by a number: the user sees every rule
    // in force that the file does not hide on purpose.
    if (const auto enable = TextOf(node, rf::kEnable)) {
        const std::optional<long long> number = WholeNumber(*enable);
        rule.listed = !number || *number == 1;
    }
    for (const pugi::xml_node port : node.child(rf::kPorts).children())
        rule.ports.push_back(ReadPort(port));
    return rule;
}

// A timed answer; nullopt for one that lacks what it must hold or holds
// what no answer is made of: it answers nothing.
std::optional<TimedAnswer> ReadTimedAnswer(const pugi::xml_node& node)
{
    const auto direction = TextOf(node, rf::kDirection);
    const auto permission = TextOf(node, rf::kPermission);
    const auto until = WholeNumber(TextOf(node, rf::kUntil).value_or(std::string()));
    const std::optional<int> port = PortOf(TextOf(node, rf::kNumber).value_or("0"));
    if (!direction || !permission || !until || !port)
        return std::nullopt;
    TimedAnswer answer;
    answer.direction = DirectionOf(*direction);
    answer.permission = PermissionOf(*permission);
    if (answer.permission == Permission::kAsk)
        return std::nullopt;
    answer.until = *until;
    answer.port = *port;
    answer.address = text::TrimBlanks(TextOf(node, rf::kIp).value_or(std::string()));
    answer.host = text::TrimBlanks(TextOf(node, rf::kHost).value_or(std::string()));
    return answer;
}

std::optional<Permission> DefaultOf(const pugi::xml_node& node, const char* name)
{
    const std::string word = TextOf(node, name).value_or(std::string());
    return word.empty() ? std::nullopt : std::optional<Permission>(PermissionOf(word));
}

Application Read(const pugi::xml_node& node)
{
    Application application;
    if (const auto name = TextOf(node, rf::kExeName))
        application.name = rf::EntryName(*name);
    application.description = TextOf(node, rf::kDescription).value_or(std::string());
    application.path = rf::PathOfText(TextOf(node, rf::kAppPath).value_or(std::string()));
    application.byPath = TextOf(node, rf::kByPath).value_or(std::string()) == "1";
    application.fileHash = TextOf(node, rf::kFileHash).value_or(std::string());
    application.parent = rf::PathOfText(TextOf(node, rf::kParent).value_or(std::string()));
    application.service = TextOf(node, rf::kIsService).value_or(std::string()) == "1";
    // Exactly "1", and never for every program at once.
    application.ignoreLists = !application.IsGeneral() && TextOf(node, rf::kIgnoreLists) == "1";
    application.incoming = DefaultOf(node, rf::kInDef);
    application.outgoing = DefaultOf(node, rf::kOutDef);
    for (const pugi::xml_node rule : node.child(rf::kRules).children())
        application.rules.push_back(ReadRule(rule));
    for (const pugi::xml_node answer : node.child(rf::kTimed).children(rf::kAnswer))
        if (auto timed = ReadTimedAnswer(answer))
            application.timed.push_back(std::move(*timed));
    return application;
}

}  // namespace

bool DocumentReader::Parse(std::string_view text)
{
    applications_.clear();
    problem_.clear();
    const pugi::xml_parse_result result = xml_.load_buffer(text.data(), text.size(), kParseOptions);
    if (!result) {
        problem_ = std::string(result.description()) + " at byte " + std::to_string(result.offset);
        return false;
    }
    // The document element, not merely the first node: a declaration or a
    // comment before the root must not leave a reader without rules.
    const pugi::xml_node root = xml_.document_element();
    if (!root) {
        problem_ = "no root element";
        return false;
    }
    for (const pugi::xml_node application : root.children())
        applications_.push_back(application);
    return true;
}

std::optional<std::string> DocumentReader::NameAt(size_t index) const
{
    if (const auto name = TextOf(applications_.at(index), rf::kExeName))
        return rf::EntryName(*name);
    return std::nullopt;
}

Application DocumentReader::At(size_t index) const { return Read(applications_.at(index)); }

Document DocumentReader::Whole() const
{
    Document document;
    document.applications.reserve(applications_.size());
    for (const pugi::xml_node& application : applications_)
        document.applications.push_back(Read(application));
    return document;
}

std::optional<Document> ReadDocument(std::string_view text, std::string* problem)
{
    DocumentReader reader;
    if (!reader.Parse(text)) {
        if (problem)
            *problem = reader.Problem();
        return std::nullopt;
    }
    return reader.Whole();
}

std::optional<Application> ReadApplication(std::string_view elementText)
{
    pugi::xml_document element;
    if (!element.load_buffer(elementText.data(), elementText.size(), kParseOptions) || !element.document_element())
        return std::nullopt;
    return Read(element.document_element());
}

}  // namespace rules
