#pragma once

#include <string>

// The control panel's vocabulary: the fixed words it writes into the rules
// file or compares against, the settings' value names, the editor modes.
// One instance, filled by ActivateConsts when the main window loads.
namespace panel {

struct ConstForApp {
    // Rule editor modes.
    int ADD_APP = 0;
    int ADD_RULE = 1;
    int EDIT_RULE = 2;
    // Words of the rules file.
    std::string Outgoing;
    std::string INCOMING;
    std::string PERMIT;
    std::string ASK;
    std::string DENY;
    std::string MIXED;       // key of the tree's "Combined Applications" group
    std::string GENERAL_APP; // the general application, "SYSTEM SETTINGS"
    // Value names and words of the settings.
    std::string LOGPATH;
    std::string XMLREG;
    std::string REGVALUE;
    std::string NormalSec;
    int BlockAllSec = 0;
    std::string CustomSec;
    std::string LOGFileCount;
    std::string SecurityStatus;
    std::string SecurityMode;
    std::string ErrLogs;
    std::string KorvelFolder;
    std::string UdpFullMode;
    std::string ApplySettings;
    std::string SERVICE_CHAR; // marks services in the running-process list
    std::string InDirection;
    std::string OutDirection;
    std::string FIRST_CLOSE;
    std::string APPLICATION;
    std::string LISTENER_EXE; // image name of the interceptor's process
    std::string ZEL_EXE;      // image name of the control panel
    std::string HELP_LINK;    // the help page installed with the program
    std::string KORVEL_LINK;
    std::string PORTS_FILE_NAME;
    std::string CONTACT_EMAIL;
    std::string DEBUG_PRINT;
    std::string Log1;
    std::string Log2;
    std::string Log3;
    std::string Log4;
    std::string Log_NODE;
    std::string SERVICES; // image name of the service manager

    void ActivateConsts();
};

// Where the help page is installed, for a program in binFolder.
std::string HelpPagePath(const std::string& binFolder);

}  // namespace panel
