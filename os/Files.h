#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <sys/stat.h>
#include <sys/types.h>

namespace os {

// What identifies one version of a file: a rewrite changes at least one field.
struct FileStamp {
    dev_t device = 0;
    ino_t inode = 0;
    long long size = -1;
    long long modifiedSeconds = 0;
    long modifiedNanoseconds = 0;
    bool operator==(const FileStamp&) const = default;
};
// The stamp of the file at path; an empty stamp when there is none.
FileStamp StampOf(const std::string& path);
FileStamp StampOf(const struct stat& st);

// Replaces the file whole: a reader in another process sees the old or the
// new content, never a mix, and a crash leaves the old content in place.
// Without durable the data is not forced to the disk first: for what lives
// in the runtime folder, which does not outlive the machine's run anyway.
bool WriteFileAtomically(const std::string& path, std::string_view data, mode_t mode = 0644, bool durable = true);

// The same, durable, done by exchanging the new file with the one in place
// where the file system can: displaced then names the file that was in
// place (under a temporary name, for the caller to look at and remove), so
// that a file another writer put there a moment before is never lost.
// Where there was no file, or the file system cannot exchange (NFS), the
// file is replaced and displaced is empty. written gets the new file's
// stamp, taken before anyone else could replace it.
bool ExchangeFile(const std::string& path, std::string_view data, mode_t mode, std::string& displaced,
                  FileStamp& written);

// Removes the temporary files WriteFileAtomically left beside path when a
// writer was killed midway: only regular files of the calling user named as
// it names them (".tmp.<name>.XXXXXX"), only in path's folder, never
// following a link. Returns how many were removed.
int RemoveStaleTemporaries(const std::string& path);

// Reads at most maxBytes of a regular file; nullopt when it cannot be opened
// or read, or is not a regular file (a FIFO or a device is never waited on).
// Without followLinks a symbolic link at the end of the path is refused.
std::optional<std::string> ReadFile(const std::string& path, size_t maxBytes = 1 << 20, bool followLinks = true);

// Writes all of data to fd, going on after interruptions; false on failure.
bool WriteAll(int fd, std::string_view data);
// Reads fd to its end, at most maxBytes; nullopt when a read fails.
std::optional<std::string> ReadFrom(int fd, size_t maxBytes);

// Creates the folder and its missing parents; true when it exists afterwards.
bool MakeDirectories(const std::string& path, mode_t mode = 0755);

}  // namespace os
