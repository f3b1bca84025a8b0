#include "panel/windows/Pages.h"

#include "panel/windows/ApplicationPane.h"
#include "panel/windows/GroupView.h"
#include "panel/windows/NavigationTree.h"
#include "panel/windows/PageTable.h"

#include <QBoxLayout>
#include <QCoreApplication>
#include <QEvent>

namespace panel {

using View = panel::Selection::View;

namespace {

// Hides the other pages when a page of its own is shown, and the pages of
// their own when the group or the pane is (the window's own views take
// turns by themselves).
class PlaceKeeper : public QObject {
public:
    PlaceKeeper(QList<QWidget*> views, QList<QWidget*> own) : views_(std::move(views)), own_(std::move(own))
    {
        for (QWidget* page : views_ + own_)
            page->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::Show && !event->spontaneous()) {
            const bool own = own_.contains(watched);
            for (QWidget* page : own ? views_ + own_ : own_)
                if (page != watched)
                    page->hide();
        }
        return QObject::eventFilter(watched, event);
    }

private:
    QList<QWidget*> views_;
    QList<QWidget*> own_;
};

}  // namespace

Pages::Pages(PanelCore& core, NavigationTree* tree, GroupView* group, ApplicationPane* pane, QBoxLayout* column)
    : core_(core), tree_(tree), group_(group), pane_(pane)
{
    QList<QWidget*> own;
    for (const PageRow& row : PageTable()) {
        if (!row.factory)
            continue;
        QWidget* page = row.factory(core_, column->parentWidget());
        page->hide();
        column->addWidget(page, 1);
        own_.insert(row.key, page);
        own << page;
    }
    placeKeeper_ = std::make_unique<PlaceKeeper>(QList<QWidget*> {group_, pane_}, own);
}

Pages::~Pages() = default;

QWidget* Pages::Page(const std::string& key) const { return own_.value(QString::fromStdString(key)); }

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
        ShowLog("Log4", QCoreApplication::translate("panel::NavigationTree", FindPage(u"Log4")->title));
}

void Pages::ShowPage(const std::string& key)
{
    tree_->Select(tree_->FindNode(QString::fromStdString(key)));
    if (QWidget* page = Page(key))
        page->show();
}

void Pages::ShowNode(QTreeWidgetItem* node)
{
    if (QWidget* page = own_.value(NavigationTree::NodeKey(node))) {
        page->show();
        return;
    }
    const std::optional<panel::Selection> selection = NavigationTree::SelectionOf(node);
    if (!selection)
        return;
    if (selection->view == View::kGroup) {
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
