#include "tools/rules/RulesJson.h"

#include "protocol/SettingNames.h"
#include "rules/AddressRange.h"
#include "rules/HostPatterns.h"
#include "rules/RulesFormat.h"
#include "rules/TimedAnswer.h"
#include "rules/hooksafe/Names.h"
#include "text/Translate.h"
#include "tools/common/ToolOutput.h"

#include <nlohmann/json.hpp>

#include <ctime>
#include <initializer_list>
#include <map>

namespace tools::rules_json {

namespace rf = rules::rules_format;
using nlohmann::ordered_json;
using text::Arg;
using text::Tr;

namespace {

ordered_json Texts(const std::vector<std::string>& texts)
{
    ordered_json list = ordered_json::array();
    for (const std::string& text : texts)
        list.push_back(text);
    return list;
}

ordered_json PortJson(const rules::Port& port)
{
    ordered_json out = ordered_json::object();
    if (port.number)
        out["port"] = *port.number;
    out["alias"] = port.alias;
    if (port.addresses)
        out["addresses"] = Texts(*port.addresses);
    if (port.hosts)
        out["hosts"] = Texts(*port.hosts);
    return out;
}

ordered_json RuleJson(const rules::Rule& rule)
{
    ordered_json out = ordered_json::object();
    out["name"] = rule.name;
    if (rule.direction)
        out["direction"] = rules::WordOf(*rule.direction);
    if (rule.permission)
        out["permission"] = rules::WordOf(*rule.permission);
    if (rule.inForce)
        out["enabled"] = *rule.inForce;
    out["listed"] = rule.listed;
    out["ports"] = ordered_json::array();
    for (const rules::Port& port : rule.ports)
        out["ports"].push_back(PortJson(port));
    return out;
}

ordered_json ApplicationJson(const rules::Application& app)
{
    ordered_json out = ordered_json::object();
    if (app.name)
        out["name"] = *app.name;
    out["description"] = app.description;
    out["path"] = app.path;
    out["bypath"] = app.byPath;
    if (!app.fileHash.empty())
        out["filehash"] = app.fileHash;
    out["service"] = app.service;
    if (app.ignoreLists)
        out["ignorelists"] = true;
    if (app.incoming)
        out["incoming"] = rules::WordOf(*app.incoming);
    if (app.outgoing)
        out["outgoing"] = rules::WordOf(*app.outgoing);
    out["rules"] = ordered_json::array();
    for (const rules::Rule& rule : app.rules)
        out["rules"].push_back(RuleJson(rule));
    // Answers for a time, only where there are some.
    for (const rules::TimedAnswer& answer : app.timed) {
        ordered_json timed = ordered_json::object();
        timed["direction"] = rules::WordOf(answer.direction);
        timed["permission"] = rules::WordOf(answer.permission);
        timed["until"] = answer.until;
        timed["port"] = answer.port;
        if (!answer.address.empty())
            timed["address"] = answer.address;
        if (!answer.host.empty())
            timed["host"] = answer.host;
        out["timed"].push_back(std::move(timed));
    }
    return out;
}

// A fault in the imported text: where, and what.
struct Fault {
    std::string text;
};

// Reads one JSON object field by field, each known by name.
class Fields {
public:
    Fields(const ordered_json& object, std::string where, std::initializer_list<const char*> known) : where_(std::move(where))
    {
        if (!object.is_object())
            throw Fault {Arg(Tr("zel-rules import", "%1: an object is expected"), {where_})};
        for (const auto& [key, value] : object.items()) {
            bool isKnown = false;
            for (const char* name : known)
                isKnown = isKnown || key == name;
            if (!isKnown)
                throw Fault {Arg(Tr("zel-rules import", "%1: unknown field \"%2\""), {where_, key})};
        }
        object_ = &object;
    }
    const std::string& Where() const { return where_; }
    // nullptr when missing or null.
    const ordered_json* Get(const char* name) const
    {
        const auto it = object_->find(name);
        return it == object_->end() || it->is_null() ? nullptr : &*it;
    }
    std::optional<std::string> Text(const char* name) const
    {
        const ordered_json* value = Get(name);
        if (!value)
            return std::nullopt;
        if (!value->is_string())
            throw Fault {Arg(Tr("zel-rules import", "%1: \"%2\" must be a text"), {where_, name})};
        return value->get<std::string>();
    }
    std::optional<bool> Flag(const char* name) const
    {
        const ordered_json* value = Get(name);
        if (!value)
            return std::nullopt;
        if (!value->is_boolean())
            throw Fault {Arg(Tr("zel-rules import", "%1: \"%2\" must be true or false"), {where_, name})};
        return value->get<bool>();
    }
    const ordered_json& List(const char* name, bool required) const
    {
        static const ordered_json empty = ordered_json::array();
        const ordered_json* value = Get(name);
        if (!value && !required)
            return empty;
        if (!value || !value->is_array())
            throw Fault {Arg(Tr("zel-rules import", "%1: \"%2\" must be a list"), {where_, name})};
        return *value;
    }
    std::optional<std::vector<std::string>> Texts(const char* name) const
    {
        if (!Get(name))
            return std::nullopt;
        std::vector<std::string> texts;
        for (const ordered_json& item : List(name, true)) {
            if (!item.is_string())
                throw Fault {Arg(Tr("zel-rules import", "%1: \"%2\" must hold texts"), {where_, name})};
            texts.push_back(item.get<std::string>());
        }
        return texts;
    }
    template <typename Enum>
    std::optional<Enum> Word(const char* name, std::initializer_list<const char*> words, Enum (*of)(std::string_view)) const
    {
        const std::optional<std::string> text = Text(name);
        if (!text)
            return std::nullopt;
        for (const char* word : words)
            if (*text == word)
                return of(*text);
        std::string allowed;
        for (const char* word : words)
            allowed += std::string(allowed.empty() ? "" : ", ") + word;
        throw Fault {Arg(Tr("zel-rules import", "%1: \"%2\" is \"%3\"; it must be one of %4"), {where_, name, *text, allowed})};
    }

private:
    const ordered_json* object_ = nullptr;
    std::string where_;
};

rules::Port PortOfJson(const ordered_json& json, const std::string& where)
{
    const Fields fields(json, where, {"port", "alias", "addresses", "hosts"});
    rules::Port port;
    port.number = fields.Text("port");
    if (port.number && !rules::PortOf(*port.number))
        throw Fault {Arg(Tr("zel-rules import", "%1: the port \"%2\" is no number from 0 (every port) to 65535"), {where, *port.number})};
    port.alias = fields.Text("alias").value_or("");
    port.addresses = fields.Texts("addresses");
    for (const std::string& address : port.addresses.value_or(std::vector<std::string> {}))
        if (address != rf::kNoAddress && !rules::ParseAddressRange(address))
            throw Fault {Arg(Tr("zel-rules import", "%1: \"%2\" is no address, range or prefix"), {where, address})};
    port.hosts = fields.Texts("hosts");
    for (const std::string& host : port.hosts.value_or(std::vector<std::string> {}))
        if (!rules::NormalizeHostPattern(host))
            throw Fault {Arg(Tr("zel-rules import", "%1: \"%2\" is no host name or pattern"), {where, host})};
    return port;
}

rules::Rule RuleOfJson(const ordered_json& json, const std::string& where)
{
    const Fields fields(json, where, {"name", "direction", "permission", "enabled", "listed", "ports"});
    rules::Rule rule;
    rule.name = fields.Text("name").value_or("");
    rule.direction = fields.Word("direction", {rf::kIncoming, rf::kOutgoing}, &rules::DirectionOf);
    rule.permission = fields.Word("permission", {rf::kPermit, rf::kDeny, rf::kAsk}, &rules::PermissionOf);
    rule.inForce = fields.Flag("enabled");
    rule.listed = fields.Flag("listed").value_or(true);
    const ordered_json& ports = fields.List("ports", false);
    for (size_t i = 0; i < ports.size(); ++i)
        rule.ports.push_back(PortOfJson(ports[i], Arg(Tr("zel-rules import", "%1, port %2"), {where, std::to_string(i + 1)})));
    // What the engine could only read as less than written (rules::MeaningOf) is no rule a user means.
    if (!rule.inForce)
        throw Fault {Arg(Tr("zel-rules import", "%1: \"enabled\" is missing (true: the rule is in force)"), {where})};
    if (*rule.inForce && (!rule.direction || !rule.permission))
        throw Fault {Arg(Tr("zel-rules import", "%1: a rule in force needs its direction and permission"), {where})};
    for (size_t i = 0; *rule.inForce && i < rule.ports.size(); ++i)
        if (!rule.ports[i].number)
            throw Fault {Arg(Tr("zel-rules import", "%1, port %2: \"port\" is missing (0: every port)"),
                             {where, std::to_string(i + 1)})};
    return rule;
}

// A whole number within bounds.
int64_t WholeOfJson(const Fields& fields, const char* name, int64_t most)
{
    const ordered_json* value = fields.Get(name);
    if (!value || !value->is_number_integer() || value->get<int64_t>() < 0 || value->get<int64_t>() > most)
        throw Fault {Arg(Tr("zel-rules import", "%1: \"%2\" must be a whole number from 0 to %3"), {fields.Where(), name, std::to_string(most)})};
    return value->get<int64_t>();
}

// A moment written as ISO 8601 has it, "2026-07-03T14:05:09" (a space for
// the T too): in local time, or with "Z" or an offset ("+02:00", "+0200")
// in that zone's. nullopt for any other text or a day the calendar lacks.
std::optional<int64_t> MomentOfIso(std::string_view text)
{
    const auto digits = [&](size_t at, size_t count) -> std::optional<int> {
        if (at + count > text.size())
            return std::nullopt;
        int value = 0;
        for (size_t i = at; i < at + count; ++i) {
            if (text[i] < '0' || text[i] > '9')
                return std::nullopt;
            value = value * 10 + (text[i] - '0');
        }
        return value;
    };
    const auto year = digits(0, 4), month = digits(5, 2), day = digits(8, 2);
    const auto hour = digits(11, 2), minute = digits(14, 2), second = digits(17, 2);
    if (!year || !month || !day || !hour || !minute || !second || text[4] != '-' || text[7] != '-'
        || (text[10] != 'T' && text[10] != ' ') || text[13] != ':' || text[16] != ':' || *hour > 23 || *minute > 59
        || *second > 59)
        return std::nullopt;
    std::tm parts {};
    parts.tm_year = *year - 1900;
    parts.tm_mon = *month - 1;
    parts.tm_mday = *day;
    parts.tm_hour = *hour;
    parts.tm_min = *minute;
    parts.tm_sec = *second;
    parts.tm_isdst = -1;
    const std::string_view zone = text.substr(19);
    std::tm checked = parts;
    std::time_t moment = 0;
    if (zone.empty()) {
        moment = std::mktime(&checked);
    } else {
        int offset = 0; // seconds east of UTC
        if (zone != "Z") {
            const bool colon = zone.size() == 6 && zone[3] == ':';
            const auto hours = digits(20, 2), minutes = digits(colon ? 23 : 22, 2);
            if ((zone[0] != '+' && zone[0] != '-') || (zone.size() != 5 && !colon) || !hours || !minutes || *hours > 23
                || *minutes > 59)
                return std::nullopt;
            offset = (zone[0] == '-' ? -1 : 1) * (*hours * 3600 + *minutes * 60);
        }
        moment = ::timegm(&checked) - offset;
    }
    // mktime and timegm carry a 31 June into July: such a day is none.
    if (moment == -1 || checked.tm_mday != parts.tm_mday || checked.tm_mon != parts.tm_mon)
        return std::nullopt;
    return moment;
}

// An answer's end: seconds since 1970, or a moment as ISO 8601 (MomentOfIso).
int64_t UntilOfJson(const Fields& fields)
{
    const ordered_json* value = fields.Get("until");
    if (!value || !value->is_string())
        return WholeOfJson(fields, "until", int64_t {1} << 40);
    const auto moment = MomentOfIso(value->get<std::string>());
    if (!moment || *moment < 0)
        throw Fault {Arg(Tr("zel-rules import", "%1: \"until\" is no time as ISO 8601 writes one "
                                                "(2026-07-03T14:05:09, local, or with Z or an offset as +02:00)"),
                         {fields.Where()})};
    return *moment;
}

rules::TimedAnswer TimedOfJson(const ordered_json& json, const std::string& where, int64_t now)
{
    const Fields fields(json, where, {"direction", "permission", "until", "port", "address", "host"});
    rules::TimedAnswer answer;
    const auto direction = fields.Word("direction", {rf::kIncoming, rf::kOutgoing}, &rules::DirectionOf);
    const auto permission = fields.Word("permission", {rf::kPermit, rf::kDeny}, &rules::PermissionOf);
    if (!direction || !permission)
        throw Fault {Arg(Tr("zel-rules import", "%1: an answer for a time needs its direction and permission"), {where})};
    answer.direction = *direction;
    answer.permission = *permission;
    answer.until = UntilOfJson(fields);
    if (answer.LongerThanAllowedAt(now))
        throw Fault {Arg(Tr("zel-rules import", "%1: \"until\" is further away than the longest answer for a time (%2 days from now)"),
                         {where, std::to_string(rules::kMaxTimedAnswerMinutes / (24 * 60))})};
    answer.port = static_cast<int>(WholeOfJson(fields, "port", 65535));
    answer.address = fields.Text("address").value_or("");
    answer.host = fields.Text("host").value_or("");
    if (!answer.address.empty() && !rules::ParseAddress(answer.address))
        throw Fault {Arg(Tr("zel-rules import", "%1: \"%2\" is no address"), {where, answer.address})};
    if (!answer.host.empty()) {
        char normal[rules::kMaxHostName + 1];
        const size_t length = rules::NormalizeHostName(answer.host.data(), answer.host.size(), normal, sizeof normal);
        if (length == 0 || std::string_view(normal, length) != answer.host)
            throw Fault {Arg(Tr("zel-rules import", "%1: \"%2\" is no host name as the engine writes one"), {where, answer.host})};
    }
    if (!answer.address.empty() && !answer.host.empty())
        throw Fault {Arg(Tr("zel-rules import", "%1: an answer for a time is for an address or a host, not both"), {where})};
    return answer;
}

rules::Application ApplicationOfJson(const ordered_json& json, const std::string& where, int64_t now)
{
    const Fields fields(json, where, {"name", "description", "path", "bypath", "filehash", "service", "ignorelists",
                                      "incoming", "outgoing", "rules", "timed"});
    rules::Application app;
    app.name = fields.Text("name");
    // An entry of any other name applies to no program: what it blocks would not be blocked.
    if (!app.name)
        throw Fault {Arg(Tr("zel-rules import", "%1: \"name\" is missing (a program's name, as zel-rules list shows it, or ANY)"),
                         {where})};
    if (!rules::IsUsableName(*app.name))
        throw Fault {Arg(Tr("zel-rules import", "%1: \"%2\" names no program (a program's name is its file name in "
                                                "capitals, as zel-rules list shows it; ANY is the system settings)"),
                         {where, *app.name})};
    const std::string named = where + " (" + *app.name + ")";
    app.description = fields.Text("description").value_or("");
    app.path = fields.Text("path").value_or("");
    app.byPath = fields.Flag("bypath").value_or(false);
    app.fileHash = fields.Text("filehash").value_or("");
    app.service = fields.Flag("service").value_or(false);
    app.ignoreLists = fields.Flag("ignorelists").value_or(false);
    // The engine would not read it there: a document that says so is not what it means.
    if (app.ignoreLists && app.IsGeneral())
        throw Fault {Arg(Tr("zel-rules import", "%1: the host lists cannot be left out for the system settings (ANY)"),
                         {where})};
    app.incoming = fields.Word("incoming", {rf::kPermit, rf::kDeny, rf::kAsk}, &rules::PermissionOf);
    app.outgoing = fields.Word("outgoing", {rf::kPermit, rf::kDeny, rf::kAsk}, &rules::PermissionOf);
    const ordered_json& list = fields.List("rules", false);
    for (size_t i = 0; i < list.size(); ++i)
        app.rules.push_back(RuleOfJson(list[i], Arg(Tr("zel-rules import", "%1, rule %2"), {named, std::to_string(i + 1)})));
    const ordered_json& timed = fields.List("timed", false);
    for (size_t i = 0; i < timed.size(); ++i)
        app.timed.push_back(TimedOfJson(timed[i], Arg(Tr("zel-rules import", "%1, answer for a time %2"), {named, std::to_string(i + 1)}),
                                        now));
    return app;
}

}  // namespace

std::string Export(const rules::Document& document)
{
    ordered_json out = ordered_json::object();
    out["applications"] = ordered_json::array();
    for (const rules::Application& app : document.applications)
        out["applications"].push_back(ApplicationJson(app));
    // Texts that are not UTF-8 are written as they are read back: replaced.
    return JsonText(out, 2) + "\n";
}

std::optional<rules::Document> Import(std::string_view text, std::string& problem, int64_t now)
{
    try {
        const ordered_json json = ordered_json::parse(text);
        const Fields fields(json, Tr("zel-rules import", "the document"), {"applications"});
        rules::Document document;
        const ordered_json& list = fields.List("applications", true);
        // Each program once: the engine would read both entries, the panel show one.
        std::map<std::string, size_t> keys;
        for (size_t i = 0; i < list.size(); ++i) {
            document.applications.push_back(
                ApplicationOfJson(list[i], Arg(Tr("zel-rules import", "application %1"), {std::to_string(i + 1)}), now));
            const auto [first, fresh] = keys.emplace(document.applications.back().Key(), i);
            if (!fresh)
                throw Fault {Arg(Tr("zel-rules import", "applications %1 and %2 are both \"%3\": a program has one entry"),
                                 {std::to_string(first->second + 1), std::to_string(i + 1), first->first})};
        }
        return document;
    } catch (const ordered_json::exception& error) {
        problem = Arg(Tr("zel-rules import", "no JSON document: %1"), {error.what()});
    } catch (const Fault& fault) {
        problem = fault.text;
    }
    return std::nullopt;
}

}  // namespace tools::rules_json
