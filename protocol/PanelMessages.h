#pragma once

#include <cstdint>

// Names the engine, the interceptor and the control panel agree on.
namespace protocol {

// The control panel's main window and its message picture box.
inline constexpr const char* kMainWindowTitle = " Tessary - Korvel Personal FireWall";
inline constexpr const char* kPictureBoxClass = "ThunderRT6PictureBoxDC";
inline constexpr const char* kPictureBoxClassOld = "ThunderPictureBoxDC";

// Image names: upper-cased executable file names.
inline constexpr const char* kControlPanelImage = "ZEL";
inline constexpr const char* kInterceptorImage = "ZELCONN";

// Codes of the messages posted to the message picture box.
enum MessageCode : uint16_t {
    kCodeTrayIcon = 0,
    kCodeIncomingBlocked = 1,
    kCodeIncomingPermitted = 2,
    kCodeOutgoingBlocked = 3,
    kCodeOutgoingPermitted = 4,
    kCodeApplicationFinished = 5,
    kCodeRestoreWindow = 6,
    // An outgoing answer applied to one host only; the message's data is the
    // host's normalised name.
    kCodeOutgoingHostBlocked = 7,
    kCodeOutgoingHostPermitted = 8,
    // A connection of a program the hook is not in, as the kernel backstop
    // reported it; the data is "denied|passed ADDRESS PORT PROGRAM".
    kCodeBackstopNotice = 9,
    kCodeIncomingTraffic = 10,
    kCodeOutgoingTraffic = 11,
    // An answer for one peer, one port or both, for a time or always; the
    // data's first line is ScopedAnswer's text (engine/ScopedAnswer.h).
    kCodeScopedAnswer = 12,
};

}  // namespace protocol
