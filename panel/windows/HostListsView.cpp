#include "panel/windows/HostListsView.h"

#include "gui/Timer.h"
#include "os/Clock.h"
#include "panel/core/PanelCore.h"
#include "panel/widgets/DialogButtons.h"
#include "panel/widgets/TreeImages.h"
#include "panel/widgets/WindowTools.h"
#include "rules/hooksafe/HostListView.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QMessageBox>
#include <QPushButton>
#include <QSignalBlocker>
#include <QThread>
#include <QTextDocument>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <memory>

namespace panel {

namespace {

// How often the counts of today's refusals are brought up to date while the page is shown.
constexpr int kRefusalsIntervalMs = 5000;

// A tip that shows a text as it is, markup included.
QString PlainTip(const QString& text) { return text.isEmpty() ? text : Qt::convertFromPlainText(text); }

QString When(int64_t seconds)
{
    if (seconds == 0)
        return QCoreApplication::translate("panel::HostListsView", "Never");
    return QLocale().toString(QDateTime::fromSecsSinceEpoch(seconds), QLocale::ShortFormat);
}

}  // namespace

HostListAddDialog::HostListAddDialog(QWidget* parent)
    : QDialog(parent), name_(new QLineEdit(this)), source_(new QLineEdit(this)), problem_(new QLabel(this))
{
    setObjectName("HostListAdd");
    setWindowTitle(tr("Add a host list"));
    name_->setObjectName("HostListName");
    source_->setObjectName("HostListSource");
    source_->setPlaceholderText(tr("https://… or a file"));
    problem_->setObjectName("HostListProblem");
    problem_->setWordWrap(true);
    auto* browse = new QPushButton(tr("&Browse…"), this);
    browse->setObjectName("HostListBrowse");
    auto* source = new QHBoxLayout;
    source->addWidget(source_, 1);
    source->addWidget(browse);
    auto* form = new QFormLayout;
    auto* nameLabel = new QLabel(tr("&Name:"), this);
    nameLabel->setBuddy(name_);
    auto* sourceLabel = new QLabel(tr("A&ddress or file:"), this);
    sourceLabel->setBuddy(source_);
    form->addRow(nameLabel, name_);
    form->addRow(sourceLabel, source);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(problem_);
    auto* buttons = OkCancelButtons(this, layout, "HostListAddOk", "HostListAddCancel");
    ok_ = buttons->button(QDialogButtonBox::Ok);
    ok_->setText(tr("&Add"));
    connect(browse, &QPushButton::clicked, this, [this] {
        const QString file = QFileDialog::getOpenFileName(this, tr("Host list file"));
        if (!file.isEmpty())
            source_->setText(file);
    });
    connect(name_, &QLineEdit::textChanged, this, &HostListAddDialog::Check);
    connect(source_, &QLineEdit::textChanged, this, &HostListAddDialog::Check);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    setMinimumWidth(fontMetrics().averageCharWidth() * 60);
    Check();
}

QString HostListAddDialog::Name() const { return name_->text().trimmed(); }
QString HostListAddDialog::Source() const { return source_->text().trimmed(); }

// Says what is missing before the list is fetched, rather than after.
void HostListAddDialog::Check()
{
    QString problem;
    if (!Name().isEmpty() && !HostListNameProblem(Name().toStdString()).empty())
        problem = tr("A name has 1 to %1 letters, digits, '.', '_', '-' or blanks and begins with a letter or digit.")
                      .arg(rules::kMaxHostListTitle);
    else if (Source().contains(QLatin1String("://")) && !IsDownloadAddress(Source().toStdString()))
        problem = tr("Only http and https addresses can be fetched.");
    problem_->setText(problem);
    problem_->setVisible(!problem.isEmpty());
    ok_->setEnabled(problem.isEmpty() && !Name().isEmpty() && !Source().isEmpty());
}

HostListsView::HostListsView(const PanelCore& core, QWidget* parent)
    : QWidget(parent), core_(core), list_(new QTreeWidget(this)), add_(new QPushButton(tr("&Add…"), this)),
      remove_(new QPushButton(tr("&Remove"), this)), update_(new QPushButton(tr("&Update now"), this)),
      status_(new QLabel(this)), exempt_(new QLabel(this)), refusalsTimer_(new gui::Timer(this, kRefusalsIntervalMs))
{
    setObjectName("HostListsView");
    list_->setObjectName("HostLists");
    add_->setObjectName("HostListAddButton");
    remove_->setObjectName("HostListRemove");
    update_->setObjectName("HostListUpdate");
    status_->setObjectName("HostListStatus");
    status_->setWordWrap(true);
    // What a server or a file put in an error is shown as it is, never as markup.
    status_->setTextFormat(Qt::PlainText);
    status_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    exempt_->setObjectName("HostListsExempt");
    exempt_->setWordWrap(true);
    exempt_->setTextFormat(Qt::PlainText);
    list_->setColumnCount(kColumns);
    list_->setHeaderLabels({tr("Name"), tr("Source"), tr("Enabled"), tr("Entries"), tr("Refused today"),
                            tr("Last update"), tr("Last error")});
    list_->setRootIsDecorated(false);
    list_->setAlternatingRowColors(true);
    MatchAlternateRows(list_);
    list_->setUniformRowHeights(true);
    list_->setAllColumnsShowFocus(true);
    list_->installEventFilter(this);
    static constexpr int kWidths[kColumns] = {18, 36, 8, 10, 12, 20, 30};
    for (int column = 0; column < kColumns; ++column)
        list_->header()->resizeSection(column, list_->fontMetrics().averageCharWidth() * kWidths[column] + 12);
    connect(add_, &QPushButton::clicked, this, &HostListsView::AskToAdd);
    connect(remove_, &QPushButton::clicked, this, [this] { RemoveCurrent(true); });
    connect(update_, &QPushButton::clicked, this, [this] { Update(CurrentName()); });
    connect(list_, &QTreeWidget::currentItemChanged, this, &HostListsView::EnableButtons);
    // Rows are filled under a blocker: a change seen here is the user's check box.
    connect(list_, &QTreeWidget::itemChanged, this, &HostListsView::Checked);
    connect(refusalsTimer_, &gui::Timer::timeout, this, &HostListsView::ShowRefusals);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(add_);
    buttons->addWidget(remove_);
    buttons->addWidget(update_);
    buttons->addStretch(1);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(list_, 1);
    layout->addLayout(buttons);
    layout->addWidget(exempt_);
    layout->addWidget(status_);
    setFocusProxy(list_);
    EnableButtons();
    hide();
}

HostListsView::~HostListsView()
{
    // The fetch under way ends within its download limits; its outcome is
    // kept with the list, for the next look.
    if (worker_) {
        worker_->disconnect(this);
        worker_->wait();
        delete worker_;
    }
}

void HostListsView::Refresh()
{
    const QString current = CurrentName();
    const QSignalBlocker blocker(list_);
    list_->clear();
    for (const HostListSubscription& one : HostListSubscriptions().All()) {
        auto* row = new QTreeWidgetItem(list_);
        row->setText(kName, QString::fromStdString(one.name));
        row->setText(kSource, QString::fromStdString(one.source));
        row->setToolTip(kSource, PlainTip(row->text(kSource)));
        row->setFlags(row->flags() | Qt::ItemIsUserCheckable);
        row->setCheckState(kEnabled, one.enabled ? Qt::Checked : Qt::Unchecked);
        row->setText(kEntries, QLocale().toString(static_cast<qulonglong>(one.entries)));
        row->setTextAlignment(kEntries, Qt::AlignRight | Qt::AlignVCenter);
        row->setTextAlignment(kRefusedToday, Qt::AlignRight | Qt::AlignVCenter);
        row->setText(kUpdated, When(one.updated));
        row->setText(kError, QString::fromStdString(one.error));
        row->setToolTip(kError, PlainTip(row->text(kError)));
        if (row->text(kName) == current || !list_->currentItem())
            list_->setCurrentItem(row);
    }
    // The programs whose own entries leave the lists out, as the tree names them.
    QStringList exempt;
    for (const rules::Application& app : core_.Rules().Document().applications)
        if (app.ignoreLists && !app.IsGeneral())
            exempt << EntryText(app);
    exempt_->setText(tr("The lists are not applied to: %1").arg(exempt.join(QLatin1String(", "))));
    exempt_->setVisible(!exempt.isEmpty());
    ShowRefusals();
    EnableButtons();
}

void HostListsView::ShowRefusals()
{
    refusals_.ReadOn(core_.Settings().LogFilePath, os::WallTime());
    const QSignalBlocker blocker(list_);
    for (int index = 0; index < list_->topLevelItemCount(); ++index) {
        QTreeWidgetItem* row = list_->topLevelItem(index);
        row->setText(kRefusedToday,
                     QLocale().toString(static_cast<qulonglong>(refusals_.Today(row->text(kName).toStdString()))));
    }
}

void HostListsView::Checked(QTreeWidgetItem* row, int column)
{
    if (column != kEnabled)
        return;
    const bool enabled = row->checkState(kEnabled) == Qt::Checked;
    if (worker_) {
        // One change at a time: the box shows what holds until this one ends.
        const QSignalBlocker blocker(list_);
        row->setCheckState(kEnabled, enabled ? Qt::Unchecked : Qt::Checked);
        return;
    }
    SetEnabled(row->text(kName), enabled);
}

QString HostListsView::CurrentName() const
{
    const QTreeWidgetItem* row = list_->currentItem();
    return row ? row->text(kName) : QString();
}

void HostListsView::EnableButtons()
{
    add_->setEnabled(!worker_);
    remove_->setEnabled(!worker_ && list_->currentItem());
    update_->setEnabled(!worker_ && list_->currentItem());
}

void HostListsView::AskToAdd()
{
    HostListAddDialog dialog(this);
    if (dialog.exec() == QDialog::Accepted)
        Add(dialog.Name(), dialog.Source());
}

void HostListsView::Add(const QString& name, const QString& source)
{
    const std::string listName = name.toStdString(), listSource = source.toStdString();
    Run(tr("Fetching the list \"%1\"…").arg(name), [=] { return HostListSubscriptions().Add(listName, listSource); },
        [this, name](const HostListOutcome& outcome) {
            if (!outcome) {
                status_->setText(tr("The list \"%1\" was not added: %2").arg(name, QString::fromStdString(outcome.error)));
                return;
            }
            const auto added = HostListSubscriptions().Find(name.toStdString());
            status_->setText(tr("The list \"%1\" was added. Entries: %2")
                                 .arg(name, QLocale().toString(static_cast<qulonglong>(added ? added->entries : 0))));
        });
}

void HostListsView::Update(const QString& name)
{
    if (name.isEmpty())
        return;
    const std::string listName = name.toStdString();
    Run(tr("Fetching the list \"%1\"…").arg(name), [=] { return HostListSubscriptions().Update(listName); },
        [this, name](const HostListOutcome& outcome) {
            if (!outcome)
                status_->setText(tr("The list \"%1\" was not updated; its last good copy stays in use: %2")
                                     .arg(name, QString::fromStdString(outcome.error)));
            else
                status_->setText(outcome.changed ? tr("The list \"%1\" was updated.").arg(name)
                                                 : tr("The list \"%1\" has not changed.").arg(name));
        });
}

void HostListsView::SetEnabled(const QString& name, bool enabled)
{
    if (name.isEmpty())
        return;
    const std::string listName = name.toStdString();
    Run(enabled ? tr("Switching the list \"%1\" on…").arg(name) : tr("Switching the list \"%1\" off…").arg(name),
        [=] { return HostListSubscriptions().SetEnabled(listName, enabled); },
        [this, name, enabled](const HostListOutcome& outcome) {
            if (!outcome)
                status_->setText((enabled ? tr("The list \"%1\" was not switched on: %2")
                                          : tr("The list \"%1\" was not switched off: %2"))
                                     .arg(name, QString::fromStdString(outcome.error)));
            else
                status_->setText(enabled ? tr("The list \"%1\" is on.").arg(name)
                                         : tr("The list \"%1\" is off; it keeps its entries for when it is switched on.")
                                               .arg(name));
        });
}

void HostListsView::RemoveCurrent(bool ask)
{
    const QString name = CurrentName();
    if (name.isEmpty() || worker_)
        return;
    if (ask) {
        QMessageBox question(QMessageBox::Question, tr("Remove a host list"),
                             tr("Remove the host list \"%1\"? Its entries stop counting at once.").arg(name),
                             QMessageBox::Yes | QMessageBox::No, this);
        question.setObjectName("HostListRemoveQuestion");
        question.button(QMessageBox::Yes)->setText(tr("&Remove"));
        question.button(QMessageBox::No)->setText(tr("&Keep"));
        question.setDefaultButton(QMessageBox::No);
        if (question.exec() != QMessageBox::Yes)
            return;
    }
    const std::string listName = name.toStdString();
    Run(tr("Removing the list \"%1\"…").arg(name), [=] { return HostListSubscriptions().Remove(listName); },
        [this, name](const HostListOutcome& outcome) {
            status_->setText(outcome ? tr("The list \"%1\" was removed.").arg(name)
                                     : tr("The list \"%1\" was not removed: %2").arg(name, QString::fromStdString(outcome.error)));
        });
}

void HostListsView::Run(const QString& doing, std::function<HostListOutcome()> job,
                        std::function<void(const HostListOutcome&)> done)
{
    if (worker_)
        return;
    auto outcome = std::make_shared<HostListOutcome>();
    worker_ = QThread::create([job = std::move(job), outcome] { *outcome = job(); });
    // finished comes from the worker's thread; the slot runs on the window's.
    connect(worker_, &QThread::finished, this, [this, outcome, done = std::move(done)] {
        worker_->wait();
        delete worker_;
        worker_ = nullptr;
        Refresh();
        done(*outcome);
    });
    status_->setText(doing);
    EnableButtons();
    worker_->start();
}

bool HostListsView::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == list_ && event->type() == QEvent::KeyPress && static_cast<QKeyEvent*>(event)->key() == Qt::Key_Delete
        && static_cast<QKeyEvent*>(event)->modifiers() == Qt::NoModifier) {
        RemoveCurrent(true);
        return true;
    }
    // Space switches the current row's list, whichever column has the focus.
    if (watched == list_ && event->type() == QEvent::KeyPress && static_cast<QKeyEvent*>(event)->key() == Qt::Key_Space
        && static_cast<QKeyEvent*>(event)->modifiers() == Qt::NoModifier) {
        if (QTreeWidgetItem* row = list_->currentItem())
            row->setCheckState(kEnabled, row->checkState(kEnabled) == Qt::Checked ? Qt::Unchecked : Qt::Checked);
        return true;
    }
    return QWidget::eventFilter(watched, event);
}

void HostListsView::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    Refresh();
    refusalsTimer_->start();
}

void HostListsView::hideEvent(QHideEvent* event)
{
    refusalsTimer_->stop();
    QWidget::hideEvent(event);
}

}  // namespace panel
