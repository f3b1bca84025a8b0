#include "panel/control/BackstopQuestions.h"

#include "os/hooksafe/Environment.h"
#include "panel/control/BackstopAlerts.h"
#include "panel/core/BackstopAnswer.h"

namespace panel {

BackstopQuestions::BackstopQuestions(panel::PanelCore& core, QObject* parent) : QObject(parent), core_(core) {}

BackstopQuestions::~BackstopQuestions() = default;

void BackstopQuestions::Ask(const panel::BackstopNotice& notice)
{
    if (!alerts_) {
        alerts_ = std::make_unique<BackstopAlerts>(this, [this](const panel::BackstopNotice& asked,
                                                                const engine::AlertResult& result) {
            // Closed, or timed out: nothing is stored, and the backstop asks again later.
            if ((result.button != 1 && result.button != 2) || result.timedOut)
                return;
            const panel::BackstopAnswer answer {asked.program, asked.address, asked.port, result.button == 1,
                                                result.ticked, asked.incoming};
            if (const auto app = panel::StoreBackstopAnswer(core_, answer))
                emit Stored(app->key);
        });
    }
    // The alert program beside the engine, in the installation folder.
    const char* configured = os::GetEnv("ZEL_ALERT_PROGRAM");
    alerts_->Ask(notice, configured && *configured ? configured : core_.Settings().VRNFolder + "zel-alert");
}

}  // namespace panel
