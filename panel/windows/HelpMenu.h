#pragma once

#include <QMenu>
#include <QPointer>

class HelpWindow;

// Help: the help page, the web site and a mail to the makers.
class HelpMenu : public QMenu {
    Q_OBJECT
public:
    explicit HelpMenu(QWidget* parent);

    // The help page in the desktop's browser, or in a window of the panel
    // when none opens it (F1 and the menu's Help).
    void OpenHelp();

private:
    void ShowOwnWindow();

    QPointer<HelpWindow> window_;
};
