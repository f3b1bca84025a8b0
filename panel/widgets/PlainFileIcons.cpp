#include "panel/widgets/PlainFileIcons.h"

#include <QApplication>
#include <QCoreApplication>
#include <QFileInfo>
#include <QStyle>

namespace panel {

PlainFileIcons::PlainFileIcons()
{
    QStyle* style = QApplication::style();
    folder_ = style->standardIcon(QStyle::SP_DirIcon);
    program_ = QIcon::fromTheme("application-x-executable", style->standardIcon(QStyle::SP_FileIcon));
    file_ = style->standardIcon(QStyle::SP_FileIcon);
}

QIcon PlainFileIcons::icon(const QFileInfo& info) const
{
    if (info.isDir())
        return folder_;
    return info.isExecutable() ? program_ : file_;
}

QString PlainFileIcons::type(const QFileInfo& info) const
{
    if (info.isDir())
        return QCoreApplication::translate("PlainFileIcons", "Folder");
    return info.isExecutable() ? QCoreApplication::translate("PlainFileIcons", "Program")
                               : QCoreApplication::translate("PlainFileIcons", "File");
}

}  // namespace panel
