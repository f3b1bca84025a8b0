// The commands that show the rules: list (a line per program) and show (a
// program's entry, its rules numbered as remove takes them).
#include "tools/rules/Commands.h"

#include "text/Translate.h"
#include "tools/rules/LoadedRules.h"
#include "tools/rules/ProgramEntries.h"

#include <ctime>

namespace tools::zel_rules {

namespace {

using rules::Direction;
using rules::Permission;
using text::Arg;
using text::Tr;

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
    if (app.ignoreLists)
        std::printf("%s\n", Tr("zel-rules", "  host lists: not applied (zel-rules lists obey undoes it)").c_str());
    if (app.IsLimited())
        std::fputs(Arg(Tr("zel-rules", "  only when started by: %1\n"), {app.parent}).c_str(), stdout);
    for (size_t i = 0; i < app.rules.size(); ++i)
        std::printf("  %zu  %s\n", i + 1, RuleLine(app.rules[i]).c_str());
    if (app.timed.empty())
        return;
    std::printf("%s\n", Tr("zel-rules", "  answers for a time:").c_str());
    const int64_t now = std::time(nullptr);
    for (const rules::TimedAnswer& answer : app.timed)
        std::printf("    %s\n", AnswerLine(answer, now).c_str());
}

}  // namespace

const char* Verb(std::optional<rules::Permission> permission)
{
    if (!permission)
        return "system";
    return *permission == Permission::kPermit ? "allow" : *permission == Permission::kAsk ? "ask" : "block";
}

std::string Joined(const std::vector<std::string>& items)
{
    std::string text;
    for (const std::string& item : items)
        text += (text.empty() ? "" : ",") + item;
    return text;
}

int List(const Call& call)
{
    if (!call.args.empty())
        return Usage();
    LoadedRules rules;
    if (const int status = Load(call.target, rules))
        return status;
    PrintList(rules.core.Rules().Document());
    return FinishOutput();
}

int Show(const Call& call)
{
    std::vector<std::string> args = call.args;
    std::optional<std::string> parent;
    if (!TakeParent(args, parent))
        return kMisused;
    if (args.size() != 1)
        return Usage();
    LoadedRules rules;
    if (const int status = Load(call.target, rules))
        return status;
    const rules::Application* app = parent ? ExistingLimited(rules, args[0], *parent) : Existing(rules, args[0]);
    if (!app)
        return kFailed;
    PrintApplication(*app);
    return 0;
}

}  // namespace tools::zel_rules
