#pragma once

#include <QHash>
#include <QIcon>
#include <QSet>
#include <QStringList>
#include <QStyledItemDelegate>
#include <QTimer>

class QAbstractItemView;

namespace gui {

// Program icons in an item view, looked up when a row is first drawn: until
// then the row shows the generic program icon. The look-ups (a desktop entry
// and the icon theme each) run a few at a time from the event loop, so that
// a view of thousands of programs opens at once and only the rows that are
// seen cost anything. A row names its program's path in kPathRole of column
// 0; icons are kept for the life of the program, for every view.
class ProgramIconDelegate : public QStyledItemDelegate {
public:
    static constexpr int kPathRole = Qt::UserRole + 7;

    explicit ProgramIconDelegate(QAbstractItemView* view);

    // What a row shows before its program's icon is known.
    static QIcon Placeholder();
    // How many icons were looked up so far, in every view (for tests and benchmarks).
    static int LookUps();

    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override;

protected:
    void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override;

private:
    void LookUpSome();

    QAbstractItemView* view_;
    QTimer* timer_;
    mutable QStringList queue_;
    mutable QSet<QString> queued_;
};

}  // namespace gui
