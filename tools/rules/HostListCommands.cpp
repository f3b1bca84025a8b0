// The host lists the user subscribes to: lists (a line per list), lists add,
// remove, update, enable and disable. They are the user's own, apart from the
// rules file, where lists ignore and obey mark the programs they are not applied to.
#include "tools/rules/Commands.h"

#include "os/Files.h"
#include "panel/core/HostListSubscriptions.h"
#include "rules/HostListParser.h"
#include "rules/RulesFormat.h"
#include "text/Strings.h"
#include "text/Translate.h"
#include "tools/rules/LoadedRules.h"
#include "tools/rules/ProgramEntries.h"

#include <cerrno>
#include <cstring>
#include <ctime>

namespace tools::zel_rules {

namespace {

using text::Arg;
using text::Tr;

}  // namespace

std::string LocalTime(int64_t seconds)
{
    if (seconds == 0)
        return "never";
    const auto time = static_cast<std::time_t>(seconds);
    std::tm local {};
    char text[32];
    if (::localtime_r(&time, &local) && std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local) > 0)
        return text;
    return std::to_string(seconds);
}

namespace {

void ShowRow(const panel::HostListSubscription& list)
{
    std::printf("%-20s %-40s %9zu  %-19s  %s%s\n", list.name.c_str(), list.source.c_str(), list.entries,
                LocalTime(list.updated).c_str(), list.enabled ? "" : "(off) ", list.error.empty() ? "-" : list.error.c_str());
}

// Names, sources and numbers as they are, so that a script may cut the
// columns; the error, or "-", last. A built-in list not added yet shows
// as one switched off, with the entries its file holds.
int Show()
{
    const panel::HostListSubscriptions subscriptions;
    std::printf("%-20s %-40s %9s  %-19s  %s\n", "NAME", "SOURCE", "ENTRIES", "UPDATED", "ERROR");
    for (const panel::HostListSubscription& list : subscriptions.All())
        ShowRow(list);
    for (const panel::BuiltInHostList& builtIn : panel::BuiltInHostLists()) {
        if (subscriptions.Find(builtIn.name))
            continue;
        panel::HostListSubscription list;
        list.name = builtIn.name;
        list.source = builtIn.path;
        list.enabled = false;
        errno = 0;
        if (const auto text = os::ReadFile(builtIn.path, rules::kMaxHostListBytes))
            list.entries = rules::ParseHostList(*text).counts.Entries();
        else
            list.error = "cannot read " + builtIn.path + ": " + (errno ? std::strerror(errno) : "not a regular file");
        ShowRow(list);
    }
    return FinishOutput();
}

// Each line of an outcome's error, told as the tool tells a fault.
int Failed(const panel::HostListOutcome& outcome)
{
    size_t start = 0;
    while (start < outcome.error.size()) {
        const size_t end = std::min(outcome.error.find('\n', start), outcome.error.size());
        Fail(kFailed, outcome.error.substr(start, end - start));
        start = end + 1;
    }
    return kFailed;
}

int CheckName(const std::string& name)
{
    if (const std::string problem = panel::HostListNameProblem(name); !problem.empty())
        return Fail(kMisused, Arg(Tr("zel-rules", "\"%1\" is no list name: %2"), {name, problem}));
    return 0;
}

int AddList(const std::string& name, const std::string& source)
{
    if (const int status = CheckName(name))
        return status;
    if (panel::HasScheme(source) && !panel::IsDownloadAddress(source))
        return Fail(kMisused, Arg(Tr("zel-rules", "%1: only http and https addresses are fetched"), {source}));
    const panel::HostListOutcome outcome = panel::HostListSubscriptions().Add(name, source);
    if (!outcome)
        return Fail(kFailed, Arg(Tr("zel-rules", "list \"%1\" was not added: %2"), {name, outcome.error}));
    if (const auto list = panel::HostListSubscriptions().Find(name))
        std::printf("%s\n", Arg(Tr("zel-rules", "list \"%1\" added: %2 entries"), {list->name, std::to_string(list->entries)}).c_str());
    return FinishOutput();
}

int UpdateLists(const std::vector<std::string>& names)
{
    panel::HostListSubscriptions lists;
    if (names.empty()) {
        std::vector<std::string> updated;
        const panel::HostListOutcome outcome = lists.UpdateDue(&updated);
        for (const std::string& name : updated)
            std::printf("%s\n", Arg(Tr("zel-rules", "updated: %1"), {name}).c_str());
        return outcome ? FinishOutput() : Failed(outcome);
    }
    const panel::HostListOutcome outcome = lists.Update(names[0]);
    if (!outcome)
        return Failed(outcome);
    std::printf("%s\n", Arg(Tr("zel-rules", "updated: %1"), {lists.Find(names[0])->name}).c_str());
    return FinishOutput();
}

// Marks the program's own entry so that the lists are not applied to it
// (ignore: made when it has none) or are again (obey). Never the system
// settings: a mark there would leave the lists out for every program.
int MarkProgram(const Target& target, const std::string& program, bool ignore)
{
    const auto general = [] {
        return Fail(kMisused, Tr("zel-rules", "the host lists cannot be left out for the system settings (ANY): "
                                              "name the program that may reach listed hosts"));
    };
    if (text::EqualsNoCase(program, rules::rules_format::kGeneralApp))
        return general();
    return Change(target, [&](LoadedRules& rules) {
        rules::Document& document = rules.core.Rules().Document();
        rules::Application* app = nullptr;
        if (ignore) {
            const std::string key = Entry(target, rules, program);
            app = key.empty() ? nullptr : rules.core.Rules().Find(key);
        } else if (const rules::Application* existing = Existing(rules, program)) {
            app = &document.applications[static_cast<size_t>(document.IndexOf(*existing))];
        }
        if (!app)
            return kFailed;
        if (app->IsGeneral())
            return general();
        app->ignoreLists = ignore;
        return 0;
    });
}

}  // namespace

int HostLists(const Call& call)
{
    if (call.target.services)
        return Fail(kMisused, Tr("zel-rules", "host lists are the user's: --services does not apply to them"));
    const std::vector<std::string>& args = call.args;
    if (args.empty())
        return Show();
    const std::string& verb = args[0];
    if (verb == "add" && args.size() == 3)
        return AddList(args[1], args[2]);
    if (verb == "remove" && args.size() == 2) {
        if (const int status = CheckName(args[1]))
            return status;
        const panel::HostListOutcome outcome = panel::HostListSubscriptions().Remove(args[1]);
        return outcome ? 0 : Failed(outcome);
    }
    if ((verb == "enable" || verb == "disable") && args.size() == 2) {
        if (const int status = CheckName(args[1]))
            return status;
        const panel::HostListOutcome outcome = panel::HostListSubscriptions().SetEnabled(args[1], verb == "enable");
        return outcome ? 0 : Failed(outcome);
    }
    if ((verb == "ignore" || verb == "obey") && args.size() == 2)
        return MarkProgram(call.target, args[1], verb == "ignore");
    if (verb == "update" && args.size() <= 2) {
        if (args.size() == 2)
            if (const int status = CheckName(args[1]))
                return status;
        return UpdateLists({args.begin() + 1, args.end()});
    }
    return Usage();
}

}  // namespace tools::zel_rules
