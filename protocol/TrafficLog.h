#pragma once

#include "os/hooksafe/Descriptors.h"
#include "protocol/LogFiles.h"

#include <cstring>
#include <ctime>
#include <mutex>
#include <string>
#include <string_view>

namespace protocol {

// The daily traffic log: one file per local day in the log folder, one line
// per record, appended by every engine copy in turn. Thread-safe.
class TrafficLog {
public:
    explicit TrafficLog(std::string folder) : folder_(std::move(folder)) {}
    ~TrafficLog() { fd_.Close(); }
    TrafficLog(const TrafficLog&) = delete;
    TrafficLog& operator=(const TrafficLog&) = delete;

    // "<folder>/<day>_<month>_<year>_qrb.log" for the local date of when.
    std::string FileNameFor(std::time_t when) const;

    // Writes "<DATE>..</DATE><TIME>..</TIME>body\r\n" with a single write to
    // the file of the day opened for appending, so that concurrent writers
    // never interleave within a record. The body's texts must already be
    // escaped. A record is written whole or not at all: when the disk fills
    // up in the middle of one, what was written of it is blanked out, so the
    // next record starts a line of its own. Failures drop the record.
    //
    // The file stays open between records; it is looked up afresh at least
    // once a second, so a file removed or replaced is followed. When the new
    // day's file cannot be made (the process dropped its privileges), the
    // records go on into the file that is open, each with its own date.
    void AppendLogRecord(std::string_view body, std::time_t when) const;

    // Opens the file of the day of when, writing nothing.
    void Prepare(std::time_t when) const;

    const std::string& Folder() const { return folder_; }
    // Sets the folder when it was not known at construction.
    void SetFolder(std::string folder);

    void LockForFork() const { mutex_.lock(); }
    void UnlockAfterFork() const { mutex_.unlock(); }

private:
    int Descriptor(const std::string& path) const;
    void Stamp(std::time_t when) const;
    bool WriteWhole(int fd, const char* line, size_t length) const;

    std::string folder_;
    mutable std::mutex mutex_;
    mutable os::KeptDescriptor fd_;
    mutable std::string openPath_;
    mutable long long checkedAt_ = 0;
    mutable unsigned long long sizeLimit_ = ~0ull; // the process's file size limit, looked at with the file
    mutable std::time_t stampedAt_ = 0;
    mutable std::string stampPrefix_; // "<DATE>..</DATE><TIME>..</TIME>" of stampedAt_
    mutable std::string stampPath_;   // the file of the day of stampedAt_
};

}  // namespace protocol
