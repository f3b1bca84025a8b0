#include "panel/windows/LogPage.h"

#include "panel/widgets/WindowTools.h"

#include <QComboBox>
#include <QDate>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QSignalBlocker>
#include <QTimer>
#include <QVBoxLayout>

namespace panel {

namespace {

// A search waits for a pause in the typing: each read of the view looks at
// every record of the days kept.
constexpr int kTypingPauseMs = 150;

}  // namespace

LogPage::LogPage(QWidget* parent) : QWidget(parent)
{
    setObjectName("LogPage");
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    auto* bar = new QHBoxLayout;
    search_ = panel::Named(new QLineEdit(this), "LogSearch");
    search_->setPlaceholderText(tr("Program, host, address, port"));
    search_->setClearButtonEnabled(true);
    search_->setToolTip(tr("Shows the records that match every word: a program's name or path, a host name or "
                           "address (a part of it), or a port number (Ctrl+F)"));
    auto* searchLabel = new QLabel(tr("&Search:"), this);
    searchLabel->setBuddy(search_);
    day_ = panel::Named(new QComboBox(this), "LogDay");
    day_->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    auto* dayLabel = new QLabel(tr("&Day:"), this);
    dayLabel->setBuddy(day_);
    bar->addWidget(searchLabel);
    bar->addWidget(search_, 1);
    bar->addSpacing(12);
    bar->addWidget(dayLabel);
    bar->addWidget(day_);
    layout->addLayout(bar);
    view_ = new LogView(this);
    connect(view_, &LogView::AddProgramRequested, this, &LogPage::AddProgramRequested);
    connect(view_, &LogView::MakeRuleRequested, this, &LogPage::MakeRuleRequested);
    layout->addWidget(view_, 1);
    setFocusProxy(view_);
    setTabOrder(search_, day_);
    setTabOrder(day_, view_);

    typing_ = new QTimer(this);
    typing_->setSingleShot(true);
    typing_->setInterval(kTypingPauseMs);
    connect(typing_, &QTimer::timeout, this, &LogPage::ApplyFilter);
    connect(search_, &QLineEdit::textEdited, typing_, qOverload<>(&QTimer::start));
    // The clear button changes the text without an edit.
    connect(search_, &QLineEdit::textChanged, this, [this](const QString& text) {
        if (text.isEmpty())
            ApplyFilter();
    });
    connect(search_, &QLineEdit::returnPressed, this, [this] {
        ApplyFilter();
        view_->setFocus();
    });
    connect(day_, &QComboBox::activated, this, &LogPage::ApplyFilter);
    search_->installEventFilter(this);
    // Ctrl+F is the main window's "Find in logs", which comes here.
}

bool LogPage::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == search_ && event->type() == QEvent::KeyPress) {
        const auto* key = static_cast<QKeyEvent*>(event);
        if (key->key() == Qt::Key_Down) {
            ApplyFilter();
            view_->setFocus();
            if (!view_->currentItem() && view_->topLevelItemCount() > 0)
                view_->setCurrentItem(view_->topLevelItem(0));
            return true;
        }
        if (key->key() == Qt::Key_Escape && !search_->text().isEmpty()) {
            search_->clear();
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

void LogPage::FocusSearch()
{
    search_->setFocus(Qt::ShortcutFocusReason);
    search_->selectAll();
}

void LogPage::SetHasEntry(std::function<bool(const std::string& name, const std::string& path)> hasEntry)
{
    view_->HasEntry = std::move(hasEntry);
}

void LogPage::Open(const std::string& key, const LogView::Source& source)
{
    if (key != key_) {
        searches_[key_] = search_->text();
        const QSignalBlocker quiet(search_);
        search_->setText(searches_[key]);
        typing_->stop();
        key_ = key;
    }
    ListDays(source.folder);
    view_->Open(key, source, {day_->currentData().toString().toStdString(), search_->text().trimmed().toStdString()});
}

void LogPage::Refresh(const LogView::Source& source)
{
    ListDays(source.folder);
    ApplyFilter();
    view_->Refresh(source);
}

void LogPage::ListDays(const std::string& folder)
{
    const QString chosen = day_->currentData().toString();
    const QSignalBlocker quiet(day_);
    day_->clear();
    day_->addItem(tr("All days"), QString());
    const QLocale locale;
    for (const panel::LogDay& day : panel::LogDays(folder)) {
        const QDate date(day.year, day.month, day.day);
        day_->addItem(date.isValid() ? locale.toString(date, QLocale::ShortFormat) : QString::fromStdString(day.path),
                      QString::fromStdString(day.path));
    }
    // The day chosen stays while its log does.
    const int index = day_->findData(chosen);
    day_->setCurrentIndex(index >= 0 ? index : 0);
}

void LogPage::ApplyFilter()
{
    typing_->stop();
    view_->SetFilter({day_->currentData().toString().toStdString(), search_->text().trimmed().toStdString()});
}

}  // namespace panel
