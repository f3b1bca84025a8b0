#include "platform/Paths.h"

#include "platform/Files.h"

#include <cstdlib>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

namespace {

std::string Env(const char* name)
{
    const char* value = std::getenv(name);
    return value ? std::string(value) : std::string();
}

std::string Home()
{
    std::string home = Env("HOME");
    if (!home.empty())
        return home;
    if (const passwd* pw = ::getpwuid(::getuid()); pw && pw->pw_dir)
        return pw->pw_dir;
    return "/";
}

std::string XdgOr(const char* variable, const char* fallbackBelowHome)
{
    std::string value = Env(variable);
    // Relative values are invalid by the XDG rules and must be ignored.
    if (!value.empty() && value[0] == '/')
        return value;
    return Home() + fallbackBelowHome;
}

}  // namespace

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
    std::string dir = Env("ZEL_RUNTIME_DIR");
    if (dir.empty()) {
        const std::string xdg = Env("XDG_RUNTIME_DIR");
        dir = !xdg.empty() && xdg[0] == '/' ? xdg + "/korvel" : "/tmp/korvel-" + std::to_string(::getuid());
    }
    struct stat st {};
    if (::stat(dir.c_str(), &st) != 0 && MakeDirectories(dir, 0700))
        ::chmod(dir.c_str(), 0700);
    return dir;
}

}  // namespace platform
