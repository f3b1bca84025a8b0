#include "zelconn/IndexFeeder.h"

#include "logstore/Database.h"
#include "logstore/LogIndex.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <optional>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/inotify.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace zelconn {

namespace {

using Clock = std::chrono::steady_clock;

// A database that cannot be opened (another writer, a folder not safe to
// use) is tried again this much later.
constexpr std::chrono::seconds kRetryOpen {10};
// A log folder that cannot be watched (not there yet) is looked at this often.
constexpr std::chrono::milliseconds kUnwatched {1000};

constexpr uint32_t kFolderEvents =
    IN_CREATE | IN_MODIFY | IN_CLOSE_WRITE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO | IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR;
// The database's folder: only the database put aside or removed matters,
// not its own writes.
constexpr uint32_t kDatabaseEvents = IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO | IN_CREATE | IN_DELETE_SELF | IN_ONLYDIR;

std::string FolderOf(const std::string& path) { return path.substr(0, path.rfind('/')); }

bool SameFile(const std::string& path, const struct stat& opened)
{
    struct stat now {};
    return ::stat(path.c_str(), &now) == 0 && now.st_dev == opened.st_dev && now.st_ino == opened.st_ino;
}

}  // namespace

IndexFeeder::~IndexFeeder() { Stop(); }

void IndexFeeder::Follow(const std::string& folder)
{
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        if (thread_.joinable() && folder == folder_)
            return;
        folder_ = folder;
    }
    if (!thread_.joinable()) {
        stop_ = false;
        wake_ = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
        // zelconn's signals are the loop's to take: the thread starts with them blocked.
        sigset_t all, before;
        ::sigfillset(&all);
        ::pthread_sigmask(SIG_BLOCK, &all, &before);
        thread_ = std::thread(&IndexFeeder::Run, this);
        ::pthread_sigmask(SIG_SETMASK, &before, nullptr);
    }
    Wake();
}

void IndexFeeder::Stop()
{
    if (!thread_.joinable())
        return;
    stop_ = true;
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        if (writing_)
            writing_->Interrupt();
    }
    Wake();
    thread_.join();
    if (wake_ >= 0)
        ::close(wake_);
    wake_ = -1;
}

void IndexFeeder::Wake()
{
    const std::uint64_t one = 1;
    if (wake_ >= 0 && ::write(wake_, &one, sizeof one) < 0 && errno != EAGAIN)
        std::fprintf(stderr, "zelconn: cannot wake the log index's feeder: %s\n", std::strerror(errno));
}

bool IndexFeeder::WaitCaughtUp(std::chrono::milliseconds limit)
{
    std::unique_lock<std::mutex> lock(mutex_);
    const std::uint64_t wait = ++asked_;
    lock.unlock();
    Wake();
    lock.lock();
    return caughtUp_.wait_for(lock, limit, [&] { return done_ >= wait; });
}

std::string IndexFeeder::LastError() const
{
    const std::lock_guard<std::mutex> lock(mutex_);
    return error_;
}

void IndexFeeder::Run()
{
    // Below zelconn's loop and the user's programs: this thread only.
    ::setpriority(PRIO_PROCESS, static_cast<id_t>(::syscall(SYS_gettid)), 10);
    const int notify = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    const std::string databasePath = logstore::DatabasePath();
    int folderWatch = -1, databaseWatch = -1;
    std::string folder;
    bool moved = false; // the folder changed: the other folders' days go
    logstore::Database db;
    std::optional<logstore::LogIndex> index;
    struct stat opened {};
    Clock::time_point retryOpen {}, lastPass {};
    bool pending = true, more = false, checkDatabase = false;

    const auto fail = [&](const std::string& why) {
        const std::lock_guard<std::mutex> lock(mutex_);
        if (why != error_ && !why.empty())
            std::fprintf(stderr, "zelconn: %s\n", why.c_str());
        error_ = why;
    };
    const auto closeDatabase = [&] {
        index.reset();
        {
            const std::lock_guard<std::mutex> lock(mutex_);
            writing_ = nullptr;
        }
        db = logstore::Database();
    };

    while (!stop_) {
        std::uint64_t asked = 0;
        std::string wanted;
        {
            const std::lock_guard<std::mutex> lock(mutex_);
            wanted = folder_;
            asked = asked_;
        }
        const Clock::time_point now = Clock::now();
        if (wanted != folder || (folderWatch < 0 && !folder.empty() && now >= lastPass + kUnwatched)) {
            moved = moved || wanted != folder;
            folder = wanted;
            if (folderWatch >= 0)
                ::inotify_rm_watch(notify, folderWatch);
            folderWatch = folder.empty() || notify < 0 ? -1 : ::inotify_add_watch(notify, folder.c_str(), kFolderEvents);
            pending = true;
        }
        // The database removed or set aside: made anew, every day read again.
        if (db && checkDatabase && !SameFile(databasePath, opened))
            closeDatabase();
        checkDatabase = false;
        if (!db && !folder.empty() && now >= retryOpen) {
            db = logstore::Database::Open(logstore::Access::kWrite);
            if (!db || !db.Writable() || ::stat(databasePath.c_str(), &opened) != 0) {
                fail("the log index is not kept: " + (db ? std::string("the database is of a newer version") : db.Error()));
                closeDatabase();
                retryOpen = now + kRetryOpen;
            } else {
                {
                    const std::lock_guard<std::mutex> lock(mutex_);
                    writing_ = &db;
                }
                index.emplace(db);
                moved = pending = true;
                if (databaseWatch < 0 && notify >= 0)
                    databaseWatch = ::inotify_add_watch(notify, FolderOf(databasePath).c_str(), kDatabaseEvents);
            }
        }

        bool done = false;
        if (index && !folder.empty() && (more || asked > done_ || (pending && now >= lastPass + kPassGap))) {
            lastPass = now;
            pending = false;
            std::string why;
            if (moved && !index->DropOtherFolders(folder, &why))
                fail(why);
            moved = false;
            const logstore::IndexPass pass = index->IndexFolder(folder, kPassLines);
            more = pass.more && !stop_;
            fail(pass.ok ? std::string() : pass.error);
            done = !more;
        }
        if (done) {
            const std::lock_guard<std::mutex> lock(mutex_);
            done_ = std::max(done_, asked);
            caughtUp_.notify_all();
        }

        // Asleep until news, the next pass's time, or the next look at a
        // folder not watched. While a pass is due anyway the folder's news
        // wait in the kernel: a busy log wakes the feeder once a pass, not
        // once a line.
        int timeout = -1;
        const Clock::time_point after = Clock::now();
        const auto until = [&](Clock::time_point when) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(when - after).count();
            const int ms = static_cast<int>(std::clamp<long long>(left, 0, 60000));
            timeout = timeout < 0 ? ms : std::min(timeout, ms);
        };
        if (more)
            until(after);
        else if (pending && index)
            until(lastPass + kPassGap);
        if (folderWatch < 0 && !folder.empty())
            until(after + kUnwatched);
        if (!db && !folder.empty())
            until(retryOpen);
        pollfd descriptors[2] = {{wake_, POLLIN, 0}, {pending ? -1 : notify, POLLIN, 0}};
        ::poll(descriptors, 2, timeout);
        std::uint64_t count = 0;
        while (::read(wake_, &count, sizeof count) > 0) {
        }
        alignas(inotify_event) char buffer[8192];
        ssize_t got = 0;
        // Bounded: a program making files in the folder without end must not
        // keep the feeder reading news instead of passes.
        for (int reads = 0; reads < 64 && notify >= 0 && (got = ::read(notify, buffer, sizeof buffer)) > 0; ++reads) {
            for (ssize_t at = 0; at < got;) {
                const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
                if (event->wd == databaseWatch && databaseWatch >= 0) {
                    checkDatabase = true;
                    if (event->mask & IN_IGNORED)
                        databaseWatch = -1;
                } else if (event->wd == folderWatch && folderWatch >= 0) {
                    pending = true;
                    if (event->mask & IN_IGNORED)
                        folderWatch = -1; // the folder went: looked for again
                }
                at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
            }
        }
    }
    closeDatabase();
    if (notify >= 0)
        ::close(notify);
}

}  // namespace zelconn
