#include "zelconn/LogFollower.h"

#include "os/hooksafe/Descriptors.h"
#include "os/hooksafe/Retry.h"
#include "protocol/LogFiles.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

namespace zelconn {

namespace {

// Read at a time; a line longer than kMaxLine is no record, and is passed over.
constexpr size_t kChunk = 256 * 1024;
constexpr size_t kMaxLine = 4 * 1024 * 1024;
// Files made, moved or removed; not IN_MODIFY: that would make every
// engine's write of a record do work for the watcher (an event and a wake-up
// in the writing program), and the growth of the file is looked at on a
// timer instead.
constexpr uint32_t kFolderEvents = IN_CREATE | IN_MOVED_TO | IN_DELETE | IN_MOVED_FROM;

}  // namespace

LogFollower::~LogFollower() { Stop(); }

void LogFollower::Start(const std::string& folder, std::time_t now)
{
    Stop();
    if (folder.empty())
        return;
    folder_ = folder;
    watch_ = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (watch_ >= 0 && ::inotify_add_watch(watch_, folder_.c_str(), kFolderEvents) < 0) {
        ::close(watch_);
        watch_ = -1;
    }
    current_.path = protocol::TrafficLogFileName(folder_, now);
    Open(current_, true);
}

void LogFollower::Stop()
{
    if (watch_ >= 0)
        ::close(watch_);
    watch_ = -1;
    Close(current_);
    Close(previous_);
    current_ = File();
    previous_ = File();
    folder_.clear();
}

void LogFollower::Open(File& file, bool atEnd)
{
    Close(file);
    file.fd = os::OpenRegularFile(file.path.c_str(), O_RDONLY);
    if (file.fd < 0)
        return;
    struct stat st {};
    if (::fstat(file.fd, &st) != 0) {
        Close(file);
        return;
    }
    file.device = st.st_dev;
    file.inode = st.st_ino;
    file.offset = atEnd ? st.st_size : 0;
    file.buffer.clear();
    file.given = 0;
    file.skipToLineEnd = false;
    // Following from the end of a line being written: the rest of it is not a record of ours.
    char last = '\n';
    if (atEnd && st.st_size > 0 && ::pread(file.fd, &last, 1, st.st_size - 1) == 1 && last != '\n')
        file.skipToLineEnd = true;
}

void LogFollower::Close(File& file)
{
    if (file.fd >= 0)
        ::close(file.fd);
    file.fd = -1;
}

void LogFollower::Refresh(std::time_t now)
{
    if (!Following())
        return;
    if (watch_ >= 0) {
        // The events only wake the caller: the files say what changed.
        alignas(inotify_event) char events[4096];
        while (::read(watch_, events, sizeof events) > 0) {
        }
    } else if (const int fd = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC); fd >= 0) {
        // The folder may have been made since.
        if (::inotify_add_watch(fd, folder_.c_str(), kFolderEvents) >= 0)
            watch_ = fd;
        else
            ::close(fd);
    }

    const std::string path = protocol::TrafficLogFileName(folder_, now);
    if (path != current_.path) {
        // A new day (or the clock set back to the day before: that file is
        // the previous one, read on from where it was).
        std::swap(previous_, current_);
        if (current_.path != path) {
            Close(current_);
            current_ = File();
            current_.path = path;
            Open(current_, false);
        }
        return;
    }
    if (current_.fd < 0) {
        // Made after following began: all of it is new.
        Open(current_, false);
        return;
    }
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0 && (st.st_dev != current_.device || st.st_ino != current_.inode)) {
        // Replaced: the old file is read to its end, the new one from its start.
        Close(previous_);
        previous_ = std::move(current_);
        current_ = File();
        current_.path = path;
        Open(current_, false);
    }
}

bool LogFollower::Fill(File& file)
{
    if (file.fd < 0)
        return false;
    struct stat st {};
    if (::fstat(file.fd, &st) != 0)
        return false;
    if (st.st_size < file.offset) {
        // Truncated: what it holds now was written since.
        file.offset = 0;
        file.buffer.clear();
        file.given = 0;
        file.skipToLineEnd = false;
    }
    if (st.st_size == file.offset)
        return false;
    file.buffer.erase(0, file.given);
    file.given = 0;
    const size_t want = static_cast<size_t>(std::min<off_t>(st.st_size - file.offset, static_cast<off_t>(kChunk)));
    const size_t had = file.buffer.size();
    file.buffer.resize(had + want);
    const ssize_t n = os::RetryOnInterrupt([&] { return ::pread(file.fd, file.buffer.data() + had, want, file.offset); });
    file.buffer.resize(had + static_cast<size_t>(n > 0 ? n : 0));
    if (n <= 0)
        return false;
    file.offset += n;
    return true;
}

bool LogFollower::NextOf(File& file, std::string& line)
{
    for (;;) {
        const size_t end = file.buffer.find('\n', file.given);
        if (end != std::string::npos) {
            const size_t start = file.given;
            file.given = end + 1;
            if (file.skipToLineEnd) {
                file.skipToLineEnd = false;
                continue;
            }
            size_t length = end - start;
            if (length > 0 && file.buffer[start + length - 1] == '\r')
                --length;
            line.assign(file.buffer, start, length);
            return true;
        }
        if (file.buffer.size() - file.given > kMaxLine) {
            file.buffer.clear();
            file.given = 0;
            file.skipToLineEnd = true;
        }
        if (!Fill(file))
            return false;
    }
}

bool LogFollower::Next(std::string& line)
{
    return NextOf(previous_, line) || NextOf(current_, line);
}

}  // namespace zelconn
