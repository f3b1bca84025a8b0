#include "os/Paths.h"

#include "text/Strings.h"

#include "os/hooksafe/Descriptors.h"
#include "os/hooksafe/Environment.h"
#include "os/hooksafe/RuntimeFolder.h"

#include <atomic>
#include <cstring>
#include <fcntl.h>
#include <limits.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace os {

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

// The last folder found usable, for the same variables and user, kept open
// (the descriptor pins it: no other folder can come to carry its identity
// while it is held). In static storage without a destructor (a thread-local
// one would keep the engine from being unloaded), and never waited for: a
// thread that finds it in use (or a forked child that finds it taken by a
// thread it lacks) looks the folder up itself.
struct KnownFolder {
    char key[1024];
    char path[PATH_MAX];
    dev_t device;
    ino_t inode;
    bool valid;
};
KnownFolder g_known;
KeptDescriptor g_knownFolder;
std::atomic_flag g_knownInUse = ATOMIC_FLAG_INIT;

// Still the folder checked, at its path, and still private: one look instead
// of the walk from the root. A folder moved away and another (or a link) put
// in its place has another identity and is checked again in full; a folder
// above it cannot be swapped without that either.
bool StillTheKnownFolder(const char* path, uid_t user, dev_t device, ino_t inode)
{
    struct stat st {};
    return ::lstat(path, &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == user && (st.st_mode & 077) == 0
        && st.st_dev == device && st.st_ino == inode;
}

}  // namespace

std::string RuntimeDir()
{
    // A program's first decision looks the folder up several times (the
    // shared block, the panel's lock, the carrier's files): the walk from the
    // root is done once, later looks compare the folder with the one kept.
    const uid_t user = ::geteuid();
    std::string key = std::to_string(user);
    for (const char* name : {"ZEL_RUNTIME_DIR", "XDG_RUNTIME_DIR", "XDG_STATE_HOME", "HOME"}) {
        const char* value = GetEnv(name);
        key += value ? "\n=" + std::string(value) : "\n";
    }
    char path[PATH_MAX];
    if (key.size() < sizeof g_known.key && !g_knownInUse.test_and_set(std::memory_order_acquire)) {
        const bool known = g_known.valid && key == g_known.key;
        const dev_t device = g_known.device;
        const ino_t inode = g_known.inode;
        if (known)
            std::memcpy(path, g_known.path, std::strlen(g_known.path) + 1);
        g_knownInUse.clear(std::memory_order_release);
        if (known && StillTheKnownFolder(path, user, device, inode))
            return path;
    }
    if (ResolveRuntimeFolder(path, sizeof path) != RuntimeFolderProblem::kNone)
        return std::string();
    // Kept only when what is opened is the private folder just checked.
    const int fd = ::open(path, O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    struct stat st {};
    if (fd >= 0 && (::fstat(fd, &st) != 0 || st.st_uid != user || (st.st_mode & 077) != 0)) {
        ::close(fd); // changed since the check: not used
        return std::string();
    }
    if (fd >= 0 && key.size() < sizeof g_known.key && !g_knownInUse.test_and_set(std::memory_order_acquire)) {
        g_knownFolder.Adopt(fd, st);
        std::memcpy(g_known.key, key.c_str(), key.size() + 1);
        std::memcpy(g_known.path, path, std::strlen(path) + 1);
        g_known.device = st.st_dev;
        g_known.inode = st.st_ino;
        g_known.valid = true;
        g_knownInUse.clear(std::memory_order_release);
    } else if (fd >= 0) {
        ::close(fd);
    }
    return path;
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
    text = text::TrimBlanks(text);
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

}  // namespace os
