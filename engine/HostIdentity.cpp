#include "engine/HostIdentity.h"

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
    if (!info.found) {
        host.description = CutTo(host.exeName, kDescriptionLimit);
        host.company = "Unknown";
        host.icon.clear();
        return;
    }
    host.description = CutTo(info.description, kDescriptionLimit);
    host.company.clear(); // no company name source exists: "not found" leaves it empty
    host.icon = info.icon;
}

}  // namespace engine
