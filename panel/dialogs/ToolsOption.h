#pragma once

#include "panel/core/Options.h"

#include <QDialog>

#include <functional>

class QCheckBox;
class QComboBox;
class QLineEdit;
class QRadioButton;
class QSpinBox;

namespace panel {

// The general settings: days of logs kept, start at login, whether every
// program the user starts runs under the firewall, UDP mode, the question
// before a level is applied to every application, the graph's interval
// (shown, not stored), whether an alert nobody answers blocks after a
// time, what answers a question nobody can see (the screen locked, no
// display), how long an alert's answer "for a time" lasts, and whether the log's records also go to the journal. OK stores them through store; the dialog stays open when they were
// not stored (the days are no number).
class ToolsOption : public QDialog {
    Q_OBJECT
public:
    using Store = std::function<panel::OptionsStored(const panel::Options& options)>;

    // showTimedAnswers opens the list of answers for a time (none: no button).
    ToolsOption(const panel::Options& current, int graphIntervalMs, Store store, QWidget* parent,
                std::function<void(QWidget*)> showTimedAnswers = {});

    // Whether "Decide every program I start" was switched by OK.
    bool SessionOptionChanged() const { return sessionChanged_; }

private:
    void Ok();

    Store store_;
    bool sessionChanged_ = false;
    QCheckBox* startup_;
    QCheckBox* decideEveryProgram_;
    QLineEdit* logDays_;
    QCheckBox* udpMode_;
    QCheckBox* askBeforeApplying_;
    QCheckBox* alertTimeout_;
    QSpinBox* alertSeconds_;
    QComboBox* awayAnswer_; // "Block", "Allow"
    QSpinBox* awaySeconds_;
    QSpinBox* timedMinutes_;
    QCheckBox* journalRecords_;
    QComboBox* mode_; // in the order of kModes (ToolsOption.cpp)
    QSpinBox* learnDays_;
};

}  // namespace panel
