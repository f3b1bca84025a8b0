#include "engine/CarrierIdentity.h"

#include "protocol/TrafficLog.h"

#include "os/FileInfo.h"
#include "os/Files.h"
#include "rules/ProgramNames.h"
#include "rules/ScriptProgram.h"
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

// Makes the script an interpreter runs the carrier; leaves any other alone.
void IdentifyScript(CarrierIdentity& carrier, const std::string& processFolder, const std::string& exeFile,
                    const protocol::HookStart* start)
{
    rules::ScriptProgram script;
    if (start) {
        script = rules::FindScriptProgram(carrier.exePath, exeFile, start->arguments, start->count, processFolder,
                                          start->folder);
    } else {
        const size_t slash = processFolder.rfind('/');
        script = rules::ScriptProgramOfProcess(processFolder.substr(0, slash),
                                               static_cast<pid_t>(std::atoi(processFolder.c_str() + slash + 1)),
                                               carrier.exePath, exeFile);
    }
    if (script.path.empty())
        return;
    carrier.interpreterPath = carrier.exePath;
    carrier.scriptFile = script.file ? script.path : std::string();
    carrier.exePath = script.path;
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

void IdentifyParent(CarrierIdentity& carrier, const std::string& procRoot, pid_t parent,
                    const std::function<pid_t()>& parentNow)
{
    carrier.parentPath.clear();
    carrier.parentName.clear();
    // pid 1 or none: started by nothing in particular. Another parent now
    // than at the start: adopted, the one that started it gone.
    if (parent <= 1 || parentNow() != parent)
        return;
    const std::optional<os::processes::ProcessStat> before = os::processes::ReadStat(procRoot, parent);
    struct stat folder {};
    const std::string processFolder = procRoot + "/" + std::to_string(parent);
    if (!before || ::stat(processFolder.c_str(), &folder) != 0 || folder.st_uid != ::geteuid())
        return;
    std::string path = CleanCarrierPath(os::processes::ExecutablePath(procRoot, parent));
    if (path.empty())
        return;
    const rules::ScriptProgram script = rules::ScriptProgramOfProcess(procRoot, parent, path);
    if (!script.path.empty())
        path = script.path;
    // The parent may have ended, and its pid gone to another process, while
    // it was read: then the carrier has another parent now, or the process
    // at that pid started at another time.
    const std::optional<os::processes::ProcessStat> after = os::processes::ReadStat(procRoot, parent);
    if (!after || after->startTime != before->startTime || parentNow() != parent)
        return;
    carrier.parentName = CarrierExeName(path);
    carrier.parentPath = std::move(path);
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
