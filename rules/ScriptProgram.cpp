#include "rules/ScriptProgram.h"

#include "os/Files.h"
#include "rules/hooksafe/ScriptArguments.h"

#include <climits>
#include <cstdlib>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace rules {

namespace {

constexpr size_t kCommandLineLimit = 65536;

// A program of the user's own named python3 may run anything at all.
bool IsSystemInterpreter(const std::string& file)
{
    struct stat st {};
    return ::stat(file.c_str(), &st) == 0 && S_ISREG(st.st_mode) && st.st_uid == 0 && (st.st_mode & 022) == 0;
}

// The script's absolute path with every link resolved, relative to the
// folder the process started in (null: the process table's working folder);
// as written under that folder when it is gone, and as written when the
// folder is not known: a name no entry made by the panel is bound to.
std::string ResolvedScriptPath(const std::string& processFolder, const char* startFolder, const char* written)
{
    std::string path = written;
    if (path[0] != '/') {
        std::string folder;
        if (startFolder) {
            folder = startFolder;
        } else {
            char link[PATH_MAX];
            const ssize_t n = ::readlink((processFolder + "/cwd").c_str(), link, sizeof link - 1);
            if (n > 0)
                folder.assign(link, static_cast<size_t>(n));
        }
        if (!folder.starts_with('/'))
            return path;
        path = folder + "/" + path;
    }
    char resolved[PATH_MAX];
    return ::realpath(path.c_str(), resolved) ? std::string(resolved) : path;
}

}  // namespace

ScriptProgram FindScriptProgram(const std::string& exePath, const std::string& exeFile, const char* const* argv,
                                size_t argc, const std::string& processFolder, const char* startFolder)
{
    const ScriptArgument script = FindScriptArgument(exePath.c_str(), argv, argc);
    if (script.kind == ScriptKind::kNone || !IsSystemInterpreter(exeFile))
        return {};
    if (script.kind == ScriptKind::kFile)
        return {ResolvedScriptPath(processFolder, startFolder, script.text), true};
    return {exePath + (script.kind == ScriptKind::kModule ? " -m " : " ") + script.text, false};
}

ScriptProgram ScriptProgramOfProcess(const std::string& procRoot, pid_t pid, const std::string& exePath,
                                     const std::string& exeFile)
{
    const std::string processFolder = procRoot + "/" + std::to_string(pid);
    const std::optional<std::string> commandLine = os::ReadFile(processFolder + "/cmdline", kCommandLineLimit);
    if (!commandLine)
        return {};
    // Each argument ends with a NUL; one cut off by the limit is left out
    // rather than read as another name.
    std::vector<const char*> argv;
    for (size_t start = 0, end; (end = commandLine->find('\0', start)) != std::string::npos; start = end + 1)
        argv.push_back(commandLine->c_str() + start);
    return FindScriptProgram(exePath, exeFile.empty() ? processFolder + "/exe" : exeFile, argv.data(), argv.size(),
                             processFolder, nullptr);
}

}  // namespace rules
