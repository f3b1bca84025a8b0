#pragma once

#include <QMenu>

namespace panel {

// Adding an application: a new one (the wizard), or the program of the log
// row the menu was opened on.
class AddNewMenu : public QMenu {
    Q_OBJECT
public:
    explicit AddNewMenu(QWidget* parent);

signals:
    void AddNew();
    void AddFromLog();
};

}  // namespace panel
