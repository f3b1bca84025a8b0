#pragma once

#include <cstdint>
#include <ctime>
#include <optional>
#include <string>
#include <vector>

namespace logstore {

class Database;

// What a log view shows: one of the four kinds (by direction and verdict),
// of one day or of all, of one program or of all, and, when searched, the
// records that match every word; the selections of panel::LogReader's views
// over the user's log folder (the services' folder is not indexed).
struct LogSelection {
    bool incoming = false;
    bool denied = false;        // not permitted: denied, or an Ask no answer decided
    std::string dayFile;        // the path of one day's file; empty: every day
    std::string program;        // an executable's path; empty: every program
    bool services = false;      // service records shown too
    std::string serviceManager; // the service manager's file name in upper case: its records are service records
    // Words, each of which must match: a part of the program's name or path,
    // the host name or the address, without regard to case, that starts one
    // of their words (the index knows words, not every part of them; a word
    // that starts with a dot or a quote may be anywhere); or the port the
    // view shows, whole.
    std::string search;
};

// Where a page ends: the rows before it are the older ones.
struct LogPosition {
    std::time_t t = 0;
    std::int64_t id = 0;
};

// One row of a view, as the index keeps its record.
struct LogEntry {
    std::int64_t id = 0;
    std::time_t t = 0;
    bool incoming = false;
    int perm = 0; // 1 permitted, 0 denied, 2 anything else
    bool tcp = false;
    bool service = false;
    bool backstop = false;
    std::string exePath;
    std::string app;
    std::string ip;
    std::optional<int> localPort;
    std::optional<int> remotePort;
    std::string host;
    std::string reason;
    std::string list;

    LogPosition Position() const { return {t, id}; }
    // The port the views show: the program's own for incoming connections.
    int ShownPort() const { return (incoming ? localPort : remotePort).value_or(0); }
    bool operator==(const LogEntry&) const = default;
};

struct LogCount {
    std::int64_t rows = 0;
    bool capped = false; // a search found more than kSearchCountCap: rows is that cap
};

// The log index read for the views: counts and pages of rows, newest first
// (by time, then by the order they were indexed in). A page is "the rows
// before a position", so a view scrolled deep costs what its first page
// does. Works on a reader's connection; failures leave an empty answer and
// say why.
class LogQuery {
public:
    // A search counts this many rows at most: counting every row that
    // matches a word most rows hold would take seconds.
    static constexpr std::int64_t kSearchCountCap = 10000;

    // A search whose words the search index finds in at most this many
    // records is answered from those records, sorted; one whose words more
    // records hold, by walking the view newest first and keeping the rows
    // that match, which soon fills a page.
    static constexpr std::int64_t kDriveLimit = 50000;

    explicit LogQuery(Database& db, std::int64_t driveLimit = kDriveLimit);

    LogCount Count(const LogSelection& selection, std::string* why = nullptr);
    // Up to rows rows before the position (or the newest when none).
    std::vector<LogEntry> Page(const LogSelection& selection, const std::optional<LogPosition>& before, int rows,
                               std::string* why = nullptr);

private:
    struct Plan;
    bool Prepare(const LogSelection& selection, Plan& plan, std::string& why);

    Database& db_;
    std::int64_t driveLimit_;
};

}  // namespace logstore
