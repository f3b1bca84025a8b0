#pragma once

#include "panel/core/TrafficLogTail.h"

#include <cstddef>
#include <ctime>
#include <string>
#include <string_view>
#include <unordered_map>

namespace panel {

// How many of today's records each host list refused (the records naming
// it in LIST), counted as the day's log grows.
class HostListRefusals {
public:
    explicit HostListRefusals(size_t bytesPerLook = 16u << 20) : tail_(bytesPerLook) {}

    // Takes in what was appended to the day's log of folder since the last look.
    void ReadOn(const std::string& folder, std::time_t wallNow);
    // Of the list named so (in any case); 0 when none.
    size_t Today(std::string_view list) const;

private:
    TrafficLogTail tail_;
    std::unordered_map<std::string, size_t> counts_; // by the list's name in lower case
};

}  // namespace panel
