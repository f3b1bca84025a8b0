#pragma once

#include <QMenu>
#include <QPointer>

namespace panel {

class HelpWindow;

// Help: the user guide, the web site and a mail to the makers.
class HelpMenu : public QMenu {
    Q_OBJECT
public:
    explicit HelpMenu(QWidget* parent);

    // The user guide in the panel's help window (F1 and the menu's Help):
    // a browser would show its Markdown as text.
    void OpenHelp();

private:
    QPointer<HelpWindow> window_;
};

}  // namespace panel
