#include "panel/windows/HelpMenu.h"

#include "panel/core/ErrorLog.h"
#include "panel/core/PanelConstants.h"
#include "panel/dialogs/HelpWindow.h"
#include "panel/widgets/WindowTools.h"

#include <QAction>
#include <QUrl>

namespace panel {

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
    QAction* help = addAction(tr("&Help"));
    help->setObjectName("HelpSiteMnu");
    connect(help, &QAction::triggered, this, &HelpMenu::OpenHelp);
    QAction* site = addAction(tr("Korvel Group &Site"));
    site->setObjectName("HXSiteMnu");
    connect(site, &QAction::triggered, this, [] { Open(panel::kWebSite, "AddNewRightclick : HXSiteMnu_Click"); });
    QAction* contact = addAction(tr("&Contact us"));
    contact->setObjectName("ContactMnu");
    connect(contact, &QAction::triggered, this, [] {
        Open(std::string("mailto:") + panel::kContactAddress + "?subject=" + panel::kContactSubject,
             "AddNewRightclick : ContactMnu_Click");
    });
}

void HelpMenu::OpenHelp()
{
    if (!window_) {
        window_ = new HelpWindow(QString::fromStdString(panel::OwnHelpPagePath()), parentWidget());
        window_->setAttribute(Qt::WA_DeleteOnClose);
    }
    window_->show();
    window_->raise();
    window_->activateWindow();
}

}  // namespace panel
