#include "panel/core/HostListRefusals.h"

#include "panel/core/HostListSubscriptions.h"
#include "protocol/LogFiles.h"
#include "protocol/RecordWords.h"
#include "text/Strings.h"

#include <algorithm>
#include <cctype>

namespace panel {

namespace {

// Names counted at most (a program of the user may write anything to the
// log): beyond, a name not counted yet is passed over.
constexpr size_t kMostNames = 256;

std::string Lower(std::string_view text)
{
    std::string lower(text);
    std::transform(lower.begin(), lower.end(), lower.begin(), [](char c) { return char(std::tolower(uint8_t(c))); });
    return lower;
}

}  // namespace

void HostListRefusals::ReadOn(const std::string& folder, std::time_t wallNow)
{
    const TrafficLogTail::Appended appended = tail_.ReadOn(folder, wallNow);
    if (appended.restarted)
        counts_.clear();
    const std::string tag = "<" + std::string(protocol::record_tag::kList) + ">";
    text::ForEachLine(appended.lines, [&](std::string_view line) {
        if (line.find(tag) == std::string_view::npos) // most records name no list: not parsed
            return;
        const auto entry = protocol::ParseLogLine(line);
        if (!entry || entry->kind != protocol::LogEntry::Kind::kConnection || !HostListNameProblem(entry->list).empty())
            return;
        const std::string name = Lower(entry->list);
        if (const auto found = counts_.find(name); found != counts_.end())
            ++found->second;
        else if (counts_.size() < kMostNames)
            counts_.emplace(name, 1);
    });
}

size_t HostListRefusals::Today(std::string_view list) const
{
    const auto found = counts_.find(Lower(list));
    return found == counts_.end() ? 0 : found->second;
}

}  // namespace panel
