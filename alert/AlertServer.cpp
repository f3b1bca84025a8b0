#include "alert/AlertServer.h"

#include "alert/AlertDialog.h"
#include "alert/QuestionChannel.h"
#include "alert/RendezvousListener.h"

#include <QSocketNotifier>

#include "protocol/AlertWords.h"

#include <algorithm>
#include <iterator>

namespace alert {

namespace {

namespace words = protocol::alert_words;

QByteArray Bytes(std::string_view word) { return QByteArray(word.data(), static_cast<qsizetype>(word.size())); }

// A line of one word, as "alive".
QByteArray Line(std::string_view word) { return Bytes(word) + '\n'; }

// "answer BUTTON TICKED", then " " and last when there is one.
QByteArray AnswerLine(int button, int ticked, const QByteArray& last = {})
{
    QByteArray line = Bytes(words::kAnswer) + ' ' + QByteArray::number(button) + ' ' + QByteArray::number(ticked);
    if (!last.isEmpty())
        line += ' ' + last;
    return line + '\n';
}

}  // namespace

AlertServer::AlertServer(AlertDialog& dialog, QObject* parent) : QObject(parent), dialog_(dialog)
{
    connect(&dialog_, &AlertDialog::Answered, this, &AlertServer::Answered);
    connect(&dialog_, &AlertDialog::UserPresent, this, &AlertServer::UserPresent);
    connect(&dialog_, &AlertDialog::Shown, this, [this] {
        if (shown_)
            shown_->Say(Line(words::kShown));
    });
    connect(&alive_, &gui::Timer::timeout, this, &AlertServer::SayAlive);
    alive_.start();
    connect(&countdown_, &gui::Timer::timeout, this, &AlertServer::CountDown);
    countdown_.start();
    connect(&linger_, &gui::Timer::timeout, this, &AlertServer::TryRetire);
    connect(&presence_, &ScreenPresence::Changed, this, &AlertServer::PresenceChanged);
}

AlertServer::~AlertServer()
{
    if (accepting_)
        accepting_->setEnabled(false);
}

void AlertServer::AddChannel(int in, int out)
{
    auto* channel = new QuestionChannel(in, out, this);
    channels_.push_back(channel);
    connect(channel, &QuestionChannel::Completed, this, [this, channel] { Completed(channel); });
    connect(channel, &QuestionChannel::Closed, this, [this, channel] { Withdrawn(channel); });
    connect(channel, &QuestionChannel::PressRequested, this,
            [this, channel](int button) { PressRequested(channel, button); });
    linger_.stop();
    // The first word at once: the engine counts silence from here on.
    channel->Say(Line(words::kAlive), true);
}

void AlertServer::Serve(std::unique_ptr<RendezvousListener> listener)
{
    listener_ = std::move(listener);
    accepting_ = new QSocketNotifier(listener_->Descriptor(), QSocketNotifier::Read, this);
    connect(accepting_, &QSocketNotifier::activated, this, &AlertServer::AcceptWaiting);
    AcceptWaiting();
}

void AlertServer::AcceptWaiting()
{
    while (listener_ && channels_.size() < kChannelLimit) {
        const int fd = listener_->Accept();
        if (fd < 0)
            return;
        AddChannel(fd, fd);
    }
    // Full: the rest wait in the socket's queue, and their engines with them.
    if (accepting_)
        accepting_->setEnabled(false);
}

void AlertServer::Completed(QuestionChannel* channel)
{
    queue_.push_back({channel, channel->Content().timeoutSeconds, -1});
    if (presence_.Away()) {
        StartAwayCount(queue_.back());
        if (queue_.back().awaySecondsLeft == 0)
            AnswerAway(channel);
    }
    ShowCurrent();
}

void AlertServer::StartAwayCount(Question& question)
{
    question.awaySecondsLeft = question.channel->Content().awayButton != 0 ? question.channel->Content().awaySeconds : -1;
    question.awayPartial = true;
}

void AlertServer::AnswerAway(QuestionChannel* channel)
{
    Answer(channel, AnswerLine(channel->Content().awayButton, 0, Bytes(words::kAway)));
}

void AlertServer::PresenceChanged(bool away)
{
    std::vector<QuestionChannel*> due;
    for (Question& question : queue_) {
        if (away)
            StartAwayCount(question);
        else
            question.awaySecondsLeft = -1; // somebody is back: the question waits for them
        if (question.awaySecondsLeft == 0)
            due.push_back(question.channel);
    }
    for (QuestionChannel* channel : due)
        AnswerAway(channel);
    ShowCurrent();
}

void AlertServer::Withdrawn(QuestionChannel* channel)
{
    Forget(channel);
    channel->deleteLater();
    ShowCurrent();
}

void AlertServer::PressRequested(QuestionChannel* channel, int button)
{
    if (button != AlertDialog::kAllow && button != AlertDialog::kBlock)
        return;
    const bool waiting = std::any_of(queue_.begin(), queue_.end(), [channel](const Question& q) { return q.channel == channel; });
    if (!waiting)
        return;
    Answer(channel, AnswerLine(button, 0));
    ShowCurrent();
}

namespace {

// The answer's line: "for=LENGTH to=SCOPE" to an engine that takes them;
// to one that predates them, "1" for always (" host" for the host alone),
// and for anything else this connection alone.
QByteArray UsersAnswer(int button, int length, int scope, const AlertContent& content)
{
    static_assert(std::size(words::kLengths) == 4 && std::size(words::kScopes) == 4);
    if (content.timedMinutes > 0) {
        if (length < 0 || length > 3 || scope < 0 || scope > 3)
            return AnswerLine(button, 0);
        return AnswerLine(button, 0, Bytes(words::kFor) + Bytes(words::kLengths[length]) + ' ' + Bytes(words::kTo)
                                         + Bytes(words::kScopes[scope]));
    }
    if (length == AlertDialog::kAlways && scope == AlertDialog::kAny)
        return AnswerLine(button, 1);
    if (length == AlertDialog::kAlways && scope == AlertDialog::kHost && !content.host.isEmpty())
        return AnswerLine(button, 1, Bytes(words::kHost));
    return AnswerLine(button, 0);
}

// Whether the answer reaches past the question's own connection in the
// asking engine: a time or always, for a scope that engine takes.
bool Lasting(int length, int scope, const AlertContent& content)
{
    if (content.timedMinutes > 0)
        return length == AlertDialog::kAlways || length == AlertDialog::kTimed;
    return length == AlertDialog::kAlways
        && (scope == AlertDialog::kAny || (scope == AlertDialog::kHost && !content.host.isEmpty()));
}

// Whether a lasting answer to answered, for scope, covers waiting (a
// question of the same program, from any of its processes).
bool Covers(const AlertContent& answered, int scope, const AlertContent& waiting)
{
    const bool samePeer = answered.host.isEmpty() ? waiting.peer == answered.peer : waiting.host == answered.host;
    switch (scope) {
    case AlertDialog::kAny:
        return true;
    case AlertDialog::kHost:
        return samePeer;
    case AlertDialog::kPort:
        return waiting.port == answered.port;
    case AlertDialog::kPeerAndPort:
        return samePeer && waiting.port == answered.port;
    default:
        return false;
    }
}

// Whether waiting asks again for the connection answered: a program that
// opens a second connection to the same peer while the first is held (a
// browser's backup connection) would otherwise ask twice for one request.
bool SameConnection(const AlertContent& answered, const AlertContent& waiting)
{
    return waiting.pid == answered.pid && waiting.peer == answered.peer && waiting.host == answered.host
        && waiting.port == answered.port && waiting.protocol == answered.protocol;
}

}  // namespace

void AlertServer::Answered(int button, int length, int scope, bool alsoWaiting)
{
    QuestionChannel* current = shown_;
    if (!current)
        return;
    // The same answer for this program's other questions, from any of its
    // processes, for their connections only: the ticked box's, the same
    // connection asked again, and those a lasting answer covers (it reaches their engines as a rule, which
    // decides their later connections; these were asked already).
    const AlertContent& shown = current->Content();
    const QString program = shown.ProgramKey();
    const bool lasting = Lasting(length, scope, shown);
    std::vector<QuestionChannel*> same;
    for (const Question& question : queue_)
        if (question.channel != current && question.channel->Content().ProgramKey() == program
            && (alsoWaiting || SameConnection(shown, question.channel->Content())
                || (lasting && Covers(shown, scope, question.channel->Content()))))
            same.push_back(question.channel);
    for (QuestionChannel* channel : same)
        Answer(channel, AnswerLine(button, 0));
    Answer(current, UsersAnswer(button, length, scope, current->Content()));
    ShowCurrent();
}

void AlertServer::UserPresent()
{
    // Somebody is at the screen: nothing times out that waits now.
    for (Question& question : queue_)
        question.secondsLeft = 0;
    dialog_.SetSecondsLeft(0);
}

void AlertServer::CountDown()
{
    std::vector<QuestionChannel*> expired;
    std::vector<QuestionChannel*> away;
    for (Question& question : queue_) {
        // Nobody there: the away setting's count runs, the time-out waits.
        if (presence_.Away() && question.awaySecondsLeft >= 0) {
            if (question.awayPartial)
                question.awayPartial = false;
            else if (question.awaySecondsLeft <= 1)
                away.push_back(question.channel);
            else
                --question.awaySecondsLeft;
        } else if (question.secondsLeft > 0) {
            if (question.timeoutPartial)
                question.timeoutPartial = false;
            else if (--question.secondsLeft == 0)
                expired.push_back(question.channel);
        }
    }
    for (QuestionChannel* channel : expired)
        Answer(channel, AnswerLine(AlertDialog::kBlock, 0, Bytes(words::kTimeout)));
    for (QuestionChannel* channel : away)
        AnswerAway(channel);
    if (!queue_.empty() || !expired.empty() || !away.empty())
        ShowCurrent();
}

void AlertServer::Answer(QuestionChannel* channel, const QByteArray& line)
{
    Forget(channel);
    // It closes and goes once the line has left.
    channel->Finish(line);
}

void AlertServer::Forget(QuestionChannel* channel)
{
    disconnect(channel, nullptr, this, nullptr);
    channels_.erase(std::remove(channels_.begin(), channels_.end(), channel), channels_.end());
    queue_.erase(std::remove_if(queue_.begin(), queue_.end(), [channel](const Question& q) { return q.channel == channel; }),
                 queue_.end());
    if (shown_ == channel)
        shown_ = nullptr;
    if (accepting_ && listener_ && channels_.size() < kChannelLimit)
        accepting_->setEnabled(true);
}

void AlertServer::ShowCurrent()
{
    presence_.Watch(!queue_.empty());
    if (queue_.empty()) {
        shown_ = nullptr;
        dialog_.hide();
        CheckIdle();
        return;
    }
    const Question& current = queue_.front();
    const QString program = current.channel->Content().ProgramKey();
    const int same = static_cast<int>(std::count_if(queue_.begin() + 1, queue_.end(), [&program](const Question& q) {
        return q.channel->Content().ProgramKey() == program;
    }));
    const bool replaced = current.channel != shown_;
    if (replaced) {
        shown_ = current.channel;
        dialog_.SetQuestion(shown_->Content());
    }
    dialog_.SetWaiting(static_cast<int>(queue_.size()) - 1, same);
    dialog_.SetSecondsLeft(current.secondsLeft);
    if (!dialog_.isVisible())
        dialog_.Start(); // says "shown" once it shows
    else if (replaced)
        shown_->Say(Line(words::kShown));
}

void AlertServer::SayAlive()
{
    for (QuestionChannel* channel : channels_)
        channel->Say(Line(words::kAlive), true);
}

void AlertServer::CheckIdle()
{
    if (!channels_.empty())
        return;
    if (!listener_) {
        emit Finished();
        return;
    }
    if (!linger_.isActive())
        linger_.start(kLingerMs);
}

void AlertServer::TryRetire()
{
    if (!listener_ || !channels_.empty())
        return;
    // The socket may close under the lock: its notifier goes first.
    accepting_->setEnabled(false);
    std::vector<int> late;
    switch (listener_->TryRetire(late)) {
    case RendezvousListener::Retire::kBusy:
        accepting_->setEnabled(true);
        linger_.start(kRetireRetryMs);
        return;
    case RendezvousListener::Retire::kLateQuestions:
        accepting_->setEnabled(true);
        for (const int fd : late)
            AddChannel(fd, fd);
        return;
    case RendezvousListener::Retire::kDone:
        delete accepting_;
        accepting_ = nullptr;
        listener_.reset();
        emit Finished();
        return;
    }
}

}  // namespace alert
