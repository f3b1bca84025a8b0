#pragma once

#include <cstddef>

// Which script an interpreter runs, read from its command line by that
// interpreter's own grammar. Part of the platform core: no C++ runtime and
// nothing allocated, so that it can run wherever the engine's start-up does.
namespace rules {

enum class ScriptKind {
    kNone,      // not an interpreter, or one that runs no file: code given on
                // the command line (-c, -e), standard input, or nothing to run
    kFile,      // a script file; text is its path as written
    kModule,    // a module run by name (python -m, java -m); text is its name
    kMainClass, // a Java class run by name; text is its name
};

struct ScriptArgument {
    ScriptKind kind = ScriptKind::kNone;
    const char* text = nullptr;
};

// What the program at exePath runs, given its arguments (argv[0] is never
// read: a caller sets it to anything). exePath must be the executable the
// kernel runs (/proc/PID/exe), not what the command line claims. Python,
// Perl, Ruby, Node.js, Java and the shells sh, bash, dash and zsh are known,
// by their file names (python3.11, perl5.36.0, ruby3.1 and nodejs too). An
// option the grammar does not know ends the reading with kNone: a program is
// named by a script only when the command line says for certain that it
// runs it.
ScriptArgument FindScriptArgument(const char* exePath, const char* const* argv, size_t argc);

}  // namespace rules
