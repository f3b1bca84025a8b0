#include "engine/TrafficLog.h"

#include "platform/Clock.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace engine {

std::string TrafficLog::FileNameFor(std::time_t when) const
{
    std::tm local {};
    ::localtime_r(&when, &local);
    char name[64];
    std::snprintf(name, sizeof name, "/%d_%d_%d_qrb.log", local.tm_mday, local.tm_mon + 1, local.tm_year + 1900);
    return folder_ + name;
}

void TrafficLog::AppendLogRecord(std::string_view body, std::time_t when) const
{
    // Without a log folder the name would land in the file system's root.
    if (folder_.empty())
        return;
    std::lock_guard lock(mutex_);
    if (when != stampedAt_ || stampPath_.empty()) {
        // Date, time and file name change once a second at most: made once.
        std::tm local {};
        ::localtime_r(&when, &local);
        char date[256];
        char time[256];
        platform::FormatLocalDate(local, date, sizeof date);
        platform::FormatLocalTime(local, time, sizeof time);
        stampPrefix_ = std::string("<DATE>") + date + "</DATE><TIME>" + time + "</TIME>";
        char name[64];
        std::snprintf(name, sizeof name, "/%d_%d_%d_qrb.log", local.tm_mday, local.tm_mon + 1, local.tm_year + 1900);
        stampPath_ = folder_ + name;
        stampedAt_ = when;
    }
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

    const int fd = Descriptor(stampPath_.c_str());
    if (fd < 0)
        return;
    ssize_t written;
    do {
        written = ::write(fd, line, length);
    } while (written < 0 && errno == EINTR);
}

TrafficLog::~TrafficLog()
{
    if (fd_ >= 0)
        ::close(fd_);
}

int TrafficLog::Descriptor(const char* path) const
{
    const long long now = platform::CoarseMilliseconds();
    if (fd_ >= 0 && openPath_ == path) {
        if (now - checkedAt_ < 1000)
            return fd_;
        // Still the file of that name? Someone may have removed or replaced it.
        struct stat onDisk {}, held {};
        if (::stat(path, &onDisk) == 0 && ::fstat(fd_, &held) == 0 && onDisk.st_ino == held.st_ino
            && onDisk.st_dev == held.st_dev) {
            checkedAt_ = now;
            return fd_;
        }
    }
    if (fd_ >= 0)
        ::close(fd_);
    fd_ = ::open(path, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    openPath_ = fd_ >= 0 ? path : "";
    checkedAt_ = now;
    return fd_;
}

std::string FormatConnectionBody(const ConnectionRecord& r)
{
    char stackBody[1024];
    const char* format = "<EXEPATH>%s</EXEPATH><APPLICATION>%s</APPLICATION><PROTOCOL>%d</PROTOCOL>"
                         "<DIRECTION>%d</DIRECTION><IP>%s</IP><LOCALPORT>%u</LOCALPORT><REMOTEPORT>%u</REMOTEPORT>"
                         "<PERMISSION>%d</PERMISSION><SERVICE>%d</SERVICE>";
    const char* address = r.remoteAddress ? r.remoteAddress : "";
    const int length = std::snprintf(stackBody, sizeof stackBody, format, r.exePath->c_str(), r.description->c_str(),
                                     r.protocol, r.direction, address, r.localPort, r.remotePort, r.permission,
                                     r.service ? 1 : 0);
    if (length < 0)
        return {};
    if (static_cast<size_t>(length) < sizeof stackBody)
        return std::string(stackBody, static_cast<size_t>(length));
    std::string body(static_cast<size_t>(length) + 1, '\0');
    std::snprintf(body.data(), body.size(), format, r.exePath->c_str(), r.description->c_str(), r.protocol,
                  r.direction, address, r.localPort, r.remotePort, r.permission, r.service ? 1 : 0);
    body.resize(static_cast<size_t>(length));
    return body;
}

}  // namespace engine
