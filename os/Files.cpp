#include "os/Files.h"

#include "os/hooksafe/Descriptors.h"
#include "os/hooksafe/Retry.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

namespace os {

bool WriteAll(int fd, std::string_view data)
{
    while (!data.empty()) {
        const ssize_t n = RetryOnInterrupt([&] { return ::write(fd, data.data(), data.size()); });
        // Nothing written is a failure too, rather than a loop without end.
        if (n <= 0)
            return false;
        data.remove_prefix(static_cast<size_t>(n));
    }
    return true;
}

std::optional<std::string> ReadFrom(int fd, size_t maxBytes)
{
    std::string out;
    char buffer[4096];
    while (out.size() < maxBytes) {
        const ssize_t n = RetryOnInterrupt([&] { return ::read(fd, buffer, std::min(sizeof buffer, maxBytes - out.size())); });
        if (n < 0)
            return std::nullopt;
        if (n == 0)
            break;
        out.append(buffer, static_cast<size_t>(n));
    }
    return out;
}

namespace {

// The folder (ending in '/') and the name of path.
std::pair<std::string, std::string> SplitPath(const std::string& path)
{
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos)
        return {"./", path};
    return {path.substr(0, slash + 1), path.substr(slash + 1)};
}

std::string TemporaryPrefix(const std::string& name) { return ".tmp." + name + "."; }
constexpr size_t kTemporarySuffix = 6; // mkostemp's XXXXXX

}  // namespace

namespace {

// The data in a new temporary file beside path, made with mode: its name
// (empty when it could not be made whole; errno says why) and its stamp.
std::string WriteTemporary(const std::string& folder, const std::string& name, std::string_view data, mode_t mode,
                           bool durable, FileStamp* stamp)
{
    std::string temp = folder + TemporaryPrefix(name) + std::string(kTemporarySuffix, 'X');
    const int fd = ::mkostemp(temp.data(), O_CLOEXEC);
    if (fd < 0)
        return {};
    struct stat st {};
    bool ok = ::fchmod(fd, mode) == 0 && WriteAll(fd, data) && (!durable || ::fsync(fd) == 0);
    if (ok && stamp)
        ok = ::fstat(fd, &st) == 0;
    ok = (::close(fd) == 0) && ok;
    if (!ok) {
        const int error = errno;
        ::unlink(temp.c_str());
        errno = error;
        return {};
    }
    if (stamp)
        *stamp = StampOf(st);
    return temp;
}

void SyncFolder(const std::string& folder)
{
    if (const int dir = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC); dir >= 0) {
        ::fsync(dir);
        ::close(dir);
    }
}

}  // namespace

bool WriteFileAtomically(const std::string& path, std::string_view data, mode_t mode, bool durable)
{
    const auto [folder, name] = SplitPath(path);
    const std::string temp = WriteTemporary(folder, name, data, mode, durable, nullptr);
    if (temp.empty())
        return false;
    if (::rename(temp.c_str(), path.c_str()) == 0) {
        // The rename itself reaches the disk with the folder.
        if (durable)
            SyncFolder(folder);
        return true;
    }
    const int error = errno; // what failed, for the caller to report
    ::unlink(temp.c_str());
    errno = error;
    return false;
}

bool ExchangeFile(const std::string& path, std::string_view data, mode_t mode, std::string& displaced,
                  FileStamp& written)
{
    displaced.clear();
    const auto [folder, name] = SplitPath(path);
    const std::string temp = WriteTemporary(folder, name, data, mode, true, &written);
    if (temp.empty())
        return false;
    if (::renameat2(AT_FDCWD, temp.c_str(), AT_FDCWD, path.c_str(), RENAME_EXCHANGE) == 0) {
        displaced = temp;
        SyncFolder(folder);
        return true;
    }
    // No file in place, or a file system that cannot exchange: replaced.
    if ((errno == ENOENT || errno == EINVAL || errno == ENOSYS) && ::rename(temp.c_str(), path.c_str()) == 0) {
        SyncFolder(folder);
        return true;
    }
    const int error = errno;
    ::unlink(temp.c_str());
    errno = error;
    return false;
}

int RemoveStaleTemporaries(const std::string& path)
{
    const auto [folder, name] = SplitPath(path);
    if (name.empty())
        return 0;
    const std::string prefix = TemporaryPrefix(name);
    const int dirFd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd < 0)
        return 0;
    DIR* dir = ::fdopendir(dirFd);
    if (!dir) {
        ::close(dirFd);
        return 0;
    }
    int removed = 0;
    while (const dirent* entry = ::readdir(dir)) {
        const std::string_view entryName = entry->d_name;
        if (entryName.size() != prefix.size() + kTemporarySuffix || !entryName.starts_with(prefix)
            || !std::all_of(entryName.begin() + static_cast<std::ptrdiff_t>(prefix.size()), entryName.end(),
                            [](char c) { return std::isalnum(static_cast<unsigned char>(c)); }))
            continue;
        struct stat st {};
        if (::fstatat(dirFd, entry->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(st.st_mode)
            || st.st_uid != ::geteuid())
            continue;
        removed += ::unlinkat(dirFd, entry->d_name, 0) == 0;
    }
    ::closedir(dir);
    return removed;
}

std::optional<std::string> ReadFile(const std::string& path, size_t maxBytes, bool followLinks)
{
    const int fd = OpenRegularFile(path.c_str(), O_RDONLY, 0, followLinks);
    if (fd < 0)
        return std::nullopt;
    auto out = ReadFrom(fd, maxBytes);
    ::close(fd);
    return out;
}

FileStamp StampOf(const struct stat& st)
{
    return {st.st_dev, st.st_ino, static_cast<long long>(st.st_size), static_cast<long long>(st.st_mtim.tv_sec),
            st.st_mtim.tv_nsec};
}

FileStamp StampOf(const std::string& path)
{
    struct stat st {};
    if (path.empty() || ::stat(path.c_str(), &st) != 0)
        return {};
    return StampOf(st);
}

bool MakeDirectories(const std::string& path, mode_t mode)
{
    if (path.empty())
        return false;
    for (size_t pos = 1; pos <= path.size(); ++pos) {
        if (pos != path.size() && path[pos] != '/')
            continue;
        const std::string part = path.substr(0, pos);
        if (::mkdir(part.c_str(), mode) != 0 && errno != EEXIST)
            return false;
    }
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

}  // namespace os
