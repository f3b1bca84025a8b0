#pragma once

// The options every Qt program takes on its command line (qt6options(7):
// -style, -platform, -reverse, ...), so that the control panel and the alert
// can tell Qt's options from a mistake before anything opens a display.
namespace gui {

// How many arguments from argv[at] on are one of Qt's options (1, or 2 with
// its value); 0 when argv[at] is none of them. Qt takes "--style" for
// "-style", and "-style=fusion" whole.
int QtOptionLength(int argc, char** argv, int at);

}  // namespace gui
