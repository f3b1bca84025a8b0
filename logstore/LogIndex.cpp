#include "logstore/LogIndex.h"

#include "logstore/Database.h"
#include "logstore/RecordParser.h"
#include "protocol/RecordTime.h"
#include "text/Strings.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <map>
#include <set>
#include <sqlite3.h>
#include <sys/stat.h>
#include <tuple>
#include <unistd.h>
#include <utility>
#include <vector>

namespace logstore {

namespace {

// The first bytes of a file, whose digest tells a file written anew (the
// same inode, truncated and written again) from the one read before.
constexpr std::size_t kHeadBytes = 4096;
constexpr std::size_t kChunkBytes = 1 << 20;
// Interned texts remembered, at most: a program looking up names without
// end must not grow the feeder without end.
constexpr std::size_t kMaxCached = 100000;

std::int64_t Fnv1a(const char* data, std::size_t size)
{
    std::uint64_t hash = 14695981039346656037ull;
    for (std::size_t i = 0; i < size; ++i)
        hash = (hash ^ static_cast<unsigned char>(data[i])) * 1099511628211ull;
    return static_cast<std::int64_t>(hash);
}

bool ReadAt(int fd, char* into, std::size_t size, std::int64_t at, std::size_t& got)
{
    got = 0;
    while (got < size) {
        const ssize_t n = ::pread(fd, into + got, size - got, static_cast<off_t>(at + static_cast<std::int64_t>(got)));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return false;
        if (n == 0)
            break;
        got += static_cast<std::size_t>(n);
    }
    return true;
}

// The digest of the file's first min(length, kHeadBytes) bytes; false when
// they cannot all be read (the file is shorter than that now).
bool HeadDigest(int fd, std::int64_t length, std::int64_t& digest)
{
    char head[kHeadBytes];
    const std::size_t want = static_cast<std::size_t>(std::min<std::int64_t>(length, kHeadBytes));
    std::size_t got = 0;
    if (!ReadAt(fd, head, want, 0, got) || got != want)
        return false;
    digest = Fnv1a(head, want);
    return true;
}

class Descriptor {
public:
    explicit Descriptor(int fd) : fd_(fd) {}
    ~Descriptor()
    {
        if (fd_ >= 0)
            ::close(fd_);
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    int Get() const { return fd_; }

private:
    int fd_;
};

// The whole lines of a file from an offset to a size taken at the start, so
// that a pass ends however fast the file grows. Holds at most a chunk and a
// line: a longer line is passed over as it is read.
class LineReader {
public:
    enum class Kind { kLine, kLong, kEnd, kError };

    LineReader(int fd, std::int64_t from, std::int64_t end, bool inLong)
        : fd_(fd), at_(from), readTo_(from), end_(end), inLong_(inLong)
    {
    }

    // The next line (kLine: text and its offset); kLong for each line over
    // the limit, once.
    Kind Next(std::string_view& line, std::int64_t& offset)
    {
        for (;;) {
            const std::size_t newline = buffer_.find('\n', pos_);
            if (newline != std::string::npos) {
                const std::size_t length = newline + 1 - pos_;
                line = std::string_view(buffer_).substr(pos_, length);
                offset = at_;
                pos_ = newline + 1;
                at_ += static_cast<std::int64_t>(length);
                if (inLong_) {
                    inLong_ = false; // the end of a line counted when it grew too long
                    continue;
                }
                return length > LogIndex::kMaxLineBytes ? Kind::kLong : Kind::kLine;
            }
            const std::size_t partial = buffer_.size() - pos_;
            if (inLong_ || partial > LogIndex::kMaxLineBytes) {
                // Passed over without being kept; the rest goes when its end comes.
                const bool counted = inLong_;
                at_ += static_cast<std::int64_t>(partial);
                buffer_.clear();
                pos_ = 0;
                inLong_ = true;
                if (!counted)
                    return Kind::kLong;
            }
            buffer_.erase(0, pos_);
            pos_ = 0;
            if (readTo_ >= end_)
                return Kind::kEnd; // what is left is a line still being written: it waits
            const std::size_t want = static_cast<std::size_t>(std::min<std::int64_t>(end_ - readTo_, kChunkBytes));
            const std::size_t had = buffer_.size();
            buffer_.resize(had + want);
            std::size_t got = 0;
            if (!ReadAt(fd_, buffer_.data() + had, want, readTo_, got))
                return Kind::kError;
            buffer_.resize(had + got);
            readTo_ += static_cast<std::int64_t>(got);
            if (got < want)
                end_ = readTo_; // cut meanwhile: the next pass sees it shorter
        }
    }

    // Where the next pass starts: the start of a line, or a point inside a
    // line over the limit.
    std::int64_t Consumed() const { return at_; }
    bool InLong() const { return inLong_; }

private:
    int fd_;
    std::int64_t at_;     // the file offset of buffer_[pos_]
    std::int64_t readTo_; // the file offset after the buffer's last byte
    std::int64_t end_;
    bool inLong_;
    std::string buffer_;
    std::size_t pos_ = 0;
};

std::int64_t DayNumber(const protocol::CalendarDay& day) { return day.year * 10000LL + day.month * 100 + day.day; }

}  // namespace

struct LogIndex::FileState {
    std::int64_t id = 0;
    std::int64_t dev = 0;
    std::int64_t ino = 0;
    std::int64_t size = 0;
    std::int64_t digest = 0;
    std::int64_t skipped = 0;
    bool inLong = false;
};

std::int64_t LogIndex::Intern(std::unordered_map<std::string, std::int64_t>& cache, const char* table,
                              const char* column, const std::string& text, std::string& why)
{
    if (const auto known = cache.find(text); known != cache.end())
        return known->second;
    Statement find(db_, std::string("SELECT id FROM ") + table + " WHERE " + column + " = ?1");
    std::int64_t id = 0;
    switch (find.Bind(1, text).Next()) {
    case Statement::Step::kRow:
        id = find.Integer(0);
        break;
    case Statement::Step::kDone: {
        Statement add(db_, std::string("INSERT INTO ") + table + "(" + column + ") VALUES (?1)");
        if (!add.Bind(1, text).Run()) {
            why = add.Error();
            return 0;
        }
        id = sqlite3_last_insert_rowid(db_.Handle());
        break;
    }
    case Statement::Step::kFailed:
        why = find.Error();
        return 0;
    }
    if (cache.size() >= kMaxCached)
        cache.clear();
    cache.emplace(text, id);
    return id;
}

bool LogIndex::DropRows(std::int64_t file, std::string& why)
{
    // The programs and host names of the file's rows: those no other day
    // names are forgotten with it (a day deleted takes its names along).
    // A contentless search table forgets a row only when told its texts.
    // The host names have no index of their own (it would cost every row):
    // one scan of the rows, and only when the day named hosts.
    const std::string id = std::to_string(file);
    const bool done = db_.Run(
        "CREATE TEMP TABLE IF NOT EXISTS dropped_names(kind INTEGER, id INTEGER);"
        "DELETE FROM temp.dropped_names;"
        "INSERT INTO temp.dropped_names SELECT DISTINCT 0, exe_id FROM records WHERE file = " + id + ";"
        "INSERT INTO temp.dropped_names SELECT DISTINCT 1, host FROM records WHERE file = " + id + " AND host IS NOT NULL;"
        "INSERT INTO records_text(records_text, rowid, app, path, host, ip) "
        "SELECT 'delete', r.id, r.app, e.path, COALESCE(h.name, ''), r.ip FROM records r "
        "JOIN exes e ON e.id = r.exe_id LEFT JOIN hosts h ON h.id = r.host WHERE r.file = " + id + ";"
        "DELETE FROM records WHERE file = " + id + ";"
        "DELETE FROM view_counts WHERE file = " + id + ";"
        "DELETE FROM exes WHERE id IN (SELECT id FROM temp.dropped_names WHERE kind = 0) "
        "AND NOT EXISTS (SELECT 1 FROM records WHERE exe_id = exes.id);"
        "DELETE FROM hosts WHERE id IN (SELECT id FROM temp.dropped_names WHERE kind = 1) AND id NOT IN "
        "(SELECT host FROM records WHERE host IN (SELECT id FROM temp.dropped_names WHERE kind = 1));"
        "DELETE FROM temp.dropped_names;",
        &why);
    exes_.clear();
    hosts_.clear();
    return done;
}

IndexPass LogIndex::IndexDayFile(const std::string& path, std::int64_t maxLines)
{
    IndexPass pass;
    const auto fail = [&](const std::string& why) {
        exes_.clear();
        hosts_.clear();
        pass.ok = false;
        pass.error = "cannot index " + path + ": " + why;
        return pass;
    };
    if (!db_.Writable())
        return fail("the database is open for reading only");
    const auto day = protocol::DayOfLogFile(path);
    if (!day)
        return fail("not the name of a day's traffic log");
    // The log folder is the user's; what sits there is still only read as a
    // plain file (a link, a pipe or a device is refused).
    const Descriptor fd(::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));
    struct stat st {};
    if (fd.Get() < 0 || ::fstat(fd.Get(), &st) != 0)
        return fail(std::strerror(errno));
    if (!S_ISREG(st.st_mode))
        return fail("not a regular file");

    FileState state;
    Statement load(db_, "SELECT id, dev, ino, size_indexed, head_digest, skipped, in_long_line FROM files WHERE path = ?1");
    switch (load.Bind(1, path).Next()) {
    case Statement::Step::kRow:
        state = {load.Integer(0), load.Integer(1), load.Integer(2), load.Integer(3),
                 load.Integer(4), load.Integer(5), load.Integer(6) != 0};
        break;
    case Statement::Step::kDone:
        break;
    case Statement::Step::kFailed:
        return fail(load.Error());
    }
    load.Reset();
    std::int64_t digest = 0;
    const bool same = state.dev == static_cast<std::int64_t>(st.st_dev) && state.ino == static_cast<std::int64_t>(st.st_ino)
        && st.st_size >= state.size && HeadDigest(fd.Get(), state.size, digest) && digest == state.digest;
    if (state.id != 0 && !same) {
        pass.restarted = true;
        state = {state.id, 0, 0, 0, 0, 0, false};
    } else if (state.id != 0 && st.st_size == state.size) {
        pass.ok = true; // nothing new
        return pass;
    }

    Statement addFile(db_, "INSERT INTO files(path, day, dev, ino, size_indexed, head_digest) VALUES (?1, ?2, 0, 0, 0, 0)");
    Statement addRow(db_, "INSERT INTO records(file, offset, t, dir, perm, proto, service, backstop, exe_id, app, ip, "
                          "lport, rport, host, reason, list) VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10, ?11, ?12, "
                          "?13, ?14, ?15, ?16)");
    Statement addText(db_, "INSERT INTO records_text(rowid, app, path, host, ip) VALUES (?1, ?2, ?3, ?4, ?5)");
    // The rows each batch adds to the views' counts, by program and view.
    Statement addCount(db_, "INSERT INTO view_counts(file, exe_id, dir, denied, service, rows) VALUES (?1, ?2, ?3, ?4, ?5, ?6) "
                            "ON CONFLICT DO UPDATE SET rows = rows + excluded.rows");
    std::map<std::tuple<std::int64_t, int, int, int>, std::int64_t> counts;
    Statement progress(db_, "UPDATE files SET dev = ?2, ino = ?3, size_indexed = ?4, head_digest = ?5, skipped = ?6, "
                            "in_long_line = ?7 WHERE id = ?1");
    const auto optional = [](Statement& statement, int index, const auto& value, bool present) -> Statement& {
        return present ? statement.Bind(index, value) : statement.BindNull(index);
    };

    RecordParser parser(*day);
    // A bounded pass reads a bounded part of the file too: a day's file of a
    // line without end must not hold the feeder for as long as reading it takes.
    const std::int64_t end = maxLines >= 0 ? std::min<std::int64_t>(st.st_size, state.size + kPassBytes) : st.st_size;
    LineReader reader(fd.Get(), state.size, end, state.inLong);
    std::string why;
    for (bool first = true, done = false; !done; first = false) {
        Transaction transaction(db_);
        if (!transaction)
            return fail(transaction.Error());
        if (first && pass.restarted && !DropRows(state.id, why))
            return fail(why);
        if (state.id == 0) {
            if (!addFile.Bind(1, path).Bind(2, DayNumber(*day)).Run())
                return fail(addFile.Error());
            state.id = sqlite3_last_insert_rowid(db_.Handle());
        }
        std::int64_t rows = 0, skipped = 0;
        for (int lines = 0; lines < kBatchLines; ++lines) {
            if (maxLines >= 0 && maxLines-- == 0) {
                done = pass.more = true;
                break;
            }
            std::string_view line;
            std::int64_t offset = 0;
            const LineReader::Kind kind = reader.Next(line, offset);
            if (kind == LineReader::Kind::kError)
                return fail(std::strerror(errno));
            if (kind == LineReader::Kind::kEnd) {
                done = true;
                pass.more = end < st.st_size;
                break;
            }
            ++pass.lines;
            if (kind == LineReader::Kind::kLong) {
                ++skipped;
                continue;
            }
            const auto row = parser.Parse(line);
            if (!row)
                continue;
            const std::int64_t exe = Intern(exes_, "exes", "path", row->exePath, why);
            const std::int64_t host = row->host.empty() ? 0 : Intern(hosts_, "hosts", "name", row->host, why);
            if (exe == 0 || (!row->host.empty() && host == 0))
                return fail(why);
            addRow.Bind(1, state.id).Bind(2, offset).Bind(3, static_cast<std::int64_t>(row->t)).Bind(4, row->dir);
            addRow.Bind(5, row->perm).Bind(6, row->proto).Bind(7, row->service).Bind(8, row->backstop).Bind(9, exe);
            addRow.Bind(10, row->app).Bind(11, row->ip);
            optional(addRow, 12, static_cast<std::int64_t>(row->localPort.value_or(0)), row->localPort.has_value());
            optional(addRow, 13, static_cast<std::int64_t>(row->remotePort.value_or(0)), row->remotePort.has_value());
            optional(addRow, 14, host, host != 0);
            optional(addRow, 15, std::string_view(row->reason), !row->reason.empty());
            optional(addRow, 16, std::string_view(row->list), !row->list.empty());
            if (!addRow.Run())
                return fail(addRow.Error());
            addRow.Reset();
            addText.Bind(1, static_cast<std::int64_t>(sqlite3_last_insert_rowid(db_.Handle())))
                .Bind(2, row->app)
                .Bind(3, row->exePath)
                .Bind(4, row->host)
                .Bind(5, row->ip);
            if (!addText.Run())
                return fail(addText.Error());
            addText.Reset();
            if ((row->dir == 0 ? row->localPort : row->remotePort).has_value())
                ++counts[{exe, row->dir, row->perm != 1, row->service}];
            ++rows;
        }
        for (const auto& [key, added] : counts) {
            const auto& [exe, dir, denied, service] = key;
            addCount.Bind(1, state.id).Bind(2, exe).Bind(3, dir).Bind(4, denied).Bind(5, service).Bind(6, added);
            if (!addCount.Run())
                return fail(addCount.Error());
            addCount.Reset();
        }
        counts.clear();
        state.size = reader.Consumed();
        state.skipped += skipped;
        if (!HeadDigest(fd.Get(), state.size, state.digest))
            return fail("the file became shorter while it was read");
        progress.Bind(1, state.id).Bind(2, static_cast<std::int64_t>(st.st_dev)).Bind(3, static_cast<std::int64_t>(st.st_ino));
        progress.Bind(4, state.size).Bind(5, state.digest).Bind(6, state.skipped).Bind(7, reader.InLong());
        if (!progress.Run())
            return fail(progress.Error());
        progress.Reset();
        if (!transaction.Commit())
            return fail(transaction.Error());
        pass.rows += rows;
        pass.skipped += skipped;
    }
    pass.ok = true;
    return pass;
}

bool LogIndex::DropOtherFolders(const std::string& folder, std::string* why)
{
    std::vector<std::string> other;
    Statement files(db_, "SELECT path FROM files");
    Statement::Step step;
    while ((step = files.Next()) == Statement::Step::kRow) {
        std::string path = files.Text(0);
        if (std::string_view(path).substr(0, path.rfind('/')) != folder)
            other.push_back(std::move(path));
    }
    if (step == Statement::Step::kFailed) {
        if (why)
            *why = "cannot read the index's files: " + files.Error();
        return false;
    }
    for (const std::string& path : other)
        if (!DropDayFile(path, why))
            return false;
    return true;
}

bool LogIndex::DropDayFile(const std::string& path, std::string* why)
{
    std::string failure;
    const auto fail = [&](const std::string& text) {
        exes_.clear();
        hosts_.clear();
        if (why)
            *why = "cannot drop the index of " + path + ": " + text;
        return false;
    };
    Transaction transaction(db_);
    if (!transaction)
        return fail(transaction.Error());
    Statement find(db_, "SELECT id FROM files WHERE path = ?1");
    const Statement::Step found = find.Bind(1, path).Next();
    if (found == Statement::Step::kFailed)
        return fail(find.Error());
    if (found == Statement::Step::kDone)
        return true;
    const std::int64_t file = find.Integer(0);
    find.Reset();
    Statement forget(db_, "DELETE FROM files WHERE id = ?1");
    if (!DropRows(file, failure))
        return fail(failure);
    if (!forget.Bind(1, file).Run())
        return fail(forget.Error());
    return transaction.Commit() || fail(transaction.Error());
}

IndexPass LogIndex::IndexFolder(const std::string& folder, std::int64_t maxLines)
{
    IndexPass all;
    all.ok = true;
    std::vector<std::pair<std::int64_t, std::string>> days;
    if (DIR* dir = ::opendir(folder.c_str())) {
        while (const dirent* entry = ::readdir(dir))
            if (const auto day = protocol::DayOfLogFile(entry->d_name))
                days.emplace_back(DayNumber(*day), folder + "/" + entry->d_name);
        ::closedir(dir);
    } else if (errno != ENOENT) {
        all.ok = false;
        all.error = "cannot read the log folder " + folder + ": " + std::strerror(errno);
        return all;
    }
    std::sort(days.begin(), days.end(), std::greater<>());
    std::set<std::string> present;
    for (const auto& [day, path] : days) {
        present.insert(path);
        if (all.more)
            continue; // over the budget: read at the next pass, still not dropped
        const IndexPass pass = IndexDayFile(path, maxLines);
        if (maxLines >= 0)
            maxLines = std::max<std::int64_t>(0, maxLines - pass.lines);
        all.more = pass.more;
        all.rows += pass.rows;
        all.skipped += pass.skipped;
        all.lines += pass.lines;
        all.restarted = all.restarted || pass.restarted;
        if (!pass.ok && all.ok) {
            all.ok = false; // the other days are still indexed
            all.error = pass.error;
        }
    }
    std::vector<std::string> gone;
    Statement files(db_, "SELECT path FROM files");
    while (files.Next() == Statement::Step::kRow) {
        std::string path = files.Text(0);
        if (path.size() > folder.size() && path.compare(0, folder.size(), folder) == 0 && path[folder.size()] == '/'
            && path.find('/', folder.size() + 1) == std::string::npos && !present.count(path))
            gone.push_back(std::move(path));
    }
    for (const std::string& path : gone) {
        std::string why;
        if (!DropDayFile(path, &why) && all.ok) {
            all.ok = false;
            all.error = why;
        }
    }
    return all;
}

}  // namespace logstore
