#include "panel/windows/LogView.h"

#include "gui/LocalTime.h"
#include "os/Files.h"
#include "os/Processes.h"
#include "panel/widgets/WindowTools.h"
#include "rules/RulesFormat.h"

#include <QApplication>
#include <QContextMenuEvent>
#include <QHeaderView>
#include <QKeyEvent>
#include <QMenu>
#include <QSignalBlocker>

#include <cstdlib>

namespace panel {

namespace {

constexpr int kRowRole = Qt::UserRole + 1; // the row's place in the rows shown
constexpr int kSortKeyRole = Qt::UserRole + 3;
constexpr int kDateColumn = 1;
constexpr int kAddressColumn = 4;

// A log row: its address column sorts by address, its date by when it was
// written (not by its text, which is in the user's locale), the others as
// text.
class LogItem : public QTreeWidgetItem {
public:
    using QTreeWidgetItem::QTreeWidgetItem;
    bool operator<(const QTreeWidgetItem& other) const override
    {
        const int column = treeWidget() ? treeWidget()->sortColumn() : 0;
        if (column == kAddressColumn)
            return data(kAddressColumn, kSortKeyRole).toString() < other.data(kAddressColumn, kSortKeyRole).toString();
        if (column == kDateColumn) {
            // By when it was written; records of one second, as they were written.
            const qlonglong when = data(kDateColumn, kSortKeyRole).toLongLong();
            const qlonglong otherWhen = other.data(kDateColumn, kSortKeyRole).toLongLong();
            return when != otherWhen ? when < otherWhen : data(0, kRowRole).toInt() > other.data(0, kRowRole).toInt();
        }
        return QTreeWidgetItem::operator<(other);
    }
};

}  // namespace

LogView::LogView(QWidget* parent) : QTreeWidget(parent), reader_(std::make_unique<panel::LogReader>())
{
    setObjectName("LogListView");
    setRootIsDecorated(false);
    setAlternatingRowColors(true);
    setUniformRowHeights(true);
    panel::MatchAlternateRows(this);
    header()->setSectionsClickable(true);
    header()->setStretchLastSection(true);
    connect(header(), &QHeaderView::sectionClicked, this, [this](int column) { panel::SortList(this, column + 1, 0); });
    rowMenu_ = panel::Named(new QMenu(this), "LogRowMenu");
    makeRule_ = rowMenu_->addAction(tr("Make a &rule from this..."));
    makeRule_->setObjectName("MakeRuleFromLog");
    connect(makeRule_, &QAction::triggered, this, &LogView::MakeRuleRequested);
    addProgram_ = rowMenu_->addAction(tr("&Add the program"));
    addProgram_->setObjectName("AddProgramFromLog");
    connect(addProgram_, &QAction::triggered, this, &LogView::AddProgramRequested);
    // In place of both on a system service's row, whose rules are the machine's.
    machineRow_ = rowMenu_->addAction(tr("A system service: its rules are set on the Protection page"));
    machineRow_->setObjectName("MachineRowFromLog");
    machineRow_->setEnabled(false);
}

void LogView::changeEvent(QEvent* event)
{
    QTreeWidget::changeEvent(event);
    if (event->type() == QEvent::PaletteChange)
        panel::MatchAlternateRows(this);
}

void LogView::contextMenuEvent(QContextMenuEvent* event)
{
    // From the keyboard the menu is for the current row, beside it.
    const bool keyboard = event->reason() == QContextMenuEvent::Keyboard;
    QTreeWidgetItem* row = keyboard ? currentItem() : itemAt(event->pos());
    if (!row)
        return;
    const QPoint at = keyboard ? viewport()->mapToGlobal(visualItemRect(row).center()) : event->globalPos();
    PopUpRowMenu(row, at);
    event->accept();
}

void LogView::keyPressEvent(QKeyEvent* event)
{
    // Shift+F10 opens the menu as the Menu key does.
    if (event->key() == Qt::Key_F10 && event->modifiers() == Qt::ShiftModifier) {
        if (QTreeWidgetItem* row = currentItem()) {
            scrollToItem(row);
            PopUpRowMenu(row, viewport()->mapToGlobal(visualItemRect(row).center()));
        }
        event->accept();
        return;
    }
    QTreeWidget::keyPressEvent(event);
}

void LogView::PopUpRowMenu(QTreeWidgetItem* row, const QPoint& globalPosition)
{
    setCurrentItem(row);
    // Adding only for a program that has no entry yet.
    const auto selected = SelectedRow();
    const bool machine = selected && selected->machine;
    const std::string path = selected ? rules::rules_format::CleanCarrierPath(selected->path) : std::string();
    makeRule_->setVisible(!machine);
    addProgram_->setVisible(!machine && !(HasEntry && HasEntry(rules::rules_format::CarrierExeName(path), path)));
    machineRow_->setVisible(machine);
    rowMenu_->popup(globalPosition);
}

void LogView::Open(const std::string& key, const Source& source, const panel::LogFilter& filter)
{
    key_ = key;
    source_ = source;
    filter_ = filter;
    shownKey_.clear();
    shownRows_.clear();
    clear();
    setColumnCount(0);
    const bool outgoing = key == "Log2" || key == "Log4";
    // After the documented columns, why it was decided so and the host name
    // the program looked up.
    setHeaderLabels({tr("ID"), tr("Date"), tr("Application"), tr("Protocol"), tr("Ip"),
                     outgoing ? tr("Remote port") : tr("Local port"), tr("Reason"), tr("Host")});
    setColumnHidden(0, true);
    Fill();
}

void LogView::Refresh(const Source& source)
{
    source_ = source;
    if (!key_.empty())
        Fill();
}

void LogView::SetFilter(const panel::LogFilter& filter)
{
    if (filter.dayFile == filter_.dayFile && filter.search == filter_.search)
        return;
    filter_ = filter;
    if (!key_.empty())
        Fill();
}

void LogView::Fill()
{
    if (key_.rfind("Log", 0) != 0 || key_.size() != 4)
        return;
    QApplication::setOverrideCursor(Qt::WaitCursor);
    const auto text = os::ReadFile(source_.portsFile, 1 << 20);
    const panel::PortNames ports = panel::PortNames::FromText(text.value_or(std::string()));
    std::vector<panel::LogRow> rows
        = reader_->FillLogView(source_.folder, key_, source_.showServices, ports, source_.serviceManager, filter_,
                                 source_.servicesFolder);
    if (key_ == shownKey_ && rows == shownRows_) {
        QApplication::restoreOverrideCursor();
        return;
    }
    const QSignalBlocker quiet(this);
    setUpdatesEnabled(false);
    clear();
    QList<QTreeWidgetItem*> items;
    items.reserve(static_cast<int>(rows.size()));
    for (size_t i = 0; i < rows.size(); ++i) {
        const panel::LogRow& row = rows[i];
        // In the user's locale; a record whose date cannot be read, as stored.
        const QString when = row.dated ? gui::ShortDateTime(row.when) : QString::fromStdString(row.dateTime);
        auto* item = new LogItem(QStringList {QString::fromStdString(row.number), when,
                                          QString::fromStdString(row.ShownApplication()), QString::fromStdString(row.protocol),
                                          QString::fromStdString(row.ip), QString::fromStdString(row.port),
                                          QString::fromStdString(row.reason), QString::fromStdString(row.host)});
        item->setData(0, kRowRole, static_cast<int>(i));
        item->setData(kAddressColumn, kSortKeyRole, QString::fromStdString(panel::AddressSortKey(row.ip)));
        item->setData(kDateColumn, kSortKeyRole, static_cast<qlonglong>(row.when));
        items << item;
    }
    addTopLevelItems(items);
    // Rows come newest first; a column the user sorted by stays sorted.
    panel::SortAsBefore(this);
    // Columns as wide as what they show (Qt looks at the first thousand
    // rows), the host's too, so that scrolling reaches its end; the host
    // column takes what room is left.
    for (int column = 1; column < columnCount(); ++column)
        resizeColumnToContents(column);
    setUpdatesEnabled(true);
    shownKey_ = key_;
    shownRows_ = std::move(rows);
    QApplication::restoreOverrideCursor();
}

std::optional<panel::LogRow> LogView::SelectedRow() const
{
    const QTreeWidgetItem* row = currentItem();
    if (!row)
        return std::nullopt;
    const int index = row->data(0, kRowRole).toInt();
    if (index < 0 || static_cast<size_t>(index) >= shownRows_.size())
        return std::nullopt;
    return shownRows_[static_cast<size_t>(index)];
}

}  // namespace panel
