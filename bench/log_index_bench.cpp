// The log index's cost: records indexed per second from a day's file made as
// the engine writes it, the parser against protocol::ParseLogLine (the other
// readers' parser, as the baseline), the database's bytes per record, and
// what 5,000 new records cost when they come in passes as a feeder makes them.
//   log_index_bench [records]   (default 200,000)
#include "logstore/Database.h"
#include "logstore/LogIndex.h"
#include "logstore/RecordParser.h"
#include "logstore/Schema.h"
#include "protocol/LogFiles.h"
#include "text/Strings.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
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

}  // namespace

int main(int argc, char** argv)
{
    const long count = argc > 1 ? std::atol(argv[1]) : 200000;
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
    for (const char* suffix : {"", "-wal", "-shm", ".lock"})
        std::remove((path + suffix).c_str());
    std::remove(log.c_str());
    ::rmdir(folder.c_str());
    return 0;
}
