#include "panel/windows/Pages.h"

#include "panel/windows/ApplicationPane.h"
#include "panel/windows/GroupView.h"
#include "panel/windows/NavigationTree.h"
#include "panel/windows/ProtectionView.h"

#include <QCoreApplication>

namespace panel {

using View = panel::Selection::View;

void Pages::Show(const panel::Selection& selection, const QString& caption)
{
    core_.Selected() = selection;
    group_->hide();
    pane_->SetCaption(caption);
    pane_->ShowSelection();
    tree_->SelectShown(selection);
}

void Pages::ShowApplication(const std::string& key)
{
    panel::Selection selection;
    selection.view = View::kApplication;
    selection.application = key;
    QTreeWidgetItem* node = tree_->ApplicationNode(key);
    Show(selection, node ? node->text(0) : QString::fromStdString(key));
}

void Pages::ShowAdded(const std::optional<std::string>& key)
{
    if (key)
        ShowApplication(*key);
}

void Pages::ShowSystem() { Show(panel::Selection {}, QCoreApplication::translate("panel::MainForm", "System settings")); }

void Pages::ShowLog(const std::string& key, const QString& caption)
{
    panel::Selection selection;
    selection.view = View::kLog;
    selection.logKey = key;
    Show(selection, caption);
}

void Pages::ShowSomeLog()
{
    // The log shown stays; otherwise the blocked outgoing connections, the
    // usual question ("why can this program not connect?").
    if (!core_.Selected().Shows(View::kLog))
        ShowLog("Log4", QCoreApplication::translate("panel::MainForm", "BLOCKED OUTGOING CONNECTION"));
}

void Pages::ShowProtection()
{
    tree_->Select(tree_->FindNode("Protection"));
    protection_->show();
}

void Pages::ShowNode(QTreeWidgetItem* node)
{
    const std::optional<panel::Selection> selection = NavigationTree::SelectionOf(node);
    if (!selection)
        return;
    if (selection->view == View::kProtection) {
        protection_->show();
    } else if (selection->view == View::kGroup) {
        group_->show();
        pane_->hide();
        group_->Show(node, core_.Rules().Document(), core_.GeneralDefault(rules::Direction::kIncoming),
                     core_.GeneralDefault(rules::Direction::kOutgoing));
    } else {
        core_.Selected() = *selection;
        group_->hide();
        pane_->SetCaption(node->text(0));
        pane_->ShowSelection();
    }
}

void Pages::ShowAgain()
{
    const panel::Selection& selected = core_.Selected();
    if (selected.view == View::kApplication && !core_.Rules().Find(selected.application))
        ShowSystem();
    else
        pane_->ShowSelection();
}

}  // namespace panel
