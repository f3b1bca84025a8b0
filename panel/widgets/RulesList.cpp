#include "panel/widgets/RulesList.h"

#include "panel/core/RuleDescription.h"
#include "panel/widgets/WindowTools.h"

#include <QContextMenuEvent>
#include <QHeaderView>
#include <QKeyEvent>
#include <QMenu>
#include <QSignalBlocker>

namespace panel {

namespace {

constexpr int kRuleRole = Qt::UserRole;

}  // namespace

RulesList::RulesList(QWidget* parent) : QTreeWidget(parent)
{
    setObjectName("MainListView");
    setRootIsDecorated(false);
    setHeaderLabels({tr("Rule No."), tr("Rule Name."), tr("Rule description")});
    // Every other row a shade off the list's own background: a theme that
    // sets no alternate colour would give a white row on a dark list.
    QPalette colours = palette();
    const QColor base = colours.color(QPalette::Base);
    const QColor text = colours.color(QPalette::Text);
    colours.setColor(QPalette::AlternateBase,
                     QColor::fromRgbF(base.redF() * 0.94f + text.redF() * 0.06f, base.greenF() * 0.94f + text.greenF() * 0.06f,
                                      base.blueF() * 0.94f + text.blueF() * 0.06f));
    setPalette(colours);
    setColumnWidth(0, 70);
    setColumnWidth(1, 150);
    header()->setSectionsClickable(true);
    connect(header(), &QHeaderView::sectionClicked, this, [this](int column) { panel::SortList(this, column + 1, 0); });
    connect(this, &QTreeWidget::itemChanged, this, [this](QTreeWidgetItem* row, int column) {
        if (column != 0 || RuleOf(row) < 0)
            return;
        const bool on = row->checkState(0) == Qt::Checked;
        {
            const QSignalBlocker quiet(this);
            ShowState(row, on);
        }
        emit Switched(RuleOf(row), on);
    });
    // A click makes the row current as the keyboard does: one row the commands act on.
    connect(this, &QTreeWidget::itemClicked, this, [this](QTreeWidgetItem* row) { setCurrentItem(row); });
    connect(this, &QTreeWidget::itemDoubleClicked, this, [this](QTreeWidgetItem* row) {
        if (RuleOf(row) >= 0)
            emit EditRequested(RuleOf(row));
    });
    menu_ = new QMenu(this);
    edit_ = menu_->addAction(tr("&Edit rule"), this, [this] {
        if (CurrentRule() >= 0)
            emit EditRequested(CurrentRule());
    });
}

void RulesList::keyPressEvent(QKeyEvent* event)
{
    const bool plain = event->modifiers() == Qt::NoModifier || event->modifiers() == Qt::KeypadModifier;
    if ((event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) && plain && CurrentRule() >= 0) {
        emit EditRequested(CurrentRule());
        return;
    }
    // Shift+F10 is the Menu key of keyboards without one.
    if ((event->key() == Qt::Key_F10 && event->modifiers() == Qt::ShiftModifier)
        || (event->key() == Qt::Key_Menu && plain)) {
        const QRect row = visualItemRect(currentItem());
        QContextMenuEvent menu(QContextMenuEvent::Keyboard, row.isValid() ? row.center() : QPoint(), QPoint());
        contextMenuEvent(&menu);
        return;
    }
    QTreeWidget::keyPressEvent(event);
}

void RulesList::contextMenuEvent(QContextMenuEvent* event)
{
    // By keyboard the menu is the current row's; by the mouse the row under it becomes current.
    const bool keyboard = event->reason() == QContextMenuEvent::Keyboard;
    if (!keyboard)
        if (QTreeWidgetItem* row = itemAt(event->pos()))
            setCurrentItem(row);
    QPoint at = event->pos();
    if (keyboard)
        at = currentItem() ? visualItemRect(currentItem()).center() : QPoint(0, 0);
    edit_->setEnabled(CurrentRule() >= 0);
    menu_->popup(viewport()->mapToGlobal(at));
    event->accept();
}

bool RulesList::Show(const rules::Application* app)
{
    const QSignalBlocker quiet(this);
    clear();
    if (!app)
        return false;
    bool listed = false;
    for (size_t i = 0; i < app->rules.size(); ++i) {
        const rules::Rule& rule = app->rules[i];
        if (!rule.listed)
            continue; // not listed, but counted
        auto* row = new QTreeWidgetItem(this);
        row->setText(0, QString::number(i + 1));
        row->setData(0, kRuleRole, static_cast<int>(i));
        row->setText(1, QString::fromStdString(rule.name));
        row->setText(2, QString::fromStdString(panel::RuleDescription(rule)));
        row->setToolTip(2, row->text(2));
        row->setFlags(row->flags() | Qt::ItemIsUserCheckable);
        ShowState(row, rule.inForce.value_or(false));
        listed = true;
    }
    return listed;
}

int RulesList::RuleOf(const QTreeWidgetItem* row)
{
    return row && row->data(0, kRuleRole).isValid() ? row->data(0, kRuleRole).toInt() : -1;
}

void RulesList::SelectRule(int rule)
{
    for (int i = 0; i < topLevelItemCount(); ++i)
        if (RuleOf(topLevelItem(i)) == rule)
            setCurrentItem(topLevelItem(i));
}

void RulesList::ShowState(QTreeWidgetItem* row, bool inForce)
{
    row->setCheckState(0, inForce ? Qt::Checked : Qt::Unchecked);
    QFont font = row->font(0);
    font.setBold(inForce);
    for (int column = 0; column < 3; ++column) {
        row->setFont(column, font);
        // A rule in force in blue, one switched off in the list's own text colour.
        if (inForce)
            row->setForeground(column, panel::Readable(QColor(0, 0, 255), row->treeWidget() ? row->treeWidget()->palette().color(QPalette::Base) : QColor(Qt::white)));
        else
            row->setData(column, Qt::ForegroundRole, QVariant());
    }
}

}  // namespace panel
