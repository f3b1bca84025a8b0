#pragma once

#include "settings/PanelState.h"

#include <QMainWindow>

#include <memory>

class QAction;
class QLabel;
class QSocketNotifier;
class QToolBar;

namespace platform::windows {
class Window;
}

// The control panel's main window. Other processes find it by its title and
// reach its message box (`Picture2`) through the window registry.
class MainForm : public QMainWindow {
    Q_OBJECT
public:
    explicit MainForm(panel::PanelState& state, QWidget* parent = nullptr);
    ~MainForm() override;

    // The load sequence: settings, error log, old logs, Block All, rules.
    void Form_Load();
    // Registers the window and its message box with the window registry;
    // false (logged) when the runtime folder cannot hold it.
    bool RegisterWindow();

    void UpdateBlockAllButton();
    // Brought back by the tray or by a second copy of the program.
    void RestoreWindow();
    // Sets the message box's window text, which the interceptor relays to the engines.
    void SetPic2WindowText(const std::string& text);

    panel::PanelState& State() { return state_; }

private:
    void BuildToolBar();
    void MainToolBar_ButtonClick(QAction* button);
    void Picture2_Messages();
    void MouseMoveSub(uint32_t wParam, int64_t lParam);

    panel::PanelState& state_;
    QToolBar* MainToolBar = nullptr;
    QAction* blockAllButton_ = nullptr;
    QLabel* AppName = nullptr;
    QLabel* StatText = nullptr;
    QLabel* BlockActive = nullptr;
    QWidget* Picture2 = nullptr;
    std::unique_ptr<platform::windows::Window> registration_;
    QSocketNotifier* messages_ = nullptr;
};
