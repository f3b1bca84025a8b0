#include "session/SessionPreload.h"

#include "protocol/Registry.h"
#include "protocol/SettingNames.h"
#include "text/Strings.h"

#include <cctype>
#include <cstdlib>
#include <cstring>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace session {

namespace registry = protocol::registry;
namespace settings = protocol::settings;

namespace {

// The loader splits LD_PRELOAD on both.
constexpr std::string_view kSeparators = ": ";
// Set for the restarted program only, and taken out of its environment at once.
constexpr const char* kRestartMarker = "ZEL_LEFT_HOOK";

std::vector<std::string_view> Entries(std::string_view preload)
{
    std::vector<std::string_view> entries;
    size_t start = 0;
    while (start <= preload.size()) {
        size_t end = preload.find_first_of(kSeparators, start);
        if (end == std::string_view::npos)
            end = preload.size();
        if (end > start)
            entries.push_back(preload.substr(start, end - start));
        start = end + 1;
    }
    return entries;
}

bool IsHookEntry(std::string_view entry) { return text::FileNamePart(entry) == kHookFileName; }

std::string Join(const std::vector<std::string_view>& entries)
{
    std::string value;
    for (const std::string_view entry : entries) {
        if (!value.empty())
            value += ':';
        value += entry;
    }
    return value;
}

std::string Resolved(const std::string& path)
{
    char real[PATH_MAX];
    return ::realpath(path.c_str(), real) ? std::string(real) : std::string();
}

// Only root or the user can change it: owned by one of them, and writable by
// nobody else (a folder others may write to only with the sticky bit, where
// they cannot take away or rename what is not theirs).
bool OnlyTheirs(const struct stat& st, uid_t uid, bool folder)
{
    if (st.st_uid != 0 && st.st_uid != uid)
        return false;
    if ((st.st_mode & (S_IWGRP | S_IWOTH)) == 0)
        return true;
    return folder && (st.st_mode & S_ISVTX) != 0;
}

}  // namespace

bool HasHook(std::string_view preload)
{
    for (const std::string_view entry : Entries(preload))
        if (IsHookEntry(entry))
            return true;
    return false;
}

std::string WithHookFirst(std::string_view hook, std::string_view preload)
{
    std::vector<std::string_view> entries {hook};
    for (const std::string_view entry : Entries(preload))
        if (!IsHookEntry(entry))
            entries.push_back(entry);
    return Join(entries);
}

std::string WithoutHook(std::string_view preload)
{
    std::vector<std::string_view> entries;
    for (const std::string_view entry : Entries(preload))
        if (!IsHookEntry(entry))
            entries.push_back(entry);
    return Join(entries);
}

HookProblem CheckHook(const std::string& path, uid_t uid)
{
    const std::string real = Resolved(path);
    struct stat st {};
    if (real.empty() || ::stat(real.c_str(), &st) != 0 || !S_ISREG(st.st_mode))
        return HookProblem::kMissing;
    // '$' starts a token the loader expands ($LIB, $ORIGIN); blanks and
    // colons separate entries; a line break ends a start-up file's line.
    if (real.front() != '/' || real.find_first_of(": \t\n\r$\\\"'`") != std::string::npos)
        return HookProblem::kUnusablePath;
    if (!OnlyTheirs(st, uid, false))
        return HookProblem::kWritableByOthers;
    for (size_t slash = real.rfind('/'); slash != std::string::npos && slash > 0; slash = real.rfind('/', slash - 1)) {
        const std::string folder = real.substr(0, slash);
        if (::stat(folder.c_str(), &st) != 0 || !OnlyTheirs(st, uid, true))
            return HookProblem::kWritableByOthers;
    }
    if (::stat("/", &st) != 0 || !OnlyTheirs(st, uid, true))
        return HookProblem::kWritableByOthers;
    return HookProblem::kNone;
}

bool IsOptionOn()
{
    return text::TrimBlanks(registry::GetString(registry::RootKey::LocalMachine, registry::kSettingsKey,
                                          settings::kDecideEveryProgram))
        == "1";
}

std::optional<std::string> SessionPreload(const std::string& hook, std::string_view current, uid_t uid)
{
    if (!IsOptionOn() || CheckHook(hook, uid) != HookProblem::kNone)
        return std::nullopt;
    return WithHookFirst(Resolved(hook), current);
}

std::string GeneratorLine(std::string_view value)
{
    if (value.find_first_of("\n\r") != std::string_view::npos)
        return {};
    // Inside double quotes the manager's reader takes a backslash before
    // these four as the character itself, and leaves every other one be.
    std::string line = "LD_PRELOAD=\"";
    for (const char c : value) {
        if (c == '"' || c == '\\' || c == '`' || c == '$')
            line += '\\';
        line += c;
    }
    return line + "\"\n";
}

std::optional<std::string> ManagerVariable(std::string_view showEnvironment, std::string_view name)
{
    const std::string prefix = std::string(name) + "=";
    size_t start = 0;
    while (start < showEnvironment.size()) {
        size_t end = showEnvironment.find('\n', start);
        if (end == std::string_view::npos)
            end = showEnvironment.size();
        const std::string_view line = showEnvironment.substr(start, end - start);
        start = end + 1;
        if (!line.starts_with(prefix))
            continue;
        std::string_view value = line.substr(prefix.size());
        if (!value.starts_with("$'") || !value.ends_with("'") || value.size() < 3)
            return std::string(value);
        // $'...': backslash escapes as C writes them.
        value = value.substr(2, value.size() - 3);
        std::string text;
        for (size_t i = 0; i < value.size(); ++i) {
            if (value[i] != '\\' || i + 1 == value.size()) {
                text += value[i];
                continue;
            }
            const char c = value[++i];
            switch (c) {
            case 'n': text += '\n'; break;
            case 't': text += '\t'; break;
            case 'r': text += '\r'; break;
            case 'x':
                if (i + 2 < value.size() && std::isxdigit(static_cast<unsigned char>(value[i + 1]))
                    && std::isxdigit(static_cast<unsigned char>(value[i + 2]))) {
                    text += static_cast<char>(std::strtol(std::string(value.substr(i + 1, 2)).c_str(), nullptr, 16));
                    i += 2;
                } else {
                    text += c;
                }
                break;
            default: text += c; break;
            }
        }
        return text;
    }
    return std::nullopt;
}

bool StartedUnderHook(char** argv)
{
    if (::getenv(kRestartMarker)) {
        ::unsetenv(kRestartMarker);
        return true;
    }
    const char* preload = ::getenv("LD_PRELOAD");
    if (!preload || !HasHook(preload))
        return false;
    const std::string rest = WithoutHook(preload);
    if (rest.empty())
        ::unsetenv("LD_PRELOAD");
    else
        ::setenv("LD_PRELOAD", rest.c_str(), 1);
    ::setenv(kRestartMarker, "1", 1);
    ::execv("/proc/self/exe", argv);
    // It runs on with the hook in it: nothing worse than before.
    ::unsetenv(kRestartMarker);
    return true;
}

}  // namespace session
