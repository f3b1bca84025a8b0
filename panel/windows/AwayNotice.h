#pragma once

#include <QPushButton>

#include <string>
#include <sys/types.h>

namespace gui {
class Timer;
}

namespace panel {

class PanelCore;

// The side column's line that tells how many connections were decided while
// nobody was at the screen; a click (or Alt+R) opens the list
// (AwayDecisionsWindow), where a line can become a rule. Hidden
// while the list is empty. It looks at the list every kCheckMs and reads it
// only when it changed.
class AwayNotice : public QPushButton {
    Q_OBJECT
public:
    static constexpr int kCheckMs = 2000;
    // What the tray says when more came while the window was hidden.
    static QString BalloonTitle();
    static QString BalloonText();

    AwayNotice(panel::PanelCore& core, std::string listPath, QWidget* parent);

    // Looks at the list now.
    void Check();
    int Count() const { return count_; }
    void OpenList();

signals:
    // More decisions came than the last look found.
    void MoreDecided();
    // A line of the list became a rule.
    void RuleMade();

private:
    panel::PanelCore& core_;
    std::string listPath_;
    gui::Timer* timer_;
    int count_ = 0;
    // What the list was when last read: size and change time.
    off_t size_ = -1;
    long long changed_ = -1;
};

}  // namespace panel
