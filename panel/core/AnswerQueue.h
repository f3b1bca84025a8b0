#pragma once

#include "panel/core/AlertAnswers.h"

#include <cstddef>
#include <optional>
#include <vector>

namespace panel {

// Alert answers on their way into the rules: stored at once while the rules
// file can be read; held while it cannot (a flood is not kept for ever),
// and stored once it can be read again, so that no answer is lost.
class AnswerQueue {
public:
    static constexpr size_t kMostHeld = 10000;

    explicit AnswerQueue(PanelCore& core) : core_(core) {}

    // Stores the answers now, or holds them. The program stored last, for
    // the window to show; nullopt when none was.
    std::optional<AlertedApp> Store(const std::vector<AlertAnswer>& answers);
    // Stores what was held (the rules file can be read again).
    std::optional<AlertedApp> StoreHeld();
    size_t Held() const { return held_.size(); }

private:
    PanelCore& core_;
    std::vector<AlertAnswer> held_;
};

}  // namespace panel
