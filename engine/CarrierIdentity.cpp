#include "engine/CarrierIdentity.h"

#include "protocol/TrafficLog.h"

#include "os/FileInfo.h"
#include "text/Strings.h"

namespace engine {

namespace {

constexpr size_t kDescriptionLimit = 255; // the description fields hold 256 bytes with the NUL

std::string CutTo(std::string text, size_t limit)
{
    if (text.size() > limit)
        text.resize(limit);
    return text;
}

}  // namespace

void IdentifyCarrier(CarrierIdentity& carrier, const std::string& procRoot, pid_t pid, const std::string& exePath)
{
    carrier.exePath = CleanCarrierPath(exePath.empty() ? os::processes::ExecutablePath(procRoot, pid) : exePath);
    carrier.exeName = CarrierExeName(carrier.exePath);
    carrier.exePathForLog = text::EscapeLogText(carrier.exePath);
    carrier.isServiceCarrier = os::processes::IsSystemService(procRoot, pid);
}

void CompleteCarrierDescription(CarrierIdentity& carrier)
{
    const os::file_info::ExecutableInfo info = os::file_info::LookupExecutable(carrier.exePath);
    carrier.description = CutTo(info.found ? info.description : carrier.exeName, kDescriptionLimit);
    // Linux has no source for a maker's name: it is unknown, also when a
    // desktop entry gives the description.
    carrier.company = "Unknown";
    carrier.icon = info.found ? info.icon : std::string();
    carrier.descriptionForLog = text::EscapeLogText(carrier.description);
    carrier.recordHead = protocol::ConnectionRecordHead(carrier.exePathForLog, carrier.descriptionForLog);
}

}  // namespace engine
