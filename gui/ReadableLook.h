#pragma once

#include <QColor>
#include <QPalette>

class QApplication;

namespace gui {

// One look for every window and dialog of a program: the desktop's palette
// (light or dark) with the colours a reader depends on made readable, and
// control edges and focus marks drawn so that they can be seen on it.

// The contrast ratio of two colours (1 to 21), as text legibility rules count it.
double Contrast(const QColor& a, const QColor& b);
// The colour moved step by step towards white on a dark background, black on
// a light one, until it has a contrast of least against the background.
QColor WithContrast(const QColor& colour, const QColor& background, double least);
// The palette with text of a contrast of 4.5 on its background (text,
// window text, button text, the placeholder hint, selected text, links,
// tips) in the active and inactive groups; a disabled control's text may
// stay faint, as it says nothing to be read.
QPalette ReadablePalette(QPalette palette);
// The edge of check boxes, radio buttons and text fields, and the focus
// mark: a contrast of 3 against the window and the fields' background.
QColor EdgeColour(const QPalette& palette);
QColor FocusColour(const QPalette& palette);
// Gives the application the readable palette and, over the Fusion style
// (what Qt draws with where the desktop brings no style of its own), the
// edges and focus marks above. Called once, before the first window.
void UseReadableLook(QApplication& app);

}  // namespace gui
