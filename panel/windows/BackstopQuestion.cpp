// The kernel backstop's questions: a program the hook is not in was refused
// because the user's rules say ASK. The user answers in an alert; the answer
// is stored as an alert's is, so that the backstop decides the next attempt
// without asking.
#include "windows/MainForm.h"

#include "editing/BackstopAnswer.h"
#include "settings/BackstopNotice.h"
#include "windows/BackstopAlerts.h"
#include "platform/Environment.h"

void MainForm::AskBackstopQuestion(const panel::BackstopNotice& notice)
{
    if (!backstopAlerts_) {
        backstopAlerts_ = std::make_shared<BackstopAlerts>(this, [this](const panel::BackstopNotice& asked,
                                                                        const engine::AlertResult& result) {
            // Closed, or timed out: nothing is stored, and the backstop asks again later.
            if ((result.button != 1 && result.button != 2) || result.timedOut)
                return;
            const panel::BackstopAnswer answer {asked.program, asked.address, asked.port, result.button == 1, result.ticked};
            if (const auto app = panel::StoreBackstopAnswer(state_, answer))
                ShowAlertedApp(app->exeName);
        });
    }
    // The alert program beside the engine, in the installation folder.
    const char* configured = platform::GetEnv("ZEL_ALERT_PROGRAM");
    backstopAlerts_->Ask(notice, configured && *configured ? configured : state_.Settings.VRNFolder + "zel-alert");
}
