#pragma once

#include "rules/Application.h"

#include <QTreeWidget>

class QMenu;

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
    // The rule of the current row (the one with the focus mark, which is
    // also the selected one); -1 for none.
    int CurrentRule() const { return RuleOf(currentItem()); }
    // The rows' menu (the right button, the Menu key, Shift+F10): "Edit rule"
    // first; a window adds its own commands.
    QMenu* Menu() const { return menu_; }

signals:
    // The user ticked or cleared the box of a rule.
    void Switched(int rule, bool inForce);
    // Return, a double click or the menu's "Edit rule" on a rule.
    void EditRequested(int rule);

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;

private:
    QMenu* menu_;
    QAction* edit_;
    static void ShowState(QTreeWidgetItem* row, bool inForce);
};

}  // namespace panel
