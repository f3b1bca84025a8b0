// The message box: what other processes and the tray tell the main window,
// and the once-a-second traffic statistics.
#include "windows/MainForm.h"

#include "editing/ProcessList.h"
#include "settings/BackstopNotice.h"
#include "settings/GeneralMdl.h"
#include "windows/TrafficChart.h"
#include "platform/Constants.h"
#include "platform/HostRegistry.h"
#include "platform/Windows.h"

#include <QCursor>
#include <QSystemTrayIcon>
#include <QLabel>
#include <QMenu>
#include <QTime>

namespace windows = platform::windows;

void MainForm::Picture2_Messages()
{
    // What is queued now; a bounded number per wake-up keeps the window responsive.
    for (int i = 0; i < 256; ++i) {
        const auto message = windows::ReceiveMessage(registration_->ChildSocket(0));
        if (!message)
            return;
        if (message->message == windows::WM_MOUSEMOVE)
            Picture2_MouseMove(message->wParam, message->lParam, message->data);
    }
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
    // "HOST\nPATH": the host of an answer for one host (empty otherwise) and
    // the program's path, for a program that ended before this was read.
    const size_t lineEnd = messageData.find('\n');
    const std::string hostName = messageData.substr(0, lineEnd);
    const std::string pathHint = lineEnd == std::string::npos ? std::string() : messageData.substr(lineEnd + 1);
    if (code == platform::kCodeOutgoingHostBlocked || code == platform::kCodeOutgoingHostPermitted) {
        if (const auto app = panel::SetHostRule(state_, code, processId, state_.ProcRoot, hostName, pathHint))
            ShowAlertedApp(app->exeName);
        return;
    }
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
    if (const auto app = panel::SetNewApp(state_, code, processId, state_.ProcRoot, "", pathHint))
        ShowAlertedApp(app->exeName);
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
    for (const platform::hosts::HostRecord& host : platform::hosts::ListHosts())
        if (host.alive)
            knownHosts_[static_cast<uint32_t>(host.pid)] = host.exeName;
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
