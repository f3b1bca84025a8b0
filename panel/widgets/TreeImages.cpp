#include "panel/widgets/TreeImages.h"

#include "gui/Art.h"
#include "panel/core/FileInformation.h"

#include <QColor>
#include <QCoreApplication>
#include <QHash>
#include <QPixmap>

namespace panel {

QIcon TreeImage(const char* key)
{
    static QHash<QString, QIcon> images;
    const QString name = key;
    if (auto found = images.find(name); found != images.end())
        return *found;
    QPixmap pixmap;
    if (name == "Approve" || name == "ApproveYellow")
        pixmap = gui::art::StatusIcon(gui::art::Mark::kAllow, 32, name.endsWith("Yellow"));
    else if (name == "Deny" || name == "DenyYellow")
        pixmap = gui::art::StatusIcon(gui::art::Mark::kBlock, 32, name.endsWith("Yellow"));
    else if (name == "Ask" || name == "AskYellow")
        pixmap = gui::art::StatusIcon(gui::art::Mark::kAsk, 32, name.endsWith("Yellow"));
    else if (name == "LogIcon")
        pixmap = gui::art::LogIcon(32);
    else if (name == "Connections")
        pixmap = gui::art::ConnectionsIcon(32);
    else if (name == "Review")
        pixmap = gui::art::ModeBadgeIcon(gui::art::ModeBadge::kLearn, 32);
    else if (name == "Protection")
        pixmap = gui::art::FirewallIcon(32);
    else if (name == "MyComp" || name == "MyComp2")
        pixmap = gui::art::ComputerIcon(32);
    else if (name == "Img3")
        pixmap = gui::art::FolderIcon(32, QColor(150, 170, 200));
    else if (name == "Img1" || name == "Img2")
        pixmap = gui::art::FolderIcon(32, QColor(240, 200, 90));
    else
        pixmap = gui::art::GenericProgramIcon(32);
    return *images.insert(name, QIcon(pixmap));
}

const char* PermissionImage(std::optional<rules::Permission> permission)
{
    if (!permission)
        return nullptr;
    switch (*permission) {
    case rules::Permission::kPermit:
        return "Approve";
    case rules::Permission::kAsk:
        return "Ask";
    case rules::Permission::kDeny:
        break;
    }
    return "Deny";
}

QString PermissionText(std::optional<rules::Permission> permission)
{
    if (!permission)
        return QString();
    switch (*permission) {
    case rules::Permission::kPermit:
        return QCoreApplication::translate("TreeImages", "Allow");
    case rules::Permission::kAsk:
        return QCoreApplication::translate("TreeImages", "Ask");
    case rules::Permission::kDeny:
        break;
    }
    return QCoreApplication::translate("TreeImages", "Block");
}

QString NodeText(const std::string& description)
{
    const QString text = QString::fromStdString(description);
    return text.left(1) + text.mid(1).toLower();
}

QString EntryText(const rules::Application& app)
{
    const std::string shown = EntryDisplayName(app);
    if (!shown.empty())
        return QString::fromStdString(shown);
    return NodeText(app.description.empty() ? app.name.value_or(std::string()) : app.description);
}

}  // namespace panel
