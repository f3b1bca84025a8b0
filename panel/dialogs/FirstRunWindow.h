#pragma once

#include "panel/control/FirstRunFlow.h"

#include <QDialog>

#include <optional>

class QLabel;
class QPushButton;
class QRadioButton;

namespace panel {

// The first start's window: what the firewall does, how the user wants to
// live with it (two preset levels), what is decided now and after the next
// login, and a terminal whose programs run under the firewall. Skip (or
// Escape) leaves everything as it is.
class FirstRunWindow : public QDialog {
    Q_OBJECT
public:
    FirstRunWindow(const FirstRunInput& input, QWidget* parent);

    // The level chosen; none when skipped or nothing was chosen.
    std::optional<int> Level() const;

private:
    void OpenTerminal();

    QRadioButton* askEvery_;
    QRadioButton* askIncoming_;
    QPushButton* done_;
    QLabel* terminalOutcome_ = nullptr;
    std::function<std::string()> openTerminal_;
};

}  // namespace panel
