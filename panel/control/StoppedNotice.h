#pragma once

#include <QString>

#include <optional>

namespace panel::stopped_notice {

// A trace of a shutdown that outlives the panel and its tray icon: a desktop
// notification (freedesktop's notifications interface) that stays until the
// user closes it or the panel starts again, and the file "stopped-notice" in
// the runtime folder, which keeps the notification's number (0: none was
// shown) on its first line and the time of the shutdown (seconds since
// 1970) on its second, for the next start.

// Posts the notice (nothing without a session bus) and writes the file.
// False when no notification server took the notice.
bool Post(const QString& folder, qint64 now);

// What the next start learns of the shutdown before it.
struct Trace {
    // None when the file does not keep it, or keeps a time that cannot be
    // one (before 2000, or later than now).
    std::optional<qint64> shutDownAt;
};

// Takes away the notice of an earlier shutdown, if one is still shown, and
// the file; none when there was no file (no shutdown since the last start).
// The file is anyone's of the user's to write: it is read as a regular file
// only, never through a link, and at most a few bytes of it.
std::optional<Trace> Withdraw(const QString& folder, qint64 now);

}  // namespace panel::stopped_notice
