// The strip of programs started today that still run.
#include "windows/MainForm.h"

#include "editing/FileInformation.h"
#include "editing/ProcessList.h"
#include "gui/ProgramIcon.h"

#include <QListWidget>

#include <ctime>

void MainForm::RunningProcessesIcons()
{
    RunProcIconList->clear();
    const QString list = QString::fromStdString(
        panel::UpdateLspWithRelatedProcList(state_, true, false, state_.ProcRoot, std::time(nullptr)));
    const QStringList paths = list.split("$$", Qt::SkipEmptyParts);
    for (int i = 0; i < paths.size() && i < 6; ++i) {
        const std::string path = paths[i].toStdString();
        std::string label = panel::GetDisplayName(path);
        if (label.empty())
            label = std::string(path.substr(path.rfind('/') + 1));
        const QString text = QString::fromStdString(panel::StripLabel(label));
        auto* item = new QListWidgetItem(QIcon(gui::ExecutablePixmap(paths[i], 16)), text, RunProcIconList);
        item->setToolTip(text);
        item->setData(Qt::UserRole, paths[i]);
    }
}
