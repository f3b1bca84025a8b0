#include "tools/rules/ProgramEntries.h"

#include "panel/core/FileInformation.h"
#include "rules/RulesFormat.h"
#include "text/Strings.h"
#include "text/Translate.h"
#include "tools/common/Arguments.h"

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <unistd.h>

namespace tools::zel_rules {

namespace {

namespace rf = rules::rules_format;
using text::Arg;
using text::Tr;

// The name the rules know a program by, from what the user typed.
std::string EntryNameOf(std::string_view program)
{
    if (text::EqualsNoCase(program, rf::kGeneralApp))
        return rf::kGeneralApp;
    return rf::CarrierExeName(program);
}

// The executable a program's new entry is for: a path as given (a link
// followed to the file the engine sees), a bare name found on PATH.
std::string ExecutableOf(const std::string& program)
{
    std::string candidate = program;
    if (program.find('/') == std::string::npos) {
        candidate.clear();
        const char* path = std::getenv("PATH");
        for (const std::string& folder : ListItems(path ? path : "", ':')) {
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
rules::Application* EntryFor(LoadedRules& rules, const std::string& program, std::string& exe)
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
    return rules.core.Rules().Document().FindFor(rf::CarrierExeName(exe), exe);
}

// The name the rules know program by, from a name or a path, and its
// executable when there is one; empty for "ANY" or a path that leads to none.
std::string ProgramNameOf(const std::string& program, std::string& exe)
{
    exe = ExecutableOf(program);
    if (program.find('/') == std::string::npos) {
        const std::string name = EntryNameOf(program);
        return name == rf::kGeneralApp ? std::string() : name;
    }
    return exe.empty() ? std::string() : rf::CarrierExeName(exe);
}

}  // namespace

bool TakeParent(std::vector<std::string>& args, std::optional<std::string>& parent)
{
    const auto at = std::find(args.begin(), args.end(), "--parent");
    if (at == args.end())
        return true;
    if (at + 1 == args.end())
        return Fail(kMisused, Tr("zel-rules", "--parent needs the program that starts it: a name or a path")), false;
    const std::string given = *(at + 1);
    args.erase(at, at + 2);
    std::string exe;
    if (given.find('/') == std::string::npos) {
        parent = ProgramNameOf(given, exe);
    } else {
        // A path names the program there alone: the file the engine sees, links resolved.
        char real[PATH_MAX];
        if (::realpath(given.c_str(), real))
            parent = rf::CleanCarrierPath(real);
        else
            parent = std::string();
    }
    if (parent->empty())
        return Fail(kMisused, Arg(Tr("zel-rules", "\"%1\" is no program that can start another"), {given})), false;
    return true;
}

std::string LimitedEntry(const Target& target, LoadedRules& rules, const std::string& program,
                         const std::string& parent)
{
    std::string exe;
    const std::string name = ProgramNameOf(program, exe);
    if (name.empty()) {
        Fail(kFailed, Arg(Tr("zel-rules", "no program \"%1\" to limit to a parent"), {program}));
        return {};
    }
    const std::string key = rf::LimitedEntryName(name, parent);
    if (rules::Application* app = rules.core.Rules().Find(key)) {
        app->service = app->service || target.services;
        return key;
    }
    // By the program's name: the parent is what the entry holds to.
    rules::Application app = rules.core.NewApplication(name, exe.empty() ? name : panel::GetDisplayName(exe), exe,
                                                       target.services);
    app.name = key;
    app.byPath = false;
    app.parent = parent;
    return rules.core.Rules().Document().Add(std::move(app)).Key();
}

const rules::Application* ExistingLimited(LoadedRules& rules, const std::string& program, const std::string& parent)
{
    std::string exe;
    const std::string name = ProgramNameOf(program, exe);
    const rules::Application* app = name.empty() ? nullptr : rules.core.Rules().Find(rf::LimitedEntryName(name, parent));
    if (!app)
        Fail(kFailed, Arg(Tr("zel-rules", "no entry of \"%1\" limited to \"%2\" in the rules"), {program, parent}));
    return app;
}

std::string Entry(const Target& target, LoadedRules& rules, const std::string& program)
{
    std::string exe;
    if (rules::Application* app = EntryFor(rules, program, exe)) {
        // What is changed in the services' rules is a service's entry: the
        // services' backstop reads no other.
        app->service = app->service || target.services;
        return app->Key();
    }
    if (exe.empty()) {
        Fail(kFailed, Arg(Tr("zel-rules", "no program \"%1\" in the rules, nor an executable file of that name"), {program}));
        return {};
    }
    const std::string own = rf::CarrierExeName(exe);
    return rules.core.Rules()
        .Document()
        .Add(rules.core.NewApplication(own, panel::GetDisplayName(exe), exe, target.services))
        .Key();
}

const rules::Application* Existing(LoadedRules& rules, const std::string& program)
{
    std::string exe;
    const rules::Application* app = EntryFor(rules, program, exe);
    if (!app)
        Fail(kFailed, Arg(Tr("zel-rules", "no program \"%1\" in the rules (see zel-rules list)"), {program}));
    return app;
}

}  // namespace tools::zel_rules
