// The tree's right-click menus: an application's defaults in one click,
// deleting it, and adding a new one with the defaults of the place clicked.
#include "windows/MainForm.h"

#include "editing/CreateNewApp_Step1.h"
#include "settings/GeneralMdl.h"
#include "settings/SaveChanges.h"

#include <QAction>
#include <QLabel>
#include <QMenu>
#include <QTreeWidget>

namespace {

struct PermissionItem {
    const char* name;
    const char* caption;
    bool incoming;
    const char* def;
};

constexpr PermissionItem kPermissionItems[] = {
    {"AllowIn", "Allow", true, "PERMIT"},   {"AskIn", "Ask", true, "ASK"},   {"BlockIn", "Block", true, "DENY"},
    {"AllowOut", "Allow", false, "PERMIT"}, {"AskOut", "Ask", false, "ASK"}, {"BlockOut", "Block", false, "DENY"},
};

}  // namespace

void MainForm::BuildPopupMenus()
{
    BuildLogAndHelpMenus();

    popupMenu_ = new QMenu(this);
    popupMenu_->setObjectName("MAinMenu");
    QAction* add = popupMenu_->addAction("Add new");
    add->setObjectName("AddNewMenu");
    add->setProperty("wizard", true);
    connect(add, &QAction::triggered, this, &MainForm::OpenWizard);
    QAction* remove = popupMenu_->addAction("Delete");
    remove->setObjectName("DelApp");
    connect(remove, &QAction::triggered, this, &MainForm::DelApp_Click);
    QMenu* in = popupMenu_->addMenu("Incoming network");
    in->setObjectName("NetIn");
    QMenu* out = popupMenu_->addMenu("Outgoing network");
    out->setObjectName("NetOut");
    for (const PermissionItem& item : kPermissionItems) {
        QAction* action = (item.incoming ? in : out)->addAction(item.caption);
        action->setObjectName(item.name);
        action->setCheckable(true);
        connect(action, &QAction::triggered, this, [this, item] { SetAppPermission(item.incoming, item.def); });
    }
}

void MainForm::MainTreeView_MouseDown(const QPoint& at)
{
    QTreeWidgetItem* node = MainTreeView->itemAt(at);
    if (!node)
        return;
    const QPoint where = MainTreeView->viewport()->mapToGlobal(at);
    const auto& words = state_.AppConsts;
    QTreeWidgetItem* parent = node->parent();
    if (node->text(0) == "Applications") {
        state_.NewAppOutDef = state_.GenAppOutDef;
        state_.NewAppInDef = state_.GenAppInDef;
        addNewMenu_->popup(where);
        return;
    }
    const QString parentKey = parent ? parent->data(0, Qt::UserRole).toString() : QString();
    const std::string def = parentKey == "PERMIT" ? words.PERMIT
        : parentKey == "DENY"                     ? words.DENY
        : parentKey == "MIXED"                    ? words.ASK
                                                  : std::string();
    if (parent && parent->text(0) == "Applications") {
        state_.NewAppOutDef = state_.NewAppInDef = def;
        addNewMenu_->popup(where);
        return;
    }
    if (def.empty())
        return; // the roots and the logs have no menu
    state_.NewAppOutDef = state_.NewAppInDef = def;
    state_.RightClickSelectedNode = node->data(0, Qt::UserRole).toString().toStdString();
    SetPopUpMenuChecked(state_.RightClickSelectedNode);
    popupMenu_->popup(where);
}

void MainForm::SetPopUpMenuChecked(const std::string& text)
{
    const panel::AppRecord app = state_.CurrBuffer.GetAppFromBuffer(text);
    for (const PermissionItem& item : kPermissionItems) {
        QAction* action = popupMenu_->findChild<QAction*>(item.name);
        // An application that follows the system settings shows no mark.
        action->setChecked(app && (item.incoming ? app->InDef : app->OutDef) == item.def);
    }
}

void MainForm::SetAppPermission(bool incoming, const std::string& def)
{
    const panel::AppRecord app = state_.CurrBuffer.GetAppFromBuffer(state_.RightClickSelectedNode);
    if (!app) {
        panel::WriteErrLog(incoming ? "RightPopupMenu : AllowIn_Click" : "RightPopupMenu : AllowOut_Click",
                           state_.RightClickSelectedNode + " is not in the rules");
        return;
    }
    (incoming ? app->InDef : app->OutDef) = def;
    // SetAppAfterPermissionChange: saved, published, the tree rebuilt and the
    // application shown in its new group.
    state_.SaveAndLoad();
    panel::PublishChange(state_, app->ExeName);
    LoadTreeView();
    state_.SelectedNode = app->ExeName;
    state_.SelectedGroup = "Applications";
    state_.CurrAppToHandle = app->ExeName;
    ReadSelectedNode(app->ExeName, "Applications", this, app->ExeName);
    SelectNodeByName(app->ExeName);
}

void MainForm::DelApp_Click()
{
    const std::string name = state_.CurrBuffer.GetExeName(state_.RightClickSelectedNode);
    panel::UpdateAppChanges(state_, name.empty() ? state_.RightClickSelectedNode : name, 1);
    state_.CurrBuffer.DeleteAppFromBuffer(state_.RightClickSelectedNode, 0, 0);
    state_.SaveAndLoad();
    LoadTreeView();
    state_.SelectedNode = "SYSTEM SETTINGS";
    state_.SelectedGroup = "General";
    state_.CurrAppToHandle = state_.AppConsts.GENERAL_APP;
    AppName->setText("System settings");
    ReadSelectedNode(state_.AppConsts.GENERAL_APP, "General", this, "Sys");
    SelectNodeByName("System settings");
}

void MainForm::OpenWizard()
{
    if (!RulesEditable())
        return; // the window says why
    CreateNewApp_Step1 wizard(*this, this);
    wizard.exec();
}
