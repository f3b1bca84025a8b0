#pragma once

#include <ctime>
#include <string>
#include <sys/types.h>

namespace zelconn {

// Follows the day's traffic log as the engines append to it, line by line:
// every whole line written after it started, once. It follows the day's
// change (the new day's file is read from its start, and the previous day's
// is still read, since a record stamped before midnight may land after it),
// a file truncated (read again from its start) and a file replaced (the old
// one read to its end, the new one from its start). A line is given only
// once its line break is written; what the file held when following began
// is passed over.
class LogFollower {
public:
    LogFollower() = default;
    ~LogFollower();
    LogFollower(const LogFollower&) = delete;
    LogFollower& operator=(const LogFollower&) = delete;

    // Follows the daily files of folder from now on.
    void Start(const std::string& folder, std::time_t now);
    void Stop();
    bool Following() const { return !folder_.empty(); }
    const std::string& Folder() const { return folder_; }

    // The descriptor that turns readable when a file of the folder was made,
    // moved or removed (-1 while the folder cannot be watched). A file that
    // grows says nothing: Refresh and Next are called on a timer.
    int Fd() const { return watch_; }

    // Takes the folder's news and the day's file of now into account.
    void Refresh(std::time_t now);
    // The next whole line, without its line break ("\n" or "\r\n"); false
    // when none is there now.
    bool Next(std::string& line);

private:
    struct File {
        std::string path;
        int fd = -1;
        dev_t device = 0;
        ino_t inode = 0;
        off_t offset = 0;
        std::string buffer;        // read, not yet given
        size_t given = 0;          // of buffer
        bool skipToLineEnd = false; // in the middle of a line not to be given
    };

    void Open(File& file, bool atEnd);
    static void Close(File& file);
    bool NextOf(File& file, std::string& line);
    bool Fill(File& file);

    std::string folder_;
    int watch_ = -1;
    File current_;
    File previous_;
};

}  // namespace zelconn
