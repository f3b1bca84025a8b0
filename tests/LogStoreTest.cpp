#include "logstore/Database.h"
#include "logstore/Schema.h"
#include "logstore/WriterLock.h"
#include "tests/Sandbox.h"

#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using logstore::Access;
using logstore::Database;
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
