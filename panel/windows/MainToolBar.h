#pragma once

#include <QToolBar>

#include <string>

class QAction;
class QMenu;

namespace panel {

// The main window's toolbar: Add Application, the logs, the pages of the
// page table with a button, Settings, Block All and Help (and Shut down
// where the desktop has no tray). It stays: it has
// no menu to hide it.
class MainToolBar : public QToolBar {
    Q_OBJECT
public:
    explicit MainToolBar(QWidget* parent);

    // Block All shown pressed or not, telling nobody.
    void ShowBlockAll(bool on);
    // Add Application only while the rules can be changed.
    void SetAddEnabled(bool enabled);
    // Shut down on the toolbar, for a desktop without a tray.
    void AddShutDown();

signals:
    void AddApplication();
    // A log chosen from the menu: its key ("Log1" to "Log4") and the caption the view gets.
    void LogChosen(const std::string& key, const QString& caption);
    // A page's button pressed: its key in the page table.
    void PageChosen(const std::string& key);
    void Settings();
    // Ctrl+F: the logs, to look something up in them.
    void FindInLogs();
    void BlockAllToggled(bool on);
    // Help pressed: its menu goes below the button.
    void HelpRequested(const QPoint& globalPosition);
    void ShutDown();

private:
    QAction* add_;
    QAction* blockAll_;
};

}  // namespace panel
