#pragma once

#include <QPixmap>

// The alert's pictures, drawn rather than shipped: the local computer (102),
// the remote party (104), the arrows towards the local side (105, incoming)
// and towards the remote side (106, outgoing), and the banner (107).
namespace alert_art {

QPixmap ComputerIcon(int size);
QPixmap RemoteIcon(int size);
QPixmap ArrowIcon(int size, bool towardsRemote);
QPixmap GenericProgramIcon(int size);
QPixmap Banner(int width, int height);

}  // namespace alert_art
