#include "panel/windows/GroupView.h"

#include "gui/ProgramIconDelegate.h"
#include "panel/widgets/TreeImages.h"
#include "panel/widgets/WindowTools.h"

#include <QLabel>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace panel {

namespace {

constexpr int kKeyRole = Qt::UserRole;

}  // namespace

GroupView::GroupView(QWidget* parent) : QWidget(parent)
{
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    heading_ = panel::PlainLabel("Label7", QString(), this);
    QFont heading = heading_->font();
    heading.setBold(true);
    heading.setPointSizeF(heading.pointSizeF() * 1.15);
    heading_->setFont(heading);
    list_ = panel::Named(new QTreeWidget(this), "AppListView");
    list_->setRootIsDecorated(false);
    list_->setIconSize(QSize(16, 16));
    list_->setItemDelegate(new gui::ProgramIconDelegate(list_));
    connect(list_, &QTreeWidget::itemDoubleClicked, this, [this](QTreeWidgetItem* row) {
        if (row)
            emit Opened(row->data(0, kKeyRole).toString().toStdString());
    });
    layout->addWidget(heading_);
    layout->addWidget(list_, 1);
}

void GroupView::Show(const QTreeWidgetItem* group, const rules::Document& document,
                     std::optional<rules::Permission> generalIncoming, std::optional<rules::Permission> generalOutgoing)
{
    QList<const QTreeWidgetItem*> nodes;
    for (int i = 0; i < group->childCount(); ++i) {
        const QTreeWidgetItem* child = group->child(i);
        if (group->parent()) {
            nodes << child;
            continue;
        }
        for (int j = 0; j < child->childCount(); ++j)
            nodes << child->child(j);
    }
    using panel::PermissionImage;
    list_->clear();
    list_->setHeaderLabels({tr("Name"), tr("Incoming"), tr("Outgoing")});
    const int width = list_->viewport()->width();
    list_->setColumnWidth(0, width / 2);
    list_->setColumnWidth(1, width / 4);
    heading_->setText(tr("List of %1").arg(group->text(0)));
    for (const QTreeWidgetItem* node : nodes) {
        const std::string name = node->data(0, kKeyRole).toString().toStdString();
        const rules::Application* app = document.Find(name);
        const std::optional<rules::Permission> in = app && app->incoming ? app->incoming : generalIncoming;
        const std::optional<rules::Permission> out = app && app->outgoing ? app->outgoing : generalOutgoing;
        auto* row = new QTreeWidgetItem(list_);
        row->setText(0, node->text(0));
        row->setIcon(0, node->icon(0));
        row->setData(0, gui::ProgramIconDelegate::kPathRole, node->data(0, gui::ProgramIconDelegate::kPathRole));
        row->setData(0, kKeyRole, node->data(0, kKeyRole));
        row->setText(1, panel::PermissionText(in));
        row->setText(2, panel::PermissionText(out));
        if (const char* image = PermissionImage(in))
            row->setIcon(1, panel::TreeImage(image));
        if (const char* image = PermissionImage(out))
            row->setIcon(2, panel::TreeImage(image));
    }
}

}  // namespace panel
