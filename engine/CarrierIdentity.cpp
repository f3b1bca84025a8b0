#include "engine/CarrierIdentity.h"

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

void CompleteCarrierDescription(CarrierIdentity& carrier)
{
    const platform::file_info::ExecutableInfo info = platform::file_info::LookupExecutable(carrier.exePath);
    carrier.description = CutTo(info.found ? info.description : carrier.exeName, kDescriptionLimit);
    // Linux has no source for a maker's name: it is unknown, also when a
    // desktop entry gives the description.
    carrier.company = "Unknown";
    carrier.icon = info.found ? info.icon : std::string();
    carrier.descriptionForLog = platform::EscapeLogText(carrier.description);
    carrier.recordHead = platform::ConnectionRecordHead(carrier.exePathForLog, carrier.descriptionForLog);
}

}  // namespace engine
