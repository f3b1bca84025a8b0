// The navigation tree: system settings, applications by their defaults, logs.
#include "windows/MainForm.h"

#include "gui/Art.h"
#include "gui/ProgramIconDelegate.h"
#include "settings/GeneralMdl.h"
#include "windows/ProtectionView.h"
#include "windows/RuleText.h"

#include <QCheckBox>
#include <QFrame>
#include <QGroupBox>
#include <QHash>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QTreeWidget>

namespace {

constexpr int kKeyRole = Qt::UserRole;

struct Node {
    const char* text;
    const char* key;
    const char* image;
};

constexpr Node kGroups[] = {
    {"Approved Applications", "PERMIT", "Approve"},
    {"Denied Applications", "DENY", "Deny"},
    {"Combined Applications", "MIXED", "Ask"},
};

constexpr Node kLogs[] = {
    {"Permitted incoming connection", "Log1", "LogIcon"},
    {"Permitted outgoing connection", "Log2", "LogIcon"},
    {"Denied incoming connection", "Log3", "LogIcon"},
    {"Denied outgoing connection", "Log4", "LogIcon"},
};

QTreeWidgetItem* AddNode(QTreeWidgetItem* item, const QString& text, const QString& key, const QIcon& icon)
{
    item->setText(0, text);
    item->setData(0, kKeyRole, key);
    item->setIcon(0, icon);
    return item;
}

void CollectNodes(QTreeWidgetItem* item, std::vector<QTreeWidgetItem*>& nodes)
{
    nodes.push_back(item);
    for (int i = 0; i < item->childCount(); ++i)
        CollectNodes(item->child(i), nodes);
}

std::vector<QTreeWidgetItem*> NodesInTreeOrder(const QTreeWidget* tree)
{
    std::vector<QTreeWidgetItem*> nodes;
    for (int i = 0; i < tree->topLevelItemCount(); ++i)
        CollectNodes(tree->topLevelItem(i), nodes);
    return nodes;
}

}  // namespace

QIcon MainForm::TreeImage(const char* key) const
{
    static QHash<QString, QIcon> images;
    const QString name = key;
    if (auto found = images.find(name); found != images.end())
        return *found;
    QPixmap pixmap;
    if (name == "Approve" || name == "ApproveYellow")
        pixmap = art::StatusIcon(art::Mark::kAllow, 32, name.endsWith("Yellow"));
    else if (name == "Deny" || name == "DenyYellow")
        pixmap = art::StatusIcon(art::Mark::kBlock, 32, name.endsWith("Yellow"));
    else if (name == "Ask" || name == "AskYellow")
        pixmap = art::StatusIcon(art::Mark::kAsk, 32, name.endsWith("Yellow"));
    else if (name == "LogIcon")
        pixmap = art::LogIcon(32);
    else if (name == "Protection")
        pixmap = art::FirewallIcon(32);
    else if (name == "MyComp" || name == "MyComp2")
        pixmap = art::ComputerIcon(32);
    else if (name == "Img3")
        pixmap = art::FolderIcon(32, QColor(150, 170, 200));
    else if (name == "Img1" || name == "Img2")
        pixmap = art::FolderIcon(32, QColor(240, 200, 90));
    else
        pixmap = art::GenericProgramIcon(32);
    return *images.insert(name, QIcon(pixmap));
}

void MainForm::LoadTreeView()
{
    const auto& words = state_.AppConsts;
    const QSignalBlocker quiet(MainTreeView);
    MainTreeView->clear();
    AddNode(new QTreeWidgetItem(MainTreeView), "System settings", "Sys", TreeImage("MyComp2"));
    AddNode(new QTreeWidgetItem(MainTreeView), "Protection", "Protection", TreeImage("Protection"));
    QTreeWidgetItem* applications = AddNode(new QTreeWidgetItem(MainTreeView), "Applications", "App", TreeImage("Img2"));
    QHash<QString, QTreeWidgetItem*> groups;
    for (const Node& group : kGroups)
        groups.insert(group.key, AddNode(new QTreeWidgetItem(applications), group.text, group.key, TreeImage(group.image)));
    applications->setExpanded(true);

    for (const panel::AppRecord& app : state_.CurrBuffer.AllRules) {
        if (app->ExeName.empty() || app->ExeName == words.GENERAL_APP)
            continue;
        std::string in = app->InDef;
        std::string out = app->OutDef;
        if (in.empty() && out.empty()) {
            in = state_.GenAppInDef;
            out = state_.GenAppOutDef;
        }
        QString group;
        if (in != words.ASK && in == out) {
            if (in == words.PERMIT || in == words.DENY)
                group = QString::fromStdString(in);
            else
                continue; // defaults the panel does not know: no node
        } else {
            group = QString::fromStdString(words.MIXED);
        }
        // An entry without a description is shown by its name.
        const std::string& shown = app->DescriptionFile.empty() ? app->ExeName : app->DescriptionFile;
        // The program's own icon comes when its node is first drawn.
        QTreeWidgetItem* node = AddNode(new QTreeWidgetItem(groups.value(group)), NodeText(shown),
                                        QString::fromStdString(app->ExeName), gui::ProgramIconDelegate::Placeholder());
        node->setData(0, gui::ProgramIconDelegate::kPathRole, QString::fromStdString(app->AppPath));
    }
    for (QTreeWidgetItem* group : groups)
        group->setExpanded(true);

    QTreeWidgetItem* logs = AddNode(new QTreeWidgetItem(MainTreeView), QString::fromStdString(words.Log_NODE), "Log",
                                    TreeImage("Img3"));
    for (const Node& log : kLogs)
        AddNode(new QTreeWidgetItem(logs), log.text, log.key, TreeImage(log.image));
    logs->setExpanded(true);
}

int MainForm::GetNodeNoByName(const QString& name) const
{
    const QString description = QString::fromStdString(state_.CurrBuffer.GetDesc_ExeName(name.toStdString()));
    const std::vector<QTreeWidgetItem*> nodes = NodesInTreeOrder(MainTreeView);
    for (size_t i = 0; i < nodes.size(); ++i) {
        const QString text = nodes[i]->text(0);
        if (text.compare(name, Qt::CaseInsensitive) == 0
            || (!description.isEmpty() && text.compare(description, Qt::CaseInsensitive) == 0))
            return static_cast<int>(i + 1);
    }
    return 0;
}

QTreeWidgetItem* MainForm::NodeAt(int number) const
{
    const std::vector<QTreeWidgetItem*> nodes = NodesInTreeOrder(MainTreeView);
    return number >= 1 && static_cast<size_t>(number) <= nodes.size() ? nodes[static_cast<size_t>(number - 1)] : nullptr;
}

void MainForm::SelectNodeByName(const std::string& name)
{
    if (QTreeWidgetItem* node = NodeAt(GetNodeNoByName(QString::fromStdString(name)))) {
        const QSignalBlocker quiet(MainTreeView);
        MainTreeView->setCurrentItem(node);
    }
}

void MainForm::MainTreeView_NodeClick(QTreeWidgetItem* node)
{
    if (!node)
        return;
    if (node->data(0, kKeyRole).toString() == "Protection") {
        protection_->show();
        return;
    }
    const QString text = node->text(0);
    if (text == "Logs")
        return;
    if (text == "Applications" || text == "Approved Applications" || text == "Denied Applications"
        || text == "Combined Applications") {
        SetAppListView(text);
        return;
    }
    state_.CurrAppToHandle = text.toStdString();
    state_.SelectedNode = text.toUpper().toStdString();
    // The system settings are their node, not a text: a program may be
    // described as "System Settings" too.
    if (node->data(0, kKeyRole).toString() != "Sys") {
        const QString parent = node->parent() ? node->parent()->text(0) : QString();
        state_.SelectedGroup = parent.toStdString();
        if (parent == "Approved Applications" || parent == "Denied Applications" || parent == "Combined Applications")
            state_.SelectedGroup = "Applications";
    } else {
        state_.SelectedGroup = "General";
        state_.CurrAppToHandle = state_.AppConsts.GENERAL_APP;
    }
    AppName->setText(text);
    state_.CurrKey = node->data(0, kKeyRole).toString().toStdString();
    // An application node is shown by its executable name: the key.
    const std::string name = state_.SelectedGroup == "Applications" ? state_.CurrKey : state_.CurrAppToHandle;
    ReadSelectedNode(state_.SelectedGroup == "Logs" ? text.toStdString() : name, state_.SelectedGroup, this,
                     state_.CurrKey);
}

void MainForm::UpdateListViewData(int view, int direction)
{
    Frame3->show();
    AppListView->hide();
    Label7->hide();
    MainListView->clear();
    ForgetShownLog();
    MainListView->setColumnCount(0);
    const auto show = [](std::initializer_list<QWidget*> widgets, bool visible) {
        for (QWidget* widget : widgets)
            widget->setVisible(visible);
    };
    if (view == 2) {
        show({SystemFrame, Frame2, AppStatFrame, CmdAdvanced, AdditionalRuleNote, BlockActive}, false);
        show({MainListView, ShowServicesCheck, AppName, AppIcon}, true);
        // After the documented columns, the host name the program looked up.
        MainListView->setHeaderLabels({"ID", "Date", "Application", "Protocol", "Ip",
                                       direction == 1 ? "Remote port" : "Local port", "Host"});
        const int width = MainListView->viewport()->width();
        MainListView->setColumnHidden(0, true);
        // "8080(http-alt)" must fit; the host column takes what is left.
        const int widths[] = {0, width / 5, width * 14 / 100, width * 9 / 100, width * 14 / 100, width * 15 / 100};
        for (int column = 1; column < 6; ++column)
            MainListView->setColumnWidth(column, widths[column]);
    } else if (view == 1) {
        show({Frame2, AppStatFrame, CmdAdvanced, AdditionalRuleNote, BlockActive, MainListView}, true);
        show({ShowServicesCheck, SystemFrame}, false);
        CmdAdvanced->setText("Advanced...");
        InAsk->setEnabled(true);
        OutAsk->setEnabled(true);
        MainListView->setHeaderLabels({"Rule No.", "Rule Name.", "Rule description"});
        MainListView->setColumnHidden(0, false);
        MainListView->setColumnWidth(0, 70);
        MainListView->setColumnWidth(1, 150);
    } else {
        show({MainListView, ShowServicesCheck, Frame2, AppStatFrame, BlockActive}, false);
        show({SystemFrame, CmdAdvanced, AdditionalRuleNote}, true);
        AppIcon->setPixmap(TreeImage("MyComp").pixmap(32, 32));
        CmdAdvanced->setText("Advanced...");
    }
}
