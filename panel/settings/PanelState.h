#pragma once

#include "settings/AppBuffer.h"
#include "settings/ConstForApp.h"
#include "settings/PanelSettings.h"

#include <cstdint>
#include <ctime>
#include <string>

// What the main window owns for the whole control panel and every module
// reads and writes through it, with the steps of its load that need no
// window, so that they run and are tested without a display.
namespace panel {

class PanelState {
public:
    ConstForApp AppConsts;
    PanelSettings Settings;
    AppBuffer CurrBuffer;
    bool SliderFirstTime = false;
    std::string Pic2WindowText; // the published update list

    // Constants, settings, the rules-file check, the error log, and the
    // deletion of old traffic and error logs, in that order.
    void LoadSettings(std::time_t now);
    // The rule buffer from the rules file.
    void LoadBuffer();

    // Whether the window starts hidden: "VRNTIMEEND" holds a tick count above
    // the current one (the machine restarted since the panel last ended).
    // The value is deleted in every case.
    bool StartHidden(uint32_t tickCount);
    // What every end of the program writes: the security mode and the tick
    // count at the end.
    void SaveOnExit(uint32_t tickCount);
};

}  // namespace panel
