#include "protocol/TrafficLog.h"

#include "os/Clock.h"
#include "os/hooksafe/DirectCalls.h"
#include "os/hooksafe/Retry.h"
#include "text/Strings.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

namespace protocol {

// Straight to the kernel: the program's end record is written as it exits,
// when other libraries' wrappers of these calls may be gone.
namespace direct = os::direct;

std::string TrafficLog::FileNameFor(std::time_t when) const
{
    return protocol::TrafficLogFileName(folder_, when);
}

void TrafficLog::SetFolder(std::string folder)
{
    std::lock_guard lock(mutex_);
    folder_ = std::move(folder);
    stampPath_.clear();
}

void TrafficLog::Prepare(std::time_t when) const
{
    std::lock_guard lock(mutex_);
    if (folder_.empty())
        return;
    Stamp(when);
    Descriptor(stampPath_);
}

void TrafficLog::Stamp(std::time_t when) const
{
    if (when != stampedAt_ || stampPath_.empty()) {
        // Date, time and file name change once a second at most: made once.
        std::tm local {};
        ::localtime_r(&when, &local);
        stampPrefix_ = protocol::RecordStamp(local);
        stampPath_ = protocol::TrafficLogFileName(folder_, local);
        stampedAt_ = when;
    }
}

void TrafficLog::AppendLogRecord(std::string_view body, std::time_t when) const
{
    std::lock_guard lock(mutex_);
    // Without a log folder the name would land in the file system's root.
    if (folder_.empty())
        return;
    Stamp(when);
    // Built whole before the write: one write per record keeps records intact
    // when several processes append to the same file.
    char stackLine[2048];
    std::string heapLine;
    const size_t length = stampPrefix_.size() + body.size() + 2;
    char* line = stackLine;
    if (length > sizeof stackLine) {
        heapLine.resize(length);
        line = heapLine.data();
    }
    std::memcpy(line, stampPrefix_.data(), stampPrefix_.size());
    std::memcpy(line + stampPrefix_.size(), body.data(), body.size());
    line[length - 2] = '\r';
    line[length - 1] = '\n';

    const int fd = Descriptor(stampPath_);
    if (fd >= 0)
        WriteWhole(fd, line, length);
}

bool TrafficLog::WriteWhole(int fd, const char* line, size_t length) const
{
    if (sizeLimit_ != ~0ull) {
        // Past the process's file size limit the write would raise SIGXFSZ,
        // which ends the program: the record is dropped instead.
        struct stat st {};
        if (direct::Fstat(fd, &st) != 0 || static_cast<unsigned long long>(st.st_size) + length > sizeLimit_)
            return false;
    }
    const ssize_t written = os::RetryOnInterrupt([&] { return direct::Write(fd, line, length); });
    if (written < 0 || static_cast<size_t>(written) == length)
        return written >= 0;
    // A short write (the disk is full): the part written ends where the
    // descriptor's offset is now. It is overwritten in place with blanks and
    // a line break, which needs no new room, so that no torn record remains
    // and the next one is not glued onto it.
    const off_t end = direct::Seek(fd, 0, SEEK_CUR);
    const int flags = direct::Fcntl(fd, F_GETFL);
    if (end >= written && flags >= 0 && direct::Fcntl(fd, F_SETFL, flags & ~O_APPEND) == 0) {
        char blanks[2048];
        std::memset(blanks, ' ', sizeof blanks);
        off_t at = end - written;
        for (size_t left = static_cast<size_t>(written); left > 0;) {
            const size_t part = left < sizeof blanks ? left : sizeof blanks;
            if (part == left)
                blanks[part - 1] = '\n';
            if (direct::WriteAt(fd, blanks, part, at) != static_cast<ssize_t>(part))
                break;
            at += static_cast<off_t>(part);
            left -= part;
        }
        direct::Fcntl(fd, F_SETFL, flags);
    }
    return false;
}

int TrafficLog::Descriptor(const std::string& path) const
{
    const long long now = os::CoarseMilliseconds();
    if (fd_.IsOpen() && openPath_ == path && now - checkedAt_ < 1000)
        return fd_.Get();
    checkedAt_ = now;
    if (fd_.IsOpen() && !fd_.StillOurs())
        fd_.Forget(); // closed and reused behind our back: that number is not ours
    if (fd_.IsOpen() && openPath_ == path) {
        // Still the file of that name? Someone may have removed or replaced it.
        struct stat onDisk {}, held {};
        if (direct::Stat(path.c_str(), &onDisk) == 0 && direct::Fstat(fd_.Get(), &held) == 0 && onDisk.st_ino == held.st_ino
            && onDisk.st_dev == held.st_dev)
            return fd_.Get();
    }
    const int fd = os::OpenRegularFile(path.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644, false);
    if (fd < 0) {
        // Not allowed to make the new file (privileges dropped): go on in the
        // open one. Out of descriptors: try again at the next record.
        if (errno == EACCES && fd_.IsOpen())
            return fd_.Get();
        fd_.Close();
        openPath_.clear();
        return -1;
    }
    // O_NONBLOCK came with the safe opening; appending to a regular file never waits anyway.
    direct::Fcntl(fd, F_SETFL, O_WRONLY | O_APPEND);
    fd_.Adopt(fd);
    openPath_ = path;
    rlimit limit {};
    sizeLimit_ = direct::GetLimit(RLIMIT_FSIZE, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY
        ? static_cast<unsigned long long>(limit.rlim_cur)
        : ~0ull;
    return fd_.Get();
}

}  // namespace protocol
