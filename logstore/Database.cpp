#include "logstore/Database.h"

#include "logstore/Schema.h"
#include "os/Paths.h"
#include "os/hooksafe/Descriptors.h"
#include "os/hooksafe/TrustedFolder.h"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace logstore {

namespace {

// Long enough for a reader to wait out a checkpoint, short enough not to
// freeze a window.
constexpr int kBusyMilliseconds = 2000;
// Damaged copies kept beside the database before a further one is refused.
constexpr int kMaxSetAside = 9;

bool IsDamage(int code)
{
    code &= 0xff;
    return code == SQLITE_CORRUPT || code == SQLITE_NOTADB;
}

std::string FolderOf(const std::string& path)
{
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
}

std::string ModeText(mode_t mode)
{
    char text[8];
    std::snprintf(text, sizeof text, "%04o", static_cast<unsigned>(mode & 07777));
    return text;
}

// A file of the database (the database itself, or its journal beside it)
// that may be used: a regular file of this user that nobody else may write.
bool PrivateFile(const std::string& path, const struct stat& st, std::string& why)
{
    if (S_ISLNK(st.st_mode))
        why = path + " is a symbolic link: refused, never followed";
    else if (!S_ISREG(st.st_mode))
        why = path + " is not a regular file: refused";
    else if (st.st_uid != ::geteuid())
        why = path + " belongs to user " + std::to_string(st.st_uid) + ", not to this user: refused";
    else if ((st.st_mode & 022) != 0)
        why = path + " may be written by other users (mode " + ModeText(st.st_mode) + "): refused";
    else
        return true;
    return false;
}

bool UsableFolder(const std::string& folder, bool create, std::string& why)
{
    if (create) {
        std::vector<char> path(folder.begin(), folder.end());
        path.push_back('\0');
        if (!os::MakeTrustedFolders(path.data(), 0700)) {
            why = "cannot make the folder " + folder + ": "
                + (errno == EPERM ? "other users may change a folder on its way" : std::strerror(errno));
            return false;
        }
    }
    struct stat st {};
    if (!create && ::lstat(folder.c_str(), &st) != 0) {
        why = "there is no database in " + folder + " yet";
        return false;
    }
    if (!os::IsTrustedFolder(folder.c_str())) {
        why = "other users may change the folder " + folder + ": refused";
        return false;
    }
    return true;
}

// Checks the database file (made 0600 for a writer when missing) and what
// SQLite keeps beside it; identity gets the file's device and inode.
bool CheckFiles(const std::string& path, bool create, struct stat& identity, std::string& why)
{
    for (const char* suffix : {"-wal", "-shm", "-journal"}) {
        struct stat st {};
        const std::string beside = path + suffix;
        if (::lstat(beside.c_str(), &st) == 0 && !PrivateFile(beside, st, why))
            return false;
    }
    if (::lstat(path.c_str(), &identity) == 0)
        return PrivateFile(path, identity, why);
    if (errno != ENOENT || !create) {
        why = errno == ENOENT ? "there is no database at " + path + " yet"
                              : "cannot look at " + path + ": " + std::strerror(errno);
        return false;
    }
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    // Whatever the umask: the records say which programs reached which hosts.
    if (fd < 0 || ::fchmod(fd, 0600) != 0 || ::fstat(fd, &identity) != 0) {
        why = "cannot make " + path + ": " + std::strerror(errno);
        if (fd >= 0)
            ::close(fd);
        return false;
    }
    ::close(fd);
    return true;
}

// Moves a damaged database (and its write-ahead log) aside to
// path.corrupt, .corrupt.2, ...: never over an earlier copy.
bool SetAsideDamaged(const std::string& path, std::string& aside, std::string& why)
{
    for (int copy = 1; copy <= kMaxSetAside; ++copy) {
        const std::string target = path + ".corrupt" + (copy == 1 ? "" : "." + std::to_string(copy));
        if (::renameat2(AT_FDCWD, path.c_str(), AT_FDCWD, target.c_str(), RENAME_NOREPLACE) != 0) {
            if (errno == EEXIST)
                continue;
            why = "cannot set the damaged " + path + " aside: " + std::strerror(errno);
            return false;
        }
        for (const char* journal : {"-wal", "-journal"})
            ::renameat2(AT_FDCWD, (path + journal).c_str(), AT_FDCWD, (target + journal).c_str(), RENAME_NOREPLACE);
        // Only an index into the log, made again from the file.
        ::unlink((path + "-shm").c_str());
        aside = target;
        return true;
    }
    why = path + " is damaged and " + std::to_string(kMaxSetAside)
        + " damaged copies are kept beside it already: remove them to have it made anew";
    return false;
}

}  // namespace

std::string DatabasePath() { return os::DataHome() + "/korvel/tessary.db"; }

// The steps of Database::Open, with access to its parts.
class Opener {
public:
    static Database Open(const std::string& path, Access access, const Schema& schema, const std::string& lockPath)
    {
        Database db;
        const bool writer = access == Access::kWrite;
        if (writer) {
            db.lock_ = WriterLock::Take(lockPath);
            if (!db.lock_) {
                db.error_ = db.lock_.Error();
                return db;
            }
        }
        std::string why;
        int code = SQLITE_OK;
        bool opened = UsableFolder(FolderOf(path), writer, why) && Connect(db, path, writer, schema, why, code);
        // Once: a file made anew that is damaged again is not a file's fault.
        if (!opened && writer && IsDamage(code) && db.setAside_.empty()) {
            db.Close();
            opened = SetAsideDamaged(path, db.setAside_, why) && Connect(db, path, writer, schema, why, code);
        }
        if (!opened) {
            db.Close();
            db.lock_.Release();
            db.error_ = why;
        }
        return db;
    }

private:
    static bool Connect(Database& db, const std::string& path, bool writer, const Schema& schema, std::string& why,
                        int& code)
    {
        struct stat checked {};
        if (!CheckFiles(path, writer, checked, why) || !Attach(db, path, writer, why, code))
            return false;
        // Opened by its name: still the file just checked.
        struct stat now {};
        if (::lstat(path.c_str(), &now) != 0 || now.st_dev != checked.st_dev || now.st_ino != checked.st_ino) {
            why = path + " was replaced while it was being opened: refused";
            return false;
        }
        if (!ReadVersion(db, path, why, code))
            return false;
        if (db.version_ > schema.Version()) {
            // Its tables are not what this version knows: read only, and
            // never brought "back" to an older schema.
            db.newer_ = true;
            if (writer) {
                db.Close();
                db.lock_.Release();
                if (!Attach(db, path, false, why, code) || !ReadVersion(db, path, why, code))
                    return false;
            }
            return true;
        }
        if (!writer)
            return true;
        if (!KeepInWal(db, path, why, code))
            return false;
        // A crash loses nothing committed; a power cut at most the last
        // transactions, which the day's log files still hold.
        if (!db.Run("PRAGMA synchronous = NORMAL", &why))
            return false;
        if (db.version_ < schema.Version()) {
            if (!schema.Migrate(db, db.version_, why, &code)) {
                why = path + ": " + why;
                return false;
            }
            db.version_ = schema.Version();
        }
        db.writable_ = true;
        return true;
    }

    static bool Attach(Database& db, const std::string& path, bool writer, std::string& why, int& code)
    {
        const int flags = (writer ? SQLITE_OPEN_READWRITE : SQLITE_OPEN_READONLY) | SQLITE_OPEN_NOFOLLOW;
        code = sqlite3_open_v2(path.c_str(), &db.db_, flags, nullptr);
        if (code != SQLITE_OK) {
            why = "cannot open " + path + ": " + (db.db_ ? sqlite3_errmsg(db.db_) : sqlite3_errstr(code));
            db.Close();
            return false;
        }
        sqlite3_extended_result_codes(db.db_, 1);
        sqlite3_busy_timeout(db.db_, kBusyMilliseconds);
        // The file is data: its schema runs no functions with side effects,
        // and no statement may write it around SQLite's checks.
        sqlite3_db_config(db.db_, SQLITE_DBCONFIG_DEFENSIVE, 1, nullptr);
        sqlite3_db_config(db.db_, SQLITE_DBCONFIG_TRUSTED_SCHEMA, 0, nullptr);
        return true;
    }

    static bool KeepInWal(Database& db, const std::string& path, std::string& why, int& code)
    {
        Statement wal(db, "PRAGMA journal_mode = WAL");
        if (wal.Next() == Statement::Step::kRow && wal.Text(0) == "wal")
            return true;
        code = wal.Code();
        why = "cannot keep " + path + " in WAL mode: " + (wal.Error().empty() ? wal.Text(0) : wal.Error());
        return false;
    }

    // The version, and a first read of the schema: where a file that is no
    // database, or a truncated one, shows.
    static bool ReadVersion(Database& db, const std::string& path, std::string& why, int& code)
    {
        Statement version(db, "PRAGMA user_version");
        Statement tables(db, "SELECT count(*) FROM sqlite_schema");
        if (version.Next() != Statement::Step::kRow || tables.Next() != Statement::Step::kRow) {
            const Statement& failed = version.Error().empty() ? tables : version;
            code = failed.Code();
            why = path + " is not a usable database: " + failed.Error();
            return false;
        }
        const std::int64_t found = version.Integer(0);
        if (found < 0 || found > INT32_MAX) {
            // Not a version any writer of ours sets: someone else's file.
            code = SQLITE_NOTADB;
            why = path + " is not a usable database: its schema version " + std::to_string(found) + " is none of ours";
            return false;
        }
        db.version_ = static_cast<int>(found);
        return true;
    }
};

Database Database::Open(const std::string& path, Access access, const Schema& schema, const std::string& lockPath)
{
    return Opener::Open(path, access, schema, lockPath);
}

Database Database::Open(Access access) { return Open(DatabasePath(), access, Schema::Current()); }

Database::~Database() { Close(); }

void Database::Interrupt() const
{
    if (db_)
        sqlite3_interrupt(db_);
}

Database::Database(Database&& other) noexcept
    : db_(std::exchange(other.db_, nullptr)), lock_(std::move(other.lock_)), error_(std::move(other.error_)),
      setAside_(std::move(other.setAside_)), version_(other.version_), writable_(other.writable_), newer_(other.newer_)
{
}

Database& Database::operator=(Database&& other) noexcept
{
    if (this != &other) {
        Close();
        db_ = std::exchange(other.db_, nullptr);
        lock_ = std::move(other.lock_);
        error_ = std::move(other.error_);
        setAside_ = std::move(other.setAside_);
        version_ = other.version_;
        writable_ = other.writable_;
        newer_ = other.newer_;
    }
    return *this;
}

void Database::Close()
{
    if (db_)
        sqlite3_close_v2(db_);
    db_ = nullptr;
    writable_ = false;
}

bool Database::Run(std::string_view sql, std::string* why)
{
    char* message = nullptr;
    const int code = db_ ? sqlite3_exec(db_, std::string(sql).c_str(), nullptr, nullptr, &message) : SQLITE_MISUSE;
    if (code != SQLITE_OK && why)
        *why = message ? message : db_ ? LastError() : "the database is not open";
    sqlite3_free(message);
    return code == SQLITE_OK;
}

std::string Database::LastError() const { return db_ ? sqlite3_errmsg(db_) : error_; }

Statement::Statement(Database& db, std::string_view sql) : db_(db.Handle())
{
    if (!db_) {
        error_ = "the database is not open";
        return;
    }
    if (sqlite3_prepare_v2(db_, sql.data(), static_cast<int>(sql.size()), &statement_, nullptr) != SQLITE_OK || !statement_)
        Fail("cannot prepare");
}

Statement::~Statement() { sqlite3_finalize(statement_); }

void Statement::Fail(std::string_view what)
{
    if (!error_.empty())
        return;
    error_ = std::string(what) + ": " + (db_ ? sqlite3_errmsg(db_) : "no database");
    code_ = db_ ? sqlite3_extended_errcode(db_) : SQLITE_MISUSE;
}

Statement& Statement::Bind(int index, std::int64_t value)
{
    if (*this && sqlite3_bind_int64(statement_, index, value) != SQLITE_OK)
        Fail("cannot bind parameter " + std::to_string(index));
    return *this;
}

Statement& Statement::Bind(int index, std::string_view text)
{
    // SQLITE_TRANSIENT: copied, so the text need not outlive the call.
    if (*this && sqlite3_bind_text64(statement_, index, text.data(), text.size(), SQLITE_TRANSIENT, SQLITE_UTF8) != SQLITE_OK)
        Fail("cannot bind parameter " + std::to_string(index));
    return *this;
}

Statement& Statement::BindNull(int index)
{
    if (*this && sqlite3_bind_null(statement_, index) != SQLITE_OK)
        Fail("cannot bind parameter " + std::to_string(index));
    return *this;
}

Statement::Step Statement::Next()
{
    if (!*this)
        return Step::kFailed;
    const int code = sqlite3_step(statement_);
    if (code == SQLITE_ROW)
        return Step::kRow;
    if (code == SQLITE_DONE)
        return Step::kDone;
    Fail("cannot run");
    return Step::kFailed;
}

void Statement::Reset()
{
    if (!statement_)
        return;
    sqlite3_reset(statement_);
    sqlite3_clear_bindings(statement_);
    error_.clear();
    code_ = 0;
}

std::int64_t Statement::Integer(int column) const { return statement_ ? sqlite3_column_int64(statement_, column) : 0; }

std::string Statement::Text(int column) const
{
    if (!statement_)
        return {};
    const unsigned char* text = sqlite3_column_text(statement_, column);
    return text ? std::string(reinterpret_cast<const char*>(text), static_cast<size_t>(sqlite3_column_bytes(statement_, column)))
                : std::string();
}

bool Statement::IsNull(int column) const
{
    return !statement_ || sqlite3_column_type(statement_, column) == SQLITE_NULL;
}

Transaction::Transaction(Database& db) : db_(db)
{
    open_ = db_.Run("BEGIN IMMEDIATE", &error_);
}

Transaction::~Transaction()
{
    if (open_)
        db_.Run("ROLLBACK");
}

bool Transaction::Commit()
{
    if (!open_)
        return false;
    if (!db_.Run("COMMIT", &error_))
        return false; // still open: rolled back with the object
    open_ = false;
    return true;
}

}  // namespace logstore
