#include "settings/AppBuffer.h"

#include "settings/GeneralMdl.h"
#include "platform/Files.h"
#include "platform/RulesFile.h"
#include "platform/RulesFormat.h"
#include "platform/Text.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <cstdlib>
#include <sys/stat.h>

#include <pugixml.hpp>

namespace panel {

namespace rf = platform::rules_format;

namespace {

// The element's name without a namespace prefix.
std::string_view LocalName(const pugi::xml_node& node)
{
    const std::string_view name = node.name();
    const size_t colon = name.find(':');
    return colon == std::string_view::npos ? name : name.substr(colon + 1);
}

std::string TextOf(const pugi::xml_node& node) { return node.text().get(); }

std::string Quoted(std::string_view text) { return "\"" + std::string(text) + "\""; }

// Port numbers and flags: a whole decimal integer of 32 bits, written as the
// engine reads numbers (digits, no plus sign), so that a number the panel
// keeps means to the engine what it meant before.
std::optional<int32_t> NumberOf(std::string_view text)
{
    if (text.find('+') != std::string_view::npos)
        return std::nullopt;
    return TextToInteger(text);
}

// The texts of an IPS or HOSTS element's children.
std::vector<std::string> GetIpsCollection(const pugi::xml_node& ips)
{
    std::vector<std::string> list;
    for (const pugi::xml_node ip : ips.children())
        if (ip.type() == pugi::node_element)
            list.push_back(TextOf(ip));
    return list;
}

std::vector<PortRecord> GetPortsCollection(const pugi::xml_node& ports, const std::string& exeName)
{
    std::vector<PortRecord> list;
    for (const pugi::xml_node portNode : ports.children()) {
        if (portNode.type() != pugi::node_element)
            continue;
        auto port = std::make_shared<AppPorts>();
        std::optional<std::string> numberText;
        for (const pugi::xml_node child : portNode.children()) {
            const std::string_view name = LocalName(child);
            if (name == rf::kNumber)
                numberText = TextOf(child);
            else if (name == rf::kAlias)
                port->ALIAS = TextOf(child);
            else if (name == rf::kIps)
                port->Ips = GetIpsCollection(child);
            else if (name == rf::kHosts)
                port->Hosts = GetIpsCollection(child);
        }
        // A port entry without a usable number covers no port for the engine:
        // it is left out, and only it, so the rule keeps its other ports.
        const auto number = numberText ? NumberOf(*numberText) : std::nullopt;
        if (!number) {
            WriteErrLog("AppBuffer : GetPortsCollection",
                        "a port of " + exeName + " has "
                            + (numberText ? "the number " + Quoted(*numberText) : std::string("no number"))
                            + "; that port entry is left out");
            continue;
        }
        port->nPort = *number;
        list.push_back(std::move(port));
    }
    return list;
}

std::vector<RuleRecord> GetRulesCollection(const pugi::xml_node& rules, const std::string& exeName)
{
    std::vector<RuleRecord> list;
    for (const pugi::xml_node ruleNode : rules.children()) {
        if (ruleNode.type() != pugi::node_element)
            continue;
        auto rule = std::make_shared<AppRules>();
        // A rule that does not say is shown: the user sees every rule in force.
        rule->Enable = 1;
        for (const pugi::xml_node child : ruleNode.children()) {
            const std::string_view name = LocalName(child);
            if (name == rf::kRuleName)
                rule->RuleName = TextOf(child);
            else if (name == rf::kPermission)
                rule->Permission = TextOf(child);
            else if (name == rf::kDirection)
                rule->Direction = TextOf(child);
            else if (name == rf::kState)
                rule->State = TextOf(child);
            else if (name == rf::kEnable) {
                if (const auto enable = NumberOf(TextOf(child)))
                    rule->Enable = *enable;
                else
                    WriteErrLog("AppBuffer : GetRulesCollection", "the rule " + Quoted(rule->RuleName) + " of " + exeName
                                    + " has the flag " + Quoted(TextOf(child)) + "; it is kept and shown");
            } else if (name == rf::kPorts) {
                rule->PORTS = GetPortsCollection(child, exeName);
            }
        }
        list.push_back(std::move(rule));
    }
    return list;
}

// The name an entry is known by: the general application's as it is; any
// other as the engine names a program now, so that a name a panel wrote raw
// before (bytes outside UTF-8) is found under the name the program has.
std::string NormalName(std::string text)
{
    if (platform::EqualsNoCase(text, rf::kGeneralApp))
        return text;
    return rf::ProgramName(rf::FileNameOfProgram(text));
}

// document is parsed in place: it is changed.
std::optional<std::vector<AppRecord>> ReadApplications(std::string& document, std::string& problem)
{
    pugi::xml_document xml;
    // A text of blanks alone is kept: a name or a description made of blanks
    // is still the user's, and saving must not turn it into nothing.
    const pugi::xml_parse_result result = xml.load_buffer_inplace(document.data(), document.size(),
                                                                  pugi::parse_default | pugi::parse_ws_pcdata_single);
    if (!result) {
        problem = std::string(result.description()) + " at byte " + std::to_string(result.offset);
        return std::nullopt;
    }
    const pugi::xml_node root = xml.document_element();
    if (!root) {
        problem = "no root element";
        return std::nullopt;
    }
    std::vector<AppRecord> apps;
    for (const pugi::xml_node appNode : root.children()) {
        if (appNode.type() != pugi::node_element)
            continue;
        auto app = std::make_shared<XmlStrRules>();
        pugi::xml_node rulesNode;
        for (const pugi::xml_node child : appNode.children()) {
            const std::string_view name = LocalName(child);
            if (name == rf::kExeName)
                app->ExeName = NormalName(TextOf(child));
            else if (name == rf::kDescription)
                app->DescriptionFile = TextOf(child);
            else if (name == rf::kAppPath)
                app->AppPath = rf::PathOfText(TextOf(child));
            else if (name == rf::kIsService)
                app->IsService = TextOf(child);
            else if (name == rf::kInDef)
                app->InDef = TextOf(child);
            else if (name == rf::kOutDef)
                app->OutDef = TextOf(child);
            else if (name == rf::kRules)
                rulesNode = child;
        }
        if (rulesNode)
            app->RULES = GetRulesCollection(rulesNode, app->ExeName);
        if (!app->ExeName.empty())
            apps.push_back(std::move(app));
    }
    return apps;
}

// Every text goes in as XML can carry it, whatever bytes it holds.
void AddText(pugi::xml_node parent, const char* name, const std::string& text)
{
    parent.append_child(name).text().set(rf::XmlSafeText(text).c_str());
}

void GetNodeFromAppPorts(pugi::xml_node ports, const AppPorts& port)
{
    pugi::xml_node node = ports.append_child(rf::kPort);
    if (!port.ALIAS.empty())
        AddText(node, rf::kAlias, port.ALIAS);
    AddText(node, rf::kNumber, std::to_string(port.nPort));
    if (!port.Ips.empty()) {
        pugi::xml_node ips = node.append_child(rf::kIps);
        for (const std::string& ip : port.Ips)
            AddText(ips, rf::kIp, ip);
    }
    if (!port.Hosts.empty()) {
        pugi::xml_node hosts = node.append_child(rf::kHosts);
        for (const std::string& host : port.Hosts)
            AddText(hosts, rf::kHost, host);
    }
}

void GetNodeFromappRules(pugi::xml_node rules, const AppRules& rule)
{
    pugi::xml_node node = rules.append_child(rf::kRule);
    if (!rule.RuleName.empty())
        AddText(node, rf::kRuleName, rule.RuleName);
    if (!rule.Direction.empty())
        AddText(node, rf::kDirection, rule.Direction);
    if (!rule.Permission.empty())
        AddText(node, rf::kPermission, rule.Permission);
    if (!rule.State.empty())
        AddText(node, rf::kState, rule.State);
    AddText(node, rf::kEnable, std::to_string(rule.Enable));
    if (!rule.PORTS.empty()) {
        pugi::xml_node ports = node.append_child(rf::kPorts);
        for (const PortRecord& port : rule.PORTS) {
            if (port->Hosts.empty()) {
                GetNodeFromAppPorts(ports, *port);
                continue;
            }
            // A port with host names, written so that a reader that knows
            // only NUMBER and IPS never permits more than meant: permitting,
            // its addresses or else a range that covers nothing; denying or
            // asking, its addresses and its names as two ports, the names'
            // one without IPS, which such a reader takes as every address.
            AppPorts named = *port;
            named.Ips = port->WrittenIps();
            if (rule.Permission == rf::kPermit) {
                if (named.Ips.empty())
                    named.Ips.push_back(rf::kNoAddress);
                GetNodeFromAppPorts(ports, named);
            } else {
                if (!named.Ips.empty()) {
                    AppPorts addresses = named;
                    addresses.Hosts.clear();
                    GetNodeFromAppPorts(ports, addresses);
                    named.Ips.clear();
                }
                GetNodeFromAppPorts(ports, named);
            }
        }
    }
}

void SaveCurrRule(pugi::xml_node root, XmlStrRules& app)
{
    pugi::xml_node node = root.append_child(rf::kApplication);
    // Upper case as the engine compares: it upper-cases a program's file name
    // the same way (and escapes it where the file needs that).
    if (!app.ExeName.empty())
        AddText(node, rf::kExeName, platform::ToUpper(NormalName(app.ExeName)));
    if (!app.DescriptionFile.empty())
        AddText(node, rf::kDescription, platform::ToUpper(app.DescriptionFile));
    if (!app.AppPath.empty())
        AddText(node, rf::kAppPath, rf::PathText(app.AppPath));
    if (app.IsService.empty())
        app.IsService = "0";
    AddText(node, rf::kIsService, app.IsService);
    AddText(node, rf::kInDef, app.InDef);
    AddText(node, rf::kOutDef, app.OutDef);
    if (!app.RULES.empty()) {
        pugi::xml_node rules = node.append_child(rf::kRules);
        for (const RuleRecord& rule : app.RULES)
            GetNodeFromappRules(rules, *rule);
    }
}

struct StringWriter : pugi::xml_writer {
    std::string text;
    void write(const void* data, size_t size) override { text.append(static_cast<const char*>(data), size); }
};

// A file that does not parse is the user's data: kept under a name of its
// own beside it. Empty when that is done, else why not.
std::string KeepBadFile(const std::string& path)
{
    std::string kept = path + ".bad";
    struct stat st {};
    for (int n = 2; ::lstat(kept.c_str(), &st) == 0 && n < 1000; ++n)
        kept = path + ".bad." + std::to_string(n);
    if (::rename(path.c_str(), kept.c_str()) == 0) {
        WriteErrLog("AppBuffer : LoadRules", "the rules file does not parse; it is kept as " + kept);
        return {};
    }
    return "it cannot be kept aside as " + kept + " (" + std::strerror(errno) + "), so no default rules are written";
}

// The file a save or a default replaces: a link's target, so that a rules
// file kept elsewhere through a link stays a link. Empty (logged) when the
// link leads nowhere: the link is never written over.
std::string FileBehind(const std::string& path, const char* label)
{
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode))
        return path;
    char real[PATH_MAX];
    if (::realpath(path.c_str(), real))
        return real;
    WriteErrLogErrno(label, "the rules file " + path + " is a link that leads nowhere; it is left as it is", errno);
    return {};
}

}  // namespace

bool AppBuffer::LoadFromText(std::string_view document)
{
    std::string problem;
    std::string text(document);
    auto apps = ReadApplications(text, problem);
    if (!apps)
        return false;
    AllRules = std::move(*apps);
    return true;
}

AppBuffer::LoadResult AppBuffer::LoadRules(const std::string& fileToLoad)
{
    const char* label = "AppBuffer : LoadRules";
    platform::rules_file::Contents contents = platform::rules_file::Read(fileToLoad);
    std::string problem;
    if (contents.status.Read()) {
        if (auto apps = ReadApplications(contents.text, problem)) {
            AllRules = std::move(*apps);
            readProblem_.clear();
            return {LoadOutcome::kLoaded, {}};
        }
    } else if (!contents.status.Missing()) {
        // Not read: neither the file nor the rules in force are touched,
        // and nothing is written until it has been read.
        const std::string reason = contents.status.Reason();
        // Once per reason: the file is tried again every few seconds.
        if (reason != readProblem_)
            WriteErrLog(label, "the rules file " + fileToLoad + " cannot be read: " + reason
                                   + "; it is left as it is and read again later");
        readProblem_ = reason;
        return {LoadOutcome::kUnreadable, reason};
    }
    // Missing, or read whole and not a rules document: the defaults, once
    // what is there is kept aside. What cannot be done is told once per
    // reason: the file is tried again every few seconds.
    const bool missing = contents.status.Missing();
    const std::string why = missing ? contents.status.Reason() : problem;
    contents = {};
    const auto refuse = [&](const std::string& reason) {
        if (reason != readProblem_)
            WriteErrLog(label, "the rules file " + fileToLoad + ": " + reason);
        readProblem_ = reason;
        return LoadResult {LoadOutcome::kUnreadable, reason};
    };
    std::string target = fileToLoad;
    if (missing) {
        const size_t slash = fileToLoad.rfind('/');
        if (slash != std::string::npos && slash > 0)
            platform::MakeDirectories(fileToLoad.substr(0, slash));
    } else {
        target = FileBehind(fileToLoad, label);
        if (target.empty())
            return refuse("it does not parse (" + why + "), and it is a link that leads nowhere");
        WriteErrLog(label, fileToLoad + ": " + why);
        if (const std::string notKept = KeepBadFile(target); !notKept.empty())
            return refuse("it does not parse (" + why + "); " + notKept);
    }
    if (!platform::WriteFileAtomically(target, rf::kDefaultRulesDocument))
        return refuse(why + ", and the default rules cannot be written to " + target + ": " + std::strerror(errno));
    if (missing)
        WriteErrLog(label, fileToLoad + ": " + why + "; the default rules are written");
    if (LoadFromText(rf::kDefaultRulesDocument))
        readProblem_.clear();
    return {missing ? LoadOutcome::kCreated : LoadOutcome::kReplacedBad, why};
}

std::string AppBuffer::ToText()
{
    pugi::xml_document xml;
    pugi::xml_node root = xml.append_child(rf::kApplications);
    // The general application goes last, so that an application with its
    // own entry gets only its own rules. Every entry that is written as
    // "ANY" goes there, each once: none is lost and none doubled.
    const auto general = [](const AppRecord& app) { return platform::EqualsNoCase(app->ExeName, rf::kGeneralApp); };
    for (const AppRecord& app : AllRules)
        if (!general(app))
            SaveCurrRule(root, *app);
    for (const AppRecord& app : AllRules)
        if (general(app))
            SaveCurrRule(root, *app);
    StringWriter writer;
    xml.save(writer, "", pugi::format_raw | pugi::format_no_declaration, pugi::encoding_utf8);
    return writer.text + "\n";
}

bool AppBuffer::SaveRulesToXmlFile(const std::string& filePath)
{
    const char* label = "AppBuffer : SaveRulesToXmlFile";
    if (!readProblem_.empty()) {
        WriteErrLog(label, "the rules file " + filePath + " could not be read (" + readProblem_
                               + "); nothing is written over it until it has been");
        return false;
    }
    const std::string document = ToText();
    if (document.size() > rf::kMaxRulesFileBytes) {
        WriteErrLog(label, "the rules would be larger than the limit of "
                               + std::to_string(rf::kMaxRulesFileBytes >> 20) + " MB; they are not written");
        return false;
    }
    const std::string target = FileBehind(filePath, label);
    if (target.empty())
        return false;
    struct stat st {};
    const mode_t mode = ::stat(target.c_str(), &st) == 0 ? (st.st_mode & 07777) : 0644;
    if (platform::WriteFileAtomically(target, document, mode))
        return true;
    WriteErrLogErrno("AppBuffer : SaveRulesToXmlFile", "cannot write " + target, errno);
    return false;
}

int AppBuffer::GetItemNoByExeName(std::string_view exeName) const
{
    // A name first: no description stands in front of the entry it names.
    for (size_t i = 0; i < AllRules.size(); ++i)
        if (platform::EqualsNoCase(AllRules[i]->ExeName, exeName))
            return static_cast<int>(i + 1);
    // The general application is only ever found by its own name or its own
    // description, never by a program's description that reads the same.
    if (platform::EqualsNoCase(exeName, rf::kGeneralApp))
        return 0;
    for (size_t i = 0; i < AllRules.size(); ++i)
        if (platform::EqualsNoCase(AllRules[i]->ExeName, rf::kGeneralApp)
            && platform::EqualsNoCase(AllRules[i]->DescriptionFile, exeName))
            return static_cast<int>(i + 1);
    for (size_t i = 0; i < AllRules.size(); ++i)
        if (platform::EqualsNoCase(AllRules[i]->DescriptionFile, exeName))
            return static_cast<int>(i + 1);
    return 0;
}

std::string ProgramDescription(std::string_view description, std::string_view exeName)
{
    if (description.empty() || platform::EqualsNoCase(description, rf::kGeneralApp)
        || platform::EqualsNoCase(description, rf::kGeneralAppDescription))
        return std::string(exeName);
    return std::string(description);
}

AppRecord AppBuffer::GetAppFromBuffer(std::string_view exeName) const
{
    const int index = GetItemNoByExeName(exeName);
    return index ? AllRules[static_cast<size_t>(index - 1)] : nullptr;
}

void AppBuffer::AddRuleToBuffer(AppRecord currApp)
{
    if (currApp)
        AllRules.push_back(std::move(currApp));
}

RuleRecord AppBuffer::RuleAt(const XmlStrRules& app, int ruleNo, const char* label) const
{
    if (ruleNo < 1 || static_cast<size_t>(ruleNo) > app.RULES.size()) {
        WriteErrLog(label, app.ExeName + " has no rule " + std::to_string(ruleNo));
        return nullptr;
    }
    return app.RULES[static_cast<size_t>(ruleNo - 1)];
}

AppBuffer::Status AppBuffer::DeleteAppFromBuffer(std::string_view exeName, int ruleNo, int portNo)
{
    const int index = GetItemNoByExeName(exeName);
    if (!index)
        return kNotFound;
    if (ruleNo == 0) {
        AllRules.erase(AllRules.begin() + (index - 1));
        return kDone;
    }
    if (portNo == 0)
        return RemoveRuleFromApp(exeName, ruleNo);
    return RemovePortFromRule(exeName, ruleNo, portNo);
}

AppBuffer::Status AppBuffer::RemoveRuleFromApp(std::string_view exeName, int ruleNo)
{
    const AppRecord app = GetAppFromBuffer(exeName);
    if (!app)
        return kNotFound;
    if (!RuleAt(*app, ruleNo, "AppBuffer : RemoveRuleFromApp"))
        return kOutOfRange;
    app->RULES.erase(app->RULES.begin() + (ruleNo - 1));
    return kDone;
}

RuleRecord AppBuffer::ReturnRuleFromApp(std::string_view exeName, int ruleNo) const
{
    const AppRecord app = GetAppFromBuffer(exeName);
    return app ? RuleAt(*app, ruleNo, "AppBuffer : ReturnRuleFromApp") : nullptr;
}

AppBuffer::Status AppBuffer::AddNewRuleToApp(std::string_view exeName, std::string_view direction,
                                             std::string_view permission)
{
    const AppRecord app = GetAppFromBuffer(exeName);
    if (!app)
        return kNotFound;
    auto rule = std::make_shared<AppRules>();
    rule->Direction = direction;
    rule->Permission = permission;
    app->RULES.push_back(std::move(rule));
    return kDone;
}

AppBuffer::Status AppBuffer::AddPortToRule(std::string_view exeName, int ruleNo, PortRecord portToAdd)
{
    const AppRecord app = GetAppFromBuffer(exeName);
    if (!app)
        return kNotFound;
    const RuleRecord rule = RuleAt(*app, ruleNo, "AppBuffer : AddPortToRule");
    if (!rule || !portToAdd)
        return kOutOfRange;
    rule->PORTS.push_back(std::move(portToAdd));
    return kDone;
}

AppBuffer::Status AppBuffer::RemovePortFromRule(std::string_view exeName, int ruleNo, int portNo)
{
    const AppRecord app = GetAppFromBuffer(exeName);
    if (!app)
        return kNotFound;
    const RuleRecord rule = RuleAt(*app, ruleNo, "AppBuffer : RemovePortFromRule");
    if (!rule)
        return kOutOfRange;
    if (portNo < 1 || static_cast<size_t>(portNo) > rule->PORTS.size()) {
        WriteErrLog("AppBuffer : RemovePortFromRule",
                    "rule " + std::to_string(ruleNo) + " of " + app->ExeName + " has no port " + std::to_string(portNo));
        return kOutOfRange;
    }
    rule->PORTS.erase(rule->PORTS.begin() + (portNo - 1));
    return kDone;
}

PortRecord AppBuffer::ReturnPortFromApp(std::string_view exeName, int ruleNo, int portNo) const
{
    const RuleRecord rule = ReturnRuleFromApp(exeName, ruleNo);
    if (!rule)
        return nullptr;
    if (portNo < 1 || static_cast<size_t>(portNo) > rule->PORTS.size()) {
        WriteErrLog("AppBuffer : ReturnPortFromApp",
                    "rule " + std::to_string(ruleNo) + " of " + std::string(exeName) + " has no port " + std::to_string(portNo));
        return nullptr;
    }
    return rule->PORTS[static_cast<size_t>(portNo - 1)];
}

void AppBuffer::ReplaceRules(std::string_view exeName, int firstRule, int secondRule)
{
    const AppRecord app = GetAppFromBuffer(exeName);
    if (!app)
        return;
    const int count = static_cast<int>(app->RULES.size());
    if (firstRule < 1 || firstRule > count || secondRule < 1 || secondRule > count) {
        WriteErrLog("AppBuffer : ReplaceRules", app->ExeName + " has " + std::to_string(count) + " rules; cannot swap "
                        + std::to_string(firstRule) + " and " + std::to_string(secondRule));
        return;
    }
    std::vector<RuleRecord> reordered;
    reordered.reserve(app->RULES.size());
    for (int position = 1; position <= count; ++position) {
        const int from = position == firstRule ? secondRule : position == secondRule ? firstRule : position;
        reordered.push_back(CopyRule(*app->RULES[static_cast<size_t>(from - 1)]));
    }
    app->RULES = std::move(reordered);
}

AppRecord AppBuffer::CopyApp(const XmlStrRules& appToCopy)
{
    // The same rule records, not copies of them.
    return std::make_shared<XmlStrRules>(appToCopy);
}

RuleRecord AppBuffer::CopyRule(const AppRules& ruleToCopy)
{
    auto rule = std::make_shared<AppRules>(ruleToCopy);
    for (PortRecord& port : rule->PORTS)
        port = std::make_shared<AppPorts>(*port);
    return rule;
}

std::string AppBuffer::GetDesc_ExeName(std::string_view exeName) const
{
    const AppRecord app = GetAppFromBuffer(exeName);
    if (!app)
        return {};
    return app->ExeName == exeName ? app->DescriptionFile : app->ExeName;
}

std::string AppBuffer::GetExeName(std::string_view exeDescName) const
{
    const AppRecord app = GetAppFromBuffer(exeDescName);
    return app ? app->ExeName : std::string();
}

int32_t AppBuffer::GetIsService(std::string_view exeName) const
{
    const AppRecord app = GetAppFromBuffer(exeName);
    if (!app) {
        WriteErrLog("AppBuffer : GetIsService", std::string(exeName) + " is not in the rules");
        return 0;
    }
    const auto value = TextToInteger(app->IsService);
    if (!value && !app->IsService.empty())
        WriteErrLog("AppBuffer : GetIsService", app->ExeName + " has the service flag " + Quoted(app->IsService));
    return value.value_or(0);
}

std::string AppBuffer::GetExeFileName(std::string_view exeName) const
{
    const AppRecord app = GetAppFromBuffer(exeName);
    return app ? app->AppPath : std::string();
}

std::string AppBuffer::GetExeInDef(std::string_view exeName) const
{
    const AppRecord app = GetAppFromBuffer(exeName);
    return app ? app->InDef : std::string();
}

std::string AppBuffer::GetExeOutDef(std::string_view exeName) const
{
    const AppRecord app = GetAppFromBuffer(exeName);
    return app ? app->OutDef : std::string();
}

void AppBuffer::SetInDef(std::string_view exeName, std::string_view value)
{
    if (const AppRecord app = GetAppFromBuffer(exeName))
        app->InDef = value;
}

void AppBuffer::SetOutDef(std::string_view exeName, std::string_view value)
{
    if (const AppRecord app = GetAppFromBuffer(exeName))
        app->OutDef = value;
}

std::vector<std::string> AppPorts::WrittenIps() const
{
    std::vector<std::string> written;
    for (const std::string& ip : Ips)
        if (ip != rf::kNoAddress)
            written.push_back(ip);
    return written;
}


}  // namespace panel
