#include "gui/ProgramIconDelegate.h"

#include "gui/ProgramIcon.h"

#include <QAbstractItemView>
#include <QElapsedTimer>

namespace gui {

namespace {

constexpr int kIconPixels = 16;
// Each turn of the event loop looks icons up for at most this long.
constexpr int kSliceMs = 8;

QHash<QString, QIcon>& KnownIcons()
{
    static QHash<QString, QIcon> icons;
    return icons;
}

int g_lookUps = 0;

}  // namespace

ProgramIconDelegate::ProgramIconDelegate(QAbstractItemView* view)
    : QStyledItemDelegate(view), view_(view), timer_(new QTimer(this))
{
    timer_->setSingleShot(true);
    timer_->setInterval(0);
    connect(timer_, &QTimer::timeout, this, &ProgramIconDelegate::LookUpSome);
}

QIcon ProgramIconDelegate::Placeholder()
{
    static const QIcon icon(ProgramPixmap(QString(), kIconPixels));
    return icon;
}

int ProgramIconDelegate::LookUps() { return g_lookUps; }

void ProgramIconDelegate::initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const
{
    QStyledItemDelegate::initStyleOption(option, index);
    if (index.column() != 0)
        return;
    const QString path = index.data(kPathRole).toString();
    if (path.isEmpty())
        return;
    if (const auto known = KnownIcons().constFind(path); known != KnownIcons().constEnd())
        option->icon = *known;
}

void ProgramIconDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const
{
    // Only a row that is drawn asks for its icon.
    if (index.column() == 0) {
        const QString path = index.data(kPathRole).toString();
        if (!path.isEmpty() && !KnownIcons().contains(path) && !queued_.contains(path)) {
            queued_.insert(path);
            queue_.append(path);
            timer_->start();
        }
    }
    QStyledItemDelegate::paint(painter, option, index);
}

void ProgramIconDelegate::LookUpSome()
{
    QElapsedTimer slice;
    slice.start();
    bool found = false;
    while (!queue_.isEmpty() && slice.elapsed() < kSliceMs) {
        const QString path = queue_.takeFirst();
        queued_.remove(path);
        if (!KnownIcons().contains(path)) {
            KnownIcons().insert(path, QIcon(ExecutablePixmap(path, kIconPixels)));
            ++g_lookUps;
            found = true;
        }
    }
    if (found)
        view_->viewport()->update();
    if (!queue_.isEmpty())
        timer_->start();
}

}  // namespace gui
