#pragma once

#include "panel/core/PanelCore.h"
#include "panel/core/Selection.h"
#include "rules/Document.h"

#include <QTreeWidget>

#include <optional>
#include <string>
#include <vector>

namespace panel {

class CoreSignals;

// The main window's navigation: the pages of the page table (the system
// settings, the Protection page, the applications grouped by their
// defaults, the four logs) in its order. A node made
// current by the user (arrow keys, a click, typing its first letters), a
// click on the current node or Return asks the window to show it; the right
// button (or the menu key) asks for a node's menu.
class NavigationTree : public QTreeWidget {
    Q_OBJECT
public:
    // What the right button was pressed on.
    struct MenuTarget {
        enum class Kind { kApplications, kGroup, kProgram };
        Kind kind = Kind::kApplications;
        // The defaults a new application added there gets; none: the general ones.
        std::optional<rules::Permission> defaults;
        std::string program; // kProgram: its name as the rules give it
    };

    explicit NavigationTree(QWidget* parent);

    // The nodes, the applications of the rules in their groups; an
    // application without defaults of its own by the general ones.
    void Load(const rules::Document& document, std::optional<rules::Permission> generalIncoming,
              std::optional<rules::Permission> generalOutgoing);

    // Shows the core's rules as they change (Load, then the shown node made
    // current), from the changes it is told of.
    void Follow(const panel::PanelCore& core, const CoreSignals* changes);

    QTreeWidgetItem* SystemNode() const;
    QTreeWidgetItem* ApplicationNode(const std::string& name) const;
    QTreeWidgetItem* LogNode(const std::string& key) const;
    // A node by its key or, ignoring case, its text; nullptr when none.
    QTreeWidgetItem* FindNode(const QString& keyOrText) const;
    // Makes node the current one, telling nobody.
    void Select(QTreeWidgetItem* node);
    // Selects the node of what selection shows (a program, a log or the
    // system settings); nothing for the other views.
    void SelectShown(const panel::Selection& selection);
    // A node's key (a page's in the page table, an application's name); empty for none.
    static QString NodeKey(const QTreeWidgetItem* node);
    // What a node shows; nothing for a node that shows nothing of its own.
    static std::optional<panel::Selection> SelectionOf(const QTreeWidgetItem* node);

signals:
    void Activated(QTreeWidgetItem* node);
    void MenuRequested(const QPoint& globalPosition, const NavigationTree::MenuTarget& target);

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;

private:
    // A program's node: its group's key, its text, key and path.
    struct Entry {
        const char* group;
        QString text;
        QString key;
        QString path;
        bool operator==(const Entry&) const = default;
    };
    static std::vector<Entry> Entries(const rules::Document& document, std::optional<rules::Permission> in,
                                      std::optional<rules::Permission> out);
    void Build(std::vector<Entry> entries);
    void AddApplications(QTreeWidgetItem* applications, std::vector<Entry> entries);
    void RequestMenu(const QPoint& at);

    // The programs' nodes as the last load made them; none before the first.
    std::optional<std::vector<Entry>> shown_;

    // The node the press of a click has just shown, so that the click it
    // ends with does not show it a second time.
    QTreeWidgetItem* shownByPress_ = nullptr;
};

}  // namespace panel
