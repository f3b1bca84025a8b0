#pragma once

#include "logstore/WriterLock.h"

#include <cstdint>
#include <string>
#include <string_view>

struct sqlite3;
struct sqlite3_stmt;

namespace logstore {

class Schema;

// The user's database of traffic facts: $XDG_DATA_HOME/korvel/tessary.db.
std::string DatabasePath();

enum class Access { kRead, kWrite };

// One connection to the database. Failures never throw: an object that did
// not open is false and Error() says why in one line.
//
// Only a private file of the user is opened: the folder must be one no other
// user can change, the file a regular one (a symbolic link is refused, never
// followed), owned by the user and writable by nobody else. A writer holds
// the writer lock (WriterLock) for its life, creates the file 0600, keeps it
// in WAL mode and brings its schema up to date. A file that is not a database
// or is damaged is set aside (renamed, never deleted) and made anew; one
// written by a newer version is opened read-only and left as it is.
// One connection serves one thread at a time; its statements and
// transactions must not outlive it.
class Database {
public:
    static Database Open(const std::string& path, Access access, const Schema& schema,
                         const std::string& lockPath = WriterLock::DefaultPath());
    // The user's database with the current schema.
    static Database Open(Access access);

    Database() = default;
    ~Database();
    Database(Database&& other) noexcept;
    Database& operator=(Database&& other) noexcept;
    Database(const Database&) = delete;
    Database& operator=(const Database&) = delete;

    explicit operator bool() const { return db_ != nullptr; }
    const std::string& Error() const { return error_; }
    // Open for writing: false for readers and for a database of a newer schema.
    bool Writable() const { return writable_; }
    // The schema version found (a reader's may be older or newer than its own).
    int Version() const { return version_; }
    bool Newer() const { return newer_; }
    // Where a damaged file was moved before the database was made anew; empty
    // when none was.
    const std::string& SetAside() const { return setAside_; }

    // Cuts short what runs on the connection now; the one call that another
    // thread may make: the statement fails and its transaction rolls back.
    void Interrupt() const;
    // Runs statements that return no rows; false with why on failure.
    bool Run(std::string_view sql, std::string* why = nullptr);
    // The connection's last failure, as SQLite tells it.
    std::string LastError() const;
    sqlite3* Handle() const { return db_; }

private:
    friend class Opener;
    void Close();

    sqlite3* db_ = nullptr;
    WriterLock lock_;
    std::string error_;
    std::string setAside_;
    int version_ = 0;
    bool writable_ = false;
    bool newer_ = false;
};

// A prepared statement, finalized with the object. Errors are kept, not thrown:
// Next() then gives kFailed and Error() says why.
class Statement {
public:
    enum class Step { kRow, kDone, kFailed };

    Statement(Database& db, std::string_view sql);
    ~Statement();
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;

    explicit operator bool() const { return statement_ != nullptr && error_.empty(); }
    const std::string& Error() const { return error_; }
    // SQLite's (extended) code for the failure; 0 when there was none.
    int Code() const { return code_; }

    // Parameters are numbered from 1.
    Statement& Bind(int index, std::int64_t value);
    Statement& Bind(int index, std::string_view text);
    Statement& BindNull(int index);
    Step Next();
    // Steps to the end; for statements without rows.
    bool Run() { return Next() == Step::kDone; }
    // Ready to run again with new parameters.
    void Reset();

    // Columns of the current row, numbered from 0.
    std::int64_t Integer(int column) const;
    std::string Text(int column) const;
    bool IsNull(int column) const;

private:
    void Fail(std::string_view what);

    sqlite3* db_;
    sqlite3_stmt* statement_ = nullptr;
    std::string error_;
    int code_ = 0;
};

// A transaction that takes the write lock at once (BEGIN IMMEDIATE) and is
// rolled back unless committed: a failure midway leaves nothing half-written.
class Transaction {
public:
    explicit Transaction(Database& db);
    ~Transaction();
    Transaction(const Transaction&) = delete;
    Transaction& operator=(const Transaction&) = delete;

    explicit operator bool() const { return open_; }
    const std::string& Error() const { return error_; }
    bool Commit();

private:
    Database& db_;
    std::string error_;
    bool open_ = false;
};

}  // namespace logstore
