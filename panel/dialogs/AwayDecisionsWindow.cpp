#include "panel/dialogs/AwayDecisionsWindow.h"

#include "gui/LocalTime.h"
#include "panel/core/AwayAnswers.h"
#include "panel/widgets/WindowTools.h"

#include <QDialogButtonBox>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <ctime>

namespace panel {

AwayDecisionsWindow::AwayDecisionsWindow(panel::PanelCore& core, std::string listPath, QWidget* parent)
    : QDialog(parent), core_(core), listPath_(std::move(listPath))
{
    setObjectName("AwayDecisionsWindow");
    setWindowTitle(tr("  Decided while you were away"));
    auto* layout = new QVBoxLayout(this);
    auto* intro = Named(new QLabel(tr("Nobody was at the screen when these programs asked, and your setting answered. "
                                      "Allow makes a rule, as answering the alert would have."),
                                   this),
                        "AwayIntro");
    intro->setWordWrap(true);
    layout->addWidget(intro);
    list_ = Named(new QTreeWidget(this), "AwayList");
    list_->setColumnCount(5);
    list_->setHeaderLabels({tr("When"), tr("Program"), tr("Connection"), tr("Decided"), ""});
    list_->setRootIsDecorated(false);
    list_->setSelectionMode(QAbstractItemView::SingleSelection);
    list_->header()->setSectionResizeMode(QHeaderView::ResizeToContents);
    list_->header()->setStretchLastSection(false);
    list_->setMinimumWidth(560);
    layout->addWidget(list_, 1);
    emptyNote_ = Named(new QLabel(tr("Nothing was decided while you were away."), this), "AwayEmpty");
    layout->addWidget(emptyNote_);
    auto* buttons = new QDialogButtonBox(this);
    clear_ = Named(buttons->addButton(tr("C&lear list"), QDialogButtonBox::ResetRole), "ClearAway");
    auto* close = Named(buttons->addButton(QDialogButtonBox::Close), "CloseAway");
    close->setDefault(true);
    layout->addWidget(buttons);
    connect(clear_, &QPushButton::clicked, this, &AwayDecisionsWindow::ClearList);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::accept);
    Reload();
    panel::FitDialog(this, QSize(640, 300));
}

void AwayDecisionsWindow::Reload()
{
    decisions_ = protocol::away::ReadAll(listPath_);
    list_->clear();
    const std::time_t now = std::time(nullptr);
    // The latest first.
    for (int row = 0; row < static_cast<int>(decisions_.size()); ++row) {
        const auto& decision = decisions_[decisions_.size() - 1 - static_cast<size_t>(row)];
        const panel::AwayLine line = panel::DescribeAway(decision, now);
        const QString when = line.today ? gui::ShortTime(line.time, false)
                                        : gui::ShortDate(line.time) + ' ' + gui::ShortTime(line.time, false);
        auto* item = new QTreeWidgetItem(list_, {when, QString::fromStdString(line.program),
                                                 QString::fromStdString(line.connection),
                                                 QString::fromStdString(line.decided)});
        item->setToolTip(1, QString::fromStdString(decision.path));
        auto* allow = Named(new QPushButton(tr("Allow"), list_), ("AllowAway" + std::to_string(row)).c_str());
        allow->setToolTip(tr("Make a rule that allows this, as the alert's Allow would have"));
        connect(allow, &QPushButton::clicked, this, [this, row] { AllowLine(row); });
        list_->setItemWidget(item, 4, allow);
    }
    list_->setVisible(!decisions_.empty());
    emptyNote_->setVisible(decisions_.empty());
    clear_->setEnabled(!decisions_.empty());
}

bool AwayDecisionsWindow::AllowLine(int row)
{
    if (row < 0 || row >= static_cast<int>(decisions_.size()))
        return false;
    const auto decision = decisions_[decisions_.size() - 1 - static_cast<size_t>(row)];
    const auto app = panel::AllowAwayDecision(core_, decision, listPath_);
    if (app)
        emit RuleMade();
    Reload();
    return app.has_value();
}

void AwayDecisionsWindow::ClearList()
{
    panel::ClearAwayDecisions(listPath_);
    Reload();
}

}  // namespace panel
