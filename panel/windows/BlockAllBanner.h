#pragma once

#include <QFrame>

class QPushButton;

namespace panel {

// The strip across the top of the main window while Block All is on: no
// program may connect, which a pressed toolbar button alone does not make
// plain. It offers to turn Block All off.
class BlockAllBanner : public QFrame {
    Q_OBJECT
public:
    explicit BlockAllBanner(QWidget* parent);

signals:
    void TurnOff();

private:
    QPushButton* turnOff_;
};

}  // namespace panel
