#pragma once

#include <functional>
#include <string>

namespace engine {

// What one alert shows.
struct AlertTexts {
    std::string caption;
    std::string message;
    std::string checkBox;
    std::string peer;
    std::string icon; // theme name or path of the host's icon; empty for none
    bool outgoing = true;
};

struct AlertResult {
    int button = 0;      // 1 Allow, 2 Block, 0 no answer (the program failed or closed)
    bool ticked = false; // the "apply to all" box when the alert closed
};

// The alert program: ZEL_ALERT_PROGRAM, else zel-alert beside this library.
std::string AlertProgramPath();

// Shows an alert through the alert program and waits on the calling thread
// for its answer. Every 100 ms it asks pressRequest whether a button should
// be pressed on the user's behalf (0: no) and tells the program so. The
// engine never loads a GUI toolkit into its host: the window lives in a
// program of its own, started without the hook in its environment.
AlertResult RunAlert(const AlertTexts& texts, const std::function<int()>& pressRequest);

}  // namespace engine
