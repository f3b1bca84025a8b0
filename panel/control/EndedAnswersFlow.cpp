#include "panel/control/EndedAnswersFlow.h"

#include "panel/core/TimedAnswers.h"

#include <ctime>

namespace panel {

void EndedAnswersFlow::Run()
{
    if (core_.RulesReadable())
        RemoveEndedAnswers(core_, std::time(nullptr));
}

}  // namespace panel
