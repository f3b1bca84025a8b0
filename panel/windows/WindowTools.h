#pragma once

#include <QWidget>

// Small things every window of the control panel does.
namespace panel {

// A control with its object name: how tests and the windows' code find it.
template <typename T>
T* Named(T* widget, const char* name)
{
    widget->setObjectName(name);
    return widget;
}

// Moves the window so that its centre is the centre of the primary screen's
// work area (the screen without panels and task bars).
void CenterForm(QWidget* window);

// Sorts the list view named "MainListView" of the window by the clicked
// column (1-based). order 1 sorts ascending, 2 descending; 0 flips the
// direction when the column is the one of the previous call (by any window:
// one slot for the whole program) and keeps it for another column.
void SortMainListView(int column, int order, QWidget* window);

}  // namespace panel
