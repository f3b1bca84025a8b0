#include "windows/HelpMenu.h"

#include "core/ErrorLog.h"
#include "core/PanelConstants.h"
#include "widgets/WindowTools.h"

#include <QAction>
#include <QUrl>

namespace {

void Open(const std::string& address, const char* label)
{
    if (!panel::OpenUrl(QUrl(QString::fromStdString(address))))
        panel::WriteErrLog(label, "cannot open " + address);
}

}  // namespace

HelpMenu::HelpMenu(QWidget* parent) : QMenu("HelpMenu", parent)
{
    setObjectName("HelpMnu");
    QAction* help = addAction("Help");
    help->setObjectName("HelpSiteMnu");
    connect(help, &QAction::triggered, this, [] { Open(panel::HelpPageUrl(), "AddNewRightclick : HelpSiteMnu_Click"); });
    QAction* site = addAction("Korvel Group Site");
    site->setObjectName("HXSiteMnu");
    connect(site, &QAction::triggered, this, [] { Open(panel::kWebSite, "AddNewRightclick : HXSiteMnu_Click"); });
    QAction* contact = addAction("Contact us");
    contact->setObjectName("ContactMnu");
    connect(contact, &QAction::triggered, this, [] {
        Open(std::string("mailto:") + panel::kContactAddress + "?subject=" + panel::kContactSubject,
             "AddNewRightclick : ContactMnu_Click");
    });
}
