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
    std::string host;       // the peer's normalised name, offered as "this host only"; empty: none
    int timeoutSeconds = 0; // unanswered this long: Block; 0 waits for the user
};

struct AlertResult {
    int button = 0;           // 1 Allow, 2 Block, 0 no answer (the program failed, closed or went silent)
    bool ticked = false;      // the "apply to all" box when the alert closed
    bool interrupted = false; // a signal handler of the program interrupted the wait
    bool timedOut = false;    // nobody answered: Block, never applied to all
    bool hostOnly = false;    // ticked for the named host only
};

// The alert program: ZEL_ALERT_PROGRAM, else zel-alert beside this library.
std::string AlertProgramPath();

// Shows an alert through the alert program and waits on the calling thread
// for its answer. Every 100 ms it asks pressRequest whether a button should
// be pressed on the user's behalf (0: no) and tells the program so. The
// engine never loads a GUI toolkit into its host: the window lives in a
// program of its own, started without the hook in its environment and with
// no descriptor of the host but its own channel.
//
// The wait behaves as the program's own blocking call would: a signal whose
// handler the program installed without SA_RESTART interrupts it (the alert
// is closed, interrupted is set); one with SA_RESTART runs its handler and
// the wait goes on. The alert program says it is alive every half second; an
// alert that stays silent for kSilenceLimitMs (stopped, hung) counts as no
// answer.
//
// program: the alert program to run; empty: AlertProgramPath().
inline constexpr int kSilenceLimitMs = 5000;
AlertResult RunAlert(const AlertTexts& texts, const std::function<int()>& pressRequest, const std::string& program = {});

}  // namespace engine
