#pragma once

#include "rules/Application.h"
#include "platform/RulesFormat.h"

#include <string>
#include <string_view>
#include <vector>

namespace rules {

// A rules document: its applications in the file's order, which is the
// order the engine reads them in.
struct Document {
    std::vector<Application> applications;

    // The first application named exactly name (a program's name as
    // rules_format gives it, or "ANY"); nullptr when there is none.
    Application* Find(std::string_view name);
    const Application* Find(std::string_view name) const;
    // The general application (the first named "ANY"), or nullptr.
    Application* General() { return Find(platform::rules_format::kGeneralApp); }
    const Application* General() const { return Find(platform::rules_format::kGeneralApp); }
    // Adds an application where the engine reads it for its program: before
    // the first general application, whose defaults end the reading, or at
    // the end when there is none. Returns it.
    Application& Add(Application application);
    // Removes the application at index; false when there is none.
    bool Remove(size_t index);
    // The index of the application, or -1.
    long IndexOf(const Application& application) const;

    // What the engine does not read as the document looks, in words, one
    // line each: where it stops reading (an application without a name, a
    // rule or a port that lacks what it must hold) and ports whose number is
    // none. Empty for every document the control panel writes of its own.
    std::vector<std::string> Problems() const;

    bool operator==(const Document&) const = default;
};

}  // namespace rules
