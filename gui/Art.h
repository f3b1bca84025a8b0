#pragma once

#include <QIcon>
#include <QPixmap>

// Pictures the alert and the control panel draw rather than ship: the local computer (102),
// the remote party (104), the arrows towards the local side (105, incoming)
// and towards the remote side (106, outgoing), and the banner (107).
namespace gui::art {

QPixmap ComputerIcon(int size);
QPixmap RemoteIcon(int size);
QPixmap ArrowIcon(int size, bool towardsRemote);
QPixmap GenericProgramIcon(int size);
QPixmap Banner(int width, int height);

// The firewall's own icon: a shield (window, tray).
QPixmap FirewallIcon(int size);
// The same as the windows' and the tray's icon: the installed theme icon
// "tessary" when there is one (the user's theme may replace it), else drawn.
QIcon AppIcon();
// The sizes the icon is installed in (hicolor/NxN/apps/tessary.png).
inline constexpr int kAppIconSizes[] = {16, 22, 24, 32, 48, 64, 128, 256};
// A round status mark: a tick (allow), a bar (block) or a question mark (ask).
enum class Mark { kAllow, kBlock, kAsk };
QPixmap StatusIcon(Mark mark, int size, bool pale = false);
// The firewall's mode when it does not ask: a crescent (quiet) on green
// (allowing) or red (blocking), an hourglass (learning for a time) on blue.
enum class ModeBadge { kQuietAllow, kQuietBlock, kLearn };
QPixmap ModeBadgeIcon(ModeBadge badge, int size);
QPixmap FolderIcon(int size, const QColor& colour);
QPixmap LogIcon(int size);
// The open connections: arrows both ways on a disc.
QPixmap ConnectionsIcon(int size);
// Toolbar pictures: add, logs, connections, settings, block all, help.
QPixmap ToolIcon(const char* key, int size);

}  // namespace gui::art
