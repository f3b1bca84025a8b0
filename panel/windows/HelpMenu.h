#pragma once

#include <QMenu>

// Help: the help page, the web site and a mail to the makers.
class HelpMenu : public QMenu {
    Q_OBJECT
public:
    explicit HelpMenu(QWidget* parent);
};
