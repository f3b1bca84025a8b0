// The message box: what other processes and the tray tell the main window,
// and the once-a-second traffic statistics.
#include "windows/MainForm.h"

#include "editing/ProcessList.h"
#include "settings/BackstopNotice.h"
#include "settings/GeneralMdl.h"
#include "windows/TrafficChart.h"
#include "platform/Constants.h"
#include "platform/HostRegistry.h"
#include "platform/RulesFormat.h"
#include "platform/Windows.h"

#include <QCursor>
#include <QDeadlineTimer>
#include <QSystemTrayIcon>
#include <QLabel>
#include <QMenu>
#include <QTime>

#include <utility>

namespace windows = platform::windows;

void MainForm::Picture2_Messages()
{
    // What is queued now, bounded in count and time per wake-up so that the
    // window stays responsive. Answers are gathered and stored together: one
    // save and one rebuild of the tree for all of them.
    constexpr int kMostMessages = 4096;
    const QDeadlineTimer budget(100);
    std::vector<panel::AlertAnswer> answers;
    for (int i = 0; i < kMostMessages && !budget.hasExpired(); ++i) {
        const auto message = windows::ReceiveMessage(registration_->ChildSocket(0));
        if (!message)
            break;
        if (message->message != windows::WM_MOUSEMOVE)
            continue;
        const int code = windows::ParamCode(message->lParam);
        if (panel::IsStoredAnswer(code)) {
            if (auto answer = TakeAnswer(code, windows::ParamArgument(message->lParam), message->data))
                answers.push_back(std::move(*answer));
            continue;
        }
        // An ended program leaves the update list after the answers before it.
        if (code == platform::kCodeApplicationFinished && !answers.empty())
            StoreAnswers(std::exchange(answers, {}));
        Picture2_MouseMove(message->wParam, message->lParam, message->data);
    }
    if (!answers.empty())
        StoreAnswers(std::move(answers));
}

std::optional<panel::AlertAnswer> MainForm::TakeAnswer(int code, uint32_t processId, const std::string& messageData)
{
    // "HOST\nPATH": the host of an answer for one host (empty otherwise) and
    // the program's path, for a program that ended before this was read.
    const size_t lineEnd = messageData.find('\n');
    panel::AlertAnswer answer;
    answer.code = code;
    answer.processId = processId;
    answer.hostName = messageData.substr(0, lineEnd);
    const std::string pathHint = lineEnd == std::string::npos ? std::string() : messageData.substr(lineEnd + 1);
    // Found now: the process may be gone by the time the answer is stored.
    answer.path = panel::AnsweringProgramPath(processId, state_.ProcRoot, pathHint, "MainForm : SetNewApp");
    if (answer.path.empty())
        return std::nullopt;
    return answer;
}

void MainForm::StoreAnswers(std::vector<panel::AlertAnswer> answers)
{
    if (!RulesEditable()) {
        // Kept for when the rules can be read; a flood is not kept for ever.
        constexpr size_t kMostHeld = 10000;
        for (panel::AlertAnswer& answer : answers)
            if (heldAnswers_.size() < kMostHeld)
                heldAnswers_.push_back(std::move(answer));
        return;
    }
    if (const auto app = panel::StoreAnswers(state_, answers))
        ShowAlertedApp(app->exeName);
}

void MainForm::Picture2_MouseMove(uint32_t, int64_t lParam, const std::string& messageData)
{
    // The argument's low 16 bits are unsigned (0..65535); a process id goes
    // on above them.
    const uint32_t argument = windows::ParamArgument(lParam);
    switch (windows::ParamCode(lParam)) {
    case platform::kCodeTrayIcon:
        if (MouseMoveSub(argument & 0xFFFF) == 1 && trayMenu_)
            trayMenu_->popup(QCursor::pos());
        break;
    case platform::kCodeIncomingBlocked:
    case platform::kCodeIncomingPermitted:
    case platform::kCodeOutgoingBlocked:
    case platform::kCodeOutgoingPermitted:
    case platform::kCodeApplicationFinished:
    case platform::kCodeOutgoingHostBlocked:
    case platform::kCodeOutgoingHostPermitted:
        SetNewApp(windows::ParamCode(lParam), argument, messageData);
        break;
    case platform::kCodeRestoreWindow:
        RestoreWindow();
        break;
    case platform::kCodeBackstopNotice:
        ShowBackstopNotice(messageData);
        break;
    case platform::kCodeIncomingTraffic:
        Traffic.AddIncoming(argument);
        break;
    case platform::kCodeOutgoingTraffic:
        Traffic.AddOutgoing(argument);
        break;
    default:
        break;
    }
}

void MainForm::SetNewApp(int code, uint32_t processId, const std::string& messageData)
{
    if (code == platform::kCodeApplicationFinished) {
        // The process is gone: its name is the one it registered with.
        RememberHosts();
        const auto known = knownHosts_.find(processId);
        if (known == knownHosts_.end())
            return;
        const std::string name = known->second;
        knownHosts_.erase(known);
        for (const auto& [pid, other] : knownHosts_)
            if (other == name)
                return; // another copy still runs
        panel::SetNewApp(state_, code, processId, state_.ProcRoot, name);
        return;
    }
    if (!panel::IsStoredAnswer(code))
        return;
    if (auto answer = TakeAnswer(code, processId, messageData))
        StoreAnswers({std::move(*answer)});
}

void MainForm::ShowAlertedApp(const std::string& exeName)
{
    LoadTreeView();
    state_.SelectedNode = exeName;
    state_.CurrAppToHandle = exeName;
    state_.SelectedGroup = "Applications";
    ReadSelectedNode(exeName, "Applications", this, exeName);
    RestoreWindow();
    SelectNodeByName(exeName);
}

void MainForm::RememberHosts()
{
    // Names of ended programs wait for their end to be reported; a panel that
    // never hears of them does not keep them for ever.
    if (knownHosts_.size() > 4096)
        knownHosts_.clear();
    // Registered by the file name; kept by the name the rules give it.
    for (const platform::hosts::HostRecord& host : platform::hosts::ListHosts())
        if (host.alive)
            knownHosts_[static_cast<uint32_t>(host.pid)] = platform::rules_format::ProgramName(host.exeName);
}

void MainForm::Timer1_Timer()
{
    const panel::TrafficStats::Tick tick = Traffic.NextTick();
    TChart1->SetNewest(tick.position, tick.incomingKb, tick.outgoingKb);
    IncomingLabel->setText(
        QString::fromStdString("Incoming traffic : \n" + panel::TrafficStats::RateText(tick.incomingKb) + " Kb/sec"));
    OutgoingLabel->setText(
        QString::fromStdString("Outgoing traffic : \n" + panel::TrafficStats::RateText(tick.outgoingKb) + " Kb/sec"));
    RememberHosts();
    // Every half minute the shown log and statistics are read again (the
    // log views do their part when they are shown).
    if (QTime::currentTime().second() % 30 == 0)
        emit HalfMinute();
}

void MainForm::ShowBackstopNotice(const std::string& messageData)
{
    const auto notice = panel::ParseBackstopNotice(messageData);
    if (!notice)
        return;
    // The side column keeps the latest; a balloon comes once per program
    // while the panel runs (the backstop already says each program once in a
    // while), so that a program retrying does not flood the desktop.
    BackstopNoticeLabel->setText(QString::fromStdString(notice->summary));
    BackstopNoticeLabel->setToolTip(QString::fromStdString(notice->text));
    BackstopNoticeLabel->show();
    if (trayIcon_ && backstopNoticesShown_.insert(notice->program).second && backstopNoticesShown_.size() < 4096)
        trayIcon_->showMessage(QString::fromStdString(notice->title), QString::fromStdString(notice->text),
                               notice->denied ? QSystemTrayIcon::Warning : QSystemTrayIcon::Information, 15000);
    if (notice->asked)
        AskBackstopQuestion(*notice);
}
