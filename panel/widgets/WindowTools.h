#pragma once

#include <QPalette>
#include <QString>
#include <QWidget>

#include <functional>

class QColor;
class QDialog;
class QLabel;
class QScrollArea;
class QTreeWidget;
class QUrl;

namespace panel {

// Small things every window of the control panel does.

// A control with its object name: how tests and the system tests find it.
template <typename T>
T* Named(T* widget, const char* name)
{
    widget->setObjectName(name);
    return widget;
}

// A label that shows its text as it is (texts from programs are never markup).
QLabel* PlainLabel(const char* name, const QString& text, QWidget* parent);

// Moves the window so that its centre is the centre of the primary screen's
// work area (the screen without panels and task bars).
void CenterForm(QWidget* window);
// A scroll area around inside, as wide and high as inside would like where
// the screen has the room, without a frame or a Tab stop of its own (the
// focus moving inside scrolls to it).
QScrollArea* Scrolled(QWidget* parent, QWidget* inside, const char* name);
// Sizes the window as large as its contents ask, at least least, within the
// primary screen's work area.
void FitToScreen(QWidget* window, const QSize& least);

// Sorts a list by the clicked column (1-based). order 1 sorts ascending, 2
// descending; 0 flips the direction when the column is the one of the
// previous call (by any list: one slot for the whole program) and keeps it
// for another column. The list keeps its column and direction, so that it
// can be sorted so again when it is filled again (SortAsBefore).
void SortList(QTreeWidget* list, int column, int order);
void SortAsBefore(QTreeWidget* list);

// The label's mnemonic (its "&" letter) puts the focus in field.
QLabel* Buddy(QLabel* label, QWidget* field);

// Every other row of a list in a colour near its base when the palette
// gives none that goes with it (a dark palette without one: white rows
// under light text). Called again when the palette changes.
void MatchAlternateRows(QWidget* list);

// The colour, lightened on a dark background or darkened on a light one
// until text in it reads there (a contrast of 4.5, as for body text): the
// window's own colours (a rule in force, traffic, warnings) on any palette.
QColor Readable(const QColor& colour, const QColor& background);
// The contrast ratio of two colours (1 to 21), as text legibility rules count it.
double Contrast(const QColor& a, const QColor& b);
// The palette's link colour where it reads well on the background role (a
// contrast of 3 or more, as large text needs), else that background's text
// colour: a dark theme that keeps the default dark blue links would hide them.
QColor ReadableLink(const QPalette& palette, QPalette::ColorRole background = QPalette::Window);
// The same as a style sheet's "color: #rrggbb;" against the widget's window.
QString ReadableStyle(const QWidget* widget, const QColor& colour);

// A dialog at its size (at least least), within the screen and centred on
// it; where even its smallest size does not fit (scale 2 on a small
// screen), all but its row of buttons scrolls.
void FitDialog(QDialog* dialog, const QSize& least);

// Opens a page or a mail link with the desktop's handler; false when it
// cannot. Tests record instead (SetUrlOpener; nullptr restores the desktop's).
bool OpenUrl(const QUrl& url);
void SetUrlOpener(std::function<bool(const QUrl&)> opener);

// A plain message with an OK button.
void ShowMessage(QWidget* parent, const QString& text);
// Where messages go instead of a message box (tests); nullptr restores the box.
void SetMessageSink(std::function<void(const QString&)> sink);

}  // namespace panel
