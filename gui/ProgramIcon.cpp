#include "gui/ProgramIcon.h"

#include "gui/Art.h"
#include "os/FileInfo.h"

#include <QFileInfo>

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

}  // namespace gui
