#include "panel/windows/PageTable.h"

#include "panel/windows/ConnectionsView.h"
#include "panel/windows/HostListsView.h"
#include "panel/windows/ProtectionView.h"
#include "panel/windows/ReviewView.h"

#include <QtGlobal>

namespace panel {

namespace {

QWidget* MakeProtection(PanelCore& core, QWidget* parent) { return new ProtectionView(core.ProcRoot(), parent); }
QWidget* MakeConnections(PanelCore& core, QWidget* parent) { return new ConnectionsView(core, parent); }
QWidget* MakeHostLists(PanelCore& core, QWidget* parent) { return new HostListsView(core, parent); }
QWidget* MakeReview(PanelCore&, QWidget* parent) { return new ReviewView(parent); }

// The texts are translated where they are shown. The toolbar names the logs
// as "traffic", their pages (wherever they are reached from) "connection".
constexpr PageRow kRows[] = {
    {"Sys", nullptr, QT_TRANSLATE_NOOP("panel::NavigationTree", "System settings"), "MyComp2", ToolSlot::kNone,
     nullptr, nullptr},
    {"Protection", nullptr, QT_TRANSLATE_NOOP("panel::NavigationTree", "Protection"), "Protection", ToolSlot::kNone,
     nullptr, MakeProtection},
    {"App", nullptr, QT_TRANSLATE_NOOP("panel::NavigationTree", "Applications"), "Img2", ToolSlot::kNone,
     nullptr, nullptr},
    {"Log", nullptr, QT_TRANSLATE_NOOP("panel::NavigationTree", "Logs"), "Img3", ToolSlot::kNone,
     nullptr, nullptr},
    {"Log1", "Log", QT_TRANSLATE_NOOP("panel::NavigationTree", "Allowed incoming connection"), "LogIcon", ToolSlot::kLogMenu,
     QT_TRANSLATE_NOOP("panel::MainToolBar", "Allowed incoming traffic"), nullptr},
    {"Log2", "Log", QT_TRANSLATE_NOOP("panel::NavigationTree", "Allowed outgoing connection"), "LogIcon", ToolSlot::kLogMenu,
     QT_TRANSLATE_NOOP("panel::MainToolBar", "Allowed outgoing traffic"), nullptr},
    {"Log3", "Log", QT_TRANSLATE_NOOP("panel::NavigationTree", "Blocked incoming connection"), "LogIcon", ToolSlot::kLogMenu,
     QT_TRANSLATE_NOOP("panel::MainToolBar", "Blocked incoming traffic"), nullptr},
    {"Log4", "Log", QT_TRANSLATE_NOOP("panel::NavigationTree", "Blocked outgoing connection"), "LogIcon", ToolSlot::kLogMenu,
     QT_TRANSLATE_NOOP("panel::MainToolBar", "Blocked outgoing traffic"), nullptr},
    {"Connections", nullptr, QT_TRANSLATE_NOOP("panel::NavigationTree", "Connections"), "Connections", ToolSlot::kButton,
     QT_TRANSLATE_NOOP("panel::MainToolBar", "Connections"), MakeConnections},
    {"HostLists", nullptr, QT_TRANSLATE_NOOP("panel::NavigationTree", "Host lists"), "Protection", ToolSlot::kNone,
     nullptr, MakeHostLists},
    {"Review", nullptr, QT_TRANSLATE_NOOP("panel::NavigationTree", "Review"), "Review", ToolSlot::kNone,
     nullptr, MakeReview},
};

}  // namespace

std::span<const PageRow> PageTable() { return kRows; }

const PageRow* FindPage(QStringView key)
{
    for (const PageRow& row : kRows)
        if (key == QLatin1String(row.key))
            return &row;
    return nullptr;
}

}  // namespace panel
