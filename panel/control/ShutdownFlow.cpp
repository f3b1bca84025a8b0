#include "panel/control/ShutdownFlow.h"

#include "os/Clock.h"
#include "os/Paths.h"
#include "panel/control/InterceptorWatch.h"
#include "panel/control/StoppedNotice.h"
#include "panel/core/ErrorLog.h"
#include "panel/core/InterceptorLibrary.h"

#include <QCoreApplication>

#include <ctime>

namespace panel {

ShutdownFlow::ShutdownFlow(PanelCore& core, InterceptorWatch& watch, Window window)
    : core_(core), watch_(watch), window_(std::move(window))
{
    earlier_ = stopped_notice::Withdraw(QString::fromStdString(os::RuntimeDir()), std::time(nullptr));
}

void ShutdownFlow::Ask()
{
    if (window_.ask())
        ShutDown();
}

void ShutdownFlow::ShutDown()
{
    shuttingDown_ = true;
    stopped_ = true;
    window_.showStopped();
    core_.Save();
    window_.hideTray();
    // The icon is gone with the panel: something must still say that
    // programs pass unfiltered now.
    stopped_notice::Post(QString::fromStdString(os::RuntimeDir()), std::time(nullptr));
    End();
    QCoreApplication::exit(0);
}

void ShutdownFlow::End()
{
    if (ended_)
        return;
    ended_ = true;
    watch_.Stop();
    core_.SaveOnExit(os::GetTickCount());
    TheErrorLog().Close();
    if (interceptor_)
        interceptor_->StopListen();
}

}  // namespace panel
