#pragma once

#include "alert/AlertContent.h"

#include <QByteArray>
#include <QObject>

class QSocketNotifier;

namespace alert {

// One question's channel to the engine that asks it: the engine writes the
// texts, "end", and perhaps later "press N" (answered for this one by
// another alert of its process); we write "alive" every half second, "shown"
// when the question is on screen, and the answer. The engine closing its end
// withdraws the question (its program ended, or a signal interrupted the wait).
class QuestionChannel : public QObject {
    Q_OBJECT

public:
    // Takes in and out (one socket twice, or a pipe's two ends).
    QuestionChannel(int in, int out, QObject* parent = nullptr);
    ~QuestionChannel() override;

    const AlertContent& Content() const { return content_; }
    bool IsOpen() const { return in_ >= 0; }

    // A line for the engine, "\n" included. Droppable lines ("alive") are
    // left out while the engine does not read, so that a stopped engine
    // never makes us hold more than a little.
    void Say(const QByteArray& line, bool droppable = false);
    // The last line: the channel closes once it has gone, and deletes itself.
    void Finish(const QByteArray& answer);

signals:
    void Completed();
    void PressRequested(int button);
    // The engine withdrew the question, or the channel failed: no more lines.
    void Closed();

private:
    void Read();
    void Flush();
    void TakeLine(const QByteArray& line);
    void Close();

    int in_;
    int out_;
    QSocketNotifier* reading_ = nullptr;
    QSocketNotifier* writing_ = nullptr;
    QByteArray received_;
    QByteArray unsent_;
    AlertContent content_;
    bool complete_ = false;
    bool finishing_ = false;
};

}  // namespace alert
