#include "platform/Paths.h"

#include "platform/Text.h"

#include "platform/Clock.h"
#include "platform/Environment.h"
#include "platform/RuntimeFolder.h"

#include <atomic>
#include <cstring>
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

namespace {

// The last answer, for the same variables and user, taken for a second. In
// static storage without a destructor (a thread-local one would keep the
// engine from being unloaded), and never waited for: a thread that finds it
// in use (or a forked child that finds it taken by a thread it lacks) looks
// the folder up itself.
struct KnownFolder {
    char key[1024];
    char path[PATH_MAX];
    long long at;
    bool valid;
};
KnownFolder g_known;
std::atomic_flag g_knownInUse = ATOMIC_FLAG_INIT;

}  // namespace

std::string RuntimeDir()
{
    // A program's first decision looks the folder up several times (the
    // shared block, the panel's lock, the carrier's files).
    std::string key = std::to_string(::geteuid());
    for (const char* name : {"ZEL_RUNTIME_DIR", "XDG_RUNTIME_DIR", "XDG_STATE_HOME", "HOME"}) {
        const char* value = GetEnv(name);
        key += value ? "\n=" + std::string(value) : "\n";
    }
    const long long now = CoarseMilliseconds();
    if (key.size() < sizeof g_known.key && !g_knownInUse.test_and_set(std::memory_order_acquire)) {
        const bool known = g_known.valid && now - g_known.at < 1000 && key == g_known.key;
        std::string path = known ? std::string(g_known.path) : std::string();
        g_knownInUse.clear(std::memory_order_release);
        if (known)
            return path;
    }
    char path[PATH_MAX];
    const bool usable = ResolveRuntimeFolder(path, sizeof path) == RuntimeFolderProblem::kNone;
    if (key.size() < sizeof g_known.key && !g_knownInUse.test_and_set(std::memory_order_acquire)) {
        std::memcpy(g_known.key, key.c_str(), key.size() + 1);
        std::memcpy(g_known.path, usable ? path : "", usable ? std::strlen(path) + 1 : 1);
        g_known.at = now;
        g_known.valid = true;
        g_knownInUse.clear(std::memory_order_release);
    }
    return usable ? std::string(path) : std::string();
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
