#pragma once

#include <ctime>
#include <mutex>
#include <string>
#include <string_view>

namespace engine {

// The daily traffic log: one file per local day in the log folder, one line
// per record, appended by every engine copy in turn. Thread-safe.
class TrafficLog {
public:
    explicit TrafficLog(std::string folder) : folder_(std::move(folder)) {}
    ~TrafficLog();
    TrafficLog(const TrafficLog&) = delete;
    TrafficLog& operator=(const TrafficLog&) = delete;

    // "<folder>/<day>_<month>_<year>_qrb.log" for the local date of when.
    std::string FileNameFor(std::time_t when) const;

    // Writes "<DATE>..</DATE><TIME>..</TIME>body\r\n" with a single write to
    // the file of the day opened for appending, so that concurrent writers
    // never interleave within a record. Failures drop the record silently.
    // The file stays open between records; it is looked up afresh at least
    // once a second, so a file removed or replaced is followed.
    void AppendLogRecord(std::string_view body, std::time_t when) const;

    const std::string& Folder() const { return folder_; }

    void LockForFork() const { mutex_.lock(); }
    void UnlockAfterFork() const { mutex_.unlock(); }

private:
    int Descriptor(const char* path) const;

    std::string folder_;
    mutable std::mutex mutex_;
    mutable int fd_ = -1;
    mutable std::string openPath_;
    mutable long long checkedAt_ = 0;
    mutable std::time_t stampedAt_ = 0;
    mutable std::string stampPrefix_; // "<DATE>..</DATE><TIME>..</TIME>" of stampedAt_
    mutable std::string stampPath_;   // the file of the day of stampedAt_
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
