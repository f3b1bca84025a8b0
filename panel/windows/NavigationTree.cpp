#include "panel/windows/NavigationTree.h"

#include "gui/ProgramIconDelegate.h"
#include "panel/control/CoreSignals.h"
#include "panel/widgets/TreeImages.h"
#include "panel/windows/PageTable.h"

#include <QHash>
#include <QGuiApplication>
#include <QHeaderView>
#include <QKeyEvent>
#include <QSignalBlocker>

#include <utility>

namespace panel {

namespace {

using rules::Permission;

constexpr int kKeyRole = Qt::UserRole;

struct Node {
    const char* text;
    const char* key;
    const char* image;
};

// The groups of applications by their defaults: both permit, both deny, or
// anything else (the defaults a new application made there starts with).
struct Group {
    Node node;
    Permission defaults;
};

// The captions are translated where the nodes are made.
constexpr Group kGroups[] = {
    {{QT_TRANSLATE_NOOP("panel::NavigationTree", "Allowed Applications"), "Approved", "Approve"}, Permission::kPermit},
    {{QT_TRANSLATE_NOOP("panel::NavigationTree", "Blocked Applications"), "Denied", "Deny"}, Permission::kDeny},
    {{QT_TRANSLATE_NOOP("panel::NavigationTree", "Combined Applications"), "Combined", "Ask"}, Permission::kAsk},
};

QTreeWidgetItem* AddNode(QTreeWidgetItem* item, const QString& text, const QString& key, const QIcon& icon)
{
    item->setText(0, text);
    item->setData(0, kKeyRole, key);
    item->setIcon(0, icon);
    return item;
}

QString KeyOf(const QTreeWidgetItem* node) { return node ? node->data(0, kKeyRole).toString() : QString(); }

const Group* GroupByKey(const QString& key)
{
    for (const Group& group : kGroups)
        if (key == group.node.key)
            return &group;
    return nullptr;
}

bool IsGroupKey(const QString& key) { return GroupByKey(key) != nullptr; }

// The group of an application: the same default both ways when it allows or
// blocks, else the combined one; none for defaults the tree does not know.
const char* GroupOf(std::optional<Permission> in, std::optional<Permission> out)
{
    if (in == out && !in)
        return nullptr;
    const Permission both = in == out ? *in : Permission::kAsk;
    for (const Group& group : kGroups)
        if (group.defaults == both)
            return group.node.key;
    return nullptr;
}

template <typename Visit>
void ForEachNode(QTreeWidgetItem* node, const Visit& visit)
{
    visit(node);
    for (int i = 0; i < node->childCount(); ++i)
        ForEachNode(node->child(i), visit);
}

}  // namespace

NavigationTree::NavigationTree(QWidget* parent) : QTreeWidget(parent)
{
    setObjectName("MainTreeView");
    setHeaderHidden(true);
    setIconSize(QSize(16, 16));
    setMinimumWidth(250);
    setItemDelegate(new gui::ProgramIconDelegate(this));
    // Long names scroll rather than being cut.
    header()->setSectionResizeMode(QHeaderView::ResizeToContents);
    header()->setStretchLastSection(false);
    connect(this, &QTreeWidget::currentItemChanged, this, [this](QTreeWidgetItem* node) {
        if (!node)
            return;
        // A press shows the node at once; the click it ends with must not again.
        shownByPress_ = QGuiApplication::mouseButtons() != Qt::NoButton ? node : nullptr;
        emit Activated(node);
    });
    connect(this, &QTreeWidget::itemClicked, this, [this](QTreeWidgetItem* node) {
        if (node != std::exchange(shownByPress_, nullptr))
            emit Activated(node);
    });
    setContextMenuPolicy(Qt::CustomContextMenu);
    connect(this, &QTreeWidget::customContextMenuRequested, this, &NavigationTree::RequestMenu);
}

void NavigationTree::Load(const rules::Document& document, std::optional<Permission> generalIncoming,
                          std::optional<Permission> generalOutgoing)
{
    Build(Entries(document, generalIncoming, generalOutgoing));
}

void NavigationTree::Build(std::vector<Entry> entries)
{
    using panel::TreeImage;
    const QSignalBlocker quiet(this);
    clear();
    // The pages' nodes in the table's order, each under its row's parent;
    // the applications' groups and programs under theirs.
    QHash<QString, QTreeWidgetItem*> pages;
    for (const PageRow& row : PageTable()) {
        QTreeWidgetItem* parent = row.parent ? pages.value(row.parent) : nullptr;
        auto* item = parent ? new QTreeWidgetItem(parent) : new QTreeWidgetItem(this);
        pages.insert(row.key, AddNode(item, tr(row.title), row.key, TreeImage(row.icon)));
        if (QString(row.key) == "App")
            AddApplications(item, std::move(entries));
    }
    for (QTreeWidgetItem* page : pages)
        if (page->childCount() > 0)
            page->setExpanded(true);
}

void NavigationTree::AddApplications(QTreeWidgetItem* applications, std::vector<Entry> entries)
{
    using panel::TreeImage;
    QHash<QString, QTreeWidgetItem*> groups;
    for (const Group& group : kGroups)
        groups.insert(group.node.key, AddNode(new QTreeWidgetItem(applications), tr(group.node.text), group.node.key,
                                              TreeImage(group.node.image)));
    shown_ = std::move(entries);
    for (const Entry& entry : *shown_) {
        // The program's own icon comes when its node is first drawn.
        QTreeWidgetItem* node = AddNode(new QTreeWidgetItem(groups.value(entry.group)), entry.text, entry.key,
                                        gui::ProgramIconDelegate::Placeholder());
        node->setData(0, gui::ProgramIconDelegate::kPathRole, entry.path);
    }
    for (QTreeWidgetItem* group : groups)
        group->setExpanded(true);
}

std::vector<NavigationTree::Entry> NavigationTree::Entries(const rules::Document& document,
                                                          std::optional<Permission> generalIncoming,
                                                          std::optional<Permission> generalOutgoing)
{
    std::vector<Entry> entries;
    for (const rules::Application& app : document.applications) {
        if (!app.name || app.name->empty() || app.IsGeneral())
            continue;
        std::optional<Permission> in = app.incoming;
        std::optional<Permission> out = app.outgoing;
        if (!in && !out) {
            in = generalIncoming;
            out = generalOutgoing;
        }
        const char* group = GroupOf(in, out);
        if (!group)
            continue; // defaults the panel does not know: no node
        entries.push_back({group, panel::EntryText(app), QString::fromStdString(app.Key()),
                           QString::fromStdString(app.path)});
    }
    return entries;
}

void NavigationTree::Follow(const panel::PanelCore& core, const CoreSignals* changes)
{
    // Loaded again only where what it shows changed: a reload opens every
    // group and makes the shown node current again.
    const auto reload = [this, &core] {
        std::vector<Entry> entries = Entries(core.Rules().Document(), core.GeneralDefault(rules::Direction::kIncoming),
                                             core.GeneralDefault(rules::Direction::kOutgoing));
        if (entries == shown_)
            return;
        Build(std::move(entries));
        SelectShown(core.Selected());
    };
    connect(changes, &CoreSignals::ApplicationChanged, this, reload);
    connect(changes, &CoreSignals::RulesReplaced, this, reload);
}

QTreeWidgetItem* NavigationTree::SystemNode() const { return topLevelItemCount() > 0 ? topLevelItem(0) : nullptr; }

QTreeWidgetItem* NavigationTree::ApplicationNode(const std::string& name) const
{
    QTreeWidgetItem* found = nullptr;
    const QString key = QString::fromStdString(name);
    for (int i = 0; i < topLevelItemCount() && !found; ++i)
        ForEachNode(topLevelItem(i), [&](QTreeWidgetItem* node) {
            if (!found && node->parent() && IsGroupKey(KeyOf(node->parent())) && KeyOf(node) == key)
                found = node;
        });
    return found;
}

QTreeWidgetItem* NavigationTree::LogNode(const std::string& key) const
{
    QTreeWidgetItem* found = nullptr;
    for (int i = 0; i < topLevelItemCount() && !found; ++i)
        ForEachNode(topLevelItem(i), [&](QTreeWidgetItem* node) {
            if (!found && KeyOf(node) == QString::fromStdString(key) && KeyOf(node->parent()) == "Log")
                found = node;
        });
    return found;
}

QTreeWidgetItem* NavigationTree::FindNode(const QString& keyOrText) const
{
    if (QTreeWidgetItem* node = ApplicationNode(keyOrText.toStdString()))
        return node;
    QTreeWidgetItem* found = nullptr;
    for (int i = 0; i < topLevelItemCount() && !found; ++i)
        ForEachNode(topLevelItem(i), [&](QTreeWidgetItem* node) {
            if (!found && (KeyOf(node) == keyOrText || node->text(0).compare(keyOrText, Qt::CaseInsensitive) == 0))
                found = node;
        });
    return found;
}

void NavigationTree::SelectShown(const panel::Selection& selection)
{
    using View = panel::Selection::View;
    if (selection.view == View::kApplication)
        Select(ApplicationNode(selection.application));
    else if (selection.view == View::kLog)
        Select(LogNode(selection.logKey));
    else if (selection.view == View::kSystem)
        Select(SystemNode());
}

void NavigationTree::Select(QTreeWidgetItem* node)
{
    if (!node)
        return;
    const QSignalBlocker quiet(this);
    setCurrentItem(node);
}

QString NavigationTree::NodeKey(const QTreeWidgetItem* node) { return KeyOf(node); }

std::optional<panel::Selection> NavigationTree::SelectionOf(const QTreeWidgetItem* node)
{
    if (!node)
        return std::nullopt;
    using View = panel::Selection::View;
    const QString key = KeyOf(node);
    panel::Selection selection;
    if (key == "Sys") {
        selection.view = View::kSystem;
    } else if (key == "Protection") {
        selection.view = View::kProtection;
    } else if (key == "App" || IsGroupKey(key)) {
        selection.view = View::kGroup;
        selection.group = node->text(0).toStdString();
    } else if (node->parent() && IsGroupKey(KeyOf(node->parent()))) {
        selection.view = View::kApplication;
        selection.application = key.toStdString();
    } else if (node->parent() && KeyOf(node->parent()) == "Log") {
        selection.view = View::kLog;
        selection.logKey = key.toStdString();
    } else {
        return std::nullopt; // the logs' root
    }
    return selection;
}

void NavigationTree::mousePressEvent(QMouseEvent* event)
{
    shownByPress_ = nullptr;
    QTreeWidget::mousePressEvent(event);
}

void NavigationTree::keyPressEvent(QKeyEvent* event)
{
    shownByPress_ = nullptr;
    // The menu key and Shift+F10 open the current node's menu where it is.
    const bool menuKey = event->key() == Qt::Key_Menu
        || (event->key() == Qt::Key_F10 && event->modifiers() == Qt::ShiftModifier);
    if (menuKey && currentItem() && contextMenuPolicy() == Qt::CustomContextMenu) {
        RequestMenu(visualItemRect(currentItem()).center());
        return;
    }
    // Return opens the node the keyboard is on, as a click does.
    if ((event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) && currentItem()) {
        emit Activated(currentItem());
        return;
    }
    QTreeWidget::keyPressEvent(event);
}

void NavigationTree::RequestMenu(const QPoint& at)
{
    QTreeWidgetItem* node = itemAt(at);
    if (!node)
        return;
    const QPoint where = viewport()->mapToGlobal(at);
    MenuTarget target;
    if (KeyOf(node) == "App") {
        emit MenuRequested(where, target);
        return;
    }
    const QString groupKey = IsGroupKey(KeyOf(node)) ? KeyOf(node) : KeyOf(node->parent());
    if (!IsGroupKey(groupKey))
        return; // the roots and the logs have no menu
    target.defaults = GroupByKey(groupKey)->defaults;
    if (IsGroupKey(KeyOf(node))) {
        target.kind = MenuTarget::Kind::kGroup;
    } else {
        target.kind = MenuTarget::Kind::kProgram;
        target.program = KeyOf(node).toStdString();
    }
    emit MenuRequested(where, target);
}

}  // namespace panel
