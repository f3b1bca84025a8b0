#pragma once

#include <QString>

namespace panel::stopped_notice {

// A trace of a shutdown that outlives the panel and its tray icon: a desktop
// notification (freedesktop's notifications interface) that stays until the
// user closes it or the panel starts again. Nothing without a session bus.

// Posts the notice; its number is kept in folder (the runtime folder) for
// the next start to take it away. False when no notification server took it.
bool Post(const QString& folder);

// Takes away the notice of an earlier shutdown, if one is still shown.
void Withdraw(const QString& folder);

}  // namespace panel::stopped_notice
