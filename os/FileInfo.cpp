#include "os/FileInfo.h"

#include "os/Files.h"
#include "os/Paths.h"
#include "os/hooksafe/Environment.h"
#include "text/Strings.h"

#include <cstdlib>
#include <ctime>
#include <dirent.h>
#include <limits.h>
#include <optional>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>

namespace os::file_info {

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

namespace {

// What matters of one desktop entry, with its programs resolved.
struct IndexedEntry {
    std::string tryExec; // resolved, or empty
    std::string exec;    // resolved, or empty
    std::string name;
    std::string icon;
};

// Every desktop entry of the application folders, in the order they are searched.
std::vector<IndexedEntry> ScanEntries(const std::vector<std::string>& folders)
{
    std::vector<IndexedEntry> entries;
    for (const std::string& folder : folders) {
        DIR* dir = ::opendir(folder.c_str());
        if (!dir)
            continue;
        std::vector<std::string> names;
        while (const dirent* item = ::readdir(dir))
            if (std::string_view(item->d_name).ends_with(".desktop"))
                names.emplace_back(item->d_name);
        ::closedir(dir);
        for (const std::string& name : names) {
            const auto text = ReadFile(folder + "/" + name, 256 * 1024);
            if (!text)
                continue;
            const DesktopEntry entry = ParseDesktopEntry(*text);
            if (entry.name.empty())
                continue;
            entries.push_back({entry.tryExec.empty() ? std::string() : Resolve(entry.tryExec),
                               Resolve(ExecProgram(entry.exec)), entry.name, entry.icon});
        }
    }
    return entries;
}

// What the index was made from: the folders as they were, and the PATH that
// resolved the programs. A different header means the index is out of date.
std::string IndexHeader(const std::vector<std::string>& folders)
{
    std::string header = "korvel desktop index 1\n";
    for (const std::string& folder : folders) {
        struct stat st {};
        header += text::EscapeLine(folder) + "\t";
        header += ::stat(folder.c_str(), &st) == 0
            ? std::to_string(st.st_mtim.tv_sec) + "." + std::to_string(st.st_mtim.tv_nsec)
            : std::string("-");
        header += "\n";
    }
    const char* path = GetEnv("PATH");
    return header + "PATH\t" + text::EscapeLine(path ? path : "") + "\n\n";
}

std::optional<std::vector<IndexedEntry>> ReadIndex(const std::string& file, const std::string& header)
{
    constexpr time_t kLongestKeptSeconds = 300;
    struct stat st {};
    // Rewritten in place, an entry's folder does not change: an index is also
    // made anew when it is some minutes old.
    if (::stat(file.c_str(), &st) != 0 || std::time(nullptr) - st.st_mtime > kLongestKeptSeconds)
        return std::nullopt;
    const auto text = ReadFile(file, 8u << 20, false);
    if (!text || text->compare(0, header.size(), header) != 0)
        return std::nullopt;
    std::vector<IndexedEntry> entries;
    size_t start = header.size();
    while (start < text->size()) {
        size_t end = text->find('\n', start);
        if (end == std::string::npos)
            end = text->size();
        const std::string_view line = std::string_view(*text).substr(start, end - start);
        start = end + 1;
        std::string_view fields[4];
        size_t from = 0;
        for (int i = 0; i < 4; ++i) {
            const size_t tab = i < 3 ? line.find('\t', from) : line.size();
            if (tab == std::string_view::npos)
                return std::nullopt;
            fields[i] = line.substr(from, tab - from);
            from = tab + 1;
        }
        entries.push_back({text::UnescapeLine(fields[0]), text::UnescapeLine(fields[1]), text::UnescapeLine(fields[2]),
                           text::UnescapeLine(fields[3])});
    }
    return entries;
}

void WriteIndex(const std::string& file, const std::string& header, const std::vector<IndexedEntry>& entries)
{
    std::string text = header;
    for (const IndexedEntry& entry : entries)
        text += text::EscapeLine(entry.tryExec) + "\t" + text::EscapeLine(entry.exec) + "\t" + text::EscapeLine(entry.name) + "\t"
            + text::EscapeLine(entry.icon) + "\n";
    WriteFileAtomically(file, text, 0600, false);
}

}  // namespace

ExecutableInfo LookupExecutable(const std::string& exePath)
{
    ExecutableInfo info;
    char real[PATH_MAX];
    if (exePath.empty() || !::realpath(exePath.c_str(), real))
        return info;
    const std::string target = real;
    // Resolving every entry's program costs a walk along PATH each: the
    // entries are kept, resolved, in an index in the user's runtime folder,
    // and read from there while the folders stay as they were.
    const std::vector<std::string> folders = ApplicationFolders();
    const std::string index = RuntimePath("desktop-index");
    const std::string header = IndexHeader(folders);
    std::optional<std::vector<IndexedEntry>> entries;
    if (!index.empty())
        entries = ReadIndex(index, header);
    if (!entries) {
        entries = ScanEntries(folders);
        if (!index.empty())
            WriteIndex(index, header, *entries);
    }
    for (const IndexedEntry& entry : *entries) {
        if (entry.tryExec == target || entry.exec == target) {
            info.found = true;
            info.description = entry.name;
            info.icon = entry.icon;
            break;
        }
    }
    return info;
}

}  // namespace os::file_info
