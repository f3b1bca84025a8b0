#pragma once

#include "panel/control/StoppedNotice.h"
#include "panel/core/PanelCore.h"

#include <functional>
#include <optional>
#include <utility>

namespace panel {

class InterceptorWatch;
class InterceptorLibrary;

// The ends of the program: the tray's (or the toolbar's) shutdown, asked
// first since it stops the filtering, saves the rules and takes the icon
// away; every end writes "SecurityMode" and "VRNTIMEEND" and stops the
// interceptor, once.
class ShutdownFlow {
public:
    // What the window does for it: asks (true: shut down), shows the
    // firewall stopped, takes the tray icon away.
    struct Window {
        std::function<bool()> ask;
        std::function<void()> showStopped;
        std::function<void()> hideTray;
    };

    // Takes away the notice an earlier shutdown left: filtering again. What
    // it kept of that shutdown is EarlierShutdown's.
    ShutdownFlow(PanelCore& core, InterceptorWatch& watch, Window window);

    void SetInterceptor(InterceptorLibrary* interceptor) { interceptor_ = interceptor; }
    void Ask();
    void ShutDown();
    void End();
    // The session is ending: the window closes instead of hiding.
    void AllowClose() { shuttingDown_ = true; }

    bool Stopped() const { return stopped_; }
    // The shutdown before this start; none when the panel ended otherwise.
    const std::optional<stopped_notice::Trace>& EarlierShutdown() const { return earlier_; }
    // Whether the window may close now rather than hide.
    bool Closing() const { return ended_ || shuttingDown_; }

private:
    PanelCore& core_;
    InterceptorWatch& watch_;
    Window window_;
    InterceptorLibrary* interceptor_ = nullptr;
    bool ended_ = false;
    bool shuttingDown_ = false;
    bool stopped_ = false;
    std::optional<stopped_notice::Trace> earlier_;
};

}  // namespace panel
