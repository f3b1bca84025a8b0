#pragma once

#include "rules/Application.h"

#include <string>

namespace panel {

// What the panel shows about an executable besides its name.

// The description (the desktop entry's Name) of the executable; empty when
// there is none, and callers then show the file name. There is no source
// for a maker on Linux: field "CompanyName" always gives the empty text.
std::string GetDisplayName(const std::string& path, const std::string& field = "");

// The name the panel shows for a program (rules::program_names::DisplayName):
// its desktop entry's description, else its file name as written.
std::string ProgramDisplayName(const std::string& path);

// The name the rules page shows for an entry with a path: its program's, as
// ProgramDisplayName gives it (the panel saves descriptions upper-cased, so
// the desktop entry is looked up again), or a description written in other
// letters by hand. Empty for an entry known by its name alone.
std::string EntryDisplayName(const rules::Application& app);

// A label of the running-programs strip: texts over 30 characters with a
// blank at position 21 or later are cut to their first 25 characters plus
// the rest of the word that reaches past them; without such a blank, to 25
// characters.
std::string StripLabel(const std::string& text);

}  // namespace panel
