#pragma once

#include <QDialog>

class QCheckBox;

namespace panel {

// The notice shown when the close box sends the window to the tray: where
// the icon is, and whether to show this again.
class TrayNotice : public QDialog {
    Q_OBJECT
public:
    explicit TrayNotice(QWidget* parent);

    // Whether the notice is to be shown next time ("Don't show this message again" cleared).
    bool ShowAgain() const;

private:
    QCheckBox* dontShow_;
};

}  // namespace panel
