#include "logstore/WriterLock.h"

#include "os/Files.h"
#include "os/Paths.h"
#include "os/hooksafe/Descriptors.h"

#include <cerrno>
#include <cstring>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace logstore {

std::string WriterLock::DefaultPath() { return os::RuntimePath("tessary.db.lock"); }

WriterLock WriterLock::Take(const std::string& path)
{
    WriterLock lock;
    if (path.empty()) {
        lock.error_ = "no runtime folder for the database's writer lock: " + os::RuntimeDirProblem();
        return lock;
    }
    const int fd = os::OpenRegularFile(path.c_str(), O_RDWR | O_CREAT, 0600, false);
    if (fd < 0) {
        lock.error_ = "cannot open the database's writer lock " + path + ": " + std::strerror(errno);
        return lock;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || st.st_uid != ::geteuid() || (st.st_mode & 022) != 0) {
        ::close(fd);
        lock.error_ = "the database's writer lock " + path + " is not a private file of this user";
        return lock;
    }
    int taken;
    do
        taken = ::flock(fd, LOCK_EX | LOCK_NB);
    while (taken != 0 && errno == EINTR);
    if (taken != 0) {
        const int error = errno;
        // The holder wrote its process number once it had the lock.
        // Shown as data: letters, digits and blanks only.
        std::string holder;
        for (const char c : os::ReadFrom(fd, 32).value_or(""))
            if ((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || (c == ' ' && !holder.empty()))
                holder += c;
        while (!holder.empty() && holder.back() == ' ')
            holder.pop_back();
        ::close(fd);
        if (error == EWOULDBLOCK)
            lock.error_ = "another process" + (holder.empty() ? "" : " (" + holder + ")")
                + " is writing the database: only one writer at a time (lock " + path + ")";
        else
            lock.error_ = "cannot lock " + path + ": " + std::strerror(error);
        return lock;
    }
    // Only for the message of a writer refused after us: nothing depends on it.
    if (::ftruncate(fd, 0) == 0)
        (void)os::WriteAll(fd, "process " + std::to_string(::getpid()) + "\n");
    lock.fd_ = fd;
    return lock;
}

WriterLock::~WriterLock() { Release(); }

WriterLock::WriterLock(WriterLock&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)), error_(std::move(other.error_))
{
}

WriterLock& WriterLock::operator=(WriterLock&& other) noexcept
{
    if (this != &other) {
        Release();
        fd_ = std::exchange(other.fd_, -1);
        error_ = std::move(other.error_);
    }
    return *this;
}

void WriterLock::Release()
{
    if (fd_ >= 0)
        ::close(fd_);
    fd_ = -1;
}

}  // namespace logstore
