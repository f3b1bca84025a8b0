#pragma once

#include <cstddef>
#include <sys/types.h>

// The runtime folder holds the live objects of one user's firewall (shared
// block, presence lock, carrier registrations, message windows). Other users
// must not be able to plant anything in it, so it is used only when it is a
// directory (not a link) owned by the user with no access for anyone else.
// Part of the platform core: no C++ runtime.
namespace os {

enum class RuntimeFolderProblem {
    kNone,
    kTooLong,       // the path does not fit
    kCannotCreate,  // missing and could not be made
    kNotADirectory, // a file or a symbolic link sits there
    kForeignOwner,  // owned by another user
    kOpenToOthers,  // group or others have some access
    kUnsafeParent,  // a folder above it is another user's, or writable by others
    kNoHome,        // no session folder and no home folder to keep it in
};

// Which rule chose the folder.
enum class RuntimeFolderSource {
    kConfigured, // ZEL_RUNTIME_DIR
    kSession,    // $XDG_RUNTIME_DIR/korvel
    kHome,       // the session has no XDG_RUNTIME_DIR: a folder under the home
};

// ZEL_RUNTIME_DIR, else $XDG_RUNTIME_DIR/korvel, else
// $XDG_STATE_HOME/korvel/run-HOST (~/.local/state/korvel/run-HOST), HOST
// being this machine's name: every program of the user finds the same
// folder from its variables alone, whatever other users have made anywhere,
// and machines that share a home over the network each have their own.
// Never a folder in /tmp, which another user could make first. Made with
// mode 0700 when missing (never inside a folder another user owns or can
// write: see TrustedFolder.h), then checked. Writes the path into path in
// any case (empty for kNoHome) and the rule into source when given; returns
// kNone when the folder may be used.
RuntimeFolderProblem ResolveRuntimeFolder(char* path, size_t size, RuntimeFolderSource* source = nullptr);

// One line a program can print about the problem, into text: what is wrong,
// that the user's programs are refused for it, and what mends it.
void DescribeRuntimeFolderProblem(RuntimeFolderProblem problem, RuntimeFolderSource source, const char* path,
                                  char* text, size_t size);

}  // namespace os
