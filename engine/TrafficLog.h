#pragma once

#include <ctime>
#include <string>
#include <string_view>

namespace engine {

// The daily traffic log: one file per local day in the log folder, one line
// per record, appended by every engine copy in turn.
class TrafficLog {
public:
    explicit TrafficLog(std::string folder) : folder_(std::move(folder)) {}

    // "<folder>/<day>_<month>_<year>_qrb.log" for the local date of when.
    std::string FileNameFor(std::time_t when) const;

    // Writes "<DATE>..</DATE><TIME>..</TIME>body\r\n" with a single write to
    // the file of the day opened for appending, so that concurrent writers
    // never interleave within a record. Failures drop the record silently.
    void AppendLogRecord(std::string_view body, std::time_t when) const;

    const std::string& Folder() const { return folder_; }

private:
    std::string folder_;
};

struct ConnectionRecord {
    const std::string* exePath;
    const std::string* description;
    int protocol;
    int direction;
    const char* remoteAddress;
    unsigned localPort;
    unsigned remotePort;
    int permission;
    bool service;
};

// The body of a connection record.
std::string FormatConnectionBody(const ConnectionRecord& record);

}  // namespace engine
