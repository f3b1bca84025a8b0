#pragma once

#include "panel/core/PanelCore.h"

#include <QObject>

#include <string>

namespace panel {

// The core's announcements (ChangeFeed) as Qt signals, for the windows to
// connect to: each is emitted right after the change, before the operation
// that made it returns.
class CoreSignals : public QObject {
    Q_OBJECT
public:
    CoreSignals(panel::PanelCore& core, QObject* parent);

signals:
    // key: the application's key or name; "ANY" for the system settings.
    void ApplicationChanged(const std::string& key);
    void RulesReplaced();
    // name: "SecurityStatus" (Block All) or "SecurityMode".
    void SettingChanged(const std::string& name);

private:
    panel::ChangeFeed::Subscription subscription_;
};

}  // namespace panel
