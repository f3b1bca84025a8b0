#include "gui/ProgramIcon.h"

#include "gui/Art.h"
#include "os/FileInfo.h"

#include <QFileInfo>
#include <QHash>

namespace gui {

QPixmap ProgramPixmap(const QString& iconName, int size)
{
    QIcon icon;
    if (!iconName.isEmpty())
        icon = QFileInfo(iconName).isAbsolute() ? QIcon(iconName) : QIcon::fromTheme(iconName);
    if (icon.isNull())
        icon = QIcon::fromTheme("application-x-executable");
    return icon.isNull() ? art::GenericProgramIcon(size) : icon.pixmap(size, size);
}

QPixmap ExecutablePixmap(const QString& exePath, int size)
{
    const auto info = os::file_info::LookupExecutable(exePath.toStdString());
    return ProgramPixmap(QString::fromStdString(info.icon), size);
}

QIcon ExecutableIcon(const std::string& exePath)
{
    static QHash<QString, QIcon> icons;
    const QString path = QString::fromStdString(exePath);
    auto found = icons.find(path);
    if (found == icons.end())
        found = icons.insert(path, QIcon(ExecutablePixmap(path, 16)));
    return *found;
}

}  // namespace gui
