#include "windows/LogView.h"

#include "widgets/WindowTools.h"
#include "platform/Files.h"
#include "platform/Processes.h"

#include <QApplication>
#include <QHeaderView>
#include <QSignalBlocker>

namespace {

constexpr int kPathRole = Qt::UserRole + 1;
constexpr int kServiceRole = Qt::UserRole + 2;
constexpr int kSortKeyRole = Qt::UserRole + 3;
constexpr int kAddressColumn = 4;

// A log row: its address column sorts by address, not as text.
class LogItem : public QTreeWidgetItem {
public:
    using QTreeWidgetItem::QTreeWidgetItem;
    bool operator<(const QTreeWidgetItem& other) const override
    {
        if (treeWidget() && treeWidget()->sortColumn() == kAddressColumn)
            return data(kAddressColumn, kSortKeyRole).toString() < other.data(kAddressColumn, kSortKeyRole).toString();
        return QTreeWidgetItem::operator<(other);
    }
};

}  // namespace

LogView::LogView(QWidget* parent) : QTreeWidget(parent), reader_(std::make_unique<panel::LogReader>())
{
    setObjectName("LogListView");
    setRootIsDecorated(false);
    setAlternatingRowColors(true);
    header()->setSectionsClickable(true);
    connect(header(), &QHeaderView::sectionClicked, this, [this](int column) { panel::SortList(this, column + 1, 0); });
    setContextMenuPolicy(Qt::CustomContextMenu);
    connect(this, &QTreeWidget::customContextMenuRequested, this, [this](const QPoint& at) {
        QTreeWidgetItem* row = itemAt(at);
        if (!row)
            return;
        setCurrentItem(row);
        // Only for a program that has no entry yet.
        const std::string path = platform::processes::CleanCarrierPath(row->data(0, kPathRole).toString().toStdString());
        if (HasEntry && HasEntry(platform::processes::CarrierExeName(path), path))
            return;
        emit ProgramMenuRequested(viewport()->mapToGlobal(at));
    });
}

void LogView::Open(const std::string& key, const Source& source)
{
    key_ = key;
    shownKey_.clear();
    shownRows_.clear();
    clear();
    setColumnCount(0);
    const bool outgoing = key == "Log2" || key == "Log4";
    // After the documented columns, the host name the program looked up.
    setHeaderLabels({"ID", "Date", "Application", "Protocol", "Ip", outgoing ? "Remote port" : "Local port", "Host"});
    const int width = viewport()->width();
    setColumnHidden(0, true);
    // "8080(http-alt)" must fit; the host column takes what is left.
    const int widths[] = {0, width / 5, width * 14 / 100, width * 9 / 100, width * 14 / 100, width * 15 / 100};
    for (int column = 1; column < 6; ++column)
        setColumnWidth(column, widths[column]);
    Fill(source);
}

void LogView::Refresh(const Source& source)
{
    if (!key_.empty())
        Fill(source);
}

void LogView::Fill(const Source& source)
{
    if (key_.rfind("Log", 0) != 0 || key_.size() != 4)
        return;
    QApplication::setOverrideCursor(Qt::WaitCursor);
    const auto text = platform::ReadFile(source.portsFile, 1 << 20);
    const panel::PortNames ports = panel::PortNames::FromText(text.value_or(std::string()));
    std::vector<panel::LogRow> rows
        = reader_->FillLogView(source.folder, key_, source.showServices, ports, source.serviceManager);
    if (key_ == shownKey_ && rows == shownRows_) {
        QApplication::restoreOverrideCursor();
        return;
    }
    const QSignalBlocker quiet(this);
    setUpdatesEnabled(false);
    clear();
    QList<QTreeWidgetItem*> items;
    items.reserve(static_cast<int>(rows.size()));
    for (const panel::LogRow& row : rows) {
        auto* item = new LogItem(QStringList {QString::fromStdString(row.number), QString::fromStdString(row.dateTime),
                                          QString::fromStdString(row.application), QString::fromStdString(row.protocol),
                                          QString::fromStdString(row.ip), QString::fromStdString(row.port),
                                          QString::fromStdString(row.host)});
        item->setData(0, kPathRole, QString::fromStdString(row.path));
        item->setData(0, kServiceRole, QString::fromStdString(row.service));
        item->setData(kAddressColumn, kSortKeyRole, QString::fromStdString(panel::AddressSortKey(row.ip)));
        items << item;
    }
    addTopLevelItems(items);
    // Rows come in file order; a column the user sorted by stays sorted.
    panel::SortAsBefore(this);
    // Columns as wide as what they show (Qt looks at the first thousand
    // rows); the host column takes the rest.
    for (int column = 1; column < columnCount() - 1; ++column)
        resizeColumnToContents(column);
    setUpdatesEnabled(true);
    shownKey_ = key_;
    shownRows_ = std::move(rows);
    QApplication::restoreOverrideCursor();
}

std::optional<LogView::Program> LogView::SelectedProgram() const
{
    const QTreeWidgetItem* row = currentItem();
    if (!row)
        return std::nullopt;
    return Program {row->text(2).toStdString(), row->data(0, kPathRole).toString().toStdString(),
                    row->data(0, kServiceRole).toString().toStdString()};
}
