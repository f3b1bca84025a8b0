#pragma once

#include "panel/core/PanelCore.h"

namespace panel {

// Takes the timed answers that have ended out of the rules file: at the
// start and every half minute; never written over a file that could not be read.
class EndedAnswersFlow {
public:
    explicit EndedAnswersFlow(PanelCore& core) : core_(core) {}
    void Run();

private:
    PanelCore& core_;
};

}  // namespace panel
