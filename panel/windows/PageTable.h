#pragma once

#include "panel/core/PanelCore.h"

#include <QStringView>

#include <span>

class QWidget;

namespace panel {

// Where the toolbar reaches a page from.
enum class ToolSlot {
    kNone,
    kLogMenu, // an entry of the Logs button's menu
    kButton,  // a button of its own, after Logs
};

// One page of the main window: its node in the navigation tree, its place
// on the toolbar and, for a page of its own, the widget that shows it. The
// tree, the toolbar and the right-hand side are made from these rows in
// their order, so that a new page is one row here.
struct PageRow {
    const char* key;    // the node's key and the toolbar entry's object name
    const char* parent; // the key of the row whose node holds this one; nullptr: a root
    const char* title;  // the node's text, translated as panel::NavigationTree's
    const char* icon;   // the node's picture (TreeImage); a toolbar button is drawn by its key (gui::art::ToolIcon)
    ToolSlot slot;
    const char* toolText; // the toolbar's text for it, translated as panel::MainToolBar's
    // Makes the page, hidden, on parent; nullptr for the rows the window's
    // own views show (the system settings, the applications, the logs).
    QWidget* (*factory)(panel::PanelCore& core, QWidget* parent);
};

std::span<const PageRow> PageTable();
// The row of a key; nullptr when none.
const PageRow* FindPage(QStringView key);

}  // namespace panel
