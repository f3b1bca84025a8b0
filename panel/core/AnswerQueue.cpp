#include "panel/core/AnswerQueue.h"

#include <utility>

namespace panel {

std::optional<AlertedApp> AnswerQueue::Store(const std::vector<AlertAnswer>& answers)
{
    if (core_.RulesReadable())
        return StoreAnswers(core_, answers);
    for (const AlertAnswer& answer : answers)
        if (held_.size() < kMostHeld)
            held_.push_back(answer);
    return std::nullopt;
}

std::optional<AlertedApp> AnswerQueue::StoreHeld()
{
    if (held_.empty() || !core_.RulesReadable())
        return std::nullopt;
    return StoreAnswers(core_, std::exchange(held_, {}));
}

}  // namespace panel
