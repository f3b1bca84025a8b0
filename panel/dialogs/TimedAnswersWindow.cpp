#include "panel/dialogs/TimedAnswersWindow.h"

#include "panel/core/PanelCore.h"
#include "panel/widgets/TreeImages.h"
#include "panel/widgets/WindowTools.h"

#include <QDialogButtonBox>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTimer>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <ctime>

namespace panel {

TimedAnswersWindow::TimedAnswersWindow(panel::PanelCore& core, QWidget* parent, std::function<int64_t()> now)
    : QDialog(parent), core_(core), now_(now ? std::move(now) : [] { return static_cast<int64_t>(std::time(nullptr)); })
{
    setObjectName("TimedAnswersWindow");
    setWindowTitle(tr("  Answers for a time"));
    auto* layout = new QVBoxLayout(this);
    auto* intro = Named(new QLabel(tr("Your answers to alerts that last for a time. Each ends by itself when its time is "
                                      "up; End takes it back now, and the program is asked again."),
                                   this),
                        "TimedIntro");
    intro->setWordWrap(true);
    layout->addWidget(intro);
    list_ = Named(new QTreeWidget(this), "TimedList");
    list_->setColumnCount(3);
    list_->setHeaderLabels({tr("Program"), tr("Answer"), tr("Time left")});
    list_->setRootIsDecorated(false);
    list_->setSelectionMode(QAbstractItemView::SingleSelection);
    list_->header()->setSectionResizeMode(QHeaderView::ResizeToContents);
    list_->setMinimumWidth(480);
    layout->addWidget(list_, 1);
    emptyNote_ = Named(new QLabel(tr("No answer for a time is in force."), this), "TimedEmpty");
    layout->addWidget(emptyNote_);
    auto* buttons = new QDialogButtonBox(this);
    end_ = Named(buttons->addButton(tr("&End"), QDialogButtonBox::ActionRole), "EndTimed");
    end_->setToolTip(tr("Take the selected answer back now"));
    auto* close = Named(buttons->addButton(QDialogButtonBox::Close), "CloseTimed");
    close->setDefault(true);
    layout->addWidget(buttons);
    connect(end_, &QPushButton::clicked, this, [this] {
        const QList<QTreeWidgetItem*> chosen = list_->selectedItems();
        if (!chosen.isEmpty())
            EndLine(list_->indexOfTopLevelItem(chosen.front()));
    });
    connect(list_, &QTreeWidget::itemSelectionChanged, this,
            [this] { end_->setEnabled(!list_->selectedItems().isEmpty()); });
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::accept);
    countDown_ = new QTimer(this);
    countDown_->setInterval(1000);
    connect(countDown_, &QTimer::timeout, this, &TimedAnswersWindow::ShowTimesLeft);
    countDown_->start();
    Reload();
    resize(sizeHint().expandedTo(QSize(560, 260)));
    panel::CenterForm(this);
}

void TimedAnswersWindow::Reload()
{
    entries_ = panel::ListTimedAnswers(core_);
    list_->clear();
    for (const panel::TimedEntry& entry : entries_) {
        // Named as the tree names the program.
        const rules::Application* app = core_.Rules().Find(entry.key);
        const QString name =
            app ? panel::EntryText(*app) : panel::NodeText(entry.description.empty() ? entry.exeName : entry.description);
        auto* item = new QTreeWidgetItem(list_, {name,
                                                 QString::fromStdString(panel::DescribeAnswer(entry.answer)), QString()});
        item->setToolTip(0, QString::fromStdString(entry.exeName));
    }
    if (list_->topLevelItemCount() > 0)
        list_->setCurrentItem(list_->topLevelItem(0));
    list_->setVisible(!entries_.empty());
    emptyNote_->setVisible(entries_.empty());
    end_->setEnabled(!entries_.empty());
    ShowTimesLeft();
}

void TimedAnswersWindow::ShowTimesLeft()
{
    const int64_t now = now_();
    bool ended = false;
    for (int row = 0; row < static_cast<int>(entries_.size()); ++row) {
        const rules::TimedAnswer& answer = entries_[static_cast<size_t>(row)].answer;
        ended = ended || answer.EndedAt(now);
        list_->topLevelItem(row)->setText(2, QString::fromStdString(panel::TimeLeftText(answer, now)));
    }
    // An answer that ended leaves the file and the list.
    if (ended && panel::RemoveEndedAnswers(core_, now) > 0)
        Reload();
}

bool TimedAnswersWindow::EndLine(int row)
{
    if (row < 0 || row >= static_cast<int>(entries_.size()))
        return false;
    const bool ended = panel::EndTimedAnswer(core_, entries_[static_cast<size_t>(row)]);
    Reload();
    return ended;
}

}  // namespace panel
