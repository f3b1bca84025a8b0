// zel-rules: the firewall's rules from the command line. It changes them
// as the control panel does (the panel's own operations on the rules model,
// the file replaced whole) and, while the panel runs, waits until the panel
// has taken the change and told the running programs concerned. With
// --services it acts on the machine's rules for the system services, root's.
#include "tools/RulesJson.h"

#include "backstop/ServicesRules.h"

#include "os/Clock.h"
#include "os/Files.h"
#include "os/Processes.h"
#include "panel/core/FileInformation.h"
#include "panel/core/OutsideChanges.h"
#include "panel/core/PanelCore.h"
#include "panel/core/RuleChecks.h"
#include "protocol/CarrierRegistry.h"
#include "protocol/PanelMessages.h"
#include "protocol/SharedBlock.h"
#include "protocol/Windows.h"
#include "rules/DocumentReader.h"
#include "rules/DocumentWriter.h"
#include "rules/HostPatterns.h"
#include "rules/RulesFile.h"
#include "rules/RulesFormat.h"
#include "text/Strings.h"
#include "text/ToolStart.h"
#include "text/Translate.h"

#include <chrono>
#include <cerrno>
#include <climits>
#include <cstring>
#include <functional>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <iostream>
#include <iterator>
#include <sstream>
#include <string>
#include <string_view>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

namespace rf = rules::rules_format;
using rules::Direction;
using rules::Permission;

constexpr const char* kProgram = "zel-rules";
constexpr int kFailed = 1;
constexpr int kMisused = 2;

using text::Arg;
using text::Tr;

// Which rules the command acts on: the user's (the file the settings name),
// or with --services the machine's for the system services.
struct Target {
    bool services = false;
    std::string path; // the services' rules file
};
Target g_target;

int Usage(std::FILE* out = stderr)
{
    std::fputs(Tr("zel-rules",
                  "usage: zel-rules [--services [--rules FILE]] COMMAND ...\n"
                  "       zel-rules list\n"
                  "       zel-rules show PROGRAM\n"
                  "       zel-rules allow|block|ask PROGRAM [--in|--out]\n"
                  "       zel-rules add PROGRAM --in|--out --allow|--block|--ask [--port P[,P...]]\n"
                  "                 [--address A[,A...]] [--host NAME[,NAME...]] [--name TEXT]\n"
                  "       zel-rules remove PROGRAM [N]\n"
                  "       zel-rules export\n"
                  "       zel-rules import [FILE]\n"
                  "PROGRAM: a program's path or file name; ANY: the system settings.\n"
                  "--services: the system services' rules (/etc/korvel/Rules.xml, or FILE), root's to change.\n")
                   .c_str(),
               out);
    if (out == stdout)
        std::fputs(Tr("zel-rules", "Lists and changes the firewall's rules. See zel-rules(1).\n").c_str(), out);
    return out == stdout ? 0 : kMisused;
}

int Fail(int status, const std::string& text)
{
    std::fprintf(stderr, "%s: %s\n", kProgram, text.c_str());
    return status;
}

const char* Verb(std::optional<Permission> permission)
{
    if (!permission)
        return "system";
    return *permission == Permission::kPermit ? "allow" : *permission == Permission::kAsk ? "ask" : "block";
}

std::optional<Permission> PermissionOfVerb(std::string_view verb)
{
    if (verb == "allow")
        return Permission::kPermit;
    if (verb == "block")
        return Permission::kDeny;
    if (verb == "ask")
        return Permission::kAsk;
    return std::nullopt;
}

std::vector<std::string> Items(std::string_view list, char separator = ',')
{
    std::vector<std::string> items;
    std::istringstream in {std::string(list)};
    for (std::string item; std::getline(in, item, separator);)
        items.emplace_back(text::TrimBlanks(item));
    return items;
}

std::string Joined(const std::vector<std::string>& items)
{
    std::string text;
    for (const std::string& item : items)
        text += (text.empty() ? "" : ",") + item;
    return text;
}

// The rules file, read as the engine reads it, with the panel's core on it.
struct Rules {
    panel::PanelCore core;
    os::FileStamp stamp;
};

// The settings, and the rules file read whole; a missing file holds the
// default rules, as the panel starts one. nullopt (told) when it cannot be
// read or does not parse: nothing is then changed.
int Load(Rules& rules, bool missingIsEmpty = false)
{
    if (g_target.services)
        rules.core.Settings().XmlFilePath = g_target.path;
    else
        panel::GetFilesFromReg(rules.core.Settings());
    const std::string& path = rules.core.Settings().XmlFilePath;
    if (path.empty())
        return Fail(kFailed, Tr("zel-rules", "the rules file is not set (the setting RulesFile; has zel-setup been run?)"));
    const rules::rules_file::Contents contents = rules::rules_file::Read(path);
    rules.stamp = contents.stamp;
    if (contents.status.Missing())
        return rules.core.Rules().LoadText(missingIsEmpty       ? std::string("<APPLICATIONS></APPLICATIONS>")
                                           : g_target.services ? std::string(backstop::kServicesRulesDocument)
                                                               : std::string(rf::kDefaultRulesDocument))
            ? 0
            : Fail(kFailed, Tr("zel-rules", "the default rules do not parse"));
    if (!contents.status.Read())
        return Fail(kFailed, Arg(Tr("zel-rules", "cannot read the rules file %1: %2"), {path, contents.status.ShownReason()}));
    std::string problem;
    auto document = rules::ReadDocument(contents.text, &problem);
    if (!document)
        return Fail(kFailed, Arg(Tr("zel-rules", "the rules file %1 does not parse: %2"), {path, problem}));
    rules.core.Rules().Document() = std::move(*document);
    return 0;
}

// The name the rules know a program by, from what the user typed.
std::string EntryNameOf(std::string_view program)
{
    if (text::EqualsNoCase(program, rf::kGeneralApp))
        return rf::kGeneralApp;
    return rules::rules_format::CarrierExeName(program);
}

// The executable a program's new entry is for: a path as given (a link
// followed to the file the engine sees), a bare name found on PATH.
std::string ExecutableOf(const std::string& program)
{
    std::string candidate = program;
    if (program.find('/') == std::string::npos) {
        candidate.clear();
        const char* path = std::getenv("PATH");
        for (const std::string& folder : Items(path ? path : "", ':')) {
            const std::string file = (folder.empty() ? "." : folder) + "/" + program;
            if (::access(file.c_str(), X_OK) == 0) {
                candidate = file;
                break;
            }
        }
    }
    char real[PATH_MAX];
    if (candidate.empty() || !::realpath(candidate.c_str(), real) || ::access(real, X_OK) != 0)
        return {};
    return real;
}

// The entry the engine reads for what the user typed: a name's entry bound
// to no path ("ANY" included), or the one entry of that name bound to a path
// (as list shows it), else the entry of the executable the name or path
// leads to (its name's, or the one bound to its file); nullptr when there is
// none. exe gets the executable, when there is one.
rules::Application* EntryFor(Rules& rules, const std::string& program, std::string& exe)
{
    if (program.find('/') == std::string::npos) {
        const std::string name = EntryNameOf(program);
        if (rules::Application* app = rules.core.Rules().Find(name))
            return app;
        rules::Application* only = nullptr;
        int bound = 0;
        for (rules::Application& app : rules.core.Rules().Document().applications)
            if (app.IsBound() && app.IsNamed(name) && ++bound == 1)
                only = &app;
        if (bound == 1)
            return only;
    }
    exe = ExecutableOf(program);
    if (exe.empty())
        return nullptr;
    return rules.core.Rules().Document().FindFor(rules::rules_format::CarrierExeName(exe), exe);
}

// The program's entry, made when it has none (as the panel's wizard makes
// one, bound to the file, with the system's defaults): its key. Empty (told)
// when there is no such program.
std::string Entry(Rules& rules, const std::string& program)
{
    std::string exe;
    if (rules::Application* app = EntryFor(rules, program, exe)) {
        // What is changed in the services' rules is a service's entry: the
        // services' backstop reads no other.
        app->service = app->service || g_target.services;
        return app->Key();
    }
    if (exe.empty()) {
        Fail(kFailed, Arg(Tr("zel-rules", "no program \"%1\" in the rules, nor an executable file of that name"), {program}));
        return {};
    }
    const std::string own = rules::rules_format::CarrierExeName(exe);
    return rules.core.Rules()
        .Document()
        .Add(rules.core.NewApplication(own, panel::GetDisplayName(exe), exe, g_target.services))
        .Key();
}

// An existing entry, by what the user typed; nullptr (told) when there is none.
const rules::Application* Existing(Rules& rules, const std::string& program)
{
    std::string exe;
    const rules::Application* app = EntryFor(rules, program, exe);
    if (!app)
        Fail(kFailed, Arg(Tr("zel-rules", "no program \"%1\" in the rules (see zel-rules list)"), {program}));
    return app;
}

// The programs running under the firewall whose engines must read the
// rules again for these entries.
std::vector<std::string> EnginesConcerned(const std::vector<std::string>& entries)
{
    std::vector<std::string> names;
    for (const protocol::carriers::CarrierRecord& carrier : protocol::carriers::ListCarriers())
        for (const std::string& entry : entries)
            if (carrier.alive && (entry == rf::kGeneralApp || rf::EntryApplies(entry, carrier.exeName)))
                names.push_back(carrier.exeName);
    return names;
}

// While the panel runs, it takes the change from the file and publishes it,
// and its interceptor process hands it to the engines: waited for (a few
// seconds at most), so that a program's next connection after this command
// is decided by the new rules. Without the panel nothing is waiting for it:
// the panel tells the running programs when it starts.
void WaitForEngines(const std::vector<std::string>& entries, uint32_t before)
{
    if (protocol::windows::FindWindow(protocol::kMainWindowTitle).empty())
        return;
    protocol::SharedBlock block = protocol::SharedBlock::Open(protocol::SharedBlock::DefaultPath());
    if (!block || !block.HasExtension())
        return;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    std::vector<std::string> waiting = EnginesConcerned(entries);
    while (!waiting.empty() && std::chrono::steady_clock::now() < deadline) {
        protocol::SharedBlock::UpdateView view;
        if (block.ReadUpdate(view)) {
            if (protocol::SharedBlock::RelayStopped(view, os::GetTickCount()))
                return;
            std::erase_if(waiting, [&](const std::string& name) {
                return protocol::SharedBlock::IsDue(view, name, before, os::GetTickCount());
            });
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
}

// The services' rules written whole in place of the file: root's, readable
// by all (what decides the services is no secret, and the panel of every
// administrator shows it), in a folder only root writes; the services'
// backstop reads nothing else. false (errno) when not written.
bool SaveServices(const rules::Document& document, const std::string& path)
{
    const std::string text = rules::WriteDocument(document);
    if (text.size() > rf::kMaxRulesFileBytes) {
        errno = EFBIG;
        return false;
    }
    ::umask(022);
    if (const size_t slash = path.rfind('/'); slash != std::string::npos && slash > 0)
        os::MakeDirectories(path.substr(0, slash));
    return os::WriteFileAtomically(path, text, 0644, true);
}

// Saves the rules changed by change(rules) on the file as it was read: read
// again when another writer replaced it meanwhile, so nobody's change is lost.
int Change(const std::function<int(Rules&)>& change, bool missingIsEmpty = false)
{
    // Whatever the services' rules permit, every service may do.
    if (g_target.services && ::geteuid() != 0)
        return Fail(kFailed, Tr("zel-rules", "must be run as root to change the system services' rules"));
    for (int attempt = 0; attempt < 5; ++attempt) {
        Rules rules;
        if (const int status = Load(rules, missingIsEmpty))
            return status;
        const rules::Document before = rules.core.Rules().Document();
        if (const int status = change(rules))
            return status;
        const std::vector<std::string> changed = panel::ChangedEntries(before, rules.core.Rules().Document());
        if (changed.empty())
            return 0;
        if (!(os::StampOf(rules.core.Settings().XmlFilePath) == rules.stamp))
            continue;
        const std::string& path = rules.core.Settings().XmlFilePath;
        if (g_target.services) {
            // No panel takes it: the services' backstop follows the file.
            errno = 0;
            if (SaveServices(rules.core.Rules().Document(), path))
                return 0;
            const std::string reason = std::strerror(errno ? errno : EIO);
            return Fail(kFailed, Arg(Tr("zel-rules", "the rules file %1 could not be written (%2); it is left as it was"),
                                     {path, reason}));
        }
        protocol::SharedBlock block = protocol::SharedBlock::Open(protocol::SharedBlock::DefaultPath());
        const uint32_t sequence = block ? block.Sequence() : 0;
        if (const size_t slash = path.rfind('/'); slash != std::string::npos && slash > 0)
            os::MakeDirectories(path.substr(0, slash));
        errno = 0;
        if (!rules.core.Save()) {
            const std::string reason = std::strerror(errno ? errno : EIO);
            return Fail(kFailed, Arg(Tr("zel-rules", "the rules file %1 could not be written (%2); it is left as it was"),
                                     {path, reason}));
        }
        WaitForEngines(changed, sequence);
        return 0;
    }
    return Fail(kFailed, Tr("zel-rules", "the rules file keeps changing; nothing was changed"));
}

void PrintList(const rules::Document& document)
{
    std::printf("%-24s %-6s %-6s %5s %5s  %s\n", "PROGRAM", "IN", "OUT", "RULES", "TIMED", "PATH");
    for (const rules::Application& app : document.applications)
        std::printf("%-24s %-6s %-6s %5zu %5zu  %s\n", app.name.value_or("(none)").c_str(), Verb(app.incoming),
                    Verb(app.outgoing), app.rules.size(), app.timed.size(), app.path.c_str());
}

std::string RuleLine(const rules::Rule& rule)
{
    std::string text = std::string(rule.direction == Direction::kIncoming ? "in " : "out") + "  "
        + Verb(rule.permission);
    for (const rules::Port& port : rule.ports) {
        const std::optional<int> number = port.Number();
        text += "  port " + (number == 0 ? std::string("any") : port.number.value_or("?"));
        if (const std::vector<std::string> shown = port.ShownAddresses(); !shown.empty())
            text += " address " + Joined(shown);
        if (port.hosts)
            text += " host " + Joined(*port.hosts);
    }
    if (rule.inForce != true)
        text += "  (off)";
    if (!rule.name.empty())
        text += "  \"" + rule.name + "\"";
    return text;
}

// An answer for a time in the words a rule's line has, with its end in local time.
std::string AnswerLine(const rules::TimedAnswer& answer, int64_t now)
{
    std::string text = std::string(answer.direction == Direction::kIncoming ? "in " : "out") + "  "
        + Verb(answer.permission) + "  port " + (answer.port == 0 ? std::string("any") : std::to_string(answer.port));
    if (!answer.address.empty())
        text += " address " + answer.address;
    if (!answer.host.empty())
        text += " host " + answer.host;
    const auto until = static_cast<std::time_t>(answer.until);
    std::tm local {};
    char end[64];
    if (::localtime_r(&until, &local) && std::strftime(end, sizeof end, "%Y-%m-%d %H:%M:%S %Z", &local) > 0)
        text += std::string("  until ") + end;
    else
        text += "  until " + std::to_string(answer.until) + " s after 1970";
    if (answer.EndedAt(now))
        text += "  " + Tr("zel-rules", "(ended)");
    else if (answer.LongerThanAllowedAt(now))
        text += "  " + (answer.permission == Permission::kPermit
                            ? Tr("zel-rules", "(longer than any answer may last: it allows nothing)")
                            : Tr("zel-rules", "(longer than any answer may last)"));
    return text;
}

void PrintApplication(const rules::Application& app)
{
    // The words the user types back (allow, block, ask) stay as they are.
    std::printf("%s\n", app.name ? app.name->c_str() : Tr("zel-rules", "(none)").c_str());
    std::fputs(Arg(Tr("zel-rules", "  description: %1\n  path: %2\n  service: %3\n  incoming: %4\n  outgoing: %5\n"),
                   {app.description, app.path, app.service ? Tr("zel-rules", "yes") : Tr("zel-rules", "no"), Verb(app.incoming),
                    Verb(app.outgoing)})
                   .c_str(),
               stdout);
    for (size_t i = 0; i < app.rules.size(); ++i)
        std::printf("  %zu  %s\n", i + 1, RuleLine(app.rules[i]).c_str());
    if (app.timed.empty())
        return;
    std::printf("%s\n", Tr("zel-rules", "  answers for a time:").c_str());
    const int64_t now = std::time(nullptr);
    for (const rules::TimedAnswer& answer : app.timed)
        std::printf("    %s\n", AnswerLine(answer, now).c_str());
}

// The rule "add" describes; nullopt (told) for a value that is none.
std::optional<rules::Rule> RuleOf(const std::vector<std::string>& options, int& status)
{
    status = kMisused;
    std::optional<Direction> direction;
    std::optional<Permission> permission;
    std::vector<std::string> ports {"0"}, addresses, hosts;
    std::optional<std::string> name;
    for (size_t i = 0; i < options.size(); ++i) {
        const std::string& option = options[i];
        const bool hasValue = i + 1 < options.size();
        if (option == "--in" || option == "--out")
            direction = option == "--in" ? Direction::kIncoming : Direction::kOutgoing;
        else if (option.size() > 2 && PermissionOfVerb(option.substr(2)) && option.starts_with("--"))
            permission = PermissionOfVerb(option.substr(2));
        else if (option == "--port" && hasValue)
            ports = Items(options[++i]);
        else if (option == "--address" && hasValue)
            addresses = Items(options[++i]);
        else if (option == "--host" && hasValue)
            hosts = Items(options[++i]);
        else if (option == "--name" && hasValue)
            name = options[++i];
        else
            return Usage(), std::nullopt;
    }
    if (!direction || !permission)
        return Fail(kMisused, Tr("zel-rules", "add needs a direction (--in or --out) and what to do (--allow, --block or --ask)")),
               std::nullopt;
    rules::Rule rule;
    rule.direction = direction;
    rule.permission = permission;
    rule.inForce = true;
    // What the panel's rule editor accepts: an address, a prefix or a range.
    for (const std::string& address : addresses)
        if (const size_t dash = address.find('-');
            dash == std::string::npos ? !panel::CheckIpList(address)
                                      : !panel::CheckIpRange(address.substr(0, dash), address.substr(dash + 1)))
            return Fail(kMisused, Arg(Tr("zel-rules", "\"%1\" is no address, range or prefix"), {address})), std::nullopt;
    std::vector<std::string> patterns;
    for (const std::string& host : hosts) {
        const auto pattern = rules::NormalizeHostPattern(host);
        if (!pattern)
            return Fail(kMisused, Arg(Tr("zel-rules", "\"%1\" is no host name or pattern (name, *.domain, *)"), {host})), std::nullopt;
        patterns.push_back(*pattern);
    }
    if (!patterns.empty() && direction == Direction::kIncoming)
        return Fail(kMisused, Tr("zel-rules", "host names are for outgoing rules: the peers of incoming connections have none")),
               std::nullopt;
    for (const std::string& text : ports) {
        const std::optional<int> number = rules::PortOf(text);
        if (!number)
            return Fail(kMisused, Arg(Tr("zel-rules", "\"%1\" is no port (a number from 1 to 65535, 0 for every port)"), {text})),
                   std::nullopt;
        rules::Port port = rules::Port::Numbered(*number);
        if (!addresses.empty())
            port.addresses = addresses;
        if (!patterns.empty())
            port.hosts = patterns;
        for (rules::Port& written : rules::PortsForOlderReaders(port, *direction, *permission))
            rule.ports.push_back(std::move(written));
    }
    rule.name = name.value_or(std::string(Verb(permission)) + (direction == Direction::kIncoming ? " in " : " out ")
                              + Joined(ports));
    status = 0;
    return rule;
}

int Import(const std::string& file)
{
    std::string text;
    if (file.empty() || file == "-") {
        text.assign(std::istreambuf_iterator<char>(std::cin), std::istreambuf_iterator<char>());
    } else {
        const auto read = os::ReadFile(file, rf::kMaxRulesFileBytes * 4);
        if (!read) {
            const std::string reason = std::strerror(errno ? errno : EIO);
            return Fail(kFailed, Arg(Tr("zel-rules", "cannot read %1: %2"), {file, reason}));
        }
        text = *read;
    }
    std::string problem;
    std::optional<rules::Document> document = tools::rules_json::Import(text, problem, std::time(nullptr));
    if (!document)
        return Fail(kMisused, (file.empty() ? Tr("zel-rules", "standard input") : file) + ": " + problem);
    // Into the services' rules, every entry is a service's.
    if (g_target.services)
        for (rules::Application& app : document->applications)
            app.service = true;
    return Change(
        [&](Rules& rules) {
            rules.core.Rules().Document() = *document;
            return 0;
        },
        true);
}

}  // namespace

int main(int argc, char** argv)
{
    if (const auto answered = text::StartTool({kProgram, argc, argv, Usage}))
        return *answered;
    int first = 1;
    if (first < argc && std::string_view(argv[first]) == "--services") {
        g_target.services = true;
        g_target.path = backstop::kServicesRulesPath;
        if (++first + 1 < argc && std::string_view(argv[first]) == "--rules") {
            g_target.path = argv[first + 1];
            first += 2;
        }
        if (g_target.path.empty())
            return Usage();
    }
    if (argc - first < 1)
        return Usage();
    const std::string command = argv[first];
    const std::vector<std::string> args(argv + first + 1, argv + argc);
    if ((command == "list" || command == "export") && args.empty()) {
        Rules rules;
        if (const int status = Load(rules))
            return status;
        if (command == "list")
            PrintList(rules.core.Rules().Document());
        else
            std::fputs(tools::rules_json::Export(rules.core.Rules().Document()).c_str(), stdout);
        return std::fflush(stdout) == 0 ? 0 : kFailed;
    }
    if (command == "show" && args.size() == 1) {
        Rules rules;
        if (const int status = Load(rules))
            return status;
        const rules::Application* app = Existing(rules, args[0]);
        if (!app)
            return kFailed;
        PrintApplication(*app);
        return 0;
    }
    if (command == "import" && args.size() <= 1)
        return Import(args.empty() ? std::string() : args[0]);
    if (const auto permission = PermissionOfVerb(command);
        permission && !args.empty() && args.size() <= 2 && (args.size() == 1 || args[1] == "--in" || args[1] == "--out")) {
        return Change([&](Rules& rules) {
            const std::string key = Entry(rules, args[0]);
            if (key.empty())
                return kFailed;
            rules::Application& app = *rules.core.Rules().Find(key);
            if (args.size() == 1 || args[1] == "--in")
                app.incoming = *permission;
            if (args.size() == 1 || args[1] == "--out")
                app.outgoing = *permission;
            return 0;
        });
    }
    if (command == "add" && !args.empty()) {
        int status = 0;
        const std::optional<rules::Rule> rule = RuleOf({args.begin() + 1, args.end()}, status);
        if (!rule)
            return status;
        return Change([&](Rules& rules) {
            const std::string key = Entry(rules, args[0]);
            if (key.empty())
                return kFailed;
            rules.core.Rules().Find(key)->rules.push_back(*rule);
            return 0;
        });
    }
    if (command == "remove" && (args.size() == 1 || args.size() == 2)) {
        std::optional<size_t> number;
        if (args.size() == 2) {
            const std::optional<int> parsed = rules::PortOf(args[1]);
            if (!parsed || *parsed < 1)
                return Fail(kMisused, Arg(Tr("zel-rules", "\"%1\" is no rule number (as zel-rules show numbers them)"), {args[1]}));
            number = static_cast<size_t>(*parsed);
        }
        return Change([&](Rules& rules) {
            const rules::Application* app = Existing(rules, args[0]);
            if (!app)
                return kFailed;
            rules::Document& document = rules.core.Rules().Document();
            if (!number) {
                if (app->IsGeneral())
                    return Fail(kFailed, Tr("zel-rules", "the system settings (ANY) cannot be removed"));
                document.Remove(static_cast<size_t>(document.IndexOf(*app)));
                return 0;
            }
            if (*number > app->rules.size())
                return Fail(kFailed, Arg(Tr("zel-rules", "%1 has no rule %2 (it has %n)", nullptr, int(app->rules.size())),
                                         {*app->name, std::to_string(*number)}));
            rules::Application& changed = document.applications[static_cast<size_t>(document.IndexOf(*app))];
            changed.rules.erase(changed.rules.begin() + static_cast<long>(*number - 1));
            return 0;
        });
    }
    return Usage();
}
