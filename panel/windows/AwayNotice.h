#pragma once

#include <QPushButton>
#include <QTimer>

#include <string>
#include <sys/types.h>

class MainForm;

// The side column's line that tells how many connections were decided while
// nobody was at the screen, and opens the list (AwayDecisionsWindow); hidden
// while the list is empty. It looks at the list every kCheckMs and reads it
// only when it changed; when more came while the window was hidden, the tray
// says so once.
class AwayNotice : public QPushButton {
    Q_OBJECT
public:
    static constexpr int kCheckMs = 2000;

    AwayNotice(MainForm& main, std::string listPath, QWidget* parent);

    // Looks at the list now.
    void Check();
    // Opens the list; the notice follows what is left.
    void OpenList();
    int Count() const { return count_; }

private:
    MainForm& main_;
    std::string listPath_;
    QTimer timer_;
    int count_ = 0;
    // What the list was when last read: size and change time.
    off_t size_ = -1;
    long long changed_ = -1;
};
