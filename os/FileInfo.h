#pragma once

#include <string>
#include <vector>

// What Linux offers in place of an executable's version resource: the
// freedesktop desktop entry that starts it.
namespace os::file_info {

struct ExecutableInfo {
    bool found = false;      // false: "no version resource"
    std::string description; // the entry's Name: the FileDescription
    std::string icon;        // the entry's Icon: a theme name or a path
};

// The folders searched, in order: $XDG_DATA_HOME/applications, then each of
// $XDG_DATA_DIRS (default /usr/local/share:/usr/share) + /applications.
std::vector<std::string> ApplicationFolders();

// The first desktop entry whose TryExec or Exec program resolves to the
// same file as exePath. There is no source for a company name on Linux.
ExecutableInfo LookupExecutable(const std::string& exePath);

}  // namespace os::file_info
