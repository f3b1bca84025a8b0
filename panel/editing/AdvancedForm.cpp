#include "editing/AdvancedForm.h"

#include "gui/Art.h"
#include "settings/GeneralMdl.h"
#include "settings/SaveChanges.h"
#include "windows/FormTools.h"
#include "windows/MainForm.h"
#include "windows/WindowTools.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QStyle>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace {

using panel::Named;

}  // namespace

AdvancedForm::AdvancedForm(MainForm& main, QWidget* parent) : QDialog(parent), main_(main)
{
    setObjectName("AdvancedForm");
    setWindowTitle("  Advanced application permission");
    setModal(true);
    auto* layout = new QVBoxLayout(this);
    auto* head = new QHBoxLayout;
    AppIcon = Named(new QLabel(this), "AppIcon");
    AppIcon->setFixedSize(32, 32);
    AppName = Named(new QLabel(this), "AppName");
    AppName->setTextFormat(Qt::PlainText);
    QFont bold = AppName->font();
    bold.setBold(true);
    AppName->setFont(bold);
    head->addWidget(AppIcon);
    head->addWidget(AppName, 1);
    layout->addLayout(head);

    Frame5 = Named(new QGroupBox("  Default application permission  ", this), "Frame5");
    auto* grid = new QGridLayout(Frame5);
    Label3 = Named(new QLabel("Allow          Ask           Block", Frame5), "Label3");
    Label1 = Named(new QLabel("Incoming network permission :", Frame5), "Label1");
    Label2 = Named(new QLabel("Outgoing network permission :", Frame5), "Label2");
    grid->addWidget(Label3, 0, 1, 1, 3);
    grid->addWidget(Label1, 1, 0);
    grid->addWidget(Label2, 2, 0);
    auto* inGroup = new QButtonGroup(this);
    auto* outGroup = new QButtonGroup(this);
    int column = 1;
    for (auto [button, name] : {std::pair {&InAllow, "InAllow"}, {&InAsk, "InAsk"}, {&InBlock, "InBlock"}}) {
        *button = Named(new QRadioButton(Frame5), name);
        inGroup->addButton(*button);
        grid->addWidget(*button, 1, column++);
    }
    column = 1;
    for (auto [button, name] : {std::pair {&OutAllow, "OutAllow"}, {&OutAsk, "OutAsk"}, {&OutBlock, "OutBlock"}}) {
        *button = Named(new QRadioButton(Frame5), name);
        outGroup->addButton(*button);
        grid->addWidget(*button, 2, column++);
    }
    grid->setColumnStretch(4, 1);
    auto* check = new QHBoxLayout;
    ApplyCustomCheck = Named(new QCheckBox(Frame5), "ApplyCustomCheck");
    Label4 = Named(new QLabel("Use system rules", Frame5), "Label4");
    check->addWidget(ApplyCustomCheck);
    check->addWidget(Label4);
    check->addStretch(1);
    grid->addLayout(check, 3, 0, 1, 5);
    layout->addWidget(Frame5);

    auto* rules = Named(new QGroupBox(this), "Frame4");
    auto* rulesLayout = new QGridLayout(rules);
    MainListView = Named(new QTreeWidget(rules), "MainListView");
    MainListView->setRootIsDecorated(false);
    MainListView->setHeaderLabels({"Rule No.", "Rule Name.", "Rule description"});
    MainListView->setColumnWidth(0, 70);
    MainListView->setColumnWidth(1, 150);
    MainListView->setMinimumSize(560, 200);
    MainListView->header()->setStretchLastSection(true);
    rulesLayout->addWidget(MainListView, 0, 0, 4, 1);
    MoveUpCmd = Named(new QPushButton(style()->standardIcon(QStyle::SP_ArrowUp), QString(), rules), "MoveUpCmd");
    MoveDownCmd = Named(new QPushButton(style()->standardIcon(QStyle::SP_ArrowDown), QString(), rules), "MoveDownCmd");
    MoveUpCmd->setToolTip("Move the rule up");
    MoveDownCmd->setToolTip("Move the rule down");
    rulesLayout->addWidget(MoveUpCmd, 0, 1);
    rulesLayout->addWidget(MoveDownCmd, 1, 1);
    auto* ruleButtons = new QHBoxLayout;
    AddRuleBtn = Named(new QPushButton("Add rule", rules), "AddRuleBtn");
    EditRuleBtn = Named(new QPushButton("Edit rule", rules), "EditRuleBtn");
    DelRuleBtn = Named(new QPushButton("Remove rule", rules), "DelRuleBtn");
    for (QPushButton* button : {AddRuleBtn, EditRuleBtn, DelRuleBtn})
        ruleButtons->addWidget(button);
    ruleButtons->addStretch(1);
    rulesLayout->addLayout(ruleButtons, 4, 0, 1, 2);
    layout->addWidget(rules, 1);

    auto* buttons = new QHBoxLayout;
    CmdOk = Named(new QPushButton("OK", this), "CmdOk");
    CmdCancel = Named(new QPushButton("Cancel", this), "CmdCancel");
    CmdOk->setDefault(true);
    buttons->addStretch(1);
    buttons->addWidget(CmdOk);
    buttons->addWidget(CmdCancel);
    layout->addLayout(buttons);

    connect(ApplyCustomCheck, &QCheckBox::clicked, this, &AdvancedForm::ApplyCustomCheck_Click);
    connect(inGroup, &QButtonGroup::buttonClicked, this, [this] { PermissionButton_Click("IN"); });
    connect(outGroup, &QButtonGroup::buttonClicked, this, [this] { PermissionButton_Click("OUT"); });
    connect(MainListView, &QTreeWidget::itemClicked, this, &AdvancedForm::MainListView_Click);
    connect(MainListView, &QTreeWidget::itemDoubleClicked, this, [this](QTreeWidgetItem* row) {
        MainListView_Click(row);
        EditRuleBtn_Click();
    });
    connect(MainListView, &QTreeWidget::itemChanged, this, [this](QTreeWidgetItem* row, int changed) {
        if (changed == 0)
            main_.MainListView_ItemCheck(row);
    });
    connect(MainListView->header(), &QHeaderView::sectionClicked, this,
            [this](int section) { panel::SortMainListView(section + 1, 0, this); });
    connect(MoveUpCmd, &QPushButton::clicked, this, &AdvancedForm::MoveUpCmd_Click);
    connect(MoveDownCmd, &QPushButton::clicked, this, &AdvancedForm::MoveDownCmd_Click);
    connect(AddRuleBtn, &QPushButton::clicked, this, &AdvancedForm::AddRuleBtn_Click);
    connect(EditRuleBtn, &QPushButton::clicked, this, &AdvancedForm::EditRuleBtn_Click);
    connect(DelRuleBtn, &QPushButton::clicked, this, &AdvancedForm::DelRuleBtn_Click);
    connect(CmdOk, &QPushButton::clicked, this, &AdvancedForm::CmdOk_Click);
    connect(CmdCancel, &QPushButton::clicked, this, &AdvancedForm::CmdCancel_Click);
}

void AdvancedForm::Prepare(int mode, const std::string& name)
{
    panel::PanelState& state = main_.State();
    mode_ = mode;
    exeName_ = mode == 0 ? state.AppConsts.GENERAL_APP : state.CurrBuffer.GetExeName(name);
    if (!exeName_.empty())
        if (const panel::AppRecord app = state.CurrBuffer.GetAppFromBuffer(exeName_))
            savedApp_ = panel::AppBuffer::CopyApp(*app);
    // The rules the window shows are the ones it changes: the main window's
    // list operations fill this window while it is open.
    main_.SetCurrentForm(this);
    if (mode == 0) {
        setWindowTitle("  Advanced system settings permission");
        Frame5->setTitle("  Advanced system permission");
        Label4->setText("Apply custom settings");
        AppIcon->setPixmap(art::ComputerIcon(32));
        AppName->setText("System settings");
        const bool normal = state.Settings.SecurityMode == state.AppConsts.NormalSec;
        {
            const QSignalBlocker quiet(ApplyCustomCheck);
            ApplyCustomCheck->setChecked(!normal);
        }
        if (!normal)
            setWindowTitle("  Advanced application permission");
        EnableDefaults(!normal);
    } else {
        Label4->setText("Apply system rules");
        Frame5->setTitle("  Default application permission  ");
        EnableDefaults(true);
    }
    Refill();
    resize(sizeHint().expandedTo(QSize(700, 560)));
    panel::CenterForm(this);
}

void AdvancedForm::SetAdvancedForm(int mode, const std::string& name)
{
    Prepare(mode, name);
    exec();
}

void AdvancedForm::Refill()
{
    main_.ReadSelectedNode(exeName_, mode_ == 0 ? "General" : "Applications", this, exeName_);
    selectedRule_ = 0;
}

void AdvancedForm::EnableDefaults(bool on)
{
    for (QWidget* widget : std::initializer_list<QWidget*> {InAllow, InAsk, InBlock, OutAllow, OutAsk, OutBlock, Label1,
                                                            Label2, Label3})
        widget->setEnabled(on);
}

void AdvancedForm::ApplyCustomCheck_Click()
{
    if (!main_.ApplyCustomCheckChangedByUser)
        return;
    panel::PanelState& state = main_.State();
    if (mode_ == 0) {
        EnableDefaults(ApplyCustomCheck->isChecked());
        return;
    }
    const panel::AppRecord app = state.CurrBuffer.GetAppFromBuffer(exeName_);
    if (!app)
        return;
    if (ApplyCustomCheck->isChecked()) {
        app->InDef.clear();
        app->OutDef.clear();
    } else {
        const bool service = state.CurrBuffer.GetIsService(exeName_) == 1;
        const auto own = [&](const std::string& def) { return service && def == state.AppConsts.ASK ? state.AppConsts.DENY : def; };
        app->InDef = own(state.GenAppInDef);
        app->OutDef = own(state.GenAppOutDef);
    }
    Refill();
}

void AdvancedForm::PermissionButton_Click(const QString& direction)
{
    if (!main_.ButtonchangedByUser) {
        main_.ButtonchangedByUser = true;
        return;
    }
    if (mode_ == 1) {
        main_.ApplyCustomCheckChangedByUser = false;
        {
            const QSignalBlocker quiet(ApplyCustomCheck);
            ApplyCustomCheck->setChecked(false);
        }
        main_.ApplyCustomCheckChangedByUser = true;
        const QString other = direction == "IN" ? "Out" : "In";
        const std::string def = panel::SetPermissionAfterSystemSettings(
            main_.State(), direction.toStdString(), panel::ChosenDefault(this, other), exeName_);
        if (!def.empty())
            panel::SelectDefault(this, other, def);
    }
}

void AdvancedForm::MainListView_Click(QTreeWidgetItem* row)
{
    if (row && row->data(0, Qt::UserRole).isValid())
        selectedRule_ = row->data(0, Qt::UserRole).toInt();
}

void AdvancedForm::Move(int by)
{
    const panel::AppRecord app = main_.State().CurrBuffer.GetAppFromBuffer(exeName_);
    if (!app || selectedRule_ == 0)
        return;
    const int to = selectedRule_ + by;
    if (to < 1 || static_cast<size_t>(to) > app->RULES.size())
        return;
    main_.State().CurrBuffer.ReplaceRules(exeName_, selectedRule_, to);
    main_.State().SaveAndLoad();
    panel::PublishChange(main_.State(), exeName_);
    Refill();
    for (int i = 0; i < MainListView->topLevelItemCount(); ++i) {
        QTreeWidgetItem* row = MainListView->topLevelItem(i);
        if (row->data(0, Qt::UserRole).toInt() == to) {
            MainListView->setCurrentItem(row);
            selectedRule_ = to;
        }
    }
}

void AdvancedForm::MoveUpCmd_Click() { Move(-1); }
void AdvancedForm::MoveDownCmd_Click() { Move(1); }

void AdvancedForm::AddRuleBtn_Click()
{
    main_.AddRule(exeName_);
    selectedRule_ = 0;
}

void AdvancedForm::DelRuleBtn_Click()
{
    if (selectedRule_ == 0) {
        panel::ShowMessage(this, "Please select a rule");
        return;
    }
    main_.DeleteRule(selectedRule_, exeName_);
    selectedRule_ = 0;
}

void AdvancedForm::EditRuleBtn_Click()
{
    if (selectedRule_ == 0) {
        panel::ShowMessage(this, "Please select a rule");
        return;
    }
    main_.EditRule(selectedRule_, exeName_);
    selectedRule_ = 0;
}

void AdvancedForm::CmdOk_Click()
{
    panel::PanelState& state = main_.State();
    if (mode_ == 0)
        state.Settings.SecurityMode = ApplyCustomCheck->isChecked() ? state.AppConsts.CustomSec : state.AppConsts.NormalSec;
    const bool clearOwnDefaults = mode_ == 1 && ApplyCustomCheck->isChecked();
    const panel::ChosenDefaults chosen {panel::ChosenDefault(this, "In"), panel::ChosenDefault(this, "Out")};
    panel::SaveNewSettings(state, exeName_, chosen, clearOwnDefaults, main_.SecSlider->value());
    state.SaveAndLoad();
    main_.SetCurrentForm(&main_);
    accept();
}

void AdvancedForm::CmdCancel_Click()
{
    panel::PanelState& state = main_.State();
    if (savedApp_) {
        state.CurrBuffer.DeleteAppFromBuffer(exeName_, 0, 0);
        state.CurrBuffer.AddRuleToBuffer(savedApp_);
        state.SaveAndLoad();
    }
    main_.SetCurrentForm(&main_);
    reject();
}
