#pragma once

#include "rules/Application.h"

#include <QTreeWidget>

namespace panel {

// An application's rules as the main window and the advanced window list
// them: the rules it lists (a rule may be kept out of sight), each with its
// position, name and description, and a tick box that switches it on or off.
class RulesList : public QTreeWidget {
    Q_OBJECT
public:
    explicit RulesList(QWidget* parent);

    // Shows the listed rules of app (none: nothing); false when no row is shown.
    bool Show(const rules::Application* app);
    // The rule (0-based) a row shows; -1 for none.
    static int RuleOf(const QTreeWidgetItem* row);
    // Selects the row of the rule.
    void SelectRule(int rule);

signals:
    // The user ticked or cleared the box of a rule.
    void Switched(int rule, bool inForce);

private:
    static void ShowState(QTreeWidgetItem* row, bool inForce);
};

}  // namespace panel
