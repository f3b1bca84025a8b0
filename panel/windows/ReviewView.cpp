#include "panel/windows/ReviewView.h"

#include "gui/ProgramIcon.h"
#include "panel/core/FileInformation.h"
#include "panel/widgets/WindowTools.h"
#include "rules/ProgramNames.h"

#include <QCheckBox>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QDateTime>
#include <QFileInfo>
#include <QFileSystemWatcher>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLocale>
#include <QMenu>
#include <QPushButton>
#include <QTextDocument>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <algorithm>

namespace panel {

namespace {

// Where a row is in programs_: the program, and the peer (-1 on the program's row).
constexpr int kProgramRole = Qt::UserRole;
constexpr int kPeerRole = Qt::UserRole + 1;

// What a program wrote is shown as it is, never as markup.
QString PlainTip(const QString& text) { return text.isEmpty() ? text : Qt::convertFromPlainText(text); }

QString When(int64_t seconds)
{
    return QLocale().toString(QDateTime::fromSecsSinceEpoch(seconds), QLocale::ShortFormat);
}

QString Decided(const protocol::review::Peer& peer)
{
    if (peer.mode == "learn")
        return peer.permitted ? ReviewView::tr("Allowed while learning") : ReviewView::tr("Blocked while learning");
    return peer.permitted ? ReviewView::tr("Allowed quietly") : ReviewView::tr("Blocked quietly");
}

}  // namespace

ReviewView::ReviewView(QWidget* parent)
    : QWidget(parent), empty_(new QLabel(this)), list_(new QTreeWidget(this)), allow_(new QPushButton(tr("&Allow"), this)),
      block_(new QPushButton(tr("&Block"), this)), scope_(new QComboBox(this)),
      wholeProgram_(new QCheckBox(tr("All of this &program"), this)), dismiss_(new QPushButton(tr("&Dismiss"), this)),
      status_(new QLabel(this)), rowMenu_(new QMenu(this)), watcher_(new QFileSystemWatcher(this))
{
    setObjectName("ReviewView");
    empty_->setObjectName("ReviewEmpty");
    empty_->setWordWrap(true);
    empty_->setText(tr("Nothing to review. In a quiet mode or while learning, what would have been asked is listed "
                       "here, to be turned into rules."));
    list_->setObjectName("ReviewList");
    status_->setObjectName("ReviewStatus");
    status_->setWordWrap(true);
    allow_->setObjectName("ReviewAllow");
    block_->setObjectName("ReviewBlock");
    scope_->setObjectName("ReviewScope");
    wholeProgram_->setObjectName("ReviewWholeProgram");
    dismiss_->setObjectName("ReviewDismiss");
    rowMenu_->setObjectName("ReviewMenu");
    scope_->addItems({tr("This host and port"), tr("This port"), tr("Any host and port")});
    auto* scopeLabel = new QLabel(tr("&Scope:"), this);
    scopeLabel->setBuddy(scope_);
    list_->setColumnCount(kColumns);
    list_->setHeaderLabels({tr("Program or direction"), tr("Protocol"), tr("Port"), tr("Host"), tr("Decided"),
                            tr("Count"), tr("Last")});
    list_->setAlternatingRowColors(true);
    MatchAlternateRows(list_);
    list_->setUniformRowHeights(true);
    list_->setAllColumnsShowFocus(true);
    list_->setContextMenuPolicy(Qt::DefaultContextMenu);
    list_->installEventFilter(this);
    list_->viewport()->installEventFilter(this);
    static constexpr int kWidths[kColumns] = {34, 8, 7, 30, 22, 7, 18};
    for (int column = 0; column < kColumns; ++column)
        list_->header()->resizeSection(column, list_->fontMetrics().averageCharWidth() * kWidths[column] + 12);

    // The row's menu does what the buttons do, in the scope chosen beside them.
    rowMenu_->addAction(tr("&Allow"), this, [this] { Decide(true); })->setObjectName("ReviewMenuAllow");
    rowMenu_->addAction(tr("&Block"), this, [this] { Decide(false); })->setObjectName("ReviewMenuBlock");
    QMenu* scopes = rowMenu_->addMenu(tr("&Scope"));
    for (int i = 0; i < scope_->count(); ++i) {
        QAction* one = scopes->addAction(scope_->itemText(i), this, [this, i] { scope_->setCurrentIndex(i); });
        one->setCheckable(true);
        connect(scopes, &QMenu::aboutToShow, one, [this, one, i] { one->setChecked(scope_->currentIndex() == i); });
    }
    QAction* whole = rowMenu_->addAction(wholeProgram_->text(), wholeProgram_, &QCheckBox::setChecked);
    whole->setCheckable(true);
    connect(rowMenu_, &QMenu::aboutToShow, whole, [this, whole] { whole->setChecked(wholeProgram_->isChecked()); });
    rowMenu_->addSeparator();
    rowMenu_->addAction(tr("&Dismiss"), this, &ReviewView::Dismiss)->setObjectName("ReviewMenuDismiss");

    connect(allow_, &QPushButton::clicked, this, [this] { Decide(true); });
    connect(block_, &QPushButton::clicked, this, [this] { Decide(false); });
    connect(dismiss_, &QPushButton::clicked, this, &ReviewView::Dismiss);
    connect(list_, &QTreeWidget::currentItemChanged, this, &ReviewView::EnableButtons);
    const auto changed = [this] {
        Watch();
        if (isVisible())
            Refresh();
    };
    connect(watcher_, &QFileSystemWatcher::fileChanged, this, changed);
    connect(watcher_, &QFileSystemWatcher::directoryChanged, this, changed);

    // Two rows, so that the page fits a small screen at scale 2: what is
    // done, then how much of it.
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(allow_);
    buttons->addWidget(block_);
    buttons->addWidget(dismiss_);
    buttons->addStretch(1);
    auto* scope = new QHBoxLayout;
    scope->addWidget(scopeLabel);
    scope->addWidget(scope_);
    scope->addWidget(wholeProgram_);
    scope->addStretch(1);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(empty_);
    layout->addWidget(list_, 1);
    layout->addLayout(buttons);
    layout->addLayout(scope);
    layout->addWidget(status_);
    setTabOrder(list_, allow_);
    setTabOrder(allow_, block_);
    setTabOrder(block_, dismiss_);
    setTabOrder(dismiss_, scope_);
    setTabOrder(scope_, wholeProgram_);
    setFocusProxy(list_);
    Watch();
    EnableButtons();
    hide();
}

void ReviewView::Watch()
{
    // The list is replaced whole: its folder tells of a new file, the file of a change in place.
    const QString file = QString::fromStdString(protocol::review::ListPath());
    const QString folder = QFileInfo(file).path();
    if (QFileInfo(folder).isDir() && !watcher_->directories().contains(folder))
        watcher_->addPath(folder);
    if (QFileInfo::exists(file) && !watcher_->files().contains(file))
        watcher_->addPath(file);
}

void ReviewView::Refresh()
{
    // The row current before stays current: by its program and peer.
    QString currentProgram, currentPeer;
    if (const QTreeWidgetItem* row = list_->currentItem()) {
        currentProgram = row->parent() ? row->parent()->text(kProgram) : row->text(kProgram);
        currentPeer = row->parent() ? row->text(kHost) + row->text(kPort) + row->text(kProgram) : QString();
    }
    programs_ = protocol::review::Group(protocol::review::ReadAll(protocol::review::ListPath()));
    list_->clear();
    QTreeWidgetItem* current = nullptr;
    for (size_t p = 0; p < programs_.size(); ++p) {
        const protocol::review::Program& program = programs_[p];
        auto* row = new QTreeWidgetItem(list_);
        const QString path = QString::fromStdString(program.path);
        row->setText(kProgram, QString::fromStdString(ProgramDisplayName(program.path)));
        row->setToolTip(kProgram, PlainTip(path));
        row->setIcon(kProgram, QIcon(gui::ExecutablePixmap(path, 16)));
        row->setText(kCount, QLocale().toString(static_cast<qulonglong>(program.count)));
        row->setTextAlignment(kCount, Qt::AlignRight | Qt::AlignVCenter);
        row->setText(kLast, When(program.last));
        row->setData(kProgram, kProgramRole, static_cast<int>(p));
        row->setData(kProgram, kPeerRole, -1);
        if (row->text(kProgram) == currentProgram && currentPeer.isEmpty())
            current = row;
        for (size_t e = 0; e < program.peers.size(); ++e) {
            const protocol::review::Peer& peer = program.peers[e];
            auto* under = new QTreeWidgetItem(row);
            under->setText(kProgram, peer.outgoing ? tr("Outgoing") : tr("Incoming"));
            under->setText(kProtocol, peer.protocol == 2 ? QStringLiteral("UDP") : QStringLiteral("TCP"));
            under->setText(kPort, QString::number(peer.port));
            under->setText(kHost, QString::fromStdString(peer.host));
            under->setToolTip(kHost, PlainTip(under->text(kHost)));
            under->setText(kDecided, Decided(peer));
            under->setText(kCount, QLocale().toString(static_cast<qulonglong>(peer.count)));
            under->setTextAlignment(kCount, Qt::AlignRight | Qt::AlignVCenter);
            under->setText(kLast, When(peer.last));
            under->setData(kProgram, kProgramRole, static_cast<int>(p));
            under->setData(kProgram, kPeerRole, static_cast<int>(e));
            if (row->text(kProgram) == currentProgram
                && under->text(kHost) + under->text(kPort) + under->text(kProgram) == currentPeer)
                current = under;
        }
    }
    list_->expandAll();
    if (!current && list_->topLevelItemCount() > 0)
        current = list_->topLevelItem(0);
    list_->setCurrentItem(current);
    empty_->setVisible(programs_.empty());
    list_->setVisible(!programs_.empty());
    EnableButtons();
}

const protocol::review::Program* ReviewView::CurrentProgram() const
{
    const QTreeWidgetItem* row = list_->currentItem();
    if (!row)
        return nullptr;
    const int p = row->data(kProgram, kProgramRole).toInt();
    return p >= 0 && static_cast<size_t>(p) < programs_.size() ? &programs_[static_cast<size_t>(p)] : nullptr;
}

std::vector<const protocol::review::Peer*> ReviewView::ChosenPeers() const
{
    std::vector<const protocol::review::Peer*> peers;
    const protocol::review::Program* program = CurrentProgram();
    if (!program)
        return peers;
    const int e = list_->currentItem()->data(kProgram, kPeerRole).toInt();
    if (e >= 0 && static_cast<size_t>(e) < program->peers.size() && !wholeProgram_->isChecked()) {
        peers.push_back(&program->peers[static_cast<size_t>(e)]);
        return peers;
    }
    for (const protocol::review::Peer& peer : program->peers)
        peers.push_back(&peer);
    return peers;
}

ReviewScope ReviewView::Scope() const
{
    switch (scope_->currentIndex()) {
    case 1: return ReviewScope::kPort;
    case 2: return ReviewScope::kAny;
    default: return ReviewScope::kHostAndPort;
    }
}

void ReviewView::Decide(bool allow)
{
    const protocol::review::Program* program = CurrentProgram();
    if (!program)
        return;
    LogRow row;
    row.path = program->path;
    row.application = rules::program_names::DisplayName(program->path, {});
    // Copied: a rule saved at once settles its peers, and the list read
    // again then holds none of what the pointers pointed at.
    std::vector<protocol::review::Peer> chosen;
    for (const protocol::review::Peer* peer : ChosenPeers())
        chosen.push_back(*peer);
    status_->clear();
    // A rule has one direction: one for the outgoing peers, one for the incoming.
    for (const bool outgoing : {true, false}) {
        std::vector<protocol::review::Peer> peers;
        for (const protocol::review::Peer& peer : chosen)
            if (peer.outgoing == outgoing)
                peers.push_back(peer);
        if (peers.empty())
            continue;
        const std::optional<rules::Rule> rule = ReviewRule(peers, allow, Scope());
        if (!rule) {
            status_->setText(tr("No rule can cover just this: a host or port in the list is not one a rule can "
                                "name. Choose a wider scope, or Dismiss."));
            continue;
        }
        emit RuleRequested(row, *rule, peers);
    }
}

void ReviewView::Dismiss()
{
    const protocol::review::Program* program = CurrentProgram();
    if (!program)
        return;
    std::vector<protocol::review::Peer> peers;
    for (const protocol::review::Peer* peer : ChosenPeers())
        peers.push_back(*peer);
    const std::string path = program->path; // Settle reads the list again
    Settle(path, peers);
}

void ReviewView::Settle(const std::string& path, const std::vector<protocol::review::Peer>& peers)
{
    if (peers.empty())
        return;
    // Every item of those peers, those added since the list was read too:
    // the rule, or the user's word, settles them alike.
    const bool removed = protocol::review::Remove(protocol::review::ListPath(), [&](const protocol::review::Item& item) {
        return std::any_of(peers.begin(), peers.end(),
                           [&](const protocol::review::Peer& peer) { return protocol::review::Covers(path, peer, item); });
    });
    Refresh();
    if (!removed)
        status_->setText(tr("The list could not be written; what was settled stays listed."));
}

void ReviewView::EnableButtons()
{
    const bool chosen = list_->currentItem() != nullptr;
    for (QWidget* button : {static_cast<QWidget*>(allow_), static_cast<QWidget*>(block_),
                            static_cast<QWidget*>(dismiss_)})
        button->setEnabled(chosen);
}

bool ReviewView::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == list_ && event->type() == QEvent::KeyPress) {
        const auto* key = static_cast<QKeyEvent*>(event);
        if (key->key() == Qt::Key_Delete && key->modifiers() == Qt::NoModifier) {
            Dismiss();
            return true;
        }
        if (key->key() == Qt::Key_F10 && key->modifiers() == Qt::ShiftModifier && list_->currentItem()) {
            rowMenu_->popup(list_->viewport()->mapToGlobal(list_->visualItemRect(list_->currentItem()).center()));
            return true;
        }
    }
    // The row's menu: at the row clicked, or (the Menu key) at the current row.
    if (watched == list_->viewport() && event->type() == QEvent::ContextMenu) {
        const auto* menu = static_cast<QContextMenuEvent*>(event);
        if (menu->reason() == QContextMenuEvent::Mouse)
            if (QTreeWidgetItem* row = list_->itemAt(menu->pos()))
                list_->setCurrentItem(row);
        if (list_->currentItem())
            rowMenu_->popup(menu->reason() == QContextMenuEvent::Mouse
                                ? menu->globalPos()
                                : list_->viewport()->mapToGlobal(list_->visualItemRect(list_->currentItem()).center()));
        return true;
    }
    return QWidget::eventFilter(watched, event);
}

void ReviewView::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    Refresh();
}

}  // namespace panel
