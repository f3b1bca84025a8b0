// The log index's cost: records indexed per second from a day's file made as
// the engine writes it, the parser against protocol::ParseLogLine (the other
// readers' parser, as the baseline), the database's bytes per record, and
// what 5,000 new records cost when they come in passes as a feeder makes them;
// then the views: a view opened (its count and first page) and searches over
// days x records made straight into a database, against the day files'
// reader (panel::LogReader) opening the same view over the one day's file.
//   log_index_bench [records] [days] [records a day]   (200,000; 7 x 1,000,000; 0 days: no views)
#include "logstore/Database.h"
#include "logstore/LogIndex.h"
#include "logstore/LogQuery.h"
#include "logstore/RecordParser.h"
#include "logstore/Schema.h"
#include "panel/core/LogReader.h"
#include "protocol/LogFiles.h"
#include "text/Strings.h"

#include <chrono>
#include <cstdio>
#include <algorithm>
#include <cstdlib>
#include <functional>
#include <ctime>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

double Seconds(std::chrono::steady_clock::time_point since)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

// CPU seconds of the process so far: the machine is shared, so the wall
// time says less.
double CpuSeconds()
{
    rusage usage {};
    ::getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec)
        + static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// Records of a busy desktop: 200 programs, 5,000 host names on 60% of
// them, a few reasons; i spreads them over the day.
std::string Records(long from, long count, std::time_t dayStart)
{
    static const char* const reasons[] = {"rule", "default", "answer", "remembered"};
    std::string text;
    for (long i = from; i < from + count; ++i) {
        const std::time_t when = dayStart + i % 86400;
        std::tm local {};
        ::localtime_r(&when, &local);
        const std::string program = "/usr/lib/program-" + std::to_string(i % 200) + "/bin/program" + std::to_string(i % 200);
        const std::string head = protocol::ConnectionRecordHead(text::EscapeLogText(program),
                                                                "Program " + std::to_string(i % 200));
        const std::string address = "10." + std::to_string(i % 250) + "." + std::to_string(i / 250 % 250) + ".7";
        const std::string host = "host" + std::to_string(i % 5000) + ".example.org";
        protocol::RecordText body;
        protocol::FormatConnectionBody({&head, static_cast<int>(i % 3 != 0), static_cast<int>(i % 4 != 0),
                                        address.c_str(), static_cast<unsigned>(40000 + i % 20000), 443,
                                        static_cast<int>(i % 5 != 0), false, i % 5 < 3 ? host.c_str() : nullptr,
                                        reasons[i % 4]},
                                       body);
        text += protocol::RecordStamp(local);
        text += body.View();
        text += "\r\n";
    }
    return text;
}

long long FileBytes(const std::string& path)
{
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 ? st.st_size : 0;
}

// The median of three runs of work: wall and CPU milliseconds.
struct Timing {
    double wall = 0, cpu = 0;
};

Timing Median(const std::function<void()>& work)
{
    std::vector<Timing> runs;
    for (int run = 0; run < 3; ++run) {
        const auto start = std::chrono::steady_clock::now();
        const double cpu = CpuSeconds();
        work();
        runs.push_back({Seconds(start) * 1e3, (CpuSeconds() - cpu) * 1e3});
    }
    std::sort(runs.begin(), runs.end(), [](const Timing& a, const Timing& b) { return a.wall < b.wall; });
    return runs[1];
}

// days x perDay records, as Records() makes them, written straight into the
// tables in one transaction: the fastest way to a database of that size.
bool FillViews(logstore::Database& db, const std::string& folder, long days, long perDay, std::time_t firstDay)
{
    logstore::Transaction transaction(db);
    if (!transaction)
        return false;
    logstore::Statement exe(db, "INSERT INTO exes(id, path) VALUES (?1, ?2)");
    for (long p = 0; p < 200; ++p) {
        exe.Bind(1, std::int64_t {p + 1}).Bind(2, "/usr/lib/program-" + std::to_string(p) + "/bin/program" + std::to_string(p));
        if (!exe.Run())
            return false;
        exe.Reset();
    }
    logstore::Statement host(db, "INSERT INTO hosts(id, name) VALUES (?1, ?2)");
    for (long h = 0; h < 5000; ++h) {
        host.Bind(1, std::int64_t {h + 1}).Bind(2, "host" + std::to_string(h) + ".example.org");
        if (!host.Run())
            return false;
        host.Reset();
    }
    static const char* const reasons[] = {"rule", "default", "answer", "remembered"};
    logstore::Statement file(db, "INSERT INTO files(id, path, day, dev, ino, size_indexed, head_digest) "
                                 "VALUES (?1, ?2, ?3, 0, 0, 0, 0)");
    logstore::Statement row(db, "INSERT INTO records(id, file, offset, t, dir, perm, proto, service, backstop, exe_id, "
                                "app, ip, lport, rport, host, reason) VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, 0, 0, ?8, ?9, "
                                "?10, ?11, 443, ?12, ?13)");
    logstore::Statement words(db, "INSERT INTO records_text(rowid, app, path, host, ip) VALUES (?1, ?2, ?3, ?4, ?5)");
    std::int64_t id = 0;
    for (long d = 0; d < days; ++d) {
        const std::time_t dayStart = firstDay + d * 86400;
        file.Bind(1, std::int64_t {d + 1}).Bind(2, protocol::TrafficLogFileName(folder, dayStart + 43200)).Bind(3, d);
        if (!file.Run())
            return false;
        file.Reset();
        for (long i = 0; i < perDay; ++i) {
            ++id;
            const long p = i % 200;
            const std::string app = "Program " + std::to_string(p);
            const std::string path = "/usr/lib/program-" + std::to_string(p) + "/bin/program" + std::to_string(p);
            const std::string address = "10." + std::to_string(i % 250) + "." + std::to_string(i / 250 % 250) + ".7";
            const bool named = i % 5 < 3;
            row.Bind(1, id).Bind(2, std::int64_t {d + 1}).Bind(3, std::int64_t {i * 346});
            row.Bind(4, static_cast<std::int64_t>(dayStart + i * 86400 / perDay)).Bind(5, std::int64_t {i % 3 != 0});
            row.Bind(6, std::int64_t {i % 5 != 0}).Bind(7, std::int64_t {i % 4 != 0}).Bind(8, std::int64_t {p + 1});
            row.Bind(9, app).Bind(10, address).Bind(11, std::int64_t {40000 + i % 20000});
            if (named)
                row.Bind(12, std::int64_t {i % 5000 + 1});
            else
                row.BindNull(12);
            row.Bind(13, reasons[i % 4]);
            if (!row.Run())
                return false;
            row.Reset();
            words.Bind(1, id).Bind(2, app).Bind(3, path)
                .Bind(4, named ? "host" + std::to_string(i % 5000) + ".example.org" : std::string())
                .Bind(5, address);
            if (!words.Run())
                return false;
            words.Reset();
        }
    }
    return db.Run("INSERT INTO view_counts SELECT file, exe_id, dir, perm <> 1, service, count(*) FROM records "
                  "WHERE CASE dir WHEN 0 THEN lport ELSE rport END IS NOT NULL GROUP BY 1, 2, 3, 4, 5")
        && transaction.Commit();
}

// A view opened and searched over the big database, and the day files'
// reader opening the same view over one day's file.
int Views(const std::string& folder, const std::string& dayLog, long dayRecords, long days, long perDay)
{
    // ZEL_BENCH_VIEWS names a database to keep and use again (made when missing).
    const char* kept = std::getenv("ZEL_BENCH_VIEWS");
    const std::string path = kept ? kept : folder + "/views.db";
    const std::time_t firstDay = std::time(nullptr) / 86400 * 86400 - days * 86400;
    const std::string viewsFolder = kept ? path.substr(0, path.rfind('/')) : folder;
    if (FileBytes(path) == 0) {
        logstore::Database db = logstore::Database::Open(path, logstore::Access::kWrite, logstore::Schema::Current(),
                                                         folder + "/views.db.lock");
        if (!db) {
            std::fprintf(stderr, "%s\n", db.Error().c_str());
            return 1;
        }
        const auto start = std::chrono::steady_clock::now();
        const double cpu = CpuSeconds();
        if (!FillViews(db, viewsFolder, days, perDay, firstDay)) {
            std::fprintf(stderr, "cannot fill the database: %s\n", db.LastError().c_str());
            return 1;
        }
        db.Run("PRAGMA wal_checkpoint(TRUNCATE)");
        std::printf("\nviews: %ld days x %ld records made in one transaction: %.0f s (%.0f s of CPU), %.0f MB\n", days,
                    perDay, Seconds(start), CpuSeconds() - cpu, static_cast<double>(FileBytes(path)) / 1e6);
    }
    // As the panel would: a reader's connection, opened anew.
    logstore::Database db = logstore::Database::Open(path, logstore::Access::kRead, logstore::Schema::Current());
    logstore::LogQuery query(db);
    const auto show = [&](const char* name, const logstore::LogSelection& selection, const std::optional<logstore::LogPosition>& before) {
        logstore::LogCount count;
        std::size_t rows = 0;
        const Timing timing = Median([&] {
            count = query.Count(selection);
            rows = query.Page(selection, before, 100).size();
        });
        std::printf("  %-44s %7.1f ms (%6.1f ms CPU)  %lld%s rows, a page of %zu\n", name, timing.wall, timing.cpu,
                    static_cast<long long>(count.rows), count.capped ? "+" : "", rows);
    };
    const auto selection = [](bool incoming, bool denied, std::string search = {}) {
        return logstore::LogSelection {incoming, denied, "", "", false, "", std::move(search)};
    };
    std::printf("a view opened (count and first 100 rows; median of 3):\n");
    show("permitted outgoing, all days", selection(false, false), std::nullopt);
    show("denied outgoing, all days", selection(false, true), std::nullopt);
    show("permitted incoming, all days", selection(true, false), std::nullopt);
    logstore::LogSelection oneDay = selection(false, false);
    oneDay.dayFile = protocol::TrafficLogFileName(viewsFolder, firstDay + 43200);
    show("permitted outgoing, the oldest day", oneDay, std::nullopt);
    logstore::LogSelection oneProgram = selection(false, false);
    oneProgram.program = "/usr/lib/program-17/bin/program17";
    show("permitted outgoing, one program of 200", oneProgram, std::nullopt);
    // Scrolled 90% deep: the position taken once, untimed.
    {
        logstore::Statement deep(db, "SELECT t, id FROM records r WHERE dir = 1 AND (perm <> 1) = 0 AND service = 0 "
                                     "ORDER BY t, id LIMIT 1 OFFSET ?1");
        deep.Bind(1, std::int64_t {days * perDay / 20});
        if (deep.Next() == logstore::Statement::Step::kRow)
            show("permitted outgoing, a page 90% deep", selection(false, false),
                 logstore::LogPosition {static_cast<std::time_t>(deep.Integer(0)), deep.Integer(1)});
    }
    std::printf("a search (count, capped at %lld, and first 100 rows):\n", static_cast<long long>(logstore::LogQuery::kSearchCountCap));
    show("a host name (1 record in 5,000)", selection(false, false, "host1232.example.org"), std::nullopt);
    show("a program's name (1 in 200)", selection(false, false, "program17"), std::nullopt);
    show("an address's start (1 in 250)", selection(false, false, "10.17"), std::nullopt);
    show("a word of most records (\"example\")", selection(false, false, "example"), std::nullopt);
    show("a word of no record", selection(false, false, "nowhere"), std::nullopt);

    // The baseline: the day files' reader opening the same view over one day's file.
    panel::PortNames ports;
    std::size_t rows = 0;
    const Timing reader = Median([&] {
        panel::LogReader files; // a window opened anew: nothing read before
        rows = files.FillLogView(folder, "Log2", false, ports, "SYSTEMD", {dayLog, ""}).size();
    });
    std::printf("baseline: the day files' reader opening permitted outgoing over one day of %ld records: %.0f ms "
                "(%.0f ms CPU), %zu rows\n",
                dayRecords, reader.wall, reader.cpu, rows);
    for (const char* suffix : {"", "-wal", "-shm", ".lock"})
        if (!kept)
            std::remove((path + suffix).c_str());
    return 0;
}

}  // namespace

int main(int argc, char** argv)
{
    const long count = argc > 1 ? std::atol(argv[1]) : 200000;
    const long days = argc > 2 ? std::atol(argv[2]) : 7;
    const long perDay = argc > 3 ? std::atol(argv[3]) : 1000000;
    char pattern[] = "/tmp/zel-index-bench-XXXXXX";
    const std::string folder = ::mkdtemp(pattern);
    const std::time_t now = std::time(nullptr);
    std::tm today {};
    ::localtime_r(&now, &today);
    today.tm_hour = today.tm_min = today.tm_sec = 0;
    const std::time_t dayStart = std::mktime(&today);
    const std::string log = protocol::TrafficLogFileName(folder, now);
    const std::string text = Records(0, count, dayStart);
    if (FILE* file = std::fopen(log.c_str(), "wb")) {
        std::fwrite(text.data(), 1, text.size(), file);
        std::fclose(file);
    }
    std::printf("%ld records, %.1f MB of log (%.0f bytes per line)\n", count, text.size() / 1e6,
                static_cast<double>(text.size()) / static_cast<double>(count));

    // The parser alone, against the other readers' parser.
    std::vector<std::string_view> lines;
    text::ForEachLine(text, [&](std::string_view line) { lines.push_back(line); });
    long parsed = 0;
    auto start = std::chrono::steady_clock::now();
    for (const std::string_view line : lines)
        parsed += protocol::ParseLogLine(line).has_value();
    const double baseline = Seconds(start);
    logstore::RecordParser parser(*protocol::DayOfLogFile(log));
    start = std::chrono::steady_clock::now();
    for (const std::string_view line : lines)
        parsed += parser.Parse(line).has_value();
    const double ours = Seconds(start);
    std::printf("parse: %.0f ns per line (ParseLogLine %.0f ns, ratio %.2f), %ld parsed\n",
                ours * 1e9 / static_cast<double>(count), baseline * 1e9 / static_cast<double>(count), ours / baseline,
                parsed / 2);

    // The whole day, as a rebuild reads it.
    const std::string path = folder + "/tessary.db";
    {
        logstore::Database db = logstore::Database::Open(path, logstore::Access::kWrite, logstore::Schema::Current(),
                                                         folder + "/tessary.db.lock");
        if (!db) {
            std::fprintf(stderr, "%s\n", db.Error().c_str());
            return 1;
        }
        logstore::LogIndex index(db);
        start = std::chrono::steady_clock::now();
        double cpu = CpuSeconds();
        const logstore::IndexPass pass = index.IndexDayFile(log);
        const double whole = Seconds(start);
        cpu = CpuSeconds() - cpu;
        if (!pass.ok) {
            std::fprintf(stderr, "%s\n", pass.error.c_str());
            return 1;
        }
        std::printf("index whole day: %.2f s (%.2f s of CPU), %.0f records/s (%.0f per CPU second)\n", whole, cpu,
                    static_cast<double>(pass.rows) / whole, static_cast<double>(pass.rows) / cpu);
        // What the feeder finds: a write-ahead log already folded into the database.
        db.Run("PRAGMA wal_checkpoint(TRUNCATE)");

        // A feeder's passes: 5,000 records in passes of 500.
        constexpr long kNew = 5000, kPass = 500;
        double fed = 0;
        cpu = 0;
        for (long at = 0; at < kNew; at += kPass) {
            const std::string more = Records(count + at, kPass, dayStart);
            if (FILE* file = std::fopen(log.c_str(), "ab")) {
                std::fwrite(more.data(), 1, more.size(), file);
                std::fclose(file);
            }
            start = std::chrono::steady_clock::now();
            const double before = CpuSeconds();
            if (!index.IndexDayFile(log).ok)
                return 1;
            cpu += CpuSeconds() - before;
            fed += Seconds(start);
        }
        std::printf("5,000 new records in passes of 500: %.0f ms in all, %.0f ms of CPU (%.1f%% of a core at "
                    "5,000 records/s)\n",
                    fed * 1e3, cpu * 1e3, cpu * 100);
        db.Run("PRAGMA wal_checkpoint(TRUNCATE)");
        // Where the bytes go, when SQLite was built with its page statistics.
        logstore::Statement parts(db, "SELECT name, sum(pgsize) FROM dbstat GROUP BY name ORDER BY 2 DESC LIMIT 8");
        while (parts.Next() == logstore::Statement::Step::kRow)
            std::printf("  %-28s %5.0f bytes per record\n", parts.Text(0).c_str(),
                        static_cast<double>(parts.Integer(1)) / static_cast<double>(count + 5000));
        const long long bytes = FileBytes(path) + FileBytes(path + "-wal");
        std::printf("database: %.1f MB, %.0f bytes per record (the log: %.0f)\n", static_cast<double>(bytes) / 1e6,
                    static_cast<double>(bytes) / static_cast<double>(count + 5000),
                    static_cast<double>(text.size()) / static_cast<double>(count));
        // The day deleted: its rows, search words and names dropped.
        start = std::chrono::steady_clock::now();
        cpu = CpuSeconds();
        std::string why;
        if (!index.DropDayFile(log, &why)) {
            std::fprintf(stderr, "%s\n", why.c_str());
            return 1;
        }
        std::printf("drop the day: %.2f s (%.2f s of CPU)\n", Seconds(start), CpuSeconds() - cpu);
    }
    if (days > 0 && perDay > 0 && Views(folder, log, count, days, perDay) != 0)
        return 1;
    for (const char* suffix : {"", "-wal", "-shm", ".lock"})
        std::remove((path + suffix).c_str());
    std::remove(log.c_str());
    ::rmdir(folder.c_str());
    return 0;
}
