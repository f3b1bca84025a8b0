#include "panel/core/FileInformation.h"

#include "os/FileInfo.h"
#include "rules/ProgramNames.h"
#include "text/Strings.h"

namespace panel {

std::string GetDisplayName(const std::string& path, const std::string& field)
{
    if (field == "CompanyName" || path.empty())
        return {};
    const os::file_info::ExecutableInfo info = os::file_info::LookupExecutable(path);
    return info.found ? info.description : std::string();
}

std::string ProgramDisplayName(const std::string& path)
{
    return rules::program_names::DisplayName(path, GetDisplayName(path));
}

std::string EntryDisplayName(const rules::Application& app)
{
    if (!rules::IsPathKey(app.path))
        return {};
    // The panel saves descriptions upper-cased; one in other letters was
    // written so by hand and is the user's own.
    if (text::ToUpper(app.description) != app.description)
        return rules::program_names::DisplayName(app.path, app.description);
    return ProgramDisplayName(app.path);
}

std::string StripLabel(const std::string& text)
{
    if (text.size() <= 30)
        return text;
    // Positions are 1-based as the label is counted: a blank at 21 or later.
    if (text.find(' ', 20) == std::string::npos)
        return text;
    const size_t blank = text.find(' ', 25);
    if (blank == std::string::npos)
        return text.substr(0, 25);
    return text.substr(0, blank);
}

}  // namespace panel
