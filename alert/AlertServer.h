#pragma once

#include "alert/ScreenPresence.h"
#include "gui/Timer.h"

#include <QByteArray>
#include <QObject>

#include <memory>
#include <vector>

class QSocketNotifier;

namespace alert {

class AlertDialog;
class QuestionChannel;
class RendezvousListener;

// The open questions of every program on this desktop, in the order they
// came, shown one at a time in one window with how many wait behind. Each
// question keeps its own channel: "alive" every half second from the moment
// it arrives (so that its engine counts silence only once we have spoken),
// its own time-out, and its withdrawal when its engine closes the channel.
// While nobody is at the screen (see ScreenPresence) a question's time-out
// waits and the away setting its engine sent answers it instead, after its
// seconds (counted from when nobody was there, or from its arrival).
class AlertServer : public QObject {
    Q_OBJECT

public:
    static constexpr int kAliveIntervalMs = 500;
    // A serving program stays this long after its last question, so that a
    // program that asks one question after another keeps one window.
    static constexpr int kLingerMs = 3000;
    static constexpr int kRetireRetryMs = 50;
    // Questions open at once; more wait in the socket's queue until some leave.
    static constexpr size_t kChannelLimit = 2000;

    explicit AlertServer(AlertDialog& dialog, QObject* parent = nullptr);
    ~AlertServer() override;

    // A question arrives on these descriptors (one socket given twice, or a
    // pipe's two ends); the server owns them from now on.
    void AddChannel(int in, int out);
    // Takes the questions that connect to the rendezvous socket as well,
    // until none is left and it has retired.
    void Serve(std::unique_ptr<RendezvousListener> listener);
    // One second passes for the time-outs.
    void CountDown();

    // Questions complete and waiting, the one shown included.
    int Waiting() const { return static_cast<int>(queue_.size()); }
    int OpenChannels() const { return static_cast<int>(channels_.size()); }
    ScreenPresence& Presence() { return presence_; }

signals:
    // Nothing is left to ask and no question can reach us: the program may end.
    void Finished();

private:
    struct Question {
        QuestionChannel* channel;
        int secondsLeft;     // 0: no time-out
        int awaySecondsLeft; // while nobody is there; -1: not counting
        // A count starts in the middle of a second of the countdown's: that
        // part is not counted, so that no answer comes before its time.
        bool timeoutPartial = true;
        bool awayPartial = true;
    };

    void Completed(QuestionChannel* channel);
    void Withdrawn(QuestionChannel* channel);
    void PressRequested(QuestionChannel* channel, int button);
    void Answered(int button, int length, int scope, bool alsoWaiting);
    void UserPresent();
    void PresenceChanged(bool away);
    // Counting from now while nobody is there; answered at once at 0.
    void StartAwayCount(Question& question);
    void AnswerAway(QuestionChannel* channel);
    // Sends the answer and lets the question go.
    void Answer(QuestionChannel* channel, const QByteArray& line);
    void Forget(QuestionChannel* channel);
    void ShowCurrent();
    void SayAlive();
    void AcceptWaiting();
    void CheckIdle();
    void TryRetire();

    AlertDialog& dialog_;
    std::vector<QuestionChannel*> channels_; // every open channel, in the order they came
    std::vector<Question> queue_;            // the complete questions, in the order they completed
    QuestionChannel* shown_ = nullptr;
    std::unique_ptr<RendezvousListener> listener_;
    QSocketNotifier* accepting_ = nullptr;
    // On the Qt programs' one clock, which a test can move.
    gui::Timer alive_ {this, kAliveIntervalMs};
    gui::Timer countdown_ {this, 1000};
    gui::Timer linger_ {this, kLingerMs, true};
    ScreenPresence presence_;
};

}  // namespace alert
