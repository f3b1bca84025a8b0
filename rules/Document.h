#pragma once

#include "rules/Application.h"
#include "rules/RulesFormat.h"

#include <string>
#include <string_view>
#include <vector>

namespace rules {

// A rules document: its applications in the file's order, which is the
// order the engine reads them in.
struct Document {
    std::vector<Application> applications;

    // The application known by key (Application::Key): for a path, the
    // first entry bound to it; for a name (a program's name as rules_format
    // gives it, or "ANY"), the first entry of that name bound to no path.
    // nullptr when there is none.
    Application* Find(std::string_view key);
    const Application* Find(std::string_view key) const;
    // The program's own entry as the engine reads it: the first one other
    // than the general application's that applies to the program named
    // name at path (Application::AppliesTo); nullptr when there is none.
    Application* FindFor(std::string_view name, std::string_view path);
    const Application* FindFor(std::string_view name, std::string_view path) const;
    // The general application (the first named "ANY"), or nullptr.
    Application* General() { return Find(rules::rules_format::kGeneralApp); }
    const Application* General() const { return Find(rules::rules_format::kGeneralApp); }
    // Adds an application where the engine reads it for its program: before
    // the first general application, whose defaults end the reading, or at
    // the end when there is none; one bound to a path before the entry of
    // its name that is bound to none, if that comes first. Returns it.
    Application& Add(Application application);
    // Removes the application at index; false when there is none.
    bool Remove(size_t index);
    // The index of the application, or -1.
    long IndexOf(const Application& application) const;

    // What the engine does not read as the document looks, in words, one
    // line each: an application without a name (passed over), a rule or a
    // port that lacks what it must hold and how it is read instead (see
    // MeaningOf in Rule.h). Empty for every document the control panel
    // writes of its own.
    std::vector<std::string> Problems() const;

    bool operator==(const Document&) const = default;
};

// Whether name is one a program has (rules_format::ProgramName of a file
// name) or the general application's: what a document taken from a user
// must name each application by, since an entry of any other name applies
// to no program at all.
bool IsUsableName(std::string_view name);

}  // namespace rules
