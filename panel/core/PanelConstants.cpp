#include "core/PanelConstants.h"

#include "platform/Processes.h"

#include <climits>
#include <cstdlib>

namespace panel {

std::string HelpPagePath(const std::string& binFolder)
{
    const std::string path = binFolder + "/../share/tessary/help.html";
    char real[PATH_MAX];
    return ::realpath(path.c_str(), real) ? std::string(real) : path;
}

std::string HelpPageUrl()
{
    const std::string self = platform::processes::OwnExecutablePath();
    return "file://" + HelpPagePath(self.substr(0, self.rfind('/')));
}

}  // namespace panel
