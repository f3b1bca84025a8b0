#include "panel/windows/AddNewMenu.h"

#include <QAction>

namespace panel {

AddNewMenu::AddNewMenu(QWidget* parent) : QMenu("AddNewMenu", parent)
{
    setObjectName("AddNewMenu");
    QAction* addNew = addAction(tr("Add new"));
    addNew->setObjectName("AddNewApp");
    connect(addNew, &QAction::triggered, this, &AddNewMenu::AddNew);
    // Captioned for people: the menu's internal name never shows.
    QMenu* fromLog = addMenu(tr("From the selected log row"));
    fromLog->setObjectName("AddFromLogMnu");
    QAction* addFromLog = fromLog->addAction(tr("Add application"));
    addFromLog->setObjectName("AddNewLogMnu");
    connect(addFromLog, &QAction::triggered, this, &AddNewMenu::AddFromLog);
}

}  // namespace panel
