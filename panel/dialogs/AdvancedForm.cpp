#include "panel/dialogs/AdvancedForm.h"

#include "gui/Art.h"
#include "gui/ProgramIcon.h"
#include "panel/core/ApplicationEditing.h"
#include "panel/dialogs/RuleEditor.h"
#include "panel/widgets/DefaultsGroup.h"
#include "panel/widgets/DialogButtons.h"
#include "panel/widgets/RulesList.h"
#include "panel/widgets/TreeImages.h"
#include "panel/widgets/WindowTools.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QSignalBlocker>
#include <QStyle>
#include <QVBoxLayout>

namespace panel {

namespace {

using rules::Direction;

}  // namespace

AdvancedForm::AdvancedForm(panel::ApplicationEditing& editing, QWidget* parent) : QDialog(parent), editing_(editing)
{
    setObjectName("AdvancedForm");
    setWindowTitle(tr("  Advanced application permission"));
    setModal(true);
    auto* layout = new QVBoxLayout(this);
    auto* head = new QHBoxLayout;
    icon_ = Named(new QLabel(this), "AppIcon");
    icon_->setFixedSize(32, 32);
    name_ = panel::PlainLabel("AppName", QString(), this);
    QFont bold = name_->font();
    bold.setBold(true);
    name_->setFont(bold);
    head->addWidget(icon_);
    head->addWidget(name_, 1);
    layout->addLayout(head);

    defaults_ = new DefaultsGroup(tr("  Default application permission  "), this);
    auto* check = new QHBoxLayout;
    check_ = Named(new QCheckBox(defaults_), "ApplyCustomCheck");
    checkCaption_ = panel::Buddy(panel::PlainLabel("Label4", tr("Use &system rules"), defaults_), check_);
    check->addWidget(check_);
    check->addWidget(checkCaption_);
    check->addStretch(1);
    defaults_->AddBelow(check);
    layout->addWidget(defaults_);

    auto* rules = Named(new QGroupBox(this), "Frame4");
    auto* rulesLayout = new QGridLayout(rules);
    rules_ = new RulesList(rules);
    rules_->setMinimumSize(560, 200);
    rules_->header()->setStretchLastSection(true);
    rulesLayout->addWidget(rules_, 0, 0, 4, 1);
    auto* up = Named(new QPushButton(style()->standardIcon(QStyle::SP_ArrowUp), QString(), rules), "MoveUpCmd");
    auto* down = Named(new QPushButton(style()->standardIcon(QStyle::SP_ArrowDown), QString(), rules), "MoveDownCmd");
    up->setToolTip(tr("Move the rule up"));
    down->setToolTip(tr("Move the rule down"));
    rulesLayout->addWidget(up, 0, 1);
    rulesLayout->addWidget(down, 1, 1);
    auto* ruleButtons = new QHBoxLayout;
    auto* add = Named(new QPushButton(tr("&Add rule"), rules), "AddRuleBtn");
    edit_ = Named(new QPushButton(tr("&Edit rule"), rules), "EditRuleBtn");
    remove_ = Named(new QPushButton(tr("&Remove rule"), rules), "DelRuleBtn");
    for (QPushButton* button : {add, edit_, remove_})
        ruleButtons->addWidget(button);
    ruleButtons->addStretch(1);
    rulesLayout->addLayout(ruleButtons, 4, 0, 1, 2);
    layout->addWidget(rules, 1);

    AddOkCancel(this, layout, "CmdOk", &AdvancedForm::Accept, "CmdCancel");

    connect(check_, &QCheckBox::clicked, this, &AdvancedForm::FollowSystemClicked);
    connect(defaults_, &DefaultsGroup::Picked, this, [this](Direction direction) { DefaultPicked(static_cast<int>(direction)); });
    connect(rules_, &RulesList::EditRequested, this, [this](int rule) { OpenRuleEditor(rule); });
    rules_->Menu()->addAction(add->text(), this, [this] { OpenRuleEditor(std::nullopt); });
    rules_->Menu()->addAction(remove_->text(), this, &AdvancedForm::RemoveRule);
    connect(rules_, &RulesList::Switched, this, [this](int rule, bool inForce) {
        editing_.SwitchRule(static_cast<size_t>(rule), inForce);
    });
    connect(up, &QPushButton::clicked, this, [this] { Move(-1); });
    connect(down, &QPushButton::clicked, this, [this] { Move(1); });
    connect(add, &QPushButton::clicked, this, [this] { OpenRuleEditor(std::nullopt); });
    connect(edit_, &QPushButton::clicked, this, [this] { OpenRuleEditor(SelectedRule()); });
    connect(remove_, &QPushButton::clicked, this, &AdvancedForm::RemoveRule);

    if (editing_.IsSystem()) {
        setWindowTitle(tr("  Advanced system settings permission"));
        defaults_->setTitle(tr("  Advanced system permission"));
        checkCaption_->setText(tr("Apply &custom settings"));
        icon_->setPixmap(gui::art::ComputerIcon(32));
        name_->setText(tr("System settings"));
        const bool normal = editing_.Settings().Mode == panel::SecurityMode::kNormal;
        check_->setChecked(!normal);
        if (!normal)
            setWindowTitle(tr("  Advanced application permission"));
        defaults_->SetButtonsEnabled(!normal);
    } else {
        checkCaption_->setText(tr("Apply &system rules"));
    }
    Refill();
    panel::FitDialog(this, QSize(700, 560));
}

void AdvancedForm::Refill()
{
    const rules::Application* app = editing_.Application();
    defaults_->SetAskEnabled(!(app && app->service));
    if (app && !app->incoming && !app->outgoing)
        check_->setChecked(true);
    else if (!editing_.IsSystem())
        check_->setChecked(false);
    defaults_->Show(app ? app->incoming : std::nullopt, app ? app->outgoing : std::nullopt);
    if (app && !editing_.IsSystem()) {
        name_->setText(panel::EntryText(*app));
        icon_->setPixmap(gui::ExecutablePixmap(QString::fromStdString(app->path), 32));
    }
    const bool listed = rules_->Show(app);
    edit_->setEnabled(listed);
    remove_->setEnabled(listed);
}

int AdvancedForm::SelectedRule() const { return rules_->CurrentRule(); }

void AdvancedForm::FollowSystemClicked()
{
    if (editing_.IsSystem()) {
        defaults_->SetButtonsEnabled(check_->isChecked());
        return;
    }
    editing_.FollowSystem(check_->isChecked());
    Refill();
}

void AdvancedForm::DefaultPicked(int picked)
{
    if (editing_.IsSystem())
        return;
    check_->setChecked(false);
    const Direction other = static_cast<Direction>(picked) == Direction::kIncoming ? Direction::kOutgoing
                                                                                     : Direction::kIncoming;
    if (!defaults_->Chosen(other))
        defaults_->Show(other, editing_.DefaultToShow(other));
}

void AdvancedForm::Move(int by)
{
    const rules::Application* app = editing_.Application();
    const int from = SelectedRule();
    if (!app || from < 0)
        return;
    const int to = from + by;
    if (to < 0 || static_cast<size_t>(to) >= app->rules.size())
        return;
    editing_.MoveRule(static_cast<size_t>(from), static_cast<size_t>(to));
    Refill();
    rules_->SelectRule(to);
}

std::optional<size_t> EditRule(panel::ApplicationEditing& editing, std::optional<size_t> rule, QWidget* parent)
{
    const rules::Application* app = editing.Application();
    if (!app || (rule && *rule >= app->rules.size()))
        return std::nullopt;
    RuleEditor::Input input;
    input.application = editing.IsSystem() ? panel::NodeText(app->description) : panel::EntryText(*app);
    input.icon = editing.IsSystem() ? gui::art::ComputerIcon(32) : gui::ExecutablePixmap(QString::fromStdString(app->path), 32);
    if (rule)
        input.rule = app->rules[*rule];
    input.portNames = editing.PortNames();
    RuleEditor editor(input, parent);
    if (editor.exec() != QDialog::Accepted || !editing.PutRule(rule, editor.Result()) || !editing.Application())
        return std::nullopt;
    return editing.Application()->rules.size() - 1;
}

void AdvancedForm::OpenRuleEditor(std::optional<int> rule)
{
    if (rule && *rule < 0) {
        panel::ShowMessage(this, tr("Please select a rule"));
        return;
    }
    const std::optional<size_t> put = EditRule(editing_, rule ? std::optional<size_t>(static_cast<size_t>(*rule)) : std::nullopt, this);
    Refill();
    // The keyboard goes on where it was: on the rule edited, or the one it was on.
    rules_->SelectRule(put ? static_cast<int>(*put) : rule.value_or(-1));
}

void AdvancedForm::RemoveRule()
{
    if (SelectedRule() < 0) {
        panel::ShowMessage(this, tr("Please select a rule"));
        return;
    }
    editing_.RemoveRule(static_cast<size_t>(SelectedRule()));
    Refill();
}

void AdvancedForm::Accept()
{
    editing_.Accept(defaults_->Chosen(), check_->isChecked());
    accept();
}

void AdvancedForm::reject()
{
    editing_.Cancel();
    QDialog::reject();
}

}  // namespace panel
