#pragma once

#include <cstddef>
#include <ctime>
#include <string>
#include <string_view>
#include <sys/types.h>

namespace panel {

// Today's traffic log read on from where the last look stopped: each look
// gives the whole records appended since, at most a bound of bytes, so that
// a huge file is taken in over several looks and never stalls a window.
class TrafficLogTail {
public:
    explicit TrafficLogTail(size_t bytesPerLook) : bytesPerLook_(bytesPerLook) {}

    struct Appended {
        // What was read before no longer counts: a new day began, or the file
        // was cut or replaced. The caller forgets what it drew from it.
        bool restarted = false;
        std::string_view lines; // whole lines, each ending in '\n'; valid until the next look
    };
    // The records of the day of wallNow in folder; a folder that changed
    // starts over too. Nothing when the file is missing or no regular file.
    Appended ReadOn(const std::string& folder, std::time_t wallNow);

private:
    size_t bytesPerLook_;
    std::string file_;
    dev_t device_ = 0;
    ino_t inode_ = 0;
    long long offset_ = 0;
    std::string text_;
};

}  // namespace panel
