#pragma once

#include <cstddef>
#include <string>
#include <sys/types.h>

// The program a process is to the rules when an interpreter runs a script:
// the script, not the interpreter. One reading for the engine (inside the
// process, from the hook's copy of its start) and for the panel (outside,
// from the process table), so that both name a process alike.
namespace rules {

struct ScriptProgram {
    // The script's resolved absolute path; "INTERPRETER -m MODULE" or
    // "INTERPRETER CLASS" for what runs by name. Empty: not a script.
    std::string path;
    bool file = false; // path is a file (whose content an entry may check)
};

// exePath: the interpreter as the process table names it; exeFile: a path
// that opens its file (/proc/PID/exe). argv: the process's arguments;
// startFolder: the folder it started in, null to read processFolder's cwd.
// Only an interpreter installed by the system (root's, writable by no one
// else) speaks for the script it is given.
ScriptProgram FindScriptProgram(const std::string& exePath, const std::string& exeFile, const char* const* argv,
                                size_t argc, const std::string& processFolder, const char* startFolder);

// The same from the process table alone: its command line and working
// folder, for a reader outside the process (exeFile empty: its exe link).
ScriptProgram ScriptProgramOfProcess(const std::string& procRoot, pid_t pid, const std::string& exePath,
                                     const std::string& exeFile = {});

}  // namespace rules
