#pragma once

#include "rules/Document.h"

#include <QWidget>

#include <optional>
#include <string>

class QLabel;
class QTreeWidget;
class QTreeWidgetItem;

namespace panel {

// The applications of a tree group, each with its two defaults (an
// application without defaults of its own shows the general ones). A double
// click opens one.
class GroupView : public QWidget {
    Q_OBJECT
public:
    explicit GroupView(QWidget* parent);

    // Lists the applications of a group node of the tree (every group's, for
    // the node of all applications) under the heading "List of" and its text.
    void Show(const QTreeWidgetItem* group, const rules::Document& document,
              std::optional<rules::Permission> generalIncoming, std::optional<rules::Permission> generalOutgoing);

signals:
    // The user opened the application (its name as the rules give it).
    void Opened(const std::string& name);

private:
    QLabel* heading_;
    QTreeWidget* list_;
};

}  // namespace panel
