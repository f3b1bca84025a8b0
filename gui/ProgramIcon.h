#pragma once

#include <QIcon>
#include <QPixmap>
#include <QString>

#include <string>

// A program's icon, as the desktop shows it: the Icon of the desktop entry
// that starts it (a theme name or a file), else the theme's generic program
// icon, else a drawn one.
namespace gui {

QPixmap ProgramPixmap(const QString& iconName, int size);
// The same for an executable, found through its desktop entry.
QPixmap ExecutablePixmap(const QString& exePath, int size);
// An executable's icon for a list's row (16 pixels), looked up once a path.
QIcon ExecutableIcon(const std::string& exePath);

}  // namespace gui
