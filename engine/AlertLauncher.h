#pragma once

#include "engine/AlertRendezvous.h"
#include "engine/AskingProcess.h"

#include <functional>
#include <string>

namespace engine {

// What one alert shows.
struct AlertTexts {
    std::string caption;
    std::string message;
    std::string checkBox;
    std::string peer;
    std::string icon; // theme name or path of the carrier's icon; empty for none
    bool outgoing = true;
    std::string host;       // the peer's normalised name, offered as "this host only"; empty: none
    int timeoutSeconds = 0; // unanswered this long: Block; 0 waits for the user
    // Nobody at the screen (locked): answered with awayButton (1 Allow, 2
    // Block) after awaySeconds; with no display to show it on, at once.
    int awayButton = 2;
    int awaySeconds = 30;
    // How long an answer "for a time" lasts; 0: the asker takes no length or
    // scope (the control panel's questions for the kernel backstop), and the
    // alert offers this connection or always, for any connection or the host.
    int timedMinutes = 0;
    int port = 0;           // the connection's port (the local one for incoming)
    std::string path;       // the program's path, shown with the question
    // The parts of the caption and message, for an alert that words them in
    // the user's language (the two texts above are their English).
    std::string program;    // the carrier's description
    std::string company;
    std::string protocol;   // "TCP" or "UDP"
    AskingProcess process;  // the details: process, user, command line, parent
    bool encryptedDns = false; // the peer is an encrypted DNS service: said in the details
};

// How long an answer lasts, and what it covers: the alert's two choices.
enum class AnswerLength { kOnce, kProcess, kTimed, kAlways };
enum class AnswerScope { kPeerAndPort, kHost, kPort, kAny };

struct AlertResult {
    int button = 0;           // 1 Allow, 2 Block, 0 no answer (the program failed, closed or went silent)
    bool ticked = false;      // the "apply to all" box when the alert closed
    bool interrupted = false; // a signal handler of the program interrupted the wait
    bool timedOut = false;    // nobody answered: Block, never applied to all
    bool hostOnly = false;    // ticked for the named host only
    bool away = false;        // nobody was at the screen: the away answer, never applied to all
    bool withdrawn = false;   // the asker took the question back: nothing was decided
    // The user's choices of length and scope; kOnce for every answer that
    // is no choice of the user's (time-out, away, a pressed button).
    // "Always" for any connection is also ticked, for this host hostOnly.
    AnswerLength length = AnswerLength::kOnce;
    AnswerScope scope = AnswerScope::kPeerAndPort;
};

// Shows an alert and waits on the calling thread for its answer. Every
// 100 ms it asks pressRequest whether a button should be pressed on the
// user's behalf (0: no) and tells the alert so. Any thread may call it, and
// several at once.
//
// The question goes to the alert program already running on this desktop,
// which shows the questions of every program one at a time; when none runs,
// this call starts one that serves the later questions too (and, when the
// rendezvous cannot be used, one for this question alone). The engine never
// loads a GUI toolkit into its carrier: the window lives in a program of its
// own, started without the hook in its environment and with no descriptor
// of the carrier but its channel. Closing the channel withdraws the question.
//
// The wait behaves as the program's own blocking call would: a signal whose
// handler the program installed without SA_RESTART interrupts it (the
// question is withdrawn, interrupted is set); one with SA_RESTART runs its
// handler and the wait goes on. The alert says it is alive every half
// second; once it has spoken, silence for kSilenceLimitMs (stopped, hung)
// counts as no answer and the silent alert program is ended. Before its
// first word it may still be starting: only kFirstWordLimitMs without one
// counts as no answer.
//
// withdrawFd (-1: none) readable withdraws the question (withdrawn is set):
// the program that asked without waiting closed the socket it was about.
inline constexpr int kSilenceLimitMs = 5000;
inline constexpr int kFirstWordLimitMs = 30000;
//
// program: the alert program to start; empty: AlertProgramPath().
AlertResult RunAlert(const AlertTexts& texts, const std::function<int()>& pressRequest, const std::string& program = {},
                     int withdrawFd = -1);

}  // namespace engine
