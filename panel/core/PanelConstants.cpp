#include "core/PanelConstants.h"

#include "platform/Processes.h"
#include "platform/Translate.h"

#include <climits>
#include <cstdlib>

namespace panel {

std::string HelpPagePath(const std::string& binFolder)
{
    const std::string folder = binFolder + "/../share/tessary/";
    char real[PATH_MAX];
    // The page in the user's language where there is one.
    for (const std::string& language : platform::MessageLanguages())
        if (::realpath((folder + "help." + language + ".html").c_str(), real))
            return real;
    const std::string path = folder + "help.html";
    return ::realpath(path.c_str(), real) ? std::string(real) : path;
}

std::string HelpPageUrl()
{
    const std::string self = platform::processes::OwnExecutablePath();
    return "file://" + HelpPagePath(self.substr(0, self.rfind('/')));
}

}  // namespace panel
