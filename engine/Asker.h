#pragma once

#include "engine/AlertLauncher.h"
#include "engine/Connection.h"
#include "protocol/FirewallMode.h"

#include <cstdint>
#include <ctime>
#include <functional>
#include <optional>
#include <string>
#include <sys/types.h>

namespace rules {
struct TimedAnswer;
}

namespace engine {

class AnswerMemory;
class CarrierLife;
struct CarrierIdentity;

// Asks the user about one connection and applies the answer to what
// outlives the question: an answer remembered for a direction or a host,
// held for a scope and a length (and sent to the control panel to store),
// listed when nobody was at the screen. What the answer means for the
// verdicts and the record is the engine's.
class Asker {
public:
    // Puts one question to the alert program: RunAlert, or a stand-in.
    using AlertRunner = AlertResult (*)(const AlertTexts& texts, const std::function<int()>& pressRequest,
                                        const std::string& program, int withdrawFd);

    // What became of a question.
    struct Outcome {
        int answer = 0;               // kPermit or kDeny
        const char* reason = nullptr; // why the answer is what it is (log_reason)
        bool interrupted = false;     // a signal ended the wait: nothing was decided
        bool withdrawn = false;       // the question was taken back: nothing was decided
        int64_t until = 0;            // the end of the answer for a time (or the held one) that answered; 0: none
    };

    // now: the engine's clock (empty: the system's).
    Asker(const CarrierIdentity& carrier, const CarrierLife& life, AnswerMemory& answers,
          const std::function<std::time_t()>& now, AlertRunner runAlert = &RunAlert);

    // hostName: the outgoing peer's normalised name (null: none); remoteName:
    // the peer as the alert shows it. withdrawFd (-1: none) readable takes
    // the question back.
    Outcome Ask(const Connection& connection, const char* remoteName, const char* hostName, int withdrawFd);

    void LockForFork() { mode_.LockForFork(); }
    void UnlockAfterFork() { mode_.UnlockAfterFork(); }

private:
    // What the user chose beside the button.
    struct Choice {
        bool ticked = false;   // apply the answer to all of the direction's traffic...
        bool hostOnly = false; // ...or, for an outgoing connection to a known name, to that host
        bool away = false;     // nobody was at the screen: the away setting answered
        AnswerLength length = AnswerLength::kOnce;
        AnswerScope scope = AnswerScope::kPeerAndPort;
        int timedMinutes = 0;
    };
    // A remembered or held answer (1 Allow, 2 Block, 0 none), without a window.
    int Remembered(const Connection& connection, const char* hostName, int64_t* heldUntil) const;
    AlertTexts Texts(const Connection& connection, const char* remoteName, const char* hostName) const;
    // An answer for longer than one connection that is neither for all of
    // a direction nor for one host always: held by this process, and sent to
    // the control panel to store unless it lasts until the program quits.
    void KeepScoped(const Choice& choice, int answer, const Connection& connection, const char* hostName);
    // What a quiet or the learning mode decides instead of asking; nullopt
    // when the firewall asks.
    std::optional<Outcome> DecideByMode(const Connection& connection, const char* hostName);
    // A decision of a mode, listed for review once per peer by this process.
    void ListForReview(const Connection& connection, const char* hostName, const Outcome& outcome) const;
    // The answer held for a scope (until: its end, 0 none); nullopt where
    // the connection has nothing the scope needs.
    static std::optional<rules::TimedAnswer> ScopedAnswer(AnswerScope scope, int answer, const Connection& connection,
                                                          const char* hostName, int64_t until);
    // A decision made while nobody was at the screen, for the panel to list.
    void RecordAway(const Connection& connection, const char* hostName, int answer) const;
    // firstLine: the message's first line of data (a host name, an answer).
    void Notify(int alertCode, std::string_view firstLine = {}) const;
    std::time_t Now() const;

    const CarrierIdentity& carrier_;
    const CarrierLife& life_;
    AnswerMemory& answers_;
    const std::function<std::time_t()>& now_;
    AlertRunner runAlert_;
    protocol::mode::Reader mode_;
};

}  // namespace engine
