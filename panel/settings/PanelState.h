#pragma once

#include "settings/AppBuffer.h"
#include "settings/ConstForApp.h"
#include "settings/PanelSettings.h"

#include <cstdint>
#include <ctime>
#include <functional>
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

    // The general application's defaults as loaded, and as last applied.
    AppRecord GeneralApp;
    std::string GenAppInDef;
    std::string GenAppOutDef;
    std::string NormalStatIn;
    std::string NormalStatOut;
    // Defaults handed to the next application added from the tree.
    std::string NewAppInDef;
    std::string NewAppOutDef;
    int LastSecurityConfig = -1;

    // What the window shows.
    std::string SelectedNode;    // upper-cased text of the selected node, or "SYSTEM SETTINGS"
    std::string SelectedGroup;   // "General", "Applications" or "Logs"
    std::string CurrAppToHandle; // the application the window's settings are for ("ANY": system settings)
    std::string CurrKey;         // key of the selected node
    std::string SelectedExeName;
    std::string RightClickSelectedNode;
    std::string SelectedListAppName;
    bool EnteredLogMenu = false;
    std::string NewAddedApp;
    bool ApplySystemRules = false; // "Apply system rules" ticked
    // The application the wizard adds or the rule editor edits.
    AppRecord NewAppToAdd;
    // Where the process table is read (tests give one of their own).
    std::string ProcRoot = "/proc";

    // Makes the update list known to the programs outside: the window sets it
    // as its message box's text.
    std::function<void(const std::string&)> PublishUpdateList;

    // Constants, settings, the rules-file check, the error log, the
    // deletion of old traffic and error logs, and of what saves killed
    // midway left beside the rules file, in that order.
    void LoadSettings(std::time_t now);
    // The rule buffer from the rules file, and the general application's
    // defaults taken from it. A file that cannot be read changes nothing
    // (the outcome says so, and saving is refused until it has been read).
    AppBuffer::LoadResult LoadBuffer();
    // Whether the rules are held as the file has them: false while the file
    // could not be read, when nothing may be saved over it.
    bool RulesReadable() const { return CurrBuffer.ReadProblem().empty(); }

    // Writes the whole buffer to the rules file; every save goes through here.
    bool SaveAndLoad();

    // Whether the window starts hidden: "VRNTIMEEND" holds a tick count above
    // the current one (the machine restarted since the panel last ended).
    // The value is deleted in every case.
    bool StartHidden(uint32_t tickCount);
    // What every end of the program writes: the security mode and the tick
    // count at the end.
    void SaveOnExit(uint32_t tickCount);
};

}  // namespace panel
