#include "rules/Document.h"

#include <algorithm>

namespace rules {

namespace {

std::string Quoted(std::string_view text) { return "\"" + std::string(text) + "\""; }

}  // namespace

Application* Document::Find(std::string_view key)
{
    const bool isPath = IsPathKey(key);
    for (Application& application : applications)
        if (isPath ? application.IsBound() && !application.IsLimited() && application.path == key
                   : (!application.IsBound() || application.IsLimited()) && application.IsNamed(key))
            return &application;
    return nullptr;
}

const Application* Document::Find(std::string_view key) const { return const_cast<Document*>(this)->Find(key); }

Application* Document::FindFor(std::string_view name, std::string_view path)
{
    for (Application& application : applications)
        if (!application.IsGeneral() && application.AppliesTo(name, path))
            return &application;
    return nullptr;
}

const Application* Document::FindFor(std::string_view name, std::string_view path) const
{
    return const_cast<Document*>(this)->FindFor(name, path);
}

Application& Document::Add(Application application)
{
    // An entry bound to a path goes before the entry of its name that binds
    // none: read first, it decides for the program at its path.
    const bool bound = application.IsBound();
    const auto place = std::find_if(applications.begin(), applications.end(), [&](const Application& app) {
        return app.IsGeneral() || (bound && !app.IsBound() && application.name && app.IsNamed(*application.name));
    });
    return *applications.insert(place, std::move(application));
}

bool Document::Remove(size_t index)
{
    if (index >= applications.size())
        return false;
    applications.erase(applications.begin() + static_cast<long>(index));
    return true;
}

long Document::IndexOf(const Application& application) const
{
    for (size_t i = 0; i < applications.size(); ++i)
        if (&applications[i] == &application)
            return static_cast<long>(i);
    return -1;
}

std::vector<std::string> Document::Problems() const
{
    std::vector<std::string> problems;
    for (size_t i = 0; i < applications.size(); ++i) {
        const Application& application = applications[i];
        if (!application.name) {
            problems.push_back("entry " + std::to_string(i + 1) + " has no EXENAME: it applies to no program and "
                               "is passed over");
            continue;
        }
        for (size_t r = 0; r < application.rules.size(); ++r) {
            const Rule& rule = application.rules[r];
            const std::string named = "rule " + std::to_string(r + 1) + " (" + Quoted(rule.name) + ") of "
                + Quoted(*application.name);
            const RuleMeaning meaning = MeaningOf(rule);
            if (meaning.missing) {
                problems.push_back(named + " has no " + meaning.missing
                                   + (meaning.decides ? std::string(": it is read as a rule in force that denies")
                                              + (meaning.direction ? "" : ", both ways")
                                                      : std::string(": as it permits at most, it is passed over")));
            }
            if (!meaning.decides)
                continue;
            for (const Port& port : rule.ports) {
                const PortMeaning covered = MeaningOf(port, meaning.permission);
                if (!covered.unreadable)
                    continue;
                problems.push_back(named + (port.number ? " has the port number " + Quoted(*port.number) + ", which is none"
                                                        : std::string(" has a port without NUMBER"))
                                   + (covered.number ? ": it is read as denying every port"
                                                     : ": that entry covers no port"));
            }
        }
    }
    return problems;
}

bool IsUsableName(std::string_view name)
{
    namespace rf = rules::rules_format;
    if (name == rf::kGeneralApp)
        return true;
    // The name a program of that file name has, and no other spelling of it.
    const std::string fileName = rf::FileNameOfProgram(name);
    return !fileName.empty() && fileName != "." && fileName != ".." && fileName.find('/') == std::string::npos
        && rf::ProgramName(fileName) == name;
}

}  // namespace rules
