#pragma once

#include "panel/core/BackstopNotice.h"
#include "panel/core/PanelCore.h"

#include <QObject>

#include <memory>
#include <string>

namespace panel {

class BackstopAlerts;

// The kernel backstop's questions: a program the hook is not in was refused
// because the user's rules say ASK. The user answers in an alert; the answer
// is stored as an alert's is, so that the backstop decides the next attempt
// without asking.
class BackstopQuestions : public QObject {
    Q_OBJECT
public:
    BackstopQuestions(panel::PanelCore& core, QObject* parent);
    ~BackstopQuestions() override;

    void Ask(const panel::BackstopNotice& notice);

signals:
    // An answer became the program's rule or default.
    void Stored(const std::string& name);

private:
    panel::PanelCore& core_;
    std::unique_ptr<BackstopAlerts> alerts_;
};

}  // namespace panel
