#include "engine/CarrierIdentity.h"

#include "protocol/TrafficLog.h"

#include "os/FileInfo.h"
#include "os/Files.h"
#include "rules/ProgramNames.h"
#include "rules/hooksafe/ScriptArguments.h"
#include "text/Strings.h"

#include <climits>
#include <cstdlib>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace engine {

namespace {

constexpr size_t kDescriptionLimit = 255; // the description fields hold 256 bytes with the NUL

std::string CutTo(std::string text, size_t limit)
{
    if (text.size() > limit)
        text.resize(limit);
    return text;
}

constexpr size_t kCommandLineLimit = 65536;

// Only an interpreter installed by the system speaks for the script it is
// given: a program of the user's own named python3 may run anything at all.
bool IsSystemInterpreter(const std::string& file)
{
    struct stat st {};
    return ::stat(file.c_str(), &st) == 0 && S_ISREG(st.st_mode) && st.st_uid == 0 && (st.st_mode & 022) == 0;
}

// The arguments of the process, each ended by a NUL; one cut off by the
// limit is left out rather than read as another name.
std::vector<const char*> Arguments(const std::string& commandLine)
{
    std::vector<const char*> argv;
    for (size_t start = 0, end; (end = commandLine.find('\0', start)) != std::string::npos; start = end + 1)
        argv.push_back(commandLine.c_str() + start);
    return argv;
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

// Makes the script an interpreter runs the carrier; leaves any other alone.
void IdentifyScript(CarrierIdentity& carrier, const std::string& processFolder, const std::string& exeFile,
                    const protocol::HookStart* start)
{
    std::optional<std::string> commandLine;
    std::vector<const char*> argv;
    if (start) {
        argv.assign(start->arguments, start->arguments + start->count);
    } else {
        commandLine = os::ReadFile(processFolder + "/cmdline", kCommandLineLimit);
        if (!commandLine)
            return;
        argv = Arguments(*commandLine);
    }
    const rules::ScriptArgument script = rules::FindScriptArgument(carrier.exePath.c_str(), argv.data(), argv.size());
    if (script.kind == rules::ScriptKind::kNone || !IsSystemInterpreter(exeFile))
        return;
    const std::string path = script.kind == rules::ScriptKind::kFile
        ? ResolvedScriptPath(processFolder, start ? start->folder : nullptr, script.text)
        : carrier.exePath + (script.kind == rules::ScriptKind::kModule ? " -m " : " ") + script.text;
    carrier.interpreterPath = carrier.exePath;
    carrier.scriptFile = script.kind == rules::ScriptKind::kFile ? path : std::string();
    carrier.exePath = path;
}

}  // namespace

void IdentifyCarrier(CarrierIdentity& carrier, const std::string& procRoot, pid_t pid, const std::string& exePath,
                     const protocol::HookStart* start)
{
    const std::string processFolder = procRoot + "/" + std::to_string(pid);
    carrier.exePath = CleanCarrierPath(exePath.empty() ? os::processes::ExecutablePath(procRoot, pid) : exePath);
    IdentifyScript(carrier, processFolder, exePath.empty() ? processFolder + "/exe" : exePath, start);
    carrier.exeName = CarrierExeName(carrier.exePath);
    carrier.exePathForLog = text::EscapeLogText(carrier.exePath);
    carrier.isServiceCarrier = os::processes::IsSystemService(procRoot, pid);
}

void CompleteCarrierDescription(CarrierIdentity& carrier)
{
    const bool script = !carrier.interpreterPath.empty();
    const os::file_info::ExecutableInfo info =
        os::file_info::LookupExecutable(script ? carrier.interpreterPath : carrier.exePath);
    if (script) {
        // "backup.py (Python 3.11)", "pip (Python 3.11)": the script, with what runs it.
        const std::string_view name = carrier.scriptFile.empty()
            ? std::string_view(carrier.exePath).substr(carrier.exePath.rfind(' ') + 1)
            : std::string_view(carrier.exePath);
        carrier.description = CutTo(rules::program_names::DisplayName(name, carrier.interpreterPath,
                                                                      info.found ? info.description : std::string()),
                                    kDescriptionLimit);
    } else {
        carrier.description = CutTo(info.found ? info.description : carrier.exeName, kDescriptionLimit);
    }
    // Linux has no source for a maker's name: it is unknown, also when a
    // desktop entry gives the description.
    carrier.company = "Unknown";
    carrier.icon = info.found ? info.icon : std::string();
    carrier.descriptionForLog = text::EscapeLogText(carrier.description);
    carrier.recordHead = protocol::ConnectionRecordHead(carrier.exePathForLog, carrier.descriptionForLog);
}

}  // namespace engine
