#include "panel/windows/ProgramMenu.h"

#include <QAction>

namespace panel {

namespace {

using rules::Direction;
using rules::Permission;

struct PermissionItem {
    const char* name;
    const char* caption;
    Direction direction;
    Permission permission;
};

// The captions are translated where the menu is made.
constexpr PermissionItem kPermissionItems[] = {
    {"AllowIn", QT_TRANSLATE_NOOP("panel::ProgramMenu", "Allow"), Direction::kIncoming, Permission::kPermit},
    {"AskIn", QT_TRANSLATE_NOOP("panel::ProgramMenu", "Ask"), Direction::kIncoming, Permission::kAsk},
    {"BlockIn", QT_TRANSLATE_NOOP("panel::ProgramMenu", "Block"), Direction::kIncoming, Permission::kDeny},
    {"AllowOut", QT_TRANSLATE_NOOP("panel::ProgramMenu", "Allow"), Direction::kOutgoing, Permission::kPermit},
    {"AskOut", QT_TRANSLATE_NOOP("panel::ProgramMenu", "Ask"), Direction::kOutgoing, Permission::kAsk},
    {"BlockOut", QT_TRANSLATE_NOOP("panel::ProgramMenu", "Block"), Direction::kOutgoing, Permission::kDeny},
};

}  // namespace

ProgramMenu::ProgramMenu(QWidget* parent) : QMenu(parent)
{
    setObjectName("MAinMenu");
    QAction* add = addAction(tr("Add new"));
    add->setObjectName("AddNewMenu");
    connect(add, &QAction::triggered, this, &ProgramMenu::AddNew);
    QAction* remove = addAction(tr("Delete"));
    remove->setObjectName("DelApp");
    connect(remove, &QAction::triggered, this, &ProgramMenu::Delete);
    QMenu* in = addMenu(tr("Incoming network"));
    in->setObjectName("NetIn");
    QMenu* out = addMenu(tr("Outgoing network"));
    out->setObjectName("NetOut");
    for (const PermissionItem& item : kPermissionItems) {
        QAction* action = (item.direction == Direction::kIncoming ? in : out)->addAction(tr(item.caption));
        action->setObjectName(item.name);
        action->setCheckable(true);
        connect(action, &QAction::triggered, this,
                [this, item] { emit DefaultChosen(item.direction, item.permission); });
    }
}

void ProgramMenu::ShowDefaults(const rules::Application* app)
{
    for (const PermissionItem& item : kPermissionItems) {
        QAction* action = findChild<QAction*>(item.name);
        const auto own = app ? (item.direction == Direction::kIncoming ? app->incoming : app->outgoing) : std::nullopt;
        action->setChecked(own == item.permission);
    }
}

}  // namespace panel
