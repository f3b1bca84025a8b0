#pragma once

#include <QDialog>
#include <QString>
#include <QTimer>

class QCheckBox;
class QLabel;
class QPushButton;

struct AlertContent {
    QString caption;
    QString message;
    QString checkBox;
    QString peer;
    QString icon;
    bool outgoing = true;
    QString host; // the peer's name, offered as "this host only"; empty: not offered
    int timeoutSeconds = 0; // unanswered this long: Block; 0 waits for the user
};

// The connection alert: a frameless, always-on-top window that slides up
// from just below the bottom-right corner of the screen and animates an
// arrow between the local computer and the remote party until the user
// answers. Controls carry their ids as object names ("1", "2", "1001".."1009").
class AlertDialog : public QDialog {
    Q_OBJECT

public:
    static constexpr int kAllow = 1;
    static constexpr int kBlock = 2;
    static constexpr int kSlideIntervalMs = 50;
    static constexpr int kSlideStepPixels = 20;
    static constexpr int kArrowIntervalMs = 500;

    explicit AlertDialog(const AlertContent& content, QWidget* parent = nullptr);

    // Places the window just out of sight and starts sliding it in.
    void Start();
    // Closes the alert as if button 1 or 2 was pressed; other ids are ignored.
    void Press(int button);

    // One step of the arrow animation.
    void AdvanceArrow();
    int Step() const { return step_; }
    // The object name of the one arrow showing.
    QString VisibleArrow() const;
    bool IsSliding() const { return slideTimer_.isActive(); }
    bool IsAnimating() const { return arrowTimer_.isActive(); }
    // Whether the alert answered Block because nobody did, and the seconds left.
    bool TimedOut() const { return timedOut_; }
    int SecondsLeft() const { return secondsLeft_; }
    // Whether the user chose to apply the answer to the named host only.
    bool HostOnly() const;
    // One second of the time-out passing.
    void CountDown();

signals:
    void Answered(int button, bool ticked);
    void Shown();

protected:
    void reject() override;
    void closeEvent(QCloseEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    void SlideStep();
    QRect ScreenArea() const;

    bool outgoing_;
    int step_ = 3;
    bool answered_ = false;
    bool reportedShown_ = false;
    QTimer slideTimer_;
    QTimer arrowTimer_;
    QLabel* arrows_[3] = {}; // 1007, 1001, 1006: left to right
    QCheckBox* applyToAll_ = nullptr;
    QCheckBox* hostOnly_ = nullptr; // only with a named peer
    QLabel* timeLeft_ = nullptr;
    QTimer countdownTimer_;
    int secondsLeft_ = 0;
    bool timedOut_ = false;
    bool userPresent_ = false;
};
