#include "settings/ConstForApp.h"

#include "platform/Constants.h"
#include "platform/Processes.h"
#include "platform/Registry.h"
#include "platform/RulesFormat.h"
#include "platform/Settings.h"

#include <climits>
#include <cstdlib>

namespace panel {

namespace rf = platform::rules_format;
namespace settings = platform::settings;

std::string HelpPagePath(const std::string& binFolder)
{
    const std::string path = binFolder + "/../share/tessary/help.html";
    char real[PATH_MAX];
    return ::realpath(path.c_str(), real) ? std::string(real) : path;
}

void ConstForApp::ActivateConsts()
{
    ADD_APP = 0;
    ADD_RULE = 1;
    EDIT_RULE = 2;
    Outgoing = rf::kOutgoing;
    INCOMING = rf::kIncoming;
    PERMIT = rf::kPermit;
    ASK = rf::kAsk;
    DENY = rf::kDeny;
    MIXED = "MIXED";
    GENERAL_APP = rf::kGeneralApp;
    LOGPATH = settings::kLogFilesPath;
    XMLREG = settings::kRulesFile;
    REGVALUE = platform::registry::kSettingsKey;
    NormalSec = "Normal";
    BlockAllSec = 0;
    CustomSec = "Custom";
    LOGFileCount = settings::kLogFileCount;
    SecurityStatus = settings::kSecurityStatus;
    SecurityMode = settings::kSecurityMode;
    ErrLogs = settings::kErrLogs;
    KorvelFolder = settings::kVrnFolder;
    UdpFullMode = settings::kUpdFullMode;
    ApplySettings = settings::kApplySettings;
    SERVICE_CHAR = "+";
    InDirection = "IN";
    OutDirection = "OUT";
    FIRST_CLOSE = settings::kFirstClose;
    APPLICATION = "Applications";
    LISTENER_EXE = platform::kInterceptorImage;
    ZEL_EXE = platform::kControlPanelImage;
    const std::string self = platform::processes::OwnExecutablePath();
    HELP_LINK = "file://" + HelpPagePath(self.substr(0, self.rfind('/')));
    KORVEL_LINK = "https://tessary.org/";
    PORTS_FILE_NAME = "VrnPorts.txt";
    CONTACT_EMAIL = "support@tessary.org";
    DEBUG_PRINT = settings::kDebugPrint;
    Log1 = "Log1";
    Log2 = "Log2";
    Log3 = "Log3";
    Log4 = "Log4";
    Log_NODE = "Logs";
    SERVICES = platform::processes::ServiceManagerImage(platform::processes::kProcRoot);
}

}  // namespace panel
