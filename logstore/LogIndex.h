#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <unordered_map>

namespace logstore {

class Database;

// What one pass over a day's file did.
struct IndexPass {
    bool ok = false;
    std::string error;       // why not, in one line
    std::int64_t rows = 0;   // records added to the index
    std::int64_t skipped = 0;  // lines too long to be a record, passed over
    std::int64_t lines = 0;    // lines read, records or not
    bool restarted = false;  // the file was another one, or shorter: indexed again from its start
    bool more = false;       // stopped at the pass's budget of lines: there may be more
};

// The index of the daily traffic logs, kept in the user's database beside
// them: one row per connection record, with its file and offset, so that
// the views can ask for a page of rows instead of reading every day whole.
// The day files stay the truth: whatever the index holds can be made again
// from them, and making it again gives the same rows.
class LogIndex {
public:
    // A line longer than this is no record the engine writes (a path is at
    // most 4 KB): passed over and counted, never held in memory whole.
    static constexpr std::size_t kMaxLineBytes = 100 * 1024;
    // Lines read per transaction: each batch is written whole with how far
    // the file has been read, so a pass cut short loses nothing and adds
    // nothing twice.
    static constexpr int kBatchLines = 10000;
    // Bytes of a file a pass with a budget of lines reads at most: some
    // 90,000 records, so only a file of lines without end meets it.
    static constexpr std::int64_t kPassBytes = 32 << 20;

    // db must be open for writing and outlive the index.
    explicit LogIndex(Database& db) : db_(db) {}

    // Reads a day's file ("<day>_<month>_<year>_qrb.log") on from where the
    // last pass stopped. Only whole lines: a last line without its end waits
    // for the next pass. A file that shrank, or that is another file (another
    // inode, or other first bytes) than the one read before, is indexed
    // again from its start, its old rows dropped. maxLines bounds the pass
    // (an event loop catching up on a day of a busy machine), and so does
    // kPassBytes then; negative: no bound.
    IndexPass IndexDayFile(const std::string& path, std::int64_t maxLines = -1);

    // Drops the rows of a file (a day deleted); true when there were none.
    bool DropDayFile(const std::string& path, std::string* why = nullptr);

    // Brings the index of a log folder up to date: each day's file, newest
    // day first (so the views have today soonest), and the rows of files
    // that are gone dropped. A missing index is made this way. maxLines
    // bounds the pass over all days (more then says there may be more).
    IndexPass IndexFolder(const std::string& folder, std::int64_t maxLines = -1);

    // Drops the rows of every file that is not in folder: the log folder
    // was moved, and the views show only the one folder's days.
    bool DropOtherFolders(const std::string& folder, std::string* why = nullptr);

private:
    struct FileState;
    std::int64_t Intern(std::unordered_map<std::string, std::int64_t>& cache, const char* table,
                        const char* column, const std::string& text, std::string& why);
    bool DropRows(std::int64_t file, std::string& why);

    Database& db_;
    // Ids of exes and hosts already in the database; cleared on any failure,
    // as a rolled-back transaction takes its new ids with it.
    std::unordered_map<std::string, std::int64_t> exes_;
    std::unordered_map<std::string, std::int64_t> hosts_;
};

}  // namespace logstore
