#include "platform/Paths.h"

#include "platform/Text.h"

#include "platform/Environment.h"
#include "platform/RuntimeFolder.h"

#include <limits.h>
#include <pwd.h>
#include <unistd.h>

namespace platform {

namespace {

std::string Env(const char* name)
{
    const char* value = GetEnv(name);
    return value ? std::string(value) : std::string();
}

std::string XdgOr(const char* variable, const char* fallbackBelowHome)
{
    std::string value = Env(variable);
    // Relative values are invalid by the XDG rules and must be ignored.
    if (!value.empty() && value[0] == '/')
        return value;
    return HomeFolder() + fallbackBelowHome;
}

}  // namespace

std::string HomeFolder()
{
    std::string home = Env("HOME");
    if (!home.empty() && home[0] == '/')
        return home;
    if (const passwd* pw = ::getpwuid(::getuid()); pw && pw->pw_dir)
        return pw->pw_dir;
    return "/";
}

std::string ConfigHome() { return XdgOr("XDG_CONFIG_HOME", "/.config"); }
std::string StateHome() { return XdgOr("XDG_STATE_HOME", "/.local/state"); }
std::string DataHome() { return XdgOr("XDG_DATA_HOME", "/.local/share"); }

std::string RegistryRoot()
{
    std::string root = Env("ZEL_REGISTRY_ROOT");
    if (!root.empty())
        return root;
    return ConfigHome() + "/korvel/registry";
}

std::string RuntimeDir()
{
    char path[PATH_MAX];
    return ResolveRuntimeFolder(path, sizeof path) == RuntimeFolderProblem::kNone ? std::string(path) : std::string();
}

std::string RuntimePath(std::string_view leaf)
{
    const std::string folder = RuntimeDir();
    return folder.empty() ? folder : folder + "/" + std::string(leaf);
}

std::string RuntimeDirProblem() { return RuntimeDirState().problem; }

RuntimeFolderState RuntimeDirState()
{
    char path[PATH_MAX];
    RuntimeFolderSource source = RuntimeFolderSource::kConfigured;
    const RuntimeFolderProblem problem = ResolveRuntimeFolder(path, sizeof path, &source);
    RuntimeFolderState state {path, {}, source == RuntimeFolderSource::kHome};
    if (problem != RuntimeFolderProblem::kNone) {
        char text[PATH_MAX + 512];
        DescribeRuntimeFolderProblem(problem, source, path, text, sizeof text);
        state.problem = text;
    }
    return state;
}

std::string SettingPath(std::string_view text)
{
    text = TrimBlanks(text);
    if (text.empty() || text.front() == '/')
        return std::string(text);
    if (text == "~" || text == ".")
        return HomeFolder();
    if (text.starts_with("~/"))
        text.remove_prefix(2);
    else if (text.starts_with("./"))
        text.remove_prefix(2);
    const std::string home = HomeFolder();
    return (home == "/" ? "" : home) + "/" + std::string(text);
}

}  // namespace platform
