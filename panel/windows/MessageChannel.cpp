// The message box: what other processes and the tray tell the main window,
// and the once-a-second traffic statistics.
#include "windows/MainForm.h"

#include "settings/GeneralMdl.h"
#include "windows/TrafficChart.h"
#include "platform/Constants.h"
#include "platform/Windows.h"

#include <QCursor>
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
            Picture2_MouseMove(message->wParam, message->lParam);
    }
}

void MainForm::Picture2_MouseMove(uint32_t, int64_t lParam)
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
        SetNewApp(windows::ParamCode(lParam), argument);
        break;
    case platform::kCodeRestoreWindow:
        RestoreWindow();
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

void MainForm::SetNewApp(int code, uint32_t processId)
{
    // Taking an alert's answer into the rules comes with the process lists.
    panel::WriteErrLog("ProcessMdl : SetNewApp", "code " + std::to_string(code) + " for process "
                                                     + std::to_string(processId) + " is not taken into the rules yet");
}

void MainForm::Timer1_Timer()
{
    const panel::TrafficStats::Tick tick = Traffic.NextTick();
    TChart1->SetNewest(tick.position, tick.incomingKb, tick.outgoingKb);
    IncomingLabel->setText(
        QString::fromStdString("Incoming traffic : \n" + panel::TrafficStats::RateText(tick.incomingKb) + " Kb/sec"));
    OutgoingLabel->setText(
        QString::fromStdString("Outgoing traffic : \n" + panel::TrafficStats::RateText(tick.outgoingKb) + " Kb/sec"));
    // Every half minute the shown log and statistics are read again (the
    // log views do their part when they are shown).
    if (QTime::currentTime().second() % 30 == 0)
        emit HalfMinute();
}
