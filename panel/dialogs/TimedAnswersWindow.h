#pragma once

#include "panel/core/TimedAnswers.h"

#include <QDialog>

#include <cstdint>
#include <functional>
#include <vector>

class QLabel;
class QPushButton;
class QTimer;
class QTreeWidget;

namespace panel {

class PanelCore;

// The alerts' answers for a time, one line each with the time left, the
// first to end first; End takes the selected one back at once. The times
// left count down every second and the list is read again when one ends.
class TimedAnswersWindow : public QDialog {
    Q_OBJECT
public:
    // now: the wall clock in seconds since 1970 (tests give their own).
    TimedAnswersWindow(panel::PanelCore& core, QWidget* parent, std::function<int64_t()> now = {});

    void Reload();
    // Ends the answer on row; false when nothing was ended.
    bool EndLine(int row);
    int Lines() const { return static_cast<int>(entries_.size()); }

private:
    void ShowTimesLeft();

    panel::PanelCore& core_;
    std::function<int64_t()> now_;
    std::vector<panel::TimedEntry> entries_;
    QTreeWidget* list_;
    QLabel* emptyNote_;
    QPushButton* end_;
    QTimer* countDown_;
};

}  // namespace panel
