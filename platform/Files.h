#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <sys/types.h>

namespace platform {

// Replaces the file whole: a reader in another process sees the old or the
// new content, never a mix, and a crash leaves the old content in place.
bool WriteFileAtomically(const std::string& path, std::string_view data, mode_t mode = 0644);

// Reads at most maxBytes; nullopt when the file cannot be opened or read.
std::optional<std::string> ReadFile(const std::string& path, size_t maxBytes = 1 << 20);

// Creates the folder and its missing parents; true when it exists afterwards.
bool MakeDirectories(const std::string& path, mode_t mode = 0755);

}  // namespace platform
