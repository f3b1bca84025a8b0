#include "panel/core/FileInformation.h"

#include "os/FileInfo.h"
#include "rules/ProgramNames.h"
#include "text/Strings.h"

#include <chrono>
#include <mutex>
#include <sys/stat.h>
#include <unordered_map>

namespace panel {

std::string GetDisplayName(const std::string& path, const std::string& field)
{
    if (field == "CompanyName" || path.empty())
        return {};
    const os::file_info::ExecutableInfo info = os::file_info::LookupExecutable(path);
    return info.found ? info.description : std::string();
}

namespace {

// The application folders as they are now: a desktop entry added, changed or
// removed changes its folder's time.
std::string FoldersStamp()
{
    std::string stamp;
    for (const std::string& folder : os::file_info::ApplicationFolders()) {
        struct stat st {};
        stamp += folder + '\t';
        if (::stat(folder.c_str(), &st) == 0)
            stamp += std::to_string(st.st_mtim.tv_sec) + "." + std::to_string(st.st_mtim.tv_nsec);
        stamp += '\n';
    }
    return stamp;
}

}  // namespace

std::string ProgramDisplayName(const std::string& path)
{
    // A list of a thousand programs asks for a thousand names at once, and
    // each look-up reads the desktop index: names are kept while the
    // folders stay as they were, looked at no more than every 200 ms.
    static std::mutex lock;
    static std::unordered_map<std::string, std::string> names;
    static std::string stamp;
    static std::chrono::steady_clock::time_point checked;
    constexpr size_t kMostKept = 20000;
    const std::lock_guard<std::mutex> held(lock);
    const auto now = std::chrono::steady_clock::now();
    if (now - checked > std::chrono::milliseconds(200)) {
        checked = now;
        std::string current = FoldersStamp();
        if (current != stamp) {
            stamp = std::move(current);
            names.clear();
        }
    }
    if (const auto found = names.find(path); found != names.end())
        return found->second;
    if (names.size() >= kMostKept)
        names.clear();
    return names.emplace(path, rules::program_names::DisplayName(path, GetDisplayName(path))).first->second;
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
