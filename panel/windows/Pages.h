#pragma once

#include "panel/core/PanelCore.h"
#include "panel/core/Selection.h"

#include <QString>

#include <optional>
#include <string>

class QTreeWidgetItem;

namespace panel {

class ApplicationPane;
class GroupView;
class NavigationTree;
class ProtectionView;

// Which page the main window's right-hand side shows (a group, an
// application, the system settings, a log, the Protection page) and the
// node of the tree that marks it; the core holds the selection.
class Pages {
public:
    Pages(panel::PanelCore& core, NavigationTree* tree, GroupView* group, ApplicationPane* pane,
          ProtectionView* protection)
        : core_(core), tree_(tree), group_(group), pane_(pane), protection_(protection)
    {
    }

    // Shows a selection and marks its node.
    void Show(const panel::Selection& selection, const QString& caption);
    void ShowApplication(const std::string& key);
    // An application a flow made or changed, when there is one.
    void ShowAdded(const std::optional<std::string>& key);
    void ShowSystem();
    void ShowLog(const std::string& key, const QString& caption);
    // The blocked outgoing connections, unless a log shows already.
    void ShowSomeLog();
    void ShowProtection();
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
    ProtectionView* protection_;
};

}  // namespace panel
