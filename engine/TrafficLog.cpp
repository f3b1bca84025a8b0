#include "engine/TrafficLog.h"

#include "platform/Clock.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
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
    std::tm local {};
    ::localtime_r(&when, &local);
    char date[256];
    char time[256];
    platform::FormatLocalDate(local, date, sizeof date);
    platform::FormatLocalTime(local, time, sizeof time);

    char path[4096];
    const int pathLength = std::snprintf(path, sizeof path, "%s/%d_%d_%d_qrb.log", folder_.c_str(), local.tm_mday,
                                         local.tm_mon + 1, local.tm_year + 1900);
    if (pathLength < 0 || static_cast<size_t>(pathLength) >= sizeof path)
        return;

    // Built whole before the write: one write per record keeps records intact
    // when several processes append to the same file.
    char stackLine[2048];
    std::string heapLine;
    const char* line = stackLine;
    int length = std::snprintf(stackLine, sizeof stackLine, "<DATE>%s</DATE><TIME>%s</TIME>%.*s\r\n", date, time,
                               static_cast<int>(body.size()), body.data());
    if (length < 0)
        return;
    if (static_cast<size_t>(length) >= sizeof stackLine) {
        heapLine.resize(static_cast<size_t>(length) + 1);
        std::snprintf(heapLine.data(), heapLine.size(), "<DATE>%s</DATE><TIME>%s</TIME>%.*s\r\n", date, time,
                      static_cast<int>(body.size()), body.data());
        line = heapLine.data();
    }

    const int fd = ::open(path, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (fd < 0)
        return;
    ssize_t written;
    do {
        written = ::write(fd, line, static_cast<size_t>(length));
    } while (written < 0 && errno == EINTR);
    ::close(fd);
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
