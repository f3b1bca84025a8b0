#include "logstore/Database.h"
#include "logstore/LogIndex.h"
#include "logstore/LogQuery.h"
#include "logstore/Schema.h"
#include "logstore/WriterLock.h"
#include "panel/core/LogReader.h"
#include "protocol/LogFiles.h"
#include "tests/ChildProcess.h"
#include "tests/EventWait.h"
#include "tests/Sandbox.h"
#include "text/Strings.h"
#include "zelconn/IndexFeeder.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <cstdio>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using logstore::Access;
using logstore::Database;
using logstore::LogIndex;
using logstore::MigrationStep;
using logstore::Schema;
using testing_support::PathState;
using testing_support::ReadText;
using testing_support::Sandbox;
using testing_support::WriteText;

// n steps, step k making table tk and counting its runs in (*runs)[k - 1].
Schema Steps(int n, std::vector<int>* runs = nullptr)
{
    std::vector<MigrationStep> steps;
    for (int k = 1; k <= n; ++k)
        steps.push_back({"", [k, runs](Database& db, std::string& why) {
                             if (runs)
                                 ++(*runs)[static_cast<size_t>(k - 1)];
                             return db.Run("CREATE TABLE t" + std::to_string(k) + "(x)", &why);
                         }});
    return Schema(std::move(steps));
}

// The first column of the first row, read past the library; "error: ..." when it fails.
std::string Query(const std::string& path, const std::string& sql)
{
    sqlite3* db = nullptr;
    sqlite3_stmt* statement = nullptr;
    std::string result = "error: ";
    if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK
        && sqlite3_prepare_v2(db, sql.c_str(), -1, &statement, nullptr) == SQLITE_OK && sqlite3_step(statement) == SQLITE_ROW)
        result = reinterpret_cast<const char*>(sqlite3_column_text(statement, 0));
    else
        result += sqlite3_errmsg(db);
    sqlite3_finalize(statement);
    sqlite3_close(db);
    return result;
}

// A database of someone else's program, which a link must never lead us to change.
void MakeOtherDatabase(const std::string& path)
{
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
    EXPECT_EQ(sqlite3_exec(db, "CREATE TABLE precious(x); INSERT INTO precious VALUES ('kept')", nullptr, nullptr, nullptr),
              SQLITE_OK);
    sqlite3_close(db);
}

void ExpectRefused(const std::string& path, const char* reason)
{
    for (const Access access : {Access::kWrite, Access::kRead}) {
        const Database db = Database::Open(path, access, Steps(1));
        EXPECT_FALSE(db) << reason;
        EXPECT_NE(db.Error().find(reason), std::string::npos) << db.Error();
    }
}

}  // namespace

// A link where the database (or its write-ahead log) goes would have the
// writer change whatever it points at: another program's database, a file of
// the user's. Refused, and the target stays as it was.
TEST(AttackDatabaseLink, RefusedAndItsTargetUntouched)
{
    for (const char* beside : {"", "-wal", "-shm"}) {
        Sandbox sandbox;
        const std::string path = logstore::DatabasePath();
        ASSERT_TRUE(Database::Open(Access::kWrite)) << "made once, so that the database is there";
        const std::string target = sandbox.root + "/other.sqlite";
        MakeOtherDatabase(target);
        const std::string link = path + beside;
        ::unlink(link.c_str());
        ASSERT_EQ(::symlink(target.c_str(), link.c_str()), 0);
        const std::string before = PathState(target);
        ExpectRefused(path, "is a symbolic link: refused");
        EXPECT_EQ(PathState(target), before) << beside;
        EXPECT_EQ(Query(target, "SELECT group_concat(name) FROM sqlite_schema"), "precious") << beside;
        EXPECT_EQ(PathState(link), "mode " + std::to_string(S_IFLNK | 0777) + " size " + std::to_string(target.size())
                                       + " link to " + target);
    }
}

// A database another user owns or may write could hold anything that user
// wants the panel to show (or feed SQLite a crafted file): refused, left alone.
TEST(AttackForeignDatabase, RefusedAndLeftAlone)
{
    struct Case {
        const char* name;
        void (*make)(const std::string& path);
        const char* reason;
    };
    const Case cases[] = {
        {"group-writable", [](const std::string& path) { ::chmod(path.c_str(), 0620); }, "may be written by other users (mode 0620)"},
        {"writable by all", [](const std::string& path) { ::chmod(path.c_str(), 0606); }, "may be written by other users (mode 0606)"},
        {"another user's", [](const std::string& path) { ASSERT_EQ(::chown(path.c_str(), 65534, 65534), 0); }, "belongs to user 65534"},
        {"a FIFO, never waited on", [](const std::string& path) { ::unlink(path.c_str()); ::mkfifo(path.c_str(), 0600); },
         "is not a regular file: refused"},
        {"in a folder all may write", [](const std::string& path) { ::chmod(path.substr(0, path.rfind('/')).c_str(), 0777); },
         "other users may change the folder"},
    };
    for (const Case& c : cases) {
        Sandbox sandbox;
        const std::string path = logstore::DatabasePath();
        ASSERT_TRUE(Database::Open(path, Access::kWrite, Steps(1))) << c.name;
        c.make(path);
        const std::string before = PathState(path);
        ExpectRefused(path, c.reason);
        EXPECT_EQ(PathState(path), before) << c.name;
    }
}

TEST(LogStoreOpening, MakesAPrivateFileInTheDataFolderInWalMode)
{
    Sandbox sandbox;
    const std::string path = sandbox.root + "/data/korvel/tessary.db";
    EXPECT_EQ(logstore::DatabasePath(), path);
    const mode_t umask = ::umask(0);
    Database db = Database::Open(Access::kWrite);
    ASSERT_TRUE(db) << db.Error();
    EXPECT_TRUE(db.Writable());
    EXPECT_TRUE(db.Run("CREATE TABLE t(x); INSERT INTO t VALUES (1)"));
    db = Database();
    // A reader alone, with the write-ahead log's index made anew.
    const Database reader = Database::Open(Access::kRead);
    ::umask(umask);
    ASSERT_TRUE(reader) << reader.Error();
    EXPECT_FALSE(reader.Writable());
    EXPECT_EQ(Query(path, "PRAGMA journal_mode"), "wal");
    for (const std::string& name : {path, path + "-wal", path + "-shm", sandbox.root + "/data/korvel"}) {
        struct stat st {};
        ASSERT_EQ(::stat(name.c_str(), &st), 0) << name;
        EXPECT_EQ(st.st_mode & 07777, S_ISDIR(st.st_mode) ? 0700u : 0600u) << name;
    }
    // A reader never makes the database.
    const Database none = Database::Open(sandbox.root + "/data/korvel/other.db", Access::kRead, Steps(0));
    EXPECT_FALSE(none);
    EXPECT_NE(none.Error().find("there is no database at"), std::string::npos) << none.Error();
    EXPECT_EQ(PathState(sandbox.root + "/data/korvel/other.db"), "nothing");
}

TEST(LogStoreWriter, OneWriterAtATimeWhileReadersOpenReadOnly)
{
    Sandbox sandbox;
    const std::string path = logstore::DatabasePath();
    Database first = Database::Open(path, Access::kWrite, Steps(1));
    ASSERT_TRUE(first) << first.Error();
    const Database second = Database::Open(path, Access::kWrite, Steps(1));
    EXPECT_FALSE(second);
    EXPECT_NE(second.Error().find("(process " + std::to_string(::getpid()) + ") is writing the database: only one writer"),
              std::string::npos)
        << second.Error();
    Database reader = Database::Open(path, Access::kRead, Steps(1));
    ASSERT_TRUE(reader) << reader.Error();
    EXPECT_FALSE(reader.Writable());
    std::string why;
    EXPECT_FALSE(reader.Run("CREATE TABLE y(x)", &why));
    EXPECT_NE(why.find("readonly"), std::string::npos) << why;
    // Texts are bound as data; a transaction not committed leaves nothing.
    const std::string text("x'); DROP TABLE t1; --\0after", 28);
    logstore::Statement insert(first, "INSERT INTO t1 VALUES (?)");
    EXPECT_TRUE(insert.Bind(1, text).Run()) << insert.Error();
    {
        logstore::Transaction transaction(first);
        ASSERT_TRUE(transaction) << transaction.Error();
        insert.Reset();
        EXPECT_TRUE(insert.Bind(1, std::int64_t {2}).Run()) << insert.Error();
    }
    logstore::Statement rows(reader, "SELECT x FROM t1");
    ASSERT_EQ(rows.Next(), logstore::Statement::Step::kRow) << rows.Error();
    EXPECT_EQ(rows.Text(0), text);
    EXPECT_EQ(rows.Next(), logstore::Statement::Step::kDone);
    first = Database();
    EXPECT_TRUE(Database::Open(path, Access::kWrite, Steps(1))) << "the lock goes with its writer";
    // A link in place of the lock file is not followed either.
    const std::string lock = logstore::WriterLock::DefaultPath();
    const std::string target = sandbox.root + "/elsewhere";
    WriteText(target, "kept");
    ASSERT_EQ(::unlink(lock.c_str()), 0);
    ASSERT_EQ(::symlink(target.c_str(), lock.c_str()), 0);
    const Database linked = Database::Open(path, Access::kWrite, Steps(1));
    EXPECT_FALSE(linked);
    EXPECT_NE(linked.Error().find("cannot open the database's writer lock"), std::string::npos) << linked.Error();
    EXPECT_EQ(ReadText(target), "kept");
}

TEST(LogStoreSchema, MigrationsRunOnceInOrderAndAllOrNothing)
{
    Sandbox sandbox;
    const std::string path = logstore::DatabasePath();
    std::vector<int> runs(3);
    for (int open = 0; open < 2; ++open) {
        const Database db = Database::Open(path, Access::kWrite, Steps(2, &runs));
        ASSERT_TRUE(db) << db.Error();
        EXPECT_EQ(db.Version(), 2);
    }
    EXPECT_EQ(runs, (std::vector<int> {1, 1, 0}));
    ASSERT_TRUE(Database::Open(path, Access::kWrite, Steps(3, &runs)));
    EXPECT_EQ(runs, (std::vector<int> {1, 1, 1}));
    // Step 5 fails: step 4's table goes with it, the version stays.
    std::vector<MigrationStep> failing {{"CREATE TABLE t1(x)"}, {"CREATE TABLE t2(x)"}, {"CREATE TABLE t3(x)"},
                                        {"CREATE TABLE t4(x)"}, {"CREATE TABLE t1(x)"}};
    const Database failed = Database::Open(path, Access::kWrite, Schema(std::move(failing)));
    EXPECT_FALSE(failed);
    EXPECT_NE(failed.Error().find("cannot bring the database from version 3 to 5: step 5: table t1 already exists"),
              std::string::npos)
        << failed.Error();
    EXPECT_EQ(failed.SetAside(), "");
    EXPECT_EQ(Query(path, "PRAGMA user_version"), "3");
    EXPECT_EQ(Query(path, "SELECT count(*) FROM sqlite_schema WHERE name = 't4'"), "0");
    EXPECT_TRUE(Database::Open(path, Access::kWrite, Steps(3))) << "the writer lock is let go after a failure";
}

// A newer version's tables are not what this one knows: it reads them, and
// neither writes nor brings the version down; the newer writer is not kept out.
TEST(LogStoreSchema, NewerSchemaOpenedReadOnlyAndNeverDowngraded)
{
    Sandbox sandbox;
    const std::string path = logstore::DatabasePath();
    ASSERT_TRUE(Database::Open(path, Access::kWrite, Steps(3)));
    const std::string before = PathState(path);
    std::vector<int> runs(2);
    Database older = Database::Open(path, Access::kWrite, Steps(2, &runs));
    ASSERT_TRUE(older) << older.Error();
    EXPECT_FALSE(older.Writable());
    EXPECT_TRUE(older.Newer());
    EXPECT_EQ(older.Version(), 3);
    EXPECT_EQ(runs, (std::vector<int> {0, 0}));
    EXPECT_FALSE(older.Run("CREATE TABLE t9(x)"));
    EXPECT_FALSE(older.Run("PRAGMA user_version = 2"));
    const Database newer = Database::Open(path, Access::kWrite, Steps(3));
    EXPECT_TRUE(newer.Writable()) << newer.Error();
    EXPECT_EQ(Query(path, "PRAGMA user_version"), "3");
    EXPECT_EQ(PathState(path), before);
}

// What is not a database any more is kept for a look, under a name of its own
// (never over an earlier copy), and a new database made in its place.
TEST(LogStoreDamage, DamagedFileSetAsideAndMadeAnew)
{
    Sandbox sandbox;
    const std::string path = logstore::DatabasePath();
    ASSERT_TRUE(Database::Open(path, Access::kWrite, Steps(1)));
    {
        Database db = Database::Open(path, Access::kWrite, Steps(1));
        ASSERT_TRUE(db.Run("WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 100) "
                           "INSERT INTO t1 SELECT zeroblob(500) FROM n"));
    }
    const std::string whole = ReadText(path);
    ASSERT_GT(whole.size(), 20000u);
    const std::string foreignVersion = sandbox.root + "/foreign.db";
    MakeOtherDatabase(foreignVersion);
    {
        sqlite3* db = nullptr;
        ASSERT_EQ(sqlite3_open(foreignVersion.c_str(), &db), SQLITE_OK);
        EXPECT_EQ(sqlite3_exec(db, "PRAGMA user_version = -5", nullptr, nullptr, nullptr), SQLITE_OK);
        sqlite3_close(db);
    }
    const struct {
        const char* name;
        std::string content;
    } cases[] = {
        {"garbage", std::string(3000, 'x')},
        {"cut in its first page", whole.substr(0, 1000)},
        {"cut after its first pages", whole.substr(0, whole.size() / 2)},
        {"of a version never written", ReadText(foreignVersion)},
    };
    int copy = 1;
    for (const auto& c : cases) {
        WriteText(path, c.content);
        ::chmod(path.c_str(), 0600);
        const Database reader = Database::Open(path, Access::kRead, Steps(2));
        EXPECT_FALSE(reader) << c.name;
        EXPECT_NE(reader.Error().find("is not a usable database"), std::string::npos) << reader.Error();
        EXPECT_EQ(ReadText(path), c.content) << "a reader leaves it alone";
        const Database db = Database::Open(path, Access::kWrite, Steps(2));
        ASSERT_TRUE(db) << c.name << ": " << db.Error();
        const std::string aside = path + ".corrupt" + (copy == 1 ? "" : "." + std::to_string(copy));
        EXPECT_EQ(db.SetAside(), aside) << c.name;
        EXPECT_EQ(ReadText(aside), c.content) << c.name;
        EXPECT_TRUE(db.Writable());
        EXPECT_EQ(Query(path, "SELECT group_concat(name) FROM sqlite_schema"), "t1,t2") << c.name;
        ++copy;
    }
}

namespace {

// A connection record as the engine writes it, stamped at h:m:s on July day
// of 2026 (the tests run in the C locale: "07/03/26").
std::string Record(const std::string& path, const char* ip, const char* host, int day, int h, int m, int s,
                   const char* reason = "rule")
{
    std::tm local {};
    local.tm_year = 126;
    local.tm_mon = 6;
    local.tm_mday = day;
    local.tm_hour = h;
    local.tm_min = m;
    local.tm_sec = s;
    local.tm_isdst = -1;
    const std::string head = protocol::ConnectionRecordHead(text::EscapeLogText(path), "App");
    protocol::RecordText body;
    protocol::FormatConnectionBody({&head, 1, 1, ip, 40000, 443, 1, false, host, reason}, body);
    return protocol::RecordStamp(local) + std::string(body.View()) + "\r\n";
}

void Append(const std::string& path, std::string_view text)
{
    FILE* file = std::fopen(path.c_str(), "ab");
    ASSERT_TRUE(file);
    std::fwrite(text.data(), 1, text.size(), file);
    std::fclose(file);
}

// Every row of the index, one line each, with its file's name and the texts
// interned; in the order of the files' days and the lines' offsets.
std::vector<std::string> Rows(Database& db)
{
    logstore::Statement rows(db, "SELECT f.path, r.offset, r.t, r.dir, r.perm, r.proto, r.service, r.backstop, e.path, "
                                 "r.app, r.ip, r.lport, r.rport, h.name, r.reason, r.list FROM records r "
                                 "JOIN files f ON f.id = r.file JOIN exes e ON e.id = r.exe_id "
                                 "LEFT JOIN hosts h ON h.id = r.host ORDER BY f.day, r.offset");
    std::vector<std::string> out;
    while (rows.Next() == logstore::Statement::Step::kRow) {
        std::string row(text::FileNamePart(rows.Text(0)));
        for (int column = 1; column < 16; ++column)
            row += "|" + rows.Text(column);
        out.push_back(row);
    }
    EXPECT_TRUE(rows) << rows.Error();
    return out;
}

// A second database beside the user's, to index the same files into.
Database Fresh(const Sandbox& sandbox)
{
    return Database::Open(sandbox.root + "/fresh.db", Access::kWrite, Schema::Current(), sandbox.runtime + "/fresh.lock");
}

std::string Count(Database& db, const std::string& sql)
{
    logstore::Statement count(db, sql);
    return count.Next() == logstore::Statement::Step::kRow ? count.Text(0) : "error: " + count.Error();
}

}  // namespace

// Lines are taken whole only: a last line still being written waits, and a
// line too long to be a record is passed over and counted, whether it comes
// whole or in parts, never held.
TEST(LogIndexIngest, TornLinesWaitAndLongLinesAreCounted)
{
    Sandbox sandbox;
    Database db = Database::Open(Access::kWrite);
    ASSERT_TRUE(db) << db.Error();
    LogIndex index(db);
    const std::string file = sandbox.logs + "/3_7_2026_qrb.log";
    const std::string first = Record("/usr/bin/curl", "10.0.0.1", "a.example", 3, 9, 0, 0);
    const std::string second = Record("/usr/bin/wget", "10.0.0.2", nullptr, 3, 9, 0, 1);
    const std::string longLine = "<DATE>" + std::string(LogIndex::kMaxLineBytes + 10, 'x') + "</DATE>\r\n";
    const struct {
        std::string append;
        std::int64_t rows, skipped;
    } steps[] = {
        {first + second.substr(0, 40), 1, 0},
        {"", 0, 0},
        {second.substr(40), 1, 0},
        {longLine.substr(0, 50000), 0, 0},        // not yet too long: waits
        {longLine.substr(50000, 52410), 0, 1},    // too long now: passed over as it comes
        {longLine.substr(102410) + first, 1, 0},  // its end, and a record after it
        {longLine + second, 1, 1},
    };
    for (const auto& step : steps) {
        Append(file, step.append);
        const logstore::IndexPass pass = index.IndexDayFile(file);
        ASSERT_TRUE(pass.ok) << pass.error;
        EXPECT_EQ(pass.rows, step.rows) << step.append.size();
        EXPECT_EQ(pass.skipped, step.skipped) << step.append.size();
        EXPECT_FALSE(pass.restarted);
    }
    EXPECT_EQ(Count(db, "SELECT size_indexed || ' ' || skipped FROM files"),
              std::to_string(ReadText(file).size()) + " 2");
    const std::vector<std::string> rows = Rows(db);
    ASSERT_EQ(rows.size(), 4u);
    EXPECT_EQ(rows[0].substr(rows[0].find("|/usr")), "|/usr/bin/curl|App|10.0.0.1|40000|443|a.example|rule|");
    EXPECT_EQ(rows[1].substr(rows[1].find("|/usr")), "|/usr/bin/wget|App|10.0.0.2|40000|443||rule|");
    EXPECT_EQ(Count(db, "SELECT group_concat(rowid) FROM records_text WHERE records_text MATCH 'wget'"), "2,4");
    // The same read a line per pass.
    Database fresh = Fresh(sandbox);
    LogIndex budgeted(fresh);
    int passes = 1;
    for (logstore::IndexPass pass; (pass = budgeted.IndexDayFile(file, 1)).more && passes < 20; ++passes)
        ASSERT_TRUE(pass.ok) << pass.error;
    EXPECT_EQ(passes, 7) << "six lines, and the pass that finds the end";
    EXPECT_EQ(Rows(fresh), rows);
}

// A file cut shorter, or another file put in its place (another inode, or the
// same one written anew to the same length), is read again from its start:
// only the new file's rows remain.
TEST(LogIndexIngest, ReplacedOrTruncatedFileIndexedAgain)
{
    const std::string a = Record("/usr/bin/curl", "10.0.0.1", nullptr, 3, 9, 0, 0);
    const std::string b = Record("/usr/bin/wget", "10.0.0.2", nullptr, 3, 9, 0, 1);
    const std::string c = Record("/usr/bin/nc", "10.0.0.3", nullptr, 3, 9, 0, 2);
    const struct {
        const char* name;
        std::string then;
        bool rename;
    } cases[] = {
        {"truncated", c, false},
        {"replaced by a longer file", c + a + b + c, true},
        {"written anew to the same length", b + a, false},
        {"grown in place", a + b + c, false},
    };
    for (const auto& kase : cases) {
        Sandbox sandbox;
        Database db = Database::Open(Access::kWrite);
        ASSERT_TRUE(db) << db.Error();
        LogIndex index(db);
        const std::string file = sandbox.logs + "/3_7_2026_qrb.log";
        WriteText(file, a + b);
        ASSERT_EQ(index.IndexDayFile(file).rows, 2);
        WriteText(kase.rename ? file + ".new" : file, kase.then);
        if (kase.rename) {
            ASSERT_EQ(::rename((file + ".new").c_str(), file.c_str()), 0);
        }
        const logstore::IndexPass pass = index.IndexDayFile(file);
        ASSERT_TRUE(pass.ok) << pass.error;
        const bool grown = kase.then.starts_with(a + b);
        EXPECT_EQ(pass.restarted, !grown) << kase.name;
        Database fresh = Fresh(sandbox);
        ASSERT_TRUE(fresh) << fresh.Error();
        ASSERT_TRUE(LogIndex(fresh).IndexDayFile(file).ok);
        EXPECT_EQ(Rows(db), Rows(fresh)) << kase.name;
        EXPECT_EQ(Count(db, "SELECT count(*) FROM records_text WHERE records_text MATCH 'usr'"),
                  std::to_string(Rows(fresh).size()))
            << kase.name;
    }
}

// Only plain files are read: a pipe named as a day would stall the reader,
// a link would have it read what it leads to. The other days are still read.
TEST(LogIndexIngest, OnlyPlainDayFilesAreRead)
{
    Sandbox sandbox;
    Database db = Database::Open(Access::kWrite);
    ASSERT_TRUE(db) << db.Error();
    WriteText(sandbox.logs + "/3_7_2026_qrb.log", Record("/usr/bin/curl", "10.0.0.1", nullptr, 3, 9, 0, 0));
    WriteText(sandbox.root + "/other", Record("/usr/bin/wget", "10.0.0.2", nullptr, 4, 9, 0, 0));
    ASSERT_EQ(::mkfifo((sandbox.logs + "/5_7_2026_qrb.log").c_str(), 0600), 0);
    ASSERT_EQ(::symlink((sandbox.root + "/other").c_str(), (sandbox.logs + "/4_7_2026_qrb.log").c_str()), 0);
    const logstore::IndexPass pass = LogIndex(db).IndexFolder(sandbox.logs);
    EXPECT_FALSE(pass.ok);
    EXPECT_NE(pass.error.find("5_7_2026_qrb.log: not a regular file"), std::string::npos) << pass.error;
    EXPECT_EQ(Count(db, "SELECT group_concat(ip) FROM records"), "10.0.0.1");
}

// Texts are unescaped once and tags are found only where the writer puts
// them: a path naming a tag, or an escape, stays the path it is.
TEST(LogIndexIngest, EscapedTagsInPathsStayText)
{
    Sandbox sandbox;
    Database db = Database::Open(Access::kWrite);
    ASSERT_TRUE(db) << db.Error();
    const std::string file = sandbox.logs + "/3_7_2026_qrb.log";
    const char* const paths[] = {
        "/opt/<HOST>evil.example</HOST>/run",
        "/opt/&lt;HOST&gt;x&lt;/HOST&gt;/run",
        "/opt/</EXEPATH><APPLICATION>Other</APPLICATION>/run",
        "/opt/a&amp;b\r\n<DATE>/run",
        "/opt/\xff\xfe&#1;/run", // bytes that are no UTF-8: kept as they are
    };
    std::string text;
    for (const char* path : paths)
        text += Record(path, "10.0.0.1", "b.example", 3, 9, 0, 0);
    WriteText(file, text);
    LogIndex index(db);
    const logstore::IndexPass pass = index.IndexDayFile(file);
    ASSERT_TRUE(pass.ok) << pass.error;
    const std::vector<std::string> rows = Rows(db);
    ASSERT_EQ(rows.size(), std::size(paths));
    for (size_t i = 0; i < rows.size(); ++i)
        EXPECT_NE(rows[i].find(std::string("|") + paths[i] + "|App|10.0.0.1|40000|443|b.example|rule|"),
                  std::string::npos)
            << rows[i];
    // Their search words go with them, whatever bytes they hold.
    EXPECT_EQ(Count(db, "SELECT count(*) FROM records_text WHERE records_text MATCH 'opt'"), "5");
    ASSERT_TRUE(index.DropDayFile(file));
    EXPECT_EQ(Count(db, "SELECT count(*) FROM records_text WHERE records_text MATCH 'opt OR run OR example'"), "0");
}

// A program may name itself anything; its record's address is still the one
// the engine wrote after its path.
TEST(AttackLogIndexForgedRecord, IpTagInAnEscapedPathLeavesTheIpAlone)
{
    Sandbox sandbox;
    Database db = Database::Open(Access::kWrite);
    ASSERT_TRUE(db) << db.Error();
    const std::string file = sandbox.logs + "/3_7_2026_qrb.log";
    const std::string forged[] = {"/tmp/x</IP><IP>6.6.6.6</IP><IP>", "/tmp/<IP>6.6.6.6</IP>",
                                  "/tmp/y</EXEPATH><IP>6.6.6.6</IP><EXEPATH>"};
    WriteText(file, Record(forged[0], "10.0.0.1", nullptr, 3, 9, 0, 0) + Record(forged[1], "10.0.0.2", nullptr, 3, 9, 0, 1)
                        + Record(forged[2], "10.0.0.3", nullptr, 3, 9, 0, 2));
    ASSERT_TRUE(LogIndex(db).IndexDayFile(file).ok);
    EXPECT_EQ(Count(db, "SELECT group_concat(ip, ' ') FROM records"), "10.0.0.1 10.0.0.2 10.0.0.3");
    EXPECT_EQ(Count(db, "SELECT group_concat(e.path, ' ') FROM records r JOIN exes e ON e.id = r.exe_id"),
              forged[0] + " " + forged[1] + " " + forged[2]);
    EXPECT_EQ(Count(db, "SELECT count(*) FROM records_text WHERE ip MATCH '6'"), "0");
}

// Days are read newest first, each record's time against its own file's day
// (one stamped before midnight may sit in the next day's file); an index made
// at once holds what one made pass by pass does; a deleted day's rows go.
TEST(LogIndexDays, AcrossMidnightRebuiltAndDropped)
{
    Sandbox sandbox;
    Database db = Database::Open(Access::kWrite);
    ASSERT_TRUE(db) << db.Error();
    LogIndex index(db);
    const std::string day3 = sandbox.logs + "/3_7_2026_qrb.log";
    const std::string day4 = sandbox.logs + "/4_7_2026_qrb.log";
    const std::string text3 = Record("/usr/bin/curl", "10.0.0.1", "a.example", 3, 23, 59, 58);
    const std::string text4 = Record("/usr/bin/curl", "10.0.0.2", "b.example", 3, 23, 59, 59)
        + "<DATE>07/04/26</DATE><TIME>00:00:00</TIME><APPLICATIONSTART>/usr/bin/nc</APPLICATIONSTART>\r\n"
        + Record("/usr/bin/nc", "10.0.0.3", nullptr, 4, 0, 0, 1, "answer") + std::string(200, ' ') + "\n"
        + Record("/usr/bin/nc", "10.0.0.4", nullptr, 4, 0, 0, 2, "default");
    // Fed in pieces cut anywhere, as a busy writer leaves them.
    for (size_t at = 0; at < text4.size(); at += 97) {
        Append(day4, text4.substr(at, 97));
        if (at < text3.size())
            Append(day3, text3.substr(at, 97));
        ASSERT_TRUE(index.IndexFolder(sandbox.logs).ok);
    }
    const std::vector<std::string> rows = Rows(db);
    ASSERT_EQ(rows.size(), 4u);
    std::vector<long long> times;
    for (const std::string& row : rows)
        times.push_back(std::stoll(row.substr(row.find('|', row.find('|') + 1) + 1)));
    EXPECT_EQ(times, (std::vector<long long> {times[0], times[0] + 1, times[0] + 3, times[0] + 4}));
    EXPECT_EQ(rows[1].substr(0, rows[1].find('|')), "4_7_2026_qrb.log");

    Database fresh = Fresh(sandbox);
    LogIndex rebuilt(fresh);
    const logstore::IndexPass pass = rebuilt.IndexFolder(sandbox.logs);
    ASSERT_TRUE(pass.ok) << pass.error;
    EXPECT_EQ(pass.rows, 4);
    EXPECT_EQ(Rows(fresh), rows);
    EXPECT_EQ(Count(fresh, "SELECT group_concat(day) FROM files ORDER BY id"), "20260704,20260703") << "newest first";
    // The same in passes of two lines over all days, as zelconn's feeder reads.
    Database budgeted = Database::Open(sandbox.root + "/budgeted.db", Access::kWrite, Schema::Current(),
                                       sandbox.runtime + "/budgeted.lock");
    LogIndex inPasses(budgeted);
    int passes = 1;
    for (logstore::IndexPass step; (step = inPasses.IndexFolder(sandbox.logs, 2)).more && passes < 20; ++passes)
        ASSERT_TRUE(step.ok) << step.error;
    EXPECT_EQ(passes, 4) << "six lines and the end";
    EXPECT_EQ(Rows(budgeted), rows);

    ASSERT_EQ(::unlink(day4.c_str()), 0);
    ASSERT_TRUE(index.IndexFolder(sandbox.logs).ok);
    EXPECT_EQ(Rows(db), std::vector<std::string> {rows[0]});
    EXPECT_EQ(Count(db, "SELECT count(*) || ' ' || group_concat(path) FROM files"), "1 " + day3);
    EXPECT_EQ(Count(db, "SELECT group_concat(path) || ' ' || (SELECT group_concat(name) FROM hosts) FROM exes"),
              "/usr/bin/curl a.example");
    EXPECT_EQ(Count(db, "SELECT count(*) FROM records_text WHERE records_text MATCH 'nc OR 10'"), "1");
    EXPECT_TRUE(db.Run("INSERT INTO records_text(records_text) VALUES ('integrity-check')"));
}

namespace {

// A record of any kind, as the engine writes it on July day of 2026.
std::string AnyRecord(const std::string& path, const char* ip, const char* host, int day, int second, int direction,
                      int permission, bool service)
{
    std::tm local {};
    local.tm_year = 126;
    local.tm_mon = 6;
    local.tm_mday = day;
    local.tm_hour = 9 + second / 3600;
    local.tm_min = second / 60 % 60;
    local.tm_sec = second % 60;
    local.tm_isdst = -1;
    const std::string head = protocol::ConnectionRecordHead(text::EscapeLogText(path),
                                                            text::EscapeLogText(std::string(text::FileNamePart(path))));
    protocol::RecordText body;
    protocol::FormatConnectionBody({&head, 1, direction, ip, 40000u + static_cast<unsigned>(second), 443, permission,
                                    service, host, "rule"},
                                   body);
    return protocol::RecordStamp(local) + std::string(body.View()) + "\r\n";
}

// What both readers show of a row: time, program, peer, shown port, host.
std::string Shown(std::time_t when, const std::string& app, const std::string& path, const std::string& ip,
                  const std::string& port, const std::string& host)
{
    return std::to_string(when) + "|" + app + "|" + path + "|" + ip + "|" + port + "|" + host;
}

std::vector<std::string> Shown(const std::vector<logstore::LogEntry>& entries)
{
    std::vector<std::string> out;
    for (const logstore::LogEntry& e : entries)
        out.push_back(Shown(e.t, e.app, e.exePath, e.ip, std::to_string(e.ShownPort()), e.host));
    return out;
}

// Every row of a selection, fetched a page of pageRows at a time.
std::vector<logstore::LogEntry> AllPages(logstore::LogQuery& query, const logstore::LogSelection& selection, int pageRows)
{
    std::vector<logstore::LogEntry> all;
    std::optional<logstore::LogPosition> position;
    for (int pages = 0; pages < 1000; ++pages) {
        std::string why;
        const std::vector<logstore::LogEntry> page = query.Page(selection, position, pageRows, &why);
        EXPECT_EQ(why, "");
        all.insert(all.end(), page.begin(), page.end());
        if (static_cast<int>(page.size()) < pageRows)
            break;
        position = page.back().Position();
    }
    return all;
}

// Three days of mixed records: every direction and verdict (an unanswered
// Ask too), service records and the service manager's, several to a second,
// one stamped before midnight in the next day's file, one without the port
// its view shows.
void WriteMixedDays(const Sandbox& sandbox)
{
    const char* const programs[] = {"/usr/bin/curl", "/usr/lib/systemd/systemd", "/opt/x.y/Tool Box", "/usr/bin/wget"};
    const char* const hosts[] = {"a.example", nullptr, "cdn.example.org", "mail.other.net"};
    for (int day = 3; day <= 5; ++day) {
        std::string text;
        if (day == 4)
            text += AnyRecord("/usr/bin/curl", "10.9.9.9", "late.example", 3, 14 * 3600 + 59 * 60 + 59, 1, 1, false);
        for (int i = 0; i < 40; ++i)
            text += AnyRecord(programs[i % 4], ("10.0." + std::to_string(day) + "." + std::to_string(i)).c_str(),
                              hosts[i / 4 % 4], day, i / 3, i % 2, i % 7 == 6 ? 2 : i % 3 == 0 ? 0 : 1, i % 5 == 0);
        std::string unported = AnyRecord("/usr/bin/nc", "10.7.7.7", nullptr, day, 100, 1, 1, false);
        unported.replace(unported.find("<REMOTEPORT>443<"), 16, "<REMOTEPORT><");
        text += unported;
        WriteText(sandbox.logs + "/" + std::to_string(day) + "_7_2026_qrb.log", text);
    }
}

}  // namespace

// The index's views hold what the day files' reader shows, in its order,
// whole and a page at a time (no row missed or repeated across pages), and
// counted alike.
TEST(LogQueryViews, SameRowsAsTheDayFilesInPagesWithoutGapsOrRepeats)
{
    Sandbox sandbox;
    WriteMixedDays(sandbox);
    Database db = Database::Open(Access::kWrite);
    ASSERT_TRUE(db) << db.Error();
    ASSERT_TRUE(LogIndex(db).IndexFolder(sandbox.logs).ok);
    Database reader = Database::Open(Access::kRead);
    ASSERT_TRUE(reader) << reader.Error();
    // Searches answered from the search index's rows, and by walking the views.
    logstore::LogQuery fromIndex(reader), walking(reader, 0);
    const std::string day4 = sandbox.logs + "/4_7_2026_qrb.log";
    const struct {
        const char* key;
        bool services;
        std::string day, program, search;
    } cases[] = {
        {"Log1", false, "", "", ""},
        {"Log2", false, "", "", ""},
        {"Log3", false, "", "", ""},
        {"Log4", false, "", "", ""},
        {"Log2", true, "", "", ""},
        {"Log3", true, "", "", ""},
        {"Log2", false, day4, "", ""},
        {"Log4", true, day4, "", ""},
        {"Log2", true, "", "/usr/bin/curl", ""},
        {"Log1", true, day4, "/opt/x.y/Tool Box", ""},
        {"Log2", true, "", "/usr/bin/none", ""},
        {"Log2", true, "", "", "EXAMPLE"},
        {"Log1", true, "", "", "curl 10.0.4"},
        {"Log2", true, "", "", "x.y/tool"},
        {"Log2", true, day4, "", "443 cdn"},
        {"Log1", true, "", "", "40004"},
        {"Log4", false, "", "", "mail.other.net 10.0"},
    };
    panel::LogReader files;
    // As indexed, then with a day gone and another written anew shorter.
    for (int state = 0; state < 2; ++state) {
        if (state == 1) {
            ASSERT_EQ(::unlink((sandbox.logs + "/5_7_2026_qrb.log").c_str()), 0);
            const std::string day3 = sandbox.logs + "/3_7_2026_qrb.log";
            const std::string text = ReadText(day3);
            WriteText(day3, text.substr(0, text.find('\n', text.size() / 2) + 1));
            ASSERT_TRUE(LogIndex(db).IndexFolder(sandbox.logs).ok);
        }
        for (const auto& c : cases) {
            for (logstore::LogQuery* const query : {&fromIndex, &walking}) {
                const std::string name = std::string(c.key) + (c.services ? "+services " : " ") + c.day + " " + c.program + " "
                    + c.search + (query == &walking ? " walking" : "");
                std::vector<std::string> expected;
                for (const panel::LogRow& row : files.FillLogView(sandbox.logs, c.key, c.services, {}, "SYSTEMD", {c.day, c.search}))
                    if (c.program.empty() || row.path == c.program)
                        expected.push_back(Shown(row.when, row.application, row.path, row.ip, row.portNumber, row.host));
                const logstore::LogSelection selection {c.key == std::string("Log1") || c.key == std::string("Log3"),
                                                        c.key == std::string("Log3") || c.key == std::string("Log4"),
                                                        c.day, c.program, c.services, "SYSTEMD", c.search};
                std::string why;
                const logstore::LogCount count = query->Count(selection, &why);
                EXPECT_EQ(why, "") << name;
                EXPECT_EQ(count.rows, static_cast<std::int64_t>(expected.size())) << name;
                EXPECT_FALSE(count.capped) << name;
                EXPECT_EQ(Shown(query->Page(selection, std::nullopt, 1000)), expected) << name;
                for (const int pageRows : {1, 4})
                    EXPECT_EQ(Shown(AllPages(*query, selection, pageRows)), expected) << name << " pages of " << pageRows;
            }
        }
    }
    EXPECT_GT(fromIndex.Count({false, false, "", "", false, "", ""}).rows, 10) << "the views are not all empty";
}

// A search's quotes, operators, column names and "*" are text: it finds the
// rows that hold it literally, and nothing more.
TEST(LogQuerySearch, OperatorsAndQuotesAreLiteralText)
{
    Sandbox sandbox;
    Database db = Database::Open(Access::kWrite);
    ASSERT_TRUE(db) << db.Error();
    const std::string file = sandbox.logs + "/3_7_2026_qrb.log";
    const char* const paths[] = {"/opt/weird*/run", "/opt/weirdo/run", "/opt/say \"hi\"/run", "/opt/app:curl/run",
                                 "/opt/NEAR(a b)/run", "/opt/a OR b/run", "/opt/plain/run", "/opt/\u00abx\u00bb/run"};
    std::string text;
    for (size_t i = 0; i < std::size(paths); ++i)
        text += AnyRecord(paths[i], ("10.0.0." + std::to_string(i)).c_str(), nullptr, 3, static_cast<int>(i), 1, 1, false);
    WriteText(file, text);
    ASSERT_TRUE(LogIndex(db).IndexDayFile(file).ok);
    const struct {
        const char* search;
        const char* ips; // the last number of each address found, newest first
    } cases[] = {
        {"weird*", "0"},      {"weird", "1 0"},     {"*", "0"},          {"\"", "2"},          {"\"hi\"", "2"},
        {"\"hi", "2"},        {"app:curl", "3"},    {"path:plain", ""},  {"curl", "3"},        {"NEAR(a", "4"},
        {"OR", "5"},          {"a OR b", "5"},       {"^plain", ""},      {"plain)", ""},       {"-opt", ""},
        {"x\" OR \"opt", ""}, {"weird* OR", ""},    {"(", "4"},          {"NOT", ""},          {"\"\"", ""},
        {"eird", ""},         {"/plain", "6"},      {"RUN", "7 6 5 4 3 2 1 0"}, {"\u00ab", "7"}, {"\u00abx\u00bb/", "7"},
    };
    // Answered from the search index's rows, and by walking the view.
    for (const std::int64_t driveLimit : {logstore::LogQuery::kDriveLimit, std::int64_t {0}}) {
        logstore::LogQuery query(db, driveLimit);
        for (const auto& c : cases) {
            std::string found;
            std::string why;
            for (const logstore::LogEntry& entry : query.Page({false, false, "", "", false, "", c.search}, std::nullopt, 100, &why))
                found += (found.empty() ? "" : " ") + entry.ip.substr(7);
            EXPECT_EQ(why, "") << c.search;
            EXPECT_EQ(found, c.ips) << c.search;
            EXPECT_EQ(query.Count({false, false, "", "", false, "", c.search}).rows,
                      static_cast<std::int64_t>(found.empty() ? 0 : std::count(found.begin(), found.end(), ' ') + 1))
                << c.search;
        }
    }
}

// A program may name itself, its peer's host name may read, whatever it
// likes: a search for that text (as a view searching for a row's program
// would make) finds that program's rows only, and a selection by its path is
// bound as data, never read as SQL.
TEST(AttackLogQueryHostileText, RecordTextNeverWidensAQuery)
{
    Sandbox sandbox;
    Database db = Database::Open(Access::kWrite);
    ASSERT_TRUE(db) << db.Error();
    const std::string file = sandbox.logs + "/3_7_2026_qrb.log";
    const std::string hostile[] = {"/tmp/x\"OR\"usr*", "/tmp/');DELETE/**/FROM/**/records;--", "/tmp/usr\"*\"NOT\"x"};
    WriteText(file, AnyRecord("/usr/bin/curl", "10.0.0.1", "usr.example", 3, 0, 1, 1, false)
                        + AnyRecord(hostile[0], "10.0.0.2", nullptr, 3, 1, 1, 1, false)
                        + AnyRecord(hostile[1], "10.0.0.3", "x\" OR \"usr", 3, 2, 1, 1, false)
                        + AnyRecord(hostile[2], "10.0.0.4", nullptr, 3, 3, 1, 1, false));
    ASSERT_TRUE(LogIndex(db).IndexDayFile(file).ok);
    logstore::LogQuery query(db);
    for (size_t i = 0; i < std::size(hostile); ++i) {
        const std::string ip = "10.0.0." + std::to_string(i + 2);
        for (const logstore::LogSelection& selection :
             {logstore::LogSelection {false, false, "", "", false, "", hostile[i]},
              logstore::LogSelection {false, false, "", hostile[i], false, "", ""}}) {
            const std::vector<logstore::LogEntry> page = query.Page(selection, std::nullopt, 100);
            ASSERT_EQ(page.size(), 1u) << hostile[i];
            EXPECT_EQ(page[0].ip, ip) << hostile[i];
            EXPECT_EQ(query.Count(selection).rows, 1) << hostile[i];
        }
    }
    // Its words, each held literally by the path of one and the host name of the other.
    std::string found;
    for (const logstore::LogEntry& entry : query.Page({false, false, "", "", false, "", "x\" OR \"usr"}, std::nullopt, 100))
        found += entry.ip + " ";
    EXPECT_EQ(found, "10.0.0.3 10.0.0.2 ");
    // Bytes no text holds find nothing, and break nothing.
    for (const std::string& odd : {std::string("usr\0\"*", 6), std::string("\xff\xfe*"), std::string("\"\0", 2)}) {
        std::string why;
        EXPECT_EQ(query.Page({false, false, "", "", false, "", odd}, std::nullopt, 100, &why).size(), 0u);
        EXPECT_EQ(why, "");
    }
    EXPECT_EQ(Count(db, "SELECT count(*) FROM records"), "4");
}

// zelconn's feeder keeps the index of the log folder: new lines, a removed
// day, a database removed under it (made anew and every day read again),
// the log folder moved (the old folder's days dropped).
TEST(LogIndexFeeder, FollowsTheFolderAndRebuildsAMissingDatabase)
{
    Sandbox sandbox;
    const std::string day3 = sandbox.logs + "/3_7_2026_qrb.log";
    const std::string day4 = sandbox.logs + "/4_7_2026_qrb.log";
    WriteText(day3, Record("/usr/bin/curl", "10.0.0.1", nullptr, 3, 9, 0, 0));
    WriteText(day4, Record("/usr/bin/curl", "10.0.0.2", nullptr, 4, 9, 0, 0));
    zelconn::IndexFeeder feeder;
    const auto rows = [&] {
        EXPECT_TRUE(feeder.WaitCaughtUp(std::chrono::seconds(20)));
        EXPECT_EQ(feeder.LastError(), "");
        Database reader = Database::Open(Access::kRead);
        return reader ? Count(reader, "SELECT group_concat(ip, ' ') FROM (SELECT ip FROM records ORDER BY ip)")
                      : reader.Error();
    };
    feeder.Follow(sandbox.logs);
    EXPECT_EQ(rows(), "10.0.0.1 10.0.0.2");
    Append(day3, Record("/usr/bin/wget", "10.0.0.3", nullptr, 3, 9, 0, 1) + Record("/usr/bin/nc", "10.0.0.4", nullptr, 3, 9, 0, 2));
    EXPECT_EQ(rows(), "10.0.0.1 10.0.0.2 10.0.0.3 10.0.0.4");
    ASSERT_EQ(::unlink(day4.c_str()), 0);
    EXPECT_EQ(rows(), "10.0.0.1 10.0.0.3 10.0.0.4");
    const std::string database = logstore::DatabasePath();
    for (const char* suffix : {"", "-wal", "-shm"})
        ::unlink((database + suffix).c_str());
    Append(day3, Record("/usr/bin/nc", "10.0.0.5", nullptr, 3, 9, 0, 3));
    EXPECT_EQ(rows(), "10.0.0.1 10.0.0.3 10.0.0.4 10.0.0.5");
    const std::string moved = sandbox.root + "/logs2";
    ASSERT_EQ(::mkdir(moved.c_str(), 0700), 0);
    WriteText(moved + "/5_7_2026_qrb.log", Record("/usr/bin/curl", "10.0.0.6", nullptr, 5, 9, 0, 0));
    feeder.Follow(moved);
    EXPECT_EQ(rows(), "10.0.0.6");
    feeder.Stop();
    EXPECT_TRUE(Database::Open(Access::kWrite)) << "the writer lock goes with the feeder";
}

// An index made by the version before the views' indexes is brought up to
// date with its rows counted: the views count what they show at once.
TEST(LogStoreSchema, EarlierIndexCountedAfterTheUpgrade)
{
    Sandbox sandbox;
    WriteMixedDays(sandbox);
    {
        Database db = Database::Open(Access::kWrite);
        ASSERT_TRUE(db) << db.Error();
        ASSERT_TRUE(LogIndex(db).IndexFolder(sandbox.logs).ok);
        // As the first version left it.
        ASSERT_TRUE(db.Run("DROP TABLE view_counts; DROP INDEX records_shown; DROP INDEX records_shown_by_day; "
                           "CREATE INDEX records_by_view ON records(dir, perm, t DESC); PRAGMA user_version = 1"));
    }
    Database db = Database::Open(Access::kWrite);
    ASSERT_TRUE(db) << db.Error();
    EXPECT_EQ(db.Version(), Schema::Current().Version());
    logstore::LogQuery query(db);
    for (const bool incoming : {false, true})
        for (const bool denied : {false, true}) {
            const logstore::LogSelection selection {incoming, denied, "", "", true, "", ""};
            EXPECT_EQ(query.Count(selection).rows, static_cast<std::int64_t>(AllPages(query, selection, 100).size()))
                << incoming << denied;
        }
}

// The interceptor's process keeps the index: the records written to the day's
// file while it runs reach the index, all of them.
TEST(LogIndexFromTheInterceptor, RecordsWrittenReachTheIndex)
{
    Sandbox sandbox;
    const std::string day = protocol::TrafficLogFileName(sandbox.logs, std::time(nullptr));
    WriteText(day, "");
    testing_support::ChildProcess zelconn({ZELCONN});
    constexpr int kRecords = 5000;
    std::string text;
    for (int i = 0; i < kRecords; ++i)
        text += AnyRecord("/usr/bin/p" + std::to_string(i % 50), "10.0.0.1", nullptr, 3, i % 3600, 1, 1, false);
    for (size_t at = 0; at < text.size(); at += 65536)
        Append(day, std::string_view(text).substr(at, 65536));
    std::string rows;
    const bool reached = testing_support::WaitForFile(
        sandbox.root + "/data/korvel",
        [&] {
            Database reader = Database::Open(Access::kRead);
            rows = reader ? Count(reader, "SELECT count(*) FROM records") : reader.Error();
            return rows == std::to_string(kRecords);
        },
        std::chrono::seconds(60));
    EXPECT_TRUE(reached) << rows;
}

// A program of the user may make a day's file of one line without end (a
// sparse gigabyte): a bounded pass reads a bounded part of it, so zelconn's
// feeder still stops at once and still reaches the other days.
TEST(AttackLogIndexEndlessLine, BoundedPassesReadBoundedParts)
{
    Sandbox sandbox;
    Database db = Database::Open(Access::kWrite);
    ASSERT_TRUE(db) << db.Error();
    const std::string endless = sandbox.logs + "/4_7_2026_qrb.log";
    WriteText(endless, "<DATE>");
    ASSERT_EQ(::truncate(endless.c_str(), 1LL << 30), 0);
    WriteText(sandbox.logs + "/3_7_2026_qrb.log", Record("/usr/bin/curl", "10.0.0.1", nullptr, 3, 9, 0, 0));
    LogIndex index(db);
    int passes = 1;
    for (logstore::IndexPass pass; (pass = index.IndexFolder(sandbox.logs, 1000)).more && passes < 100; ++passes) {
        ASSERT_TRUE(pass.ok) << pass.error;
        ASSERT_EQ(Count(db, "SELECT size_indexed FROM files WHERE day = 20260704"),
                  std::to_string(std::int64_t {passes} * LogIndex::kPassBytes));
    }
    EXPECT_EQ(passes, 32) << "32 parts, the last with the other day";
    EXPECT_EQ(Count(db, "SELECT group_concat(ip) || ' ' || (SELECT skipped FROM files WHERE day = 20260704) FROM records"),
              "10.0.0.1 1");
}
