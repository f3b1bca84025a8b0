#pragma once

#include <string>
#include <string_view>

// What a program is called on screen: one name wherever the user meets it
// (the alert, the rules page, a record's row, the tray). The rules file and
// the records keep their own upper-cased names; these are for reading only.
namespace rules::program_names {

// The program at path as shown: description when one is known (its desktop
// entry's name), else the file name of path as written. A description that
// is only the program's upper-cased file name (what the engine writes for a
// program without one) counts as none. The result is always valid UTF-8: a
// byte that is not, and a control character, is spelled out as \xff, and a
// character that reorders text or takes no room (U+202E, U+200B) as
// \u{202e}, so that a hostile file name can neither vanish nor pass for
// another. Empty only when both are.
std::string DisplayName(std::string_view path, std::string_view description);

// A script run by an interpreter: "backup.py (Python 3.11)". The
// interpreter reads by its language when it is one a desktop runs
// (python3.11 is "Python 3.11"), else as DisplayName gives it.
std::string DisplayName(std::string_view scriptPath, std::string_view interpreterPath,
                        std::string_view interpreterDescription);

}  // namespace rules::program_names
