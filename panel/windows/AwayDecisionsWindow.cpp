#include "windows/AwayDecisionsWindow.h"

#include "editing/AwayAnswers.h"
#include "windows/MainForm.h"
#include "windows/WindowTools.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <ctime>

using panel::Named;

AwayDecisionsWindow::AwayDecisionsWindow(MainForm& main, std::string listPath, QWidget* parent)
    : QDialog(parent), main_(main), listPath_(std::move(listPath))
{
    setObjectName("AwayDecisionsWindow");
    setWindowTitle("  Decided while you were away");
    auto* layout = new QVBoxLayout(this);
    auto* intro = Named(new QLabel("Nobody was at the screen when these programs asked, and your setting answered. "
                                   "Allow makes a rule, as answering the alert would have.",
                                   this),
                        "AwayIntro");
    intro->setWordWrap(true);
    layout->addWidget(intro);
    AwayList = Named(new QTreeWidget(this), "AwayList");
    AwayList->setColumnCount(5);
    AwayList->setHeaderLabels({"When", "Program", "Connection", "Decided", ""});
    AwayList->setRootIsDecorated(false);
    AwayList->setSelectionMode(QAbstractItemView::SingleSelection);
    AwayList->header()->setSectionResizeMode(QHeaderView::ResizeToContents);
    AwayList->header()->setStretchLastSection(false);
    AwayList->setMinimumWidth(560);
    layout->addWidget(AwayList, 1);
    EmptyNote = Named(new QLabel("Nothing was decided while you were away.", this), "AwayEmpty");
    layout->addWidget(EmptyNote);
    auto* buttons = new QHBoxLayout;
    ClearButton = Named(new QPushButton("Clear list", this), "ClearAway");
    CloseButton = Named(new QPushButton("Close", this), "CloseAway");
    CloseButton->setDefault(true);
    buttons->addWidget(ClearButton);
    buttons->addStretch(1);
    buttons->addWidget(CloseButton);
    layout->addLayout(buttons);
    connect(ClearButton, &QPushButton::clicked, this, &AwayDecisionsWindow::ClearList);
    connect(CloseButton, &QPushButton::clicked, this, &QDialog::accept);
    Reload();
    resize(sizeHint().expandedTo(QSize(640, 300)));
    panel::CenterForm(this);
}

void AwayDecisionsWindow::Reload()
{
    decisions_ = platform::away::ReadAll(listPath_);
    AwayList->clear();
    const std::time_t now = std::time(nullptr);
    // The latest first.
    for (int row = 0; row < static_cast<int>(decisions_.size()); ++row) {
        const auto& decision = decisions_[decisions_.size() - 1 - static_cast<size_t>(row)];
        const panel::AwayLine line = panel::DescribeAway(decision, now);
        auto* item = new QTreeWidgetItem(AwayList, {QString::fromStdString(line.when), QString::fromStdString(line.program),
                                                    QString::fromStdString(line.connection),
                                                    QString::fromStdString(line.decided)});
        item->setToolTip(1, QString::fromStdString(decision.path));
        auto* allow = Named(new QPushButton("Allow", AwayList), ("AllowAway" + std::to_string(row)).c_str());
        allow->setToolTip("Make a rule that allows this, as the alert's Allow would have");
        connect(allow, &QPushButton::clicked, this, [this, row] { AllowLine(row); });
        AwayList->setItemWidget(item, 4, allow);
    }
    AwayList->setVisible(!decisions_.empty());
    EmptyNote->setVisible(decisions_.empty());
    ClearButton->setEnabled(!decisions_.empty());
}

bool AwayDecisionsWindow::AllowLine(int row)
{
    if (row < 0 || row >= static_cast<int>(decisions_.size()))
        return false;
    const auto decision = decisions_[decisions_.size() - 1 - static_cast<size_t>(row)];
    const auto app = panel::AllowAwayDecision(main_.State(), decision, listPath_);
    if (app)
        main_.LoadTreeView();
    Reload();
    return app.has_value();
}

void AwayDecisionsWindow::ClearList()
{
    panel::ClearAwayDecisions(listPath_);
    Reload();
}
