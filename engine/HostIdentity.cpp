#include "engine/HostIdentity.h"

#include "engine/TrafficLog.h"

#include "platform/FileInfo.h"
#include "platform/Text.h"

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

void CompleteHostDescription(HostIdentity& host)
{
    const platform::file_info::ExecutableInfo info = platform::file_info::LookupExecutable(host.exePath);
    host.description = CutTo(info.found ? info.description : host.exeName, kDescriptionLimit);
    // Linux has no source for a maker's name: it is unknown, also when a
    // desktop entry gives the description.
    host.company = "Unknown";
    host.icon = info.found ? info.icon : std::string();
    host.descriptionForLog = platform::EscapeLogText(host.description);
    host.recordHead = platform::ConnectionRecordHead(host.exePathForLog, host.descriptionForLog);
}

}  // namespace engine
