#include "panel/core/TrafficLogTail.h"

#include "protocol/LogFiles.h"

#include <algorithm>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace panel {

TrafficLogTail::Appended TrafficLogTail::ReadOn(const std::string& folder, std::time_t wallNow)
{
    Appended appended;
    text_.clear();
    if (folder.empty())
        return appended;
    const std::string file = protocol::TrafficLogFileName(folder, wallNow);
    if (file != file_) {  // a new day, or another folder
        file_ = file;
        offset_ = 0;
        device_ = 0;
        inode_ = 0;
        appended.restarted = true;
    }
    const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    if (fd < 0)
        return appended;
    struct stat status {};
    if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
        ::close(fd);
        return appended;
    }
    if (status.st_size < offset_ || status.st_dev != device_ || status.st_ino != inode_) {  // cut or replaced
        appended.restarted = appended.restarted || offset_ != 0 || inode_ != 0;
        offset_ = 0;
        device_ = status.st_dev;
        inode_ = status.st_ino;
    }
    const auto size = static_cast<size_t>(std::min<long long>(status.st_size - offset_, static_cast<long long>(bytesPerLook_)));
    text_.resize(size);
    const ssize_t got = size ? ::pread(fd, text_.data(), size, offset_) : 0;
    ::close(fd);
    if (got <= 0) {
        text_.clear();
        return appended;
    }
    text_.resize(static_cast<size_t>(got));
    const size_t end = text_.rfind('\n');
    if (end == std::string::npos) {
        // No record is that long: a line filling a whole look is passed over,
        // not read again at every look.
        if (text_.size() == bytesPerLook_)
            offset_ += static_cast<long long>(text_.size());
        return appended;
    }
    offset_ += static_cast<long long>(end + 1);
    appended.lines = std::string_view(text_).substr(0, end + 1);
    return appended;
}

}  // namespace panel
