#include "panel/windows/PageTable.h"

#include "panel/windows/ProtectionView.h"

#include <QtGlobal>

namespace panel {

namespace {

QWidget* MakeProtection(PanelCore& core, QWidget* parent) { return new ProtectionView(core.ProcRoot(), parent); }

// The texts are translated where they are shown. The toolbar names the logs
// as "traffic", their pages as "connection".
constexpr PageRow kRows[] = {
    {"Sys", nullptr, QT_TRANSLATE_NOOP("panel::NavigationTree", "System settings"), "MyComp2", ToolSlot::kNone,
     nullptr, nullptr, nullptr},
    {"Protection", nullptr, QT_TRANSLATE_NOOP("panel::NavigationTree", "Protection"), "Protection", ToolSlot::kNone,
     nullptr, nullptr, MakeProtection},
    {"App", nullptr, QT_TRANSLATE_NOOP("panel::NavigationTree", "Applications"), "Img2", ToolSlot::kNone,
     nullptr, nullptr, nullptr},
    {"Log", nullptr, QT_TRANSLATE_NOOP("panel::NavigationTree", "Logs"), "Img3", ToolSlot::kNone,
     nullptr, nullptr, nullptr},
    {"Log1", "Log", QT_TRANSLATE_NOOP("panel::NavigationTree", "Allowed incoming connection"), "LogIcon", ToolSlot::kLogMenu,
     QT_TRANSLATE_NOOP("panel::MainToolBar", "Allowed incoming traffic"),
     QT_TRANSLATE_NOOP("panel::MainToolBar", "ALLOWED INCOMING CONNECTION"), nullptr},
    {"Log2", "Log", QT_TRANSLATE_NOOP("panel::NavigationTree", "Allowed outgoing connection"), "LogIcon", ToolSlot::kLogMenu,
     QT_TRANSLATE_NOOP("panel::MainToolBar", "Allowed outgoing traffic"),
     QT_TRANSLATE_NOOP("panel::MainToolBar", "ALLOWED OUTGOING CONNECTION"), nullptr},
    {"Log3", "Log", QT_TRANSLATE_NOOP("panel::NavigationTree", "Blocked incoming connection"), "LogIcon", ToolSlot::kLogMenu,
     QT_TRANSLATE_NOOP("panel::MainToolBar", "Blocked incoming traffic"),
     QT_TRANSLATE_NOOP("panel::MainToolBar", "BLOCKED INCOMING CONNECTION"), nullptr},
    {"Log4", "Log", QT_TRANSLATE_NOOP("panel::NavigationTree", "Blocked outgoing connection"), "LogIcon", ToolSlot::kLogMenu,
     QT_TRANSLATE_NOOP("panel::MainToolBar", "Blocked outgoing traffic"),
     QT_TRANSLATE_NOOP("panel::MainToolBar", "BLOCKED OUTGOING CONNECTION"), nullptr},
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
