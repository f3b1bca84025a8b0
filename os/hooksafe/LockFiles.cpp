#include "os/hooksafe/LockFiles.h"

#include "os/hooksafe/Descriptors.h"
#include "os/hooksafe/DirectCalls.h"

#include <fcntl.h>
#include <unistd.h>

namespace os {

bool IsHeldByOther(int fd)
{
    struct flock query {};
    query.l_type = F_RDLCK;
    query.l_whence = SEEK_SET;
    if (direct::Fcntl(fd, F_OFD_GETLK, reinterpret_cast<long>(&query)) != 0)
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
    if (direct::Fcntl(fd, F_OFD_SETLK, reinterpret_cast<long>(&lock)) != 0) {
        direct::Close(fd);
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
    direct::Close(fd);
    return held;
}

}  // namespace os
