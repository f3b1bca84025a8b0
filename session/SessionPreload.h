#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <sys/types.h>

// How the firewall's hook reaches every program of the user's session: the
// LD_PRELOAD value with the hook first, and whether a hook file may be named
// there at all. The loader prints an error in every program whose preload
// names a missing file, so nothing names the hook without checking it first.
namespace session {

inline constexpr const char* kHookFileName = "libzelhook.so";
// The program the session's start-up files call (in the installation folder).
inline constexpr const char* kSessionProgramName = "zel-session";

// The entries of a LD_PRELOAD value, as the loader splits it (on ':' and ' ').
// True when one of them is a file named libzelhook.so.
bool HasHook(std::string_view preload);
// The value with the hook first and no other hook entry; the user's other
// entries stay, in their order.
std::string WithHookFirst(std::string_view hook, std::string_view preload);
// The value without any hook entry; empty when nothing else was in it.
std::string WithoutHook(std::string_view preload);

enum class HookProblem {
    kNone,
    kMissing,          // no regular file there
    kUnusablePath,     // not absolute, or holds a character the loader reads as a separator or token
    kWritableByOthers, // the file or a folder on its way belongs to another user or others may change it
};

// Whether the file may be named in the preload of the programs of user uid:
// a regular file that only root or that user can change, in folders that
// only they can change (a folder others may write to counts only with the
// sticky bit, as /tmp has). The path is taken as it is, links resolved.
HookProblem CheckHook(const std::string& path, uid_t uid);

// The user's choice, "Decide every program I start": the setting is "1".
bool IsOptionOn();

// The LD_PRELOAD programs of the session start with: the hook first when the
// option is on and the hook may be named; nullopt to leave it as it is.
std::optional<std::string> SessionPreload(const std::string& hook, std::string_view current, uid_t uid);

// The line a systemd environment generator prints for the value, quoted for
// the manager's reader; empty when the value cannot be written on one line.
std::string GeneratorLine(std::string_view value);

// The value of one variable in the output of "systemctl --user
// show-environment" (which quotes odd values as $'...'); nullopt when absent.
std::optional<std::string> ManagerVariable(std::string_view showEnvironment, std::string_view name);

// Programs that must never run under the hook (the control panel, the
// interceptor's process, the alert program) call this first. When LD_PRELOAD
// names the hook, the program starts itself again without it (the user's
// other entries kept); it returns when nothing had to be done. True when the
// program was started with the hook named, before that restart.
bool StartedUnderHook(char** argv);

}  // namespace session
