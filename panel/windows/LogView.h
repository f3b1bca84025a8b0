#pragma once

#include "panel/core/LogReader.h"
#include "panel/core/SystemServices.h"

#include <QTreeWidget>

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class QMenu;

namespace panel {

// One of the four traffic logs as a list: the records of the view, newest
// first, of one day or all and matching a search; a column the user sorted
// by staying sorted; a menu on a row (by mouse, the Menu key or Shift+F10)
// that makes a rule from it or adds its program.
class LogView : public QTreeWidget {
    Q_OBJECT
public:
    // Where the view reads from.
    struct Source {
        std::string folder;         // the log folder
        std::string portsFile;      // the ports list, for the names of ports
        std::string serviceManager; // its file name in upper case
        bool showServices = false;
        // The services' day logs, shown with showServices where the user may read them.
        std::string servicesFolder = panel::services::Places::OfThisMachine().logFolder;
    };

    explicit LogView(QWidget* parent);

    // Shows the view of key ("Log1" to "Log4") afresh, with those records
    // that pass filter.
    void Open(const std::string& key, const Source& source, const panel::LogFilter& filter = {});
    // Reads the shown view again; a log that has not changed leaves the
    // list as it is (quicker, and the user keeps the order, place and
    // selection).
    void Refresh(const Source& source);
    // Shows only the records of a day and of a search (see LogFilter).
    void SetFilter(const panel::LogFilter& filter);
    const panel::LogFilter& Filter() const { return filter_; }
    const std::string& Key() const { return key_; }
    // The selected row.
    std::optional<panel::LogRow> SelectedRow() const;
    // Whether an entry applies to a program (by the name the rules give it
    // and its path): its rows offer no adding then.
    std::function<bool(const std::string& name, const std::string& path)> HasEntry;

signals:
    // From the row's menu, for the selected row.
    void MakeRuleRequested();
    void AddProgramRequested();

protected:
    void changeEvent(QEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    void Fill();
    void PopUpRowMenu(QTreeWidgetItem* row, const QPoint& globalPosition);

    std::unique_ptr<panel::LogReader> reader_;
    std::string key_;
    Source source_;
    panel::LogFilter filter_;
    std::string shownKey_;
    std::vector<panel::LogRow> shownRows_;
    QMenu* rowMenu_;
    QAction* makeRule_;
    QAction* addProgram_;
    QAction* machineRow_;
};

}  // namespace panel
