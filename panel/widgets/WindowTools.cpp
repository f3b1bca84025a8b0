#include "widgets/WindowTools.h"

#include <QDesktopServices>
#include <QGuiApplication>
#include <QHeaderView>
#include <QLabel>
#include <QMessageBox>
#include <QScreen>
#include <QTreeWidget>
#include <QUrl>

namespace panel {

namespace {

// The column of the previous sort, for all lists together.
int previousSortColumn = 0;

std::function<void(const QString&)>& Sink()
{
    static std::function<void(const QString&)> sink;
    return sink;
}

std::function<bool(const QUrl&)>& Opener()
{
    static std::function<bool(const QUrl&)> opener;
    return opener;
}

}  // namespace

bool OpenUrl(const QUrl& url) { return Opener() ? Opener()(url) : QDesktopServices::openUrl(url); }

void SetUrlOpener(std::function<bool(const QUrl&)> opener) { Opener() = std::move(opener); }

QLabel* PlainLabel(const char* name, const QString& text, QWidget* parent)
{
    auto* label = Named(new QLabel(text, parent), name);
    label->setTextFormat(Qt::PlainText);
    return label;
}

void FitToScreen(QWidget* window, const QSize& least)
{
    QSize size = window->sizeHint().expandedTo(least);
    if (const QScreen* screen = QGuiApplication::primaryScreen())
        size = size.boundedTo(screen->availableGeometry().size() - QSize(16, 48));
    window->resize(size);
}

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

void SortList(QTreeWidget* list, int column, int order)
{
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
    SortAsBefore(list);
}

void SortAsBefore(QTreeWidget* list)
{
    const QVariant column = list->property("sortColumn");
    if (!column.isValid())
        return;
    const auto order = static_cast<Qt::SortOrder>(list->property("sortOrder").toInt());
    list->sortItems(column.toInt(), order);
    list->header()->setSortIndicator(column.toInt(), order);
    list->header()->setSortIndicatorShown(true);
}

void ShowMessage(QWidget* parent, const QString& text)
{
    if (Sink())
        Sink()(text);
    else
        QMessageBox::information(parent, QString(), text);
}

void SetMessageSink(std::function<void(const QString&)> sink) { Sink() = std::move(sink); }

}  // namespace panel
