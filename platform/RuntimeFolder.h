#pragma once

#include <cstddef>
#include <sys/types.h>

// The runtime folder holds the live objects of one user's firewall (shared
// block, presence lock, carrier registrations, message windows). Other users
// must not be able to plant anything in it, so it is used only when it is a
// directory (not a link) owned by the user with no access for anyone else.
// Part of the platform core: no C++ runtime.
namespace platform {

enum class RuntimeFolderProblem {
    kNone,
    kTooLong,       // the path does not fit
    kCannotCreate,  // missing and could not be made
    kNotADirectory, // a file or a symbolic link sits there
    kForeignOwner,  // owned by another user
    kOpenToOthers,  // group or others have some access
    kUnsafeParent,  // a folder above it is another user's, or writable by others
};

// ZEL_RUNTIME_DIR, else $XDG_RUNTIME_DIR/korvel, else /tmp/korvel-$UID, made
// with mode 0700 when missing (never inside a folder another user owns or
// can write: see TrustedFolder.h), then checked. Writes the path into path in
// any case; returns kNone when the folder may be used.
RuntimeFolderProblem ResolveRuntimeFolder(char* path, size_t size);

// One line a program can print about the problem, into text.
void DescribeRuntimeFolderProblem(RuntimeFolderProblem problem, const char* path, char* text, size_t size);

}  // namespace platform
