// Records in the journal under load: writes connection records into the
// day's log at a steady rate, as engines do, while zelconn (started here,
// with the option on) hands them to a journal socket, and tells how many
// arrived, how fast, and how far behind the writing they came.
//   journal_soak ZELCONN SECONDS RATE         a stand-in journal in this program
//   journal_soak ZELCONN SECONDS RATE --system   the system's journal socket;
//                                             count the entries with journalctl
// RATE 0 writes as fast as it can. Settings, runtime folder and logs are a
// temporary folder's.
#include "protocol/LogFiles.h"
#include "protocol/Registry.h"
#include "protocol/TrafficLog.h"
#include "tests/JournalReceiver.h"
#include "text/Strings.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <spawn.h>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

long long NowNs() { return std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now().time_since_epoch()).count(); }

std::string Body(long long sequence, long long writtenNs)
{
    const std::string head = protocol::ConnectionRecordHead("/p/" + std::to_string(sequence) + "/" + std::to_string(writtenNs),
                                                            "SOAK");
    const protocol::ConnectionRecord record {&head, 1, 1, "192.0.2.7", 40000, 443, sequence % 2 ? 1 : 0, false,
                                             sequence % 3 ? "host.example" : nullptr};
    protocol::RecordText body;
    protocol::FormatConnectionBody(record, body);
    return std::string(body.View());
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 4) {
        std::fprintf(stderr, "usage: journal_soak ZELCONN SECONDS RATE [--system]\n");
        return 2;
    }
    const char* zelconn = argv[1];
    const int seconds = std::atoi(argv[2]);
    const long long rate = std::atoll(argv[3]);
    const bool system = argc > 4 && !std::strcmp(argv[4], "--system");

    char folder[] = "/tmp/zel-journal-soak-XXXXXX";
    if (!::mkdtemp(folder))
        return 1;
    const std::string root = folder;
    for (const char* sub : {"/registry", "/runtime", "/logs"})
        ::mkdir((root + sub).c_str(), 0700);
    ::setenv("ZEL_REGISTRY_ROOT", (root + "/registry").c_str(), 1);
    ::setenv("ZEL_RUNTIME_DIR", (root + "/runtime").c_str(), 1);
    using protocol::registry::RootKey;
    protocol::registry::SetString(RootKey::LocalMachine, protocol::registry::kSettingsKey, "LogFilesPath", root + "/logs");
    protocol::registry::SetString(RootKey::LocalMachine, protocol::registry::kSettingsKey, "JournalRecords", "1");
    std::unique_ptr<testing_support::JournalReceiver> receiver;
    if (!system) {
        receiver = std::make_unique<testing_support::JournalReceiver>(root + "/journal.sock");
        ::setenv("ZEL_JOURNAL_SOCKET", receiver->Path().c_str(), 1);
    }
    pid_t child = -1;
    char* const arguments[] = {const_cast<char*>(zelconn), nullptr};
    if (::posix_spawn(&child, zelconn, nullptr, nullptr, arguments, environ) != 0)
        return 1;
    const protocol::TrafficLog log(root + "/logs");
    // Following starts with zelconn's start: probes until one comes through
    // (or, with the system's journal, a moment).
    if (receiver) {
        bool through = false;
        for (int i = 0; i < 100 && !through; ++i) {
            log.AppendLogRecord(Body(-1, 0), std::time(nullptr));
            through = receiver->Receive(std::chrono::milliseconds(100)).has_value();
        }
        while (receiver->Receive(std::chrono::milliseconds(200))) {
        }
        if (!through) {
            std::fprintf(stderr, "zelconn sent nothing\n");
            ::kill(child, SIGTERM);
            return 1;
        }
    } else {
        std::this_thread::sleep_for(std::chrono::seconds(2));
    }

    std::atomic<long long> written {0};
    std::atomic<bool> writing {true};
    const auto start = Clock::now();
    std::thread writer([&] {
        long long sequence = 0;
        const auto end = start + std::chrono::seconds(seconds);
        for (auto now = Clock::now(); now < end; now = Clock::now()) {
            const long long due = rate > 0 ? static_cast<long long>(
                                                 std::chrono::duration<double>(now - start).count() * static_cast<double>(rate))
                                           : sequence + 1000;
            for (; sequence < due; ++sequence)
                log.AppendLogRecord(Body(sequence, NowNs()), std::time(nullptr));
            written = sequence;
            if (rate > 0)
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        written = sequence;
        writing = false;
    });

    long long received = 0, outOfOrder = 0, next = 0;
    std::vector<long long> lags;
    auto lastArrival = start;
    if (receiver) {
        // Until the writing ended and nothing came for 2 s.
        for (;;) {
            auto entry = receiver->Receive(std::chrono::milliseconds(2000));
            if (!entry) {
                if (!writing)
                    break;
                continue;
            }
            lastArrival = Clock::now();
            const std::string path = testing_support::Field(*entry, "ZEL_PATH");
            long long sequence = -1, writtenNs = 0;
            if (std::sscanf(path.c_str(), "/p/%lld/%lld", &sequence, &writtenNs) != 2)
                continue;
            outOfOrder += sequence != next;
            next = sequence + 1;
            ++received;
            lags.push_back(NowNs() - writtenNs);
        }
    }
    writer.join();
    if (!receiver)
        std::this_thread::sleep_for(std::chrono::seconds(5));
    // zelconn's processor time over the whole run, from the kernel's count.
    double cpuSeconds = -1;
    if (FILE* stat = std::fopen(("/proc/" + std::to_string(child) + "/stat").c_str(), "r")) {
        char text[1024] {};
        const size_t n = std::fread(text, 1, sizeof text - 1, stat);
        std::fclose(stat);
        const char* after = std::strrchr(text, ')');
        unsigned long user = 0, kernel = 0;
        if (n > 0 && after
            && std::sscanf(after + 2, "%*c %*d %*d %*d %*d %*d %*u %*u %*u %*u %*u %lu %lu", &user, &kernel) == 2)
            cpuSeconds = static_cast<double>(user + kernel) / static_cast<double>(::sysconf(_SC_CLK_TCK));
    }
    ::kill(child, SIGTERM);
    int status = 0;
    ::waitpid(child, &status, 0);
    const double writeSeconds = seconds;
    std::printf("written: %lld records in %.1f s (%.0f a second)\n", written.load(), writeSeconds,
                static_cast<double>(written.load()) / writeSeconds);
    std::printf("zelconn: %.2f s of processor time\n", cpuSeconds);
    if (receiver) {
        std::sort(lags.begin(), lags.end());
        const auto at = [&](double q) { return lags.empty() ? 0.0 : static_cast<double>(lags[static_cast<size_t>(q * static_cast<double>(lags.size() - 1))]) / 1e6; };
        const double span = std::chrono::duration<double>(lastArrival - start).count();
        std::printf("received: %lld (%lld lost, %lld out of order) in %.1f s: %.0f a second\n", received,
                    written.load() - received, outOfOrder, span, static_cast<double>(received) / span);
        std::printf("behind the writing: median %.1f ms, 99th percentile %.1f ms, most %.1f ms\n", at(0.5), at(0.99), at(1.0));
        std::printf("malformed: %d\n", receiver->Malformed());
    }
    std::string remove = "rm -rf '" + root + "'";
    return std::system(remove.c_str()) == 0 ? 0 : 1;
}
