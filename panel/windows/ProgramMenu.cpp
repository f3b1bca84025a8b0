#include "windows/ProgramMenu.h"

#include <QAction>

namespace {

using rules::Direction;
using rules::Permission;

struct PermissionItem {
    const char* name;
    const char* caption;
    Direction direction;
    Permission permission;
};

constexpr PermissionItem kPermissionItems[] = {
    {"AllowIn", "Allow", Direction::kIncoming, Permission::kPermit},
    {"AskIn", "Ask", Direction::kIncoming, Permission::kAsk},
    {"BlockIn", "Block", Direction::kIncoming, Permission::kDeny},
    {"AllowOut", "Allow", Direction::kOutgoing, Permission::kPermit},
    {"AskOut", "Ask", Direction::kOutgoing, Permission::kAsk},
    {"BlockOut", "Block", Direction::kOutgoing, Permission::kDeny},
};

}  // namespace

ProgramMenu::ProgramMenu(QWidget* parent) : QMenu(parent)
{
    setObjectName("MAinMenu");
    QAction* add = addAction("Add new");
    add->setObjectName("AddNewMenu");
    connect(add, &QAction::triggered, this, &ProgramMenu::AddNew);
    QAction* remove = addAction("Delete");
    remove->setObjectName("DelApp");
    connect(remove, &QAction::triggered, this, &ProgramMenu::Delete);
    QMenu* in = addMenu("Incoming network");
    in->setObjectName("NetIn");
    QMenu* out = addMenu("Outgoing network");
    out->setObjectName("NetOut");
    for (const PermissionItem& item : kPermissionItems) {
        QAction* action = (item.direction == Direction::kIncoming ? in : out)->addAction(item.caption);
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
