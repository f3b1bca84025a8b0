#pragma once

#include <sys/stat.h>
#include <sys/types.h>

// A folder a process may take settings from, or make its files in, only if
// no other user can change what is in it: the folder and every folder above
// it belong to root or to the effective user, and none of them is writable
// by anyone else (group write only for the effective group). A folder above
// it may be open to all when it is sticky (/tmp): there others cannot move
// or replace what is not theirs. Matters most in a program started as root
// with its caller's environment (su without "-", sudo -E): it must not make
// or write files where the caller decides. Part of the platform core: no
// C++ runtime.
namespace os {

// Whether the folder at path (links followed, as they are now) is such a folder.
bool IsTrustedFolder(const char* path);

// One folder judged by what stat told of it: owned by root or the effective
// user and writable by nobody else; last says it is the folder itself rather
// than one on the way (where being sticky makes up for being open to all).
bool IsTrustedFolderStat(const struct stat& st, bool last);

// The folder at path opened (O_PATH, close-on-exec) when it is trusted, and
// only the very folder judged: it is opened first, judged by its path, and
// then the path must still lead to it. Its identity goes into st. -1 with
// errno (EPERM when not trusted) otherwise. Kept, the descriptor reaches
// that folder whatever is later put at its path.
int OpenTrustedFolder(const char* path, struct stat* st);

// mkdir -p that makes folders only inside trusted ones, the last with mode
// lastMode and those above it 0755. false, errno set, when a folder on the
// way is missing and cannot be made, is not a folder, or is not trusted
// (EPERM).
bool MakeTrustedFolders(char* path, mode_t lastMode);

}  // namespace os
