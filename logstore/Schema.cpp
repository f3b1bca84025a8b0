#include "logstore/Schema.h"

#include "logstore/Database.h"

#include <exception>
#include <sqlite3.h>

namespace logstore {

const Schema& Schema::Current()
{
    // Each step stays as released; the traffic counts add theirs after.
    static const Schema schema {{
        // 1: the index of the daily traffic logs (LogIndex). The day files
        // stay the truth: each row says where its line is (file, offset),
        // and files says how far each file has been read and how to tell
        // the same file from one put in its place.
        {R"(
CREATE TABLE files(
  id INTEGER PRIMARY KEY,
  path TEXT NOT NULL UNIQUE,
  day INTEGER NOT NULL,            -- yyyymmdd of the file's name
  dev INTEGER NOT NULL,
  ino INTEGER NOT NULL,
  size_indexed INTEGER NOT NULL,   -- bytes read: always the end of a whole line
  head_digest INTEGER NOT NULL,    -- of the first bytes read, to tell a rewritten file
  skipped INTEGER NOT NULL DEFAULT 0,  -- lines too long to be a record
  in_long_line INTEGER NOT NULL DEFAULT 0  -- size_indexed is inside such a line
);
CREATE TABLE exes(id INTEGER PRIMARY KEY, path TEXT NOT NULL UNIQUE);
CREATE TABLE hosts(id INTEGER PRIMARY KEY, name TEXT NOT NULL UNIQUE);
CREATE TABLE records(
  id INTEGER PRIMARY KEY,
  file INTEGER NOT NULL REFERENCES files(id),
  offset INTEGER NOT NULL,  -- of the line in its file
  t INTEGER NOT NULL,       -- local time read from DATE and TIME, as a time_t
  dir INTEGER NOT NULL,     -- 0 incoming, 1 outgoing
  perm INTEGER NOT NULL,    -- 1 permitted, 0 denied, 2 anything else (not let through)
  proto INTEGER NOT NULL,   -- 1 TCP, 0 UDP
  service INTEGER NOT NULL,
  backstop INTEGER NOT NULL,
  exe_id INTEGER NOT NULL REFERENCES exes(id),
  app TEXT NOT NULL,
  ip TEXT NOT NULL,
  lport INTEGER,
  rport INTEGER,
  host INTEGER REFERENCES hosts(id),
  reason TEXT,
  list TEXT
);
CREATE UNIQUE INDEX records_by_line ON records(file, offset);
CREATE INDEX records_by_view ON records(dir, perm, t DESC);
CREATE INDEX records_by_exe ON records(exe_id, t);
-- Words of the texts a search looks in; contentless, the rowid is the
-- record's id (the texts are in records, exes and hosts). Rows are found,
-- not ranked (the views order by time): no column sizes kept.
CREATE VIRTUAL TABLE records_text USING fts5(app, path, host, ip, content='', columnsize=0,
  tokenize='unicode61 remove_diacritics 2');
)"},
        // 2: the rows the log views show (those with the port their column
        // shows), by view and time, and by day, view and time, with what
        // the views also filter by, so that a view is counted and paged from
        // the index alone. LogQuery's conditions repeat these expressions
        // word for word: SQLite uses such an index only then.
        {R"(
DROP INDEX records_by_view;
CREATE INDEX records_shown ON records(dir, perm <> 1, t, id, service, exe_id)
  WHERE CASE dir WHEN 0 THEN lport ELSE rport END IS NOT NULL;
CREATE INDEX records_shown_by_day ON records(file, dir, perm <> 1, t, id, service, exe_id)
  WHERE CASE dir WHEN 0 THEN lport ELSE rport END IS NOT NULL;
-- How many of those rows each day holds of each program, by view: a view
-- of millions of rows is counted from a few hundred of these.
CREATE TABLE view_counts(
  file INTEGER NOT NULL,
  exe_id INTEGER NOT NULL,
  dir INTEGER NOT NULL,
  denied INTEGER NOT NULL,  -- perm <> 1
  service INTEGER NOT NULL,
  rows INTEGER NOT NULL,
  PRIMARY KEY(file, exe_id, dir, denied, service)
) WITHOUT ROWID;
CREATE INDEX view_counts_by_view ON view_counts(dir, denied);
INSERT INTO view_counts SELECT file, exe_id, dir, perm <> 1, service, count(*) FROM records
  WHERE CASE dir WHEN 0 THEN lport ELSE rport END IS NOT NULL GROUP BY 1, 2, 3, 4, 5;
)"},
    }};
    return schema;
}

bool Schema::Migrate(Database& db, int from, std::string& why, int* failureCode) const
{
    const auto failed = [&](const std::string& text) {
        // Taken before the rollback clears it.
        if (failureCode)
            *failureCode = sqlite3_extended_errcode(db.Handle());
        why = "cannot bring the database from version " + std::to_string(from) + " to "
            + std::to_string(Version()) + ": " + text;
        return false;
    };
    Transaction transaction(db);
    if (!transaction)
        return failed(transaction.Error());
    for (int step = from; step < Version(); ++step) {
        const MigrationStep& migration = steps_[static_cast<size_t>(step)];
        std::string failure;
        bool done = false;
        try {
            done = migration.apply ? migration.apply(db, failure) : db.Run(migration.sql, &failure);
        } catch (const std::exception& error) {
            failure = error.what();
        }
        if (!done)
            return failed("step " + std::to_string(step + 1) + ": " + failure);
    }
    std::string failure;
    if (!db.Run("PRAGMA user_version = " + std::to_string(Version()), &failure))
        return failed(failure);
    if (!transaction.Commit())
        return failed(transaction.Error());
    return true;
}

}  // namespace logstore
