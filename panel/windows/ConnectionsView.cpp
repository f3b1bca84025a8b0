#include "panel/windows/ConnectionsView.h"

#include "gui/ProgramIcon.h"
#include "gui/Timer.h"
#include "panel/core/FileInformation.h"
#include "panel/core/PanelConstants.h"
#include "panel/core/PanelCore.h"
#include "panel/core/RuleChecks.h"
#include "panel/widgets/WindowTools.h"
#include "rules/ProgramNames.h"

#include <QCoreApplication>
#include <QContextMenuEvent>
#include <QHash>
#include <QKeyEvent>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QMenu>
#include <QSortFilterProxyModel>
#include <QTreeView>
#include <QVBoxLayout>

#include <algorithm>
#include <cstring>
#include <ctime>
#include <unistd.h>
#include <unordered_map>

namespace panel {

namespace {

QString Size(double bytes) { return QLocale().formattedDataSize(static_cast<qint64>(bytes)); }

QString Age(std::chrono::seconds age)
{
    const long long seconds = age.count();
    if (seconds < 60)
        return QCoreApplication::translate("panel::ConnectionsView", "%1 s").arg(seconds);
    if (seconds < 3600)
        return QCoreApplication::translate("panel::ConnectionsView", "%1 min").arg(seconds / 60);
    return QCoreApplication::translate("panel::ConnectionsView", "%1 h").arg(seconds / 3600);
}

// "1 connection", else its plural, which a language may say in several forms.
QString Connections(int count)
{
    return count == 1 ? QCoreApplication::translate("panel::ConnectionsView", "1 connection")
                      : QCoreApplication::translate("panel::ConnectionsView", "%n connections", nullptr, count);
}

// A program's row: its file, else (a process the user may not look into)
// its process.
std::string GroupKey(const LiveConnection& connection)
{
    return connection.path.empty() ? "\x1fpid " + std::to_string(connection.pid) : connection.path;
}

}  // namespace

struct ConnectionsModel::Group {
    std::string key;
    QString name;
    QIcon icon;
    std::vector<LiveConnection> connections;
    int row = 0;
    uint64_t sent = 0, received = 0;
    double rate = 0;

    void Total()
    {
        sent = received = 0;
        rate = 0;
        for (const LiveConnection& connection : connections) {
            sent += connection.bytesSent.value_or(0);
            received += connection.bytesReceived.value_or(0);
            rate += connection.sentPerSecond + connection.receivedPerSecond;
        }
    }
};

ConnectionsModel::ConnectionsModel(QObject* parent) : QAbstractItemModel(parent) {}
ConnectionsModel::~ConnectionsModel() = default;

void ConnectionsModel::Apply(std::vector<LiveConnection> connections)
{
    std::unordered_map<std::string, std::vector<LiveConnection>> fresh;
    for (LiveConnection& connection : connections)
        fresh[GroupKey(connection)].push_back(std::move(connection));
    // Programs whose sockets are all gone leave, from the last up.
    for (int at = static_cast<int>(groups_.size()) - 1; at >= 0; --at)
        if (!fresh.count(groups_[static_cast<size_t>(at)]->key)) {
            beginRemoveRows({}, at, at);
            groups_.erase(groups_.begin() + at);
            endRemoveRows();
        }
    for (size_t at = 0; at < groups_.size(); ++at)
        groups_[at]->row = static_cast<int>(at);
    // The others' sockets: those gone leave, those kept change in place,
    // new ones come last.
    for (const auto& group : groups_) {
        std::vector<LiveConnection>& now = fresh[group->key];
        std::unordered_map<uint64_t, LiveConnection*> byInode;
        for (LiveConnection& connection : now)
            byInode[connection.inode] = &connection;
        const QModelIndex parent = createIndex(group->row, 0, nullptr);
        std::vector<LiveConnection>& shown = group->connections;
        for (int at = static_cast<int>(shown.size()) - 1; at >= 0; --at)
            if (!byInode.count(shown[static_cast<size_t>(at)].inode)) {
                beginRemoveRows(parent, at, at);
                shown.erase(shown.begin() + at);
                endRemoveRows();
            }
        for (LiveConnection& connection : shown) {
            LiveConnection* update = byInode[connection.inode];
            connection = std::move(*update);
            byInode.erase(connection.inode);
        }
        if (!shown.empty())
            emit dataChanged(index(0, 0, parent), index(static_cast<int>(shown.size()) - 1, kColumns - 1, parent));
        std::vector<LiveConnection> added;
        for (LiveConnection& connection : now)
            if (byInode.count(connection.inode))
                added.push_back(std::move(connection));
        if (!added.empty()) {
            beginInsertRows(parent, static_cast<int>(shown.size()), static_cast<int>(shown.size() + added.size()) - 1);
            std::move(added.begin(), added.end(), std::back_inserter(shown));
            endInsertRows();
        }
        group->Total();
        emit dataChanged(parent, createIndex(group->row, kColumns - 1, nullptr));
        fresh.erase(group->key);
    }
    // New programs, after the others.
    if (!fresh.empty()) {
        std::vector<std::unique_ptr<Group>> added;
        for (auto& [key, sockets] : fresh) {
            auto group = std::make_unique<Group>();
            group->key = key;
            const LiveConnection& first = sockets.front();
            // A process the user may not look into (another user's, or of
            // another process namespace) is known by its number alone, when at all.
            group->name = !first.path.empty() ? QString::fromStdString(ProgramDisplayName(first.path))
                : first.pid ? QCoreApplication::translate("panel::ConnectionsView", "Process %1").arg(first.pid)
                            : QCoreApplication::translate("panel::ConnectionsView", "Unknown program");
            group->icon = gui::ExecutableIcon(first.path);
            group->connections = std::move(sockets);
            group->Total();
            added.push_back(std::move(group));
        }
        std::sort(added.begin(), added.end(), [](const auto& a, const auto& b) { return a->name < b->name; });
        const int first = static_cast<int>(groups_.size());
        beginInsertRows({}, first, first + static_cast<int>(added.size()) - 1);
        for (auto& group : added) {
            group->row = static_cast<int>(groups_.size());
            groups_.push_back(std::move(group));
        }
        endInsertRows();
    }
}

const LiveConnection* ConnectionsModel::Connection(const QModelIndex& index) const
{
    const auto* group = static_cast<const Group*>(index.internalPointer());
    if (!index.isValid() || !group || index.row() >= static_cast<int>(group->connections.size()))
        return nullptr;
    return &group->connections[static_cast<size_t>(index.row())];
}

QString ConnectionsModel::ProgramName(const QModelIndex& index) const
{
    if (!index.isValid())
        return {};
    const auto* group = static_cast<const Group*>(index.internalPointer());
    return group ? group->name : groups_[static_cast<size_t>(index.row())]->name;
}

QModelIndex ConnectionsModel::index(int row, int column, const QModelIndex& parent) const
{
    if (row < 0 || column < 0 || column >= kColumns)
        return {};
    if (!parent.isValid())
        return row < static_cast<int>(groups_.size()) ? createIndex(row, column, nullptr) : QModelIndex();
    if (parent.internalPointer() || parent.row() >= static_cast<int>(groups_.size()))
        return {};
    Group* group = groups_[static_cast<size_t>(parent.row())].get();
    return row < static_cast<int>(group->connections.size()) ? createIndex(row, column, group) : QModelIndex();
}

QModelIndex ConnectionsModel::parent(const QModelIndex& child) const
{
    const auto* group = child.isValid() ? static_cast<const Group*>(child.internalPointer()) : nullptr;
    return group ? createIndex(group->row, 0, nullptr) : QModelIndex();
}

int ConnectionsModel::rowCount(const QModelIndex& parent) const
{
    if (!parent.isValid())
        return static_cast<int>(groups_.size());
    if (parent.internalPointer() || parent.column() != 0 || parent.row() >= static_cast<int>(groups_.size()))
        return 0;
    return static_cast<int>(groups_[static_cast<size_t>(parent.row())]->connections.size());
}

int ConnectionsModel::columnCount(const QModelIndex&) const { return kColumns; }

QVariant ConnectionsModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid())
        return {};
    if (const LiveConnection* connection = Connection(index))
        return ConnectionData(*connection, index.column(), role);
    if (index.internalPointer() || index.row() >= static_cast<int>(groups_.size()))
        return {};
    return GroupData(*groups_[static_cast<size_t>(index.row())], index.column(), role);
}

QVariant ConnectionsModel::GroupData(const Group& group, int column, int role) const
{
    const bool sorting = role == kSortRole;
    if (role == Qt::DecorationRole && column == kProgram)
        return group.icon;
    if (role == Qt::ToolTipRole && column == kProgram && !group.connections.front().path.empty())
        return QString::fromStdString(group.connections.front().path);
    if (role != Qt::DisplayRole && !sorting)
        return {};
    switch (column) {
    case kProgram: return group.name;
    case kPeer:
        return sorting ? QVariant(static_cast<qulonglong>(group.connections.size()))
                       : QVariant(Connections(static_cast<int>(group.connections.size())));
    case kSent: return sorting ? QVariant(static_cast<qulonglong>(group.sent)) : QVariant(Size(group.sent));
    case kReceived: return sorting ? QVariant(static_cast<qulonglong>(group.received)) : QVariant(Size(group.received));
    case kRate: return sorting ? QVariant(group.rate) : QVariant(QCoreApplication::translate("panel::ConnectionsView", "%1/s").arg(Size(group.rate)));
    default: return sorting ? QVariant(QString()) : QVariant();
    }
}

QVariant ConnectionsModel::ConnectionData(const LiveConnection& connection, int column, int role) const
{
    const bool sorting = role == kSortRole;
    if (role == Qt::TextAlignmentRole && (column == kSent || column == kReceived || column == kRate || column == kPort))
        return QVariant(Qt::AlignRight | Qt::AlignVCenter);
    if (role != Qt::DisplayRole && !sorting)
        return {};
    const auto bytes = [sorting](const std::optional<uint64_t>& count) {
        if (sorting)
            return QVariant(static_cast<qulonglong>(count.value_or(0)));
        return count ? QVariant(Size(static_cast<double>(*count))) : QVariant(QStringLiteral("-"));
    };
    switch (column) {
    case kProgram: return sorting ? QVariant(QString()) : QVariant();
    case kProcess: return sorting ? QVariant(connection.pid) : QVariant(connection.pid ? QString::number(connection.pid) : "-");
    case kProtocol: return connection.tcp ? QStringLiteral("TCP") : QStringLiteral("UDP");
    case kDirection:
        switch (connection.direction) {
        case LiveDirection::Out: return QCoreApplication::translate("panel::ConnectionsView", "Outgoing");
        case LiveDirection::In: return QCoreApplication::translate("panel::ConnectionsView", "Incoming");
        case LiveDirection::Listening: return QCoreApplication::translate("panel::ConnectionsView", "Listening");
        }
        return {};
    case kState: return QString::fromStdString(connection.state);
    case kPeer: return QString::fromStdString(connection.peer.empty() ? connection.local : connection.peer);
    case kHost: return QString::fromStdString(connection.host);
    case kPort: {
        const std::string number = std::to_string(connection.RecordPort());
        return sorting ? QVariant(connection.RecordPort()) : QVariant(QString::fromStdString(number + ports_.NameOf(number)));
    }
    case kSent: return bytes(connection.bytesSent);
    case kReceived: return bytes(connection.bytesReceived);
    case kRate: {
        const double rate = connection.sentPerSecond + connection.receivedPerSecond;
        return sorting ? QVariant(rate) : QVariant(QCoreApplication::translate("panel::ConnectionsView", "%1/s").arg(Size(rate)));
    }
    case kAge: return sorting ? QVariant(static_cast<qlonglong>(connection.age.count())) : QVariant(Age(connection.age));
    case kDecided:
        if (connection.direction == LiveDirection::Listening)
            return QString();
        if (connection.decidedBy.empty())
            return connection.hooked ? QCoreApplication::translate("panel::ConnectionsView", "No record today") : QCoreApplication::translate("panel::ConnectionsView", "Not decided");
        return QString::fromStdString(connection.decidedBy == "backstop" ? ReasonText({}, true)
                                                                          : ReasonText(connection.decidedBy));
    default: return {};
    }
}

QVariant ConnectionsModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    static const char* const titles[kColumns] = {
        QT_TRANSLATE_NOOP("panel::ConnectionsView", "Program"),   QT_TRANSLATE_NOOP("panel::ConnectionsView", "Process"),
        QT_TRANSLATE_NOOP("panel::ConnectionsView", "Protocol"),  QT_TRANSLATE_NOOP("panel::ConnectionsView", "Direction"),
        QT_TRANSLATE_NOOP("panel::ConnectionsView", "State"),     QT_TRANSLATE_NOOP("panel::ConnectionsView", "Peer"),
        QT_TRANSLATE_NOOP("panel::ConnectionsView", "Host"),      QT_TRANSLATE_NOOP("panel::ConnectionsView", "Port"),
        QT_TRANSLATE_NOOP("panel::ConnectionsView", "Decided by"), QT_TRANSLATE_NOOP("panel::ConnectionsView", "Sent"),
        QT_TRANSLATE_NOOP("panel::ConnectionsView", "Received"),  QT_TRANSLATE_NOOP("panel::ConnectionsView", "Rate"),
        QT_TRANSLATE_NOOP("panel::ConnectionsView", "Age")};
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole || section < 0 || section >= kColumns)
        return {};
    return QCoreApplication::translate("panel::ConnectionsView", titles[section]);
}

ConnectionsView::ConnectionsView(PanelCore& core, QWidget* parent)
    : QWidget(parent), core_(core),
      live_({.uid = ::getuid(), .logFolder = core.Settings().LogFilePath, .procRoot = core.ProcRoot()}),
      model_(new ConnectionsModel(this)), shown_(new QSortFilterProxyModel(this)),
      search_(new QLineEdit(this)), list_(new QTreeView(this)), summary_(new QLabel(this)),
      timer_(new gui::Timer(this, 500))
{
    setObjectName("ConnectionsView");
    search_->setObjectName("ConnectionsSearch");
    search_->setPlaceholderText(QCoreApplication::translate("panel::ConnectionsView", "Search programs, peers, hosts, ports"));
    search_->setClearButtonEnabled(true);
    summary_->setObjectName("ConnectionsSummary");
    summary_->setWordWrap(true);
    shown_->setSourceModel(model_);
    shown_->setSortRole(ConnectionsModel::kSortRole);
    shown_->setFilterCaseSensitivity(Qt::CaseInsensitive);
    shown_->setFilterKeyColumn(-1);
    shown_->setRecursiveFilteringEnabled(true);
    shown_->setAutoAcceptChildRows(true);
    shown_->setDynamicSortFilter(true);
    list_->setObjectName("ConnectionsList");
    list_->setModel(shown_);
    list_->setSortingEnabled(true);
    list_->sortByColumn(ConnectionsModel::kProgram, Qt::AscendingOrder);
    list_->setAlternatingRowColors(true);
    MatchAlternateRows(list_);
    list_->setUniformRowHeights(true);
    list_->setAllColumnsShowFocus(true);
    list_->viewport()->installEventFilter(this);
    list_->installEventFilter(this);
    list_->header()->setSectionResizeMode(QHeaderView::Interactive);
    list_->header()->setStretchLastSection(true);
    // Room for what the columns usually hold, in characters of the font.
    static constexpr int kWidths[ConnectionsModel::kColumns] = {28, 8, 9, 10, 12, 16, 20, 11, 18, 11, 11, 11, 7};
    for (int column = 0; column < ConnectionsModel::kColumns; ++column)
        list_->header()->resizeSection(column, list_->fontMetrics().averageCharWidth() * kWidths[column] + 12);
    // A program's connections are shown as it comes.
    connect(shown_, &QAbstractItemModel::rowsInserted, this, [this](const QModelIndex& under, int first, int last) {
        if (under.isValid())
            return;
        for (int row = first; row <= last; ++row)
            list_->expand(shown_->index(row, 0));
    });
    connect(search_, &QLineEdit::textChanged, shown_, &QSortFilterProxyModel::setFilterFixedString);
    connect(search_, &QLineEdit::returnPressed, list_, qOverload<>(&QWidget::setFocus));
    connect(timer_, &gui::Timer::timeout, this, &ConnectionsView::Refresh);
    rowMenu_ = new QMenu(this);
    rowMenu_->setObjectName("ConnectionMenu");
    blockPeer_ = rowMenu_->addAction(QString());
    blockPeer_->setObjectName("BlockPeer");
    blockPort_ = rowMenu_->addAction(QString());
    blockPort_->setObjectName("BlockPort");
    rowMenu_->addSeparator();
    end_ = rowMenu_->addAction(QCoreApplication::translate("panel::ConnectionsView", "&End this connection"));
    end_->setObjectName("EndConnection");
    connect(blockPeer_, &QAction::triggered, this, [this] { Block(true); });
    connect(blockPort_, &QAction::triggered, this, [this] { Block(false); });
    connect(end_, &QAction::triggered, this, [this] {
        if (menuConnection_)
            EndConnection(menuConnection_->pid, menuConnection_->inode);
    });
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(search_);
    layout->addWidget(list_, 1);
    layout->addWidget(summary_);
    setFocusProxy(search_);
    hide();
}

ConnectionsView::~ConnectionsView() = default;

void ConnectionsView::Refresh()
{
    using os::sockdiag::DumpStatus;
    const DumpStatus status = live_.Refresh(std::chrono::steady_clock::now(), std::time(nullptr), rows_);
    if (status == DumpStatus::Failed)
        problem_ = QCoreApplication::translate("panel::ConnectionsView", "The kernel's list of connections cannot be read: %1").arg(QString::fromLocal8Bit(std::strerror(live_.Error())));
    else if (status != DumpStatus::Complete)
        problem_ = QCoreApplication::translate("panel::ConnectionsView", "Not every connection could be read: the first are shown.");
    else
        problem_.clear();
    totals_ = {};
    for (const LiveConnection& connection : rows_) {
        totals_.in += connection.receivedPerSecond;
        totals_.out += connection.sentPerSecond;
    }
    totals_.connections = static_cast<int>(rows_.size());
    // The model takes the rows over: at 10,000 sockets twice a second, a
    // copy of each would be the refresh's largest cost after the dump.
    model_->Apply(std::move(rows_));
    rows_.clear();
    ShowSummary();
}

void ConnectionsView::ShowSummary()
{
    const int programs = model_->ProgramCount();
    QString text = Connections(totals_.connections) + " · "
        + (programs == 1 ? QCoreApplication::translate("panel::ConnectionsView", "1 program")
                         : QCoreApplication::translate("panel::ConnectionsView", "%n programs", nullptr, programs))
        + " · "
        + QCoreApplication::translate("panel::ConnectionsView", "%1/s in, %2/s out").arg(Size(totals_.in), Size(totals_.out));
    for (const QString& more : {problem_, notice_})
        if (!more.isEmpty())
            text += "\n" + more;
    summary_->setText(text);
}

void ConnectionsView::PopUpRowMenu(const QModelIndex& index, const QPoint& globalPosition)
{
    const QModelIndex source = shown_->mapToSource(index);
    const LiveConnection* connection = model_->Connection(source);
    if (!connection || connection->path.empty() || connection->peer.empty())
        return;
    menuConnection_ = *connection;
    const QString program = model_->ProgramName(source);
    const std::string& peer = connection->host.empty() ? connection->peer : connection->host;
    blockPeer_->setText(QCoreApplication::translate("panel::ConnectionsView", "Block %1 for %2…")
                            .arg(QString::fromStdString(peer), program));
    blockPort_->setText(QCoreApplication::translate("panel::ConnectionsView", "Block port %1 for %2…")
                            .arg(connection->RecordPort())
                            .arg(program));
    rowMenu_->popup(globalPosition);
}

void ConnectionsView::Block(bool peer)
{
    if (!menuConnection_)
        return;
    const LiveConnection chosen = *menuConnection_;
    LogRow program;
    program.path = chosen.path;
    program.application = rules::program_names::DisplayName(chosen.path, {});
    const std::string port = std::to_string(chosen.RecordPort());
    // The peer on every port, or the port of every peer. Named as the rule
    // lists word a rule, in English: the name is kept in the rules file.
    rules::Rule rule;
    rule.direction = chosen.direction == LiveDirection::Out ? rules::Direction::kOutgoing : rules::Direction::kIncoming;
    rule.permission = rules::Permission::kDeny;
    rule.inForce = true;
    rules::Port covered;
    if (peer) {
        const bool byHost = !chosen.host.empty() && chosen.direction == LiveDirection::Out;
        rule.name = "Block " + (byHost ? chosen.host : chosen.peer);
        covered.number = "0";
        if (byHost)
            covered.hosts = std::vector<std::string> {chosen.host};
        else
            covered.addresses = std::vector<std::string> {chosen.peer};
    } else {
        rule.name = "Block port " + port;
        covered.number = port;
        covered.alias = ports_.NameOf(port);
        if (covered.alias.size() > 2) // "(https)" names the port "https"
            covered.alias = covered.alias.substr(1, covered.alias.size() - 2);
    }
    rule.ports.push_back(std::move(covered));
    emit BlockRequested(program, rule, chosen.pid, chosen.inode);
}

void ConnectionsView::EndConnection(pid_t pid, uint64_t inode)
{
    const int error = os::sockdiag::EndSocket(core_.ProcRoot(), pid, inode);
    if (error == 0)
        notice_ = QCoreApplication::translate("panel::ConnectionsView", "The connection was ended.");
    else if (error == EPERM)
        notice_ = QCoreApplication::translate("panel::ConnectionsView", "The connection could not be ended: the system does not let the panel reach into that program.");
    else if (error == ESRCH)
        notice_ = QCoreApplication::translate("panel::ConnectionsView", "The connection had already ended.");
    else
        notice_ = QCoreApplication::translate("panel::ConnectionsView", "The connection could not be ended: %1").arg(QString::fromLocal8Bit(std::strerror(error)));
    Refresh();
}

void ConnectionsView::changeEvent(QEvent* event)
{
    QWidget::changeEvent(event);
    if (event->type() == QEvent::PaletteChange)
        MatchAlternateRows(list_);
}

bool ConnectionsView::eventFilter(QObject* watched, QEvent* event)
{
    // The row's menu: at the row clicked, or (the Menu key, Shift+F10) at
    // the current row.
    QModelIndex index;
    QPoint where;
    if (watched == list_->viewport() && event->type() == QEvent::ContextMenu) {
        const auto* menu = static_cast<QContextMenuEvent*>(event);
        index = menu->reason() == QContextMenuEvent::Mouse ? list_->indexAt(menu->pos()) : list_->currentIndex();
        where = menu->reason() == QContextMenuEvent::Mouse ? menu->pos() : list_->visualRect(index).center();
    } else if (watched == list_ && event->type() == QEvent::KeyPress) {
        const auto* key = static_cast<QKeyEvent*>(event);
        if (key->key() != Qt::Key_F10 || key->modifiers() != Qt::ShiftModifier)
            return QWidget::eventFilter(watched, event);
        index = list_->currentIndex();
        where = list_->visualRect(index).center();
    } else {
        return QWidget::eventFilter(watched, event);
    }
    if (index.isValid())
        PopUpRowMenu(index, list_->viewport()->mapToGlobal(where));
    return true;
}

void ConnectionsView::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    ports_ = PortNames(LoadPortsFile(core_.Settings().VRNFolder + kPortsFileName));
    model_->SetPortNames(ports_);
    Refresh();
    timer_->start();
}

void ConnectionsView::hideEvent(QHideEvent* event)
{
    timer_->stop();
    notice_.clear();
    QWidget::hideEvent(event);
}

}  // namespace panel
