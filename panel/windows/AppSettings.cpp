// The right-hand side of the main window: one application's defaults and
// rules, the system settings, or the applications of a tree group.
#include "windows/MainForm.h"

#include "gui/ProgramIcon.h"
#include "gui/ProgramIconDelegate.h"
#include "settings/GeneralMdl.h"
#include "editing/EditApp_Step4.h"
#include "settings/SaveChanges.h"
#include "windows/FormTools.h"
#include "windows/RuleText.h"
#include "windows/WindowTools.h"

#include <QAbstractButton>
#include <QButtonGroup>
#include <QCheckBox>
#include <QFrame>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalBlocker>
#include <QTreeWidget>

namespace {

constexpr int kKeyRole = Qt::UserRole;

QString DefaultText(const std::string& def)
{
    return def == "PERMIT" ? "Allow" : def == "ASK" ? "Ask" : def == "DENY" ? "Deny" : QString();
}

const char* DefaultImage(const std::string& def)
{
    return def == "PERMIT" ? "Approve" : def == "ASK" ? "Ask" : def == "DENY" ? "Deny" : nullptr;
}

}  // namespace

void MainForm::ReadSelectedNode(const std::string& name, const std::string& view, QWidget* form, const std::string& key)
{
    currentForm_ = form;
    if (form != this) {
        ShowAppRules(name);
        return;
    }
    if (view == "Applications") {
        if (name == state_.AppConsts.GENERAL_APP)
            return;
        state_.SelectedExeName = name;
        UpdateListViewData(1, 0);
        ShowAppRules(name);
    } else if (view == "General") {
        state_.SelectedExeName = state_.AppConsts.GENERAL_APP;
        UpdateListViewData(0, 0);
        CheckSecureMode();
        ShowAppRules(state_.AppConsts.GENERAL_APP);
    } else if (view == "Logs") {
        const int direction = QString::fromStdString(name).contains("OUTGOING", Qt::CaseInsensitive) ? 1 : 2;
        UpdateListViewData(2, direction);
        state_.CurrKey = key;
        FillLogView(key);
    }
}

void MainForm::ShowAppRules(const std::string& exeName)
{
    QWidget* form = currentForm_ ? currentForm_.data() : this;
    auto* list = form->findChild<QTreeWidget*>("MainListView");
    if (!list)
        return;
    const QSignalBlocker quietList(list);
    list->clear();
    ForgetShownLog();
    // Whose rules the list shows: a tick box changes that application's rule.
    list->setProperty("exeName", QString::fromStdString(exeName));
    const panel::AppRecord app = state_.CurrBuffer.GetAppFromBuffer(exeName);
    const bool service = app && state_.CurrBuffer.GetIsService(exeName) == 1;
    for (const char* name : {"InAsk", "OutAsk"})
        if (auto* ask = form->findChild<QRadioButton*>(name))
            ask->setEnabled(!service);

    ButtonchangedByUser = false;
    ApplyCustomCheckChangedByUser = false;
    auto* check = form->findChild<QCheckBox*>("ApplyCustomCheck");
    {
        const QSignalBlocker quietCheck(check);
        const std::string in = app ? app->InDef : std::string();
        const std::string out = app ? app->OutDef : std::string();
        if (app && in.empty() && out.empty())
            check->setChecked(true);
        else if (exeName != state_.AppConsts.GENERAL_APP)
            check->setChecked(false);
        if (form == this)
            state_.ApplySystemRules = check->isChecked();
        panel::SelectDefault(form, "In", in);
        panel::SelectDefault(form, "Out", out);
    }
    ButtonchangedByUser = true;
    ApplyCustomCheckChangedByUser = true;

    if (app && exeName != state_.AppConsts.GENERAL_APP) {
        if (auto* name = form->findChild<QLabel*>("AppName"))
            name->setText(NodeText(app->DescriptionFile.empty() ? app->ExeName : app->DescriptionFile));
        if (auto* icon = form->findChild<QLabel*>("AppIcon"))
            icon->setPixmap(gui::ExecutablePixmap(QString::fromStdString(app->AppPath), 32));
    }
    auto* edit = form->findChild<QPushButton*>("EditRuleBtn");
    auto* remove = form->findChild<QPushButton*>("DelRuleBtn");
    bool listed = false;
    if (app) {
        for (size_t i = 0; i < app->RULES.size(); ++i) {
            const panel::AppRules& rule = *app->RULES[i];
            if (rule.Enable != 1)
                continue; // not listed, but counted
            auto* item = new QTreeWidgetItem(list);
            item->setText(0, QString::number(i + 1));
            item->setData(0, kKeyRole, static_cast<int>(i + 1));
            item->setText(1, QString::fromStdString(rule.RuleName));
            item->setText(2, QString::fromStdString(panel::RuleDescription(rule)));
            item->setToolTip(2, item->text(2));
            item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
            SetStateLook(item, rule.State == "1");
            listed = true;
        }
    }
    if (edit)
        edit->setEnabled(listed);
    if (remove)
        remove->setEnabled(listed);
    const auto status = panel::TextToInteger(state_.Settings.SecurityStatus);
    BlockActive->setText(status && *status == 1 ? "" : "Block all is now active.");
    AdditionalRuleNote->setText(app && !app->RULES.empty() ? "There are additional rules at the advanced mode." : "");
    if (form == this)
        UpdateAppStatistics(exeName);
}

void MainForm::SetStateLook(QTreeWidgetItem* item, bool on)
{
    item->setCheckState(0, on ? Qt::Checked : Qt::Unchecked);
    QFont font = item->font(0);
    font.setBold(on);
    for (int column = 0; column < 3; ++column) {
        item->setFont(column, font);
        item->setForeground(column, on ? QColor(0, 0, 255) : QColor(0, 0, 0));
    }
}

void MainForm::MainListView_ItemCheck(QTreeWidgetItem* item)
{
    const QVariant shown = item->treeWidget()->property("exeName");
    if (!shown.isValid() || (state_.SelectedGroup == "Logs" && item->treeWidget() == MainListView) || !RulesEditable())
        return;
    const std::string name = shown.toString().toStdString();
    const panel::RuleRecord rule = state_.CurrBuffer.ReturnRuleFromApp(name, item->data(0, kKeyRole).toInt());
    if (!rule) {
        panel::WriteErrLog("MainForm : MainListView_ItemCheck", "no such rule of " + name);
        return;
    }
    const bool on = item->checkState(0) == Qt::Checked;
    rule->State = std::string(1, on ? '1' : '0');
    {
        const QSignalBlocker quiet(item->treeWidget());
        SetStateLook(item, on);
    }
    state_.SaveAndLoad();
    panel::PublishChange(state_, name == state_.AppConsts.GENERAL_APP ? name : state_.CurrBuffer.GetExeName(name));
}

void MainForm::AddRule(const std::string& exeName) { OpenRuleEditor(state_.AppConsts.ADD_RULE, 0, exeName); }

void MainForm::EditRule(int position, const std::string& exeName)
{
    OpenRuleEditor(state_.AppConsts.EDIT_RULE, position, exeName);
}

void MainForm::OpenRuleEditor(int mode, int position, const std::string& exeName)
{
    state_.NewAppToAdd = state_.CurrBuffer.GetAppFromBuffer(exeName);
    if (!state_.NewAppToAdd) {
        panel::WriteErrLog(mode == state_.AppConsts.EDIT_RULE ? "AppSettings : EditRule" : "AppSettings : AddRule",
                           exeName + " is not in the rules");
        return;
    }
    EditApp_Step4 editor(*this, currentForm_ ? currentForm_.data() : this);
    editor.FirstSettings(mode, position);
    ShowAppRules(exeName);
}

void MainForm::DeleteRule(int position, const std::string& exeName)
{
    if (state_.CurrBuffer.RemoveRuleFromApp(exeName, position) != panel::AppBuffer::kDone) {
        panel::WriteErrLog("AppSettings : DeleteRule", "no rule " + std::to_string(position) + " of " + exeName);
        return;
    }
    state_.SaveAndLoad();
    panel::PublishChange(state_, state_.CurrBuffer.GetExeName(exeName));
    ShowAppRules(exeName);
}

void MainForm::SetAppListView(const QString& groupText)
{
    AppListView->show();
    Frame3->hide();
    Label7->show();
    AppListView->clear();
    AppListView->setHeaderLabels({"Name", "Incoming", "Outgoing"});
    const int width = AppListView->viewport()->width();
    AppListView->setColumnWidth(0, width / 2);
    AppListView->setColumnWidth(1, width / 4);
    Label7->setText("List of " + groupText);
    QTreeWidgetItem* selected = nullptr;
    for (QTreeWidgetItem* node : MainTreeView->findItems(groupText, Qt::MatchExactly | Qt::MatchRecursive))
        selected = node;
    if (!selected)
        return;
    if (groupText == "Applications") {
        for (int i = 0; i < selected->childCount(); ++i)
            SetAppListViewByDef(selected->child(i));
    } else {
        SetAppListViewByDef(selected);
    }
}

void MainForm::SetAppListViewByDef(QTreeWidgetItem* group)
{
    for (int i = 0; i < group->childCount(); ++i) {
        QTreeWidgetItem* node = group->child(i);
        const std::string exeName = node->data(0, kKeyRole).toString().toStdString();
        std::string in = state_.CurrBuffer.GetExeInDef(exeName);
        std::string out = state_.CurrBuffer.GetExeOutDef(exeName);
        if (in.empty())
            in = state_.GenAppInDef;
        if (out.empty())
            out = state_.GenAppOutDef;
        auto* row = new QTreeWidgetItem(AppListView);
        row->setText(0, node->text(0));
        row->setIcon(0, node->icon(0));
        row->setData(0, gui::ProgramIconDelegate::kPathRole, node->data(0, gui::ProgramIconDelegate::kPathRole));
        row->setData(0, kKeyRole, node->data(0, kKeyRole));
        row->setText(1, DefaultText(in));
        row->setText(2, DefaultText(out));
        if (const char* image = DefaultImage(in))
            row->setIcon(1, TreeImage(image));
        if (const char* image = DefaultImage(out))
            row->setIcon(2, TreeImage(image));
    }
}

void MainForm::AppListView_DblClick(QTreeWidgetItem* item)
{
    if (!item)
        return;
    SelectNodeByName(item->text(0).toStdString());
    MainTreeView_NodeClick(MainTreeView->currentItem());
}
