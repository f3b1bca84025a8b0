#pragma once

#include <cstdio>
#include <optional>

namespace text {

// What a command-line tool's main() does first, the same in every tool.
struct ToolStart {
    const char* name;              // as --version shows it
    int argc;
    char** argv;
    int (*usage)(std::FILE* out);  // prints the usage to out, returns the exit status
    // Whether ZEL_TRANSLATIONS_DIR may name the translations' folder (see
    // UseToolTranslation): not for a tool root runs for another user.
    bool translationsFromEnvironment = true;
};

// Puts the tool's words in the user's language and answers "--help" (or
// "-h") and "--version" given first: returns the exit status when it
// answered, nullopt when the tool goes on.
std::optional<int> StartTool(const ToolStart& start);

}  // namespace text
