#pragma once

#include "alert/AlertContent.h"
#include "gui/Timer.h"

#include <QDialog>
#include <QString>

class QCheckBox;
class QComboBox;
class QKeyEvent;
class QLabel;
class QPlainTextEdit;
class QPushButton;
class QToolButton;

namespace alert {

// The connection alert: a frameless, always-on-top window that slides up
// into the bottom-right corner of the screen the pointer is on and animates
// an arrow between the local computer and the remote party while it shows
// one question; further questions wait behind it. Controls carry their ids
// as object names ("1", "2", "1001".."1010").
//
// It never takes the keyboard: it shows without activation, has no default
// button, and no key answers it until the user has chosen it (clicked it,
// or switched to it once it was showing). Then A allows, B and Escape
// block. After a new question appears, its buttons and keys wait
// kArmDelayMs, so that a click or key meant for the one before never
// answers it.
class AlertDialog : public QDialog {
    Q_OBJECT

public:
    static constexpr int kAllow = 1;
    static constexpr int kBlock = 2;
    // How long an answer lasts and what it covers (the items' data).
    enum Length { kOnce = 0, kProcess = 1, kTimed = 2, kAlways = 3 };
    enum Scope { kPeerAndPort = 0, kHost = 1, kPort = 2, kAny = 3 };
    static constexpr int kSlideIntervalMs = 50;
    static constexpr int kSlideStepPixels = 20;
    static constexpr int kArrowIntervalMs = 500;
    static constexpr int kArmDelayMs = 500;
    // A window manager that focuses the window as it appears does so within
    // this time; an activation later is the user switching to it.
    static constexpr int kForcedFocusMs = 300;

    explicit AlertDialog(const AlertContent& content = {}, QWidget* parent = nullptr);

    // Shows this question in place of the one before.
    void SetQuestion(const AlertContent& content);
    // How many questions wait behind this one, and how many of them come
    // from the same program (and direction): those an answer can include.
    void SetWaiting(int waiting, int sameProgram);
    // The time-out's seconds left for the question shown; 0 hides the count.
    void SetSecondsLeft(int seconds);

    // Places the window just out of sight on the screen the pointer is on
    // and slides it in; a window already showing stays where it is.
    void Start();
    // The user's answer, by button or key; ignored while the question is new.
    void Press(int button);

    // One step of the arrow animation.
    void AdvanceArrow();
    int Step() const { return step_; }
    // The object name of the one arrow showing.
    QString VisibleArrow() const;
    bool IsSliding() const { return slideTimer_.isActive(); }
    bool IsAnimating() const { return arrowTimer_.isActive(); }
    bool IsArmed() const { return armed_; }
    bool IsChosen() const { return chosen_; }
    // The length and scope chosen (kOnce: the scope does not count).
    Length ChosenLength() const;
    Scope ChosenScope() const;
    // "for 1 hour", "for 30 minutes": the timed length's words.
    static QString TimedWords(int minutes);
    bool DetailsShown() const;
    // The available area of the screen the window was placed on.
    QRect ScreenArea() const { return area_; }

signals:
    // length and scope: the choices (Length, Scope); alsoWaiting: the same
    // answer for the waiting questions of the same program.
    void Answered(int button, int length, int scope, bool alsoWaiting);
    void Shown();
    // The user is at the screen (clicked or typed in the window): time-outs stop.
    void UserPresent();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void reject() override;
    void closeEvent(QCloseEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    void SlideStep();
    void Arm();
    void Relayout();
    void Place();
    QRect Target() const;
    bool HandleKey(QKeyEvent* key);
    void Answer(int button);

    bool outgoing_ = true;
    int step_ = 3;
    bool answered_ = false;
    bool armed_ = false;
    bool chosen_ = false;
    int slideOffset_ = 0;
    QRect area_;
    qint64 shownAt_ = -1; // on gui::Clock, when Start showed it; -1 before
    gui::Timer slideTimer_ {this, kSlideIntervalMs};
    gui::Timer arrowTimer_ {this, kArrowIntervalMs};
    gui::Timer armTimer_ {this, kArmDelayMs, true};
    QLabel* banner_ = nullptr;
    QLabel* programIcon_ = nullptr;
    QLabel* message_ = nullptr;
    QLabel* path_ = nullptr;
    QLabel* computer_ = nullptr;
    QLabel* myComputer_ = nullptr;
    QLabel* arrows_[3] = {}; // 1007, 1001, 1006: left to right
    QLabel* remote_ = nullptr;
    QLabel* peer_ = nullptr;
    QLabel* lengthLabel_ = nullptr;
    QComboBox* length_ = nullptr;
    QLabel* scopeLabel_ = nullptr;
    QComboBox* scope_ = nullptr; // chosen only for an answer that lasts
    QCheckBox* alsoWaiting_ = nullptr; // shown only while the program has more waiting
    QToolButton* detailsToggle_ = nullptr;
    QPlainTextEdit* details_ = nullptr;
    QLabel* timeLeft_ = nullptr;
    QLabel* moreWaiting_ = nullptr;
    QPushButton* allow_ = nullptr;
    QPushButton* block_ = nullptr;
    QString host_;
    int sameProgram_ = 0;
};

}  // namespace alert
