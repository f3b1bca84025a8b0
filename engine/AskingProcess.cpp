#include "engine/AskingProcess.h"

#include "os/Files.h"
#include "os/Processes.h"
#include "text/Strings.h"

#include <cstdio>
#include <pwd.h>
#include <unistd.h>

namespace engine {

namespace {

bool IsPlain(unsigned char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c >= 0x80
        || std::string_view("_@%+=:,./-").find(static_cast<char>(c)) != std::string_view::npos;
}

bool IsControl(unsigned char c) { return c < 0x20 || c == 0x7f; }

// One argument as a shell would read it back: bare, in single quotes, or in
// $'...' when it holds control characters.
std::string Quote(std::string_view argument)
{
    if (argument.empty())
        return "''";
    bool plain = true, control = false;
    for (const unsigned char c : argument) {
        plain = plain && IsPlain(c);
        control = control || IsControl(c);
    }
    if (plain)
        return std::string(argument);
    std::string quoted;
    if (!control) {
        quoted = "'";
        for (const char c : argument)
            quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
        return quoted + "'";
    }
    quoted = "$'";
    for (const unsigned char c : argument) {
        if (c == '\n')
            quoted += "\\n";
        else if (c == '\t')
            quoted += "\\t";
        else if (c == '\r')
            quoted += "\\r";
        else if (IsControl(c)) {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02x", c);
            quoted += hex;
        } else if (c == '\'' || c == '\\')
            quoted += std::string("\\") + static_cast<char>(c);
        else
            quoted += static_cast<char>(c);
    }
    return quoted + "'";
}

std::string UserName(uid_t uid)
{
    passwd entry {};
    passwd* found = nullptr;
    char buffer[4096];
    const std::string number = std::to_string(uid);
    if (::getpwuid_r(uid, &entry, buffer, sizeof buffer, &found) == 0 && found && found->pw_name)
        return std::string(found->pw_name) + " (" + number + ")";
    return "user " + number;
}

}  // namespace

std::string FormatCommandLine(std::string_view raw, size_t limit)
{
    // A command line ends with NUL; one without (a program that rewrote its
    // arguments) still shows what it holds.
    if (!raw.empty() && raw.back() == '\0')
        raw.remove_suffix(1);
    std::string line;
    if (raw.empty())
        return line;
    for (size_t start = 0; start <= raw.size();) {
        size_t end = raw.find('\0', start);
        if (end == std::string_view::npos)
            end = raw.size();
        if (!line.empty())
            line += ' ';
        line += Quote(raw.substr(start, end - start));
        start = end + 1;
        if (line.size() > limit) {
            // Cut on a character's first byte, not inside one.
            size_t cut = limit;
            while (cut > 0 && (static_cast<unsigned char>(line[cut]) & 0xC0) == 0x80)
                --cut;
            line.resize(cut);
            return line + "...";
        }
    }
    return line;
}

AskingProcess DescribeAskingProcess(const std::string& procRoot, pid_t pid)
{
    AskingProcess process;
    process.pid = pid;
    process.user = UserName(::geteuid());
    const std::string folder = procRoot + "/" + std::to_string(pid);
    // More than a screen's worth is of no use in a window: the rest is cut.
    if (const auto raw = os::ReadFile(folder + "/cmdline", 16384))
        process.commandLine = FormatCommandLine(*raw);
    if (const auto stat = os::ReadFile(folder + "/stat", 4096)) {
        // The command name may hold blanks and parentheses: fields start after the last ')'.
        const size_t close = stat->rfind(')');
        const size_t field = close == std::string::npos ? close : stat->find(' ', close + 2);
        if (field != std::string::npos)
            process.parentPid = static_cast<pid_t>(text::ParseDecimal(std::string_view(*stat).substr(field + 1)));
    }
    if (process.parentPid > 0)
        process.parentPath = os::processes::ExecutablePath(procRoot, process.parentPid);
    // Up to the first process the service manager started, or one that cannot be read.
    pid_t above = process.parentPid;
    while (above > 1 && process.ancestors.size() < AskingProcess::kAncestors) {
        const auto entry = os::processes::ReadProcess(procRoot, above);
        if (!entry || entry->parentPid <= 1)
            break;
        above = entry->parentPid;
        process.ancestors.push_back(os::processes::ExecutablePath(procRoot, above));
    }
    return process;
}

}  // namespace engine
