#include "windows/WindowTools.h"

#include <QGuiApplication>
#include <QHeaderView>
#include <QScreen>
#include <QTreeWidget>
#include <QWidget>

namespace panel {

namespace {

// The column of the previous sort, for all windows together.
int previousSortColumn = 0;

}  // namespace

void CenterForm(QWidget* window)
{
    const QScreen* screen = QGuiApplication::primaryScreen();
    if (!window || !screen)
        return;
    const QRect area = screen->availableGeometry();
    QRect frame = window->frameGeometry();
    frame.moveCenter(area.center());
    window->move(frame.topLeft());
}

void SortMainListView(int column, int order, QWidget* window)
{
    auto* list = window ? window->findChild<QTreeWidget*>("MainListView") : nullptr;
    if (!list || column < 1 || column > list->columnCount())
        return;
    // The list's own direction, kept with it.
    Qt::SortOrder direction = list->property("sortOrder").isValid()
        ? static_cast<Qt::SortOrder>(list->property("sortOrder").toInt())
        : Qt::AscendingOrder;
    if (order == 1)
        direction = Qt::AscendingOrder;
    else if (order == 2)
        direction = Qt::DescendingOrder;
    else if (column == previousSortColumn)
        direction = direction == Qt::AscendingOrder ? Qt::DescendingOrder : Qt::AscendingOrder;
    previousSortColumn = column;
    list->setProperty("sortOrder", static_cast<int>(direction));
    list->setProperty("sortColumn", column - 1);
    list->sortItems(column - 1, direction);
    list->header()->setSortIndicator(column - 1, direction);
    list->header()->setSortIndicatorShown(true);
}

}  // namespace panel
