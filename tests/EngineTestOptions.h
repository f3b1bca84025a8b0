#pragma once

#include "engine/Engine.h"

#include <string>

namespace testing_support {

inline constexpr int kTcp = 1;
inline constexpr int kUdp = 2;

// An engine copy for a test: the given host, no host-name lookup, and
// settings looked at on every decision so that a test's change shows at once.
inline engine::EngineOptions TestEngineOptions(std::string exePath = "/opt/apps/tool.exe")
{
    engine::EngineOptions options;
    options.exePath = std::move(exePath);
    options.lookUpOwnAddress = false;
    options.settingsFreshnessMs = 0;
    return options;
}

}  // namespace testing_support
