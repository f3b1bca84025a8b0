#pragma once

#include "core/LogReader.h"

#include <QTreeWidget>

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

// One of the four traffic logs as a list: today's and the earlier days'
// records of the view, a column the user sorted by staying sorted, and a
// menu on the rows of programs that have no entry yet.
class LogView : public QTreeWidget {
    Q_OBJECT
public:
    // Where the view reads from.
    struct Source {
        std::string folder;         // the log folder
        std::string portsFile;      // the ports list, for the names of ports
        std::string serviceManager; // its file name in upper case
        bool showServices = false;
    };
    // The program a row records.
    struct Program {
        std::string application;
        std::string path;
        std::string service; // "1" for a system service
    };

    explicit LogView(QWidget* parent);

    // Shows the view of key ("Log1" to "Log4") afresh.
    void Open(const std::string& key, const Source& source);
    // Reads the shown view again; a log that has not changed leaves the
    // list as it is (quicker, and the user keeps the order, place and
    // selection).
    void Refresh(const Source& source);
    const std::string& Key() const { return key_; }
    // The program of the selected row.
    std::optional<Program> SelectedProgram() const;
    // Whether an entry applies to a program (by the name the rules give it
    // and its path): its rows have no menu then.
    std::function<bool(const std::string& name, const std::string& path)> HasEntry;

signals:
    // The menu for adding the program of the row under the pointer.
    void ProgramMenuRequested(const QPoint& globalPosition);

private:
    void Fill(const Source& source);

    std::unique_ptr<panel::LogReader> reader_;
    std::string key_;
    std::string shownKey_;
    std::vector<panel::LogRow> shownRows_;
};
