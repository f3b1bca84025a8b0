#include "control/ShutdownFlow.h"

#include "control/InterceptorWatch.h"
#include "core/ErrorLog.h"
#include "core/InterceptorLibrary.h"
#include "platform/Clock.h"

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
    core_.SaveOnExit(platform::GetTickCount());
    TheErrorLog().Close();
    if (interceptor_)
        interceptor_->StopListen();
}

}  // namespace panel
