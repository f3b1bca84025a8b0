#pragma once

#include "protocol/AwayDecisions.h"

#include <QDialog>

#include <string>
#include <vector>

class QLabel;
class QPushButton;
class QTreeWidget;

namespace panel {

class PanelCore;

// What was decided while nobody was at the screen, one line per decision,
// each with Allow, which makes it a rule as answering its alert would have
// (see core/AwayAnswers.h). The list is read again after every change.
class AwayDecisionsWindow : public QDialog {
    Q_OBJECT
public:
    AwayDecisionsWindow(panel::PanelCore& core, std::string listPath, QWidget* parent);

    // Reads the list again and shows it.
    void Reload();
    // Allow on the line at row; false when nothing could be stored.
    bool AllowLine(int row);
    void ClearList();

signals:
    // A line became a rule.
    void RuleMade();

private:
    panel::PanelCore& core_;
    std::string listPath_;
    std::vector<protocol::away::Decision> decisions_;
    QTreeWidget* list_;
    QLabel* emptyNote_;
    QPushButton* clear_;
};

}  // namespace panel
