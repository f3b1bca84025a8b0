#pragma once

#include "panel/core/PanelCore.h"
#include "panel/core/Selection.h"

#include <QHash>
#include <QString>

#include <memory>
#include <optional>
#include <string>

class QBoxLayout;
class QObject;
class QTreeWidgetItem;
class QWidget;

namespace panel {

class ApplicationPane;
class GroupView;
class NavigationTree;

// Which page the main window's right-hand side shows (a group, an
// application, the system settings, a log, or a page of its own such as
// Protection) and the node of the tree that marks it; the core holds the
// selection. The pages of their own are made from the page table into the
// column after the group and the pane; one shown takes the place of the
// others, and gives it back when one of those is shown again.
class Pages {
public:
    Pages(panel::PanelCore& core, NavigationTree* tree, GroupView* group, ApplicationPane* pane, QBoxLayout* column);
    ~Pages();
    Pages(const Pages&) = delete;
    Pages& operator=(const Pages&) = delete;

    // The page of its own of a row of the page table; nullptr when none.
    QWidget* Page(const std::string& key) const;

    // Shows a selection and marks its node.
    void Show(const panel::Selection& selection, const QString& caption);
    void ShowApplication(const std::string& key);
    // An application a flow made or changed, when there is one.
    void ShowAdded(const std::optional<std::string>& key);
    void ShowSystem();
    void ShowLog(const std::string& key, const QString& caption);
    // The blocked outgoing connections, unless a log shows already.
    void ShowSomeLog();
    // A page of its own, and its node.
    void ShowPage(const std::string& key);
    // A node the user made current in the tree.
    void ShowNode(QTreeWidgetItem* node);
    // After the rules were read again: the page shown stays, unless it was
    // of a program the change removed.
    void ShowAgain();

private:
    panel::PanelCore& core_;
    NavigationTree* tree_;
    GroupView* group_;
    ApplicationPane* pane_;
    QHash<QString, QWidget*> own_;
    // Watches the column's pages being shown.
    std::unique_ptr<QObject> placeKeeper_;
};

}  // namespace panel
