#include "panel/control/RulesFileWatch.h"

#include "gui/Timer.h"

#include <QFileInfo>
#include <QFileSystemWatcher>

namespace panel {

RulesFileWatch::RulesFileWatch(panel::PanelCore& core, QObject* parent)
    : QObject(parent), core_(core), watcher_(new QFileSystemWatcher(this)), timer_(new gui::Timer(this, 1000))
{
    connect(watcher_, &QFileSystemWatcher::directoryChanged, this, &RulesFileWatch::Look);
    connect(timer_, &gui::Timer::timeout, this, &RulesFileWatch::Look);
}

void RulesFileWatch::Start()
{
    changes_.Take(core_);
    const QString path = QString::fromStdString(core_.Settings().XmlFilePath);
    if (!path.isEmpty())
        watcher_->addPath(QFileInfo(path).absolutePath());
    timer_->start();
}

void RulesFileWatch::Look()
{
    if (const auto loaded = changes_.Take(core_))
        emit Changed(*loaded);
}

}  // namespace panel
