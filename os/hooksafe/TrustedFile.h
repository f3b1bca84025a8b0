#pragma once

#include <cstddef>

// Files the environment names for the firewall to load or start (the engine
// library, the alert program). An environment can outlive a change of user:
// a program started by su or sudo -E runs as root with its caller's
// variables, and must not load what the caller could write. Part of the
// platform core: no C++ runtime.
namespace os {

// Resolves path (symbolic links followed) into resolved and tells whether
// the file is one nobody but root and the effective user could have put
// there or changed: a regular file that belongs to one of them and is
// writable by no one else (a group write is allowed for the effective
// group), in folders none of which anyone may write to (a sticky folder such
// as /tmp, where others cannot replace what is ours, is passed). Use
// resolved afterwards, so that no link can be swapped in between.
bool ResolveTrustedFile(const char* path, char* resolved, size_t size);

}  // namespace os
