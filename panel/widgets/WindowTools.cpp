#include "panel/widgets/WindowTools.h"

#include <cstdlib>

#include "gui/ReadableLook.h"

#include <QColor>
#include <QDesktopServices>
#include <QDialog>
#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QScrollArea>
#include <QVBoxLayout>
#include <QGuiApplication>
#include <QHeaderView>
#include <QLabel>
#include <QMessageBox>
#include <QScreen>
#include <QTreeWidget>
#include <QUrl>

#include <algorithm>
#include <cmath>

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

QLabel* Buddy(QLabel* label, QWidget* field)
{
    label->setBuddy(field);
    return label;
}

void FitToScreen(QWidget* window, const QSize& least)
{
    QSize size = window->sizeHint().expandedTo(least);
    if (const QScreen* screen = QGuiApplication::primaryScreen())
        size = size.boundedTo(screen->availableGeometry().size() - QSize(16, 48));
    window->resize(size);
}

double Contrast(const QColor& a, const QColor& b) { return gui::Contrast(a, b); }

QColor ReadableLink(const QPalette& palette, QPalette::ColorRole background)
{
    const QPalette::ColorRole text = background == QPalette::Base ? QPalette::Text : QPalette::WindowText;
    const bool readable = Contrast(palette.color(QPalette::Link), palette.color(background)) >= 3.0;
    return readable ? palette.color(QPalette::Link) : palette.color(text);
}

QColor Readable(const QColor& colour, const QColor& background) { return gui::WithContrast(colour, background, 4.5); }

void MatchAlternateRows(QWidget* list)
{
    QPalette colours = list->palette();
    for (const auto group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) {
        const QColor base = colours.color(group, QPalette::Base);
        const QColor alternate = colours.color(group, QPalette::AlternateBase);
        if (std::abs(base.lightness() - alternate.lightness()) <= 48)
            continue;
        colours.setColor(group, QPalette::AlternateBase, base.lightness() < 128 ? base.lighter(125) : base.darker(106));
    }
    if (colours != list->palette())
        list->setPalette(colours);
}

QString ReadableStyle(const QWidget* widget, const QColor& colour)
{
    return QString("color: %1;").arg(Readable(colour, widget->palette().color(QPalette::Window)).name());
}

void FitDialog(QDialog* dialog, const QSize& least)
{
    const QScreen* screen = QGuiApplication::primaryScreen();
    QLayout* layout = dialog->layout();
    if (!screen || !layout)
        return;
    // Room for the window manager's frame and title bar.
    const QSize room = screen->availableGeometry().size() - QSize(16, 48);
    QSize smallest = dialog->minimumSizeHint();
    // Wrapped texts count at the width the dialog gets: their own least height is one line.
    if (layout->hasHeightForWidth()) {
        const int width = std::min(std::max(least.width(), dialog->sizeHint().width()), room.width());
        smallest.setHeight(std::max(smallest.height(), layout->totalHeightForWidth(width)));
    }
    if (smallest.width() > room.width() || smallest.height() > room.height()) {
        QDialogButtonBox* buttons = nullptr;
        if (layout->count() > 0)
            buttons = qobject_cast<QDialogButtonBox*>(layout->itemAt(layout->count() - 1)->widget());
        if (buttons)
            layout->removeWidget(buttons);
        // The layout, with its widgets, moves into the scrolled part.
        auto* body = new QWidget;
        body->setLayout(layout);
        auto* scroller = new QScrollArea(dialog);
        scroller->setObjectName("DialogScroller");
        scroller->setWidgetResizable(true);
        scroller->setFrameShape(QFrame::NoFrame);
        scroller->setWidget(body);
        auto* outer = new QVBoxLayout(dialog);
        outer->setContentsMargins(0, 0, 0, 0);
        outer->addWidget(scroller, 1);
        if (buttons) {
            auto* row = new QHBoxLayout;
            row->setContentsMargins(9, 0, 9, 9);
            row->addWidget(buttons);
            outer->addLayout(row);
        }
    }
    dialog->resize(dialog->sizeHint().expandedTo(least).boundedTo(room));
    CenterForm(dialog);
}

QScrollArea* Scrolled(QWidget* parent, QWidget* inside, const char* name)
{
    auto* scroller = Named(new QScrollArea(parent), name);
    scroller->setWidgetResizable(true);
    scroller->setFrameShape(QFrame::NoFrame);
    scroller->setFocusPolicy(Qt::NoFocus);
    scroller->setWidget(inside);
    return scroller;
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
