#pragma once

#include "panel/core/OutsideChanges.h"
#include "panel/core/PanelCore.h"

#include <QObject>

class QFileSystemWatcher;
namespace gui {
class Timer;
}

namespace panel {

// Follows the rules file while the panel runs: a file replaced in its
// folder (as every writer replaces it) is looked at at once, and the file
// once a second in case the kernel did not tell. What another program
// changed is taken into the panel's rules and published (OutsideChanges).
class RulesFileWatch : public QObject {
    Q_OBJECT
public:
    RulesFileWatch(panel::PanelCore& core, QObject* parent);

    // From the rules loaded now on.
    void Start();
    void Look();

signals:
    // The rules held changed: the window shows them again.
    void Changed(const panel::RulesStore::LoadResult& loaded);

private:
    panel::PanelCore& core_;
    panel::OutsideChanges changes_;
    QFileSystemWatcher* watcher_;
    gui::Timer* timer_;
};

}  // namespace panel
