#include "panel/core/PanelConstants.h"

#include "os/Processes.h"
#include "text/Translate.h"

#include <climits>
#include <cstdlib>

namespace panel {

std::string HelpPagePath(const std::string& binFolder)
{
    const std::string folder = binFolder + "/../share/tessary/help/";
    char real[PATH_MAX];
    // The guide in the user's language where there is one.
    for (const std::string& language : text::MessageLanguages())
        if (::realpath((folder + language + "/user-guide.md").c_str(), real))
            return real;
    const std::string path = folder + "user-guide.md";
    return ::realpath(path.c_str(), real) ? std::string(real) : path;
}

std::string OwnHelpPagePath()
{
    const std::string self = os::processes::OwnExecutablePath();
    return HelpPagePath(self.substr(0, self.rfind('/')));
}

}  // namespace panel
