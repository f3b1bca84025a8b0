#include "platform/Files.h"

#include "platform/Descriptors.h"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

namespace {

bool WriteAll(int fd, std::string_view data)
{
    while (!data.empty()) {
        const ssize_t n = ::write(fd, data.data(), data.size());
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        data.remove_prefix(static_cast<size_t>(n));
    }
    return true;
}

}  // namespace

bool WriteFileAtomically(const std::string& path, std::string_view data, mode_t mode, bool durable)
{
    const size_t slash = path.rfind('/');
    const std::string folder = slash == std::string::npos ? "./" : path.substr(0, slash + 1);
    const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    std::string temp = folder + ".tmp." + name + ".XXXXXX";
    const int fd = ::mkostemp(temp.data(), O_CLOEXEC);
    if (fd < 0)
        return false;
    bool ok = ::fchmod(fd, mode) == 0 && WriteAll(fd, data) && (!durable || ::fsync(fd) == 0);
    ok = (::close(fd) == 0) && ok;
    if (ok && ::rename(temp.c_str(), path.c_str()) == 0) {
        if (durable) {
            // The rename itself reaches the disk with the folder.
            if (const int dir = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC); dir >= 0) {
                ::fsync(dir);
                ::close(dir);
            }
        }
        return true;
    }
    const int error = errno; // what failed, for the caller to report
    ::unlink(temp.c_str());
    errno = error;
    return false;
}

std::optional<std::string> ReadFile(const std::string& path, size_t maxBytes, bool followLinks)
{
    const int fd = OpenRegularFile(path.c_str(), O_RDONLY, 0, followLinks);
    if (fd < 0)
        return std::nullopt;
    std::string out;
    char buffer[4096];
    while (out.size() < maxBytes) {
        const ssize_t n = ::read(fd, buffer, std::min(sizeof buffer, maxBytes - out.size()));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            ::close(fd);
            return std::nullopt;
        }
        if (n == 0)
            break;
        out.append(buffer, static_cast<size_t>(n));
    }
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

}  // namespace platform
