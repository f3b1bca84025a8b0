#include "platform/FileInfo.h"

#include "platform/Environment.h"
#include "platform/Files.h"
#include "platform/Paths.h"

#include <cstdlib>
#include <dirent.h>
#include <limits.h>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>

namespace platform::file_info {

namespace {

struct DesktopEntry {
    std::string name, exec, tryExec, icon;
};

DesktopEntry ParseDesktopEntry(const std::string& text)
{
    DesktopEntry entry;
    bool inMainGroup = false;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos)
            end = text.size();
        std::string_view line = std::string_view(text).substr(start, end - start);
        start = end + 1;
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        if (line.empty() || line[0] == '#')
            continue;
        if (line[0] == '[') {
            inMainGroup = line == "[Desktop Entry]";
            continue;
        }
        if (!inMainGroup)
            continue;
        const size_t equals = line.find('=');
        if (equals == std::string_view::npos)
            continue;
        std::string_view key = line.substr(0, equals);
        std::string_view value = line.substr(equals + 1);
        while (!key.empty() && key.back() == ' ')
            key.remove_suffix(1);
        while (!value.empty() && value.front() == ' ')
            value.remove_prefix(1);
        // Localised keys ("Name[de]") are not the entry's own name.
        if (key == "Name" && entry.name.empty())
            entry.name = value;
        else if (key == "Exec" && entry.exec.empty())
            entry.exec = value;
        else if (key == "TryExec" && entry.tryExec.empty())
            entry.tryExec = value;
        else if (key == "Icon" && entry.icon.empty())
            entry.icon = value;
    }
    return entry;
}

// The program of an Exec line: its first word (quotes removed), skipping an
// "env" prefix with its variable assignments.
std::string ExecProgram(std::string_view exec)
{
    std::vector<std::string> words;
    size_t i = 0;
    while (i < exec.size() && words.size() < 16) {
        while (i < exec.size() && exec[i] == ' ')
            ++i;
        if (i >= exec.size())
            break;
        std::string word;
        if (exec[i] == '"') {
            ++i;
            while (i < exec.size() && exec[i] != '"') {
                if (exec[i] == '\\' && i + 1 < exec.size())
                    ++i;
                word += exec[i++];
            }
            ++i;
        } else {
            while (i < exec.size() && exec[i] != ' ')
                word += exec[i++];
        }
        words.push_back(std::move(word));
    }
    size_t k = 0;
    if (k < words.size() && (words[k] == "env" || words[k] == "/usr/bin/env")) {
        ++k;
        while (k < words.size() && words[k].find('=') != std::string::npos)
            ++k;
    }
    return k < words.size() ? words[k] : std::string();
}

std::string Resolve(const std::string& program)
{
    if (program.empty())
        return {};
    std::string candidate = program;
    if (program.find('/') == std::string::npos) {
        const char* pathEnv = GetEnv("PATH");
        const std::string path = pathEnv ? pathEnv : "/usr/local/bin:/usr/bin:/bin";
        candidate.clear();
        size_t start = 0;
        while (start <= path.size()) {
            size_t end = path.find(':', start);
            if (end == std::string::npos)
                end = path.size();
            const std::string full = path.substr(start, end - start) + "/" + program;
            if (::access(full.c_str(), X_OK) == 0) {
                candidate = full;
                break;
            }
            start = end + 1;
        }
    }
    char real[PATH_MAX];
    return !candidate.empty() && ::realpath(candidate.c_str(), real) ? std::string(real) : std::string();
}

}  // namespace

std::vector<std::string> ApplicationFolders()
{
    std::vector<std::string> folders {DataHome() + "/applications"};
    const char* dirsEnv = GetEnv("XDG_DATA_DIRS");
    const std::string dirs = dirsEnv && *dirsEnv ? dirsEnv : "/usr/local/share:/usr/share";
    size_t start = 0;
    while (start <= dirs.size()) {
        size_t end = dirs.find(':', start);
        if (end == std::string::npos)
            end = dirs.size();
        if (end > start && dirs[start] == '/')
            folders.push_back(dirs.substr(start, end - start) + "/applications");
        start = end + 1;
    }
    return folders;
}

ExecutableInfo LookupExecutable(const std::string& exePath)
{
    ExecutableInfo info;
    char real[PATH_MAX];
    if (exePath.empty() || !::realpath(exePath.c_str(), real))
        return info;
    const std::string target = real;
    for (const std::string& folder : ApplicationFolders()) {
        DIR* dir = ::opendir(folder.c_str());
        if (!dir)
            continue;
        while (const dirent* item = ::readdir(dir)) {
            const std::string_view name = item->d_name;
            if (!name.ends_with(".desktop"))
                continue;
            const auto text = ReadFile(folder + "/" + std::string(name), 256 * 1024);
            if (!text)
                continue;
            const DesktopEntry entry = ParseDesktopEntry(*text);
            if (entry.name.empty())
                continue;
            if ((!entry.tryExec.empty() && Resolve(entry.tryExec) == target) || Resolve(ExecProgram(entry.exec)) == target) {
                info.found = true;
                info.description = entry.name;
                info.icon = entry.icon;
                ::closedir(dir);
                return info;
            }
        }
        ::closedir(dir);
    }
    return info;
}

}  // namespace platform::file_info
