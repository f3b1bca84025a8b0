#include "panel/control/ShutdownFlow.h"

#include "os/Clock.h"
#include "panel/control/InterceptorWatch.h"
#include "panel/core/ErrorLog.h"
#include "panel/core/InterceptorLibrary.h"

#include <QCoreApplication>

namespace panel {

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
