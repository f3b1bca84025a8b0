#include "platform/LockFiles.h"

#include "platform/Descriptors.h"

#include <fcntl.h>
#include <unistd.h>

namespace platform {

bool IsHeldByOther(int fd)
{
    struct flock query {};
    query.l_type = F_RDLCK;
    query.l_whence = SEEK_SET;
    if (::fcntl(fd, F_OFD_GETLK, &query) != 0)
        return false;
    return query.l_type != F_UNLCK;
}

int HoldLockFile(const char* path)
{
    const int fd = OpenRegularFile(path, O_RDWR | O_CREAT, 0600, false);
    if (fd < 0)
        return -1;
    struct flock lock {};
    lock.l_type = F_WRLCK;
    lock.l_whence = SEEK_SET;
    if (::fcntl(fd, F_OFD_SETLK, &lock) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

bool IsLockFileHeld(const char* path)
{
    const int fd = OpenRegularFile(path, O_RDONLY, 0, false);
    if (fd < 0)
        return false;
    const bool held = IsHeldByOther(fd);
    ::close(fd);
    return held;
}

}  // namespace platform
