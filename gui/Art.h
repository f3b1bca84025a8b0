#pragma once

#include <QPixmap>

// Pictures the alert and the control panel draw rather than ship: the local computer (102),
// the remote party (104), the arrows towards the local side (105, incoming)
// and towards the remote side (106, outgoing), and the banner (107).
namespace art {

QPixmap ComputerIcon(int size);
QPixmap RemoteIcon(int size);
QPixmap ArrowIcon(int size, bool towardsRemote);
QPixmap GenericProgramIcon(int size);
QPixmap Banner(int width, int height);

}  // namespace art
