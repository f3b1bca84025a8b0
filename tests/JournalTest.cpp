// The day's log records handed to the journal: the fields of each record,
// hostile texts byte for byte, nothing lost or sent twice while the journal
// is slow or away, the day's change, a truncated or replaced file, and the
// interceptor's process doing it with the option on, 10,000 records whole.
#include "tests/ChildProcess.h"
#include "tests/JournalReceiver.h"
#include "tests/Sandbox.h"

#include "os/Clock.h"
#include "protocol/LogFiles.h"
#include "protocol/SharedBlock.h"
#include "protocol/TrafficLog.h"
#include "text/Strings.h"
#include "zelconn/JournalEntry.h"
#include "zelconn/JournalForwarder.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <thread>
#include <unistd.h>

using namespace zelconn;

namespace {

using namespace std::chrono_literals;
using testing_support::ChildProcess;
using testing_support::Field;
using testing_support::JournalReceiver;
using testing_support::Sandbox;
using Entry = JournalReceiver::Entry;

std::time_t At(int year, int month, int day, int hour, int minute, int second)
{
    std::tm local {};
    local.tm_year = year - 1900;
    local.tm_mon = month - 1;
    local.tm_mday = day;
    local.tm_hour = hour;
    local.tm_min = minute;
    local.tm_sec = second;
    local.tm_isdst = -1;
    return std::mktime(&local);
}

const std::time_t kDay1 = At(2026, 12, 9, 12, 0, 0);
const std::time_t kDay1Late = At(2026, 12, 9, 23, 59, 59);
const std::time_t kDay2 = At(2026, 12, 10, 0, 0, 1);

// The body of a connection record as the engine writes it.
std::string Body(const std::string& path, const std::string& application = "PROGRAM", int permission = 1,
                 const char* host = nullptr, int direction = 1, int protocol = 1)
{
    const std::string head = protocol::ConnectionRecordHead(text::EscapeLogText(path), text::EscapeLogText(application));
    const protocol::ConnectionRecord record {&head, protocol, direction, "192.0.2.7", 40000, 443, permission, false, host};
    protocol::RecordText body;
    protocol::FormatConnectionBody(record, body);
    return std::string(body.View());
}

// A whole line as it stands in the file.
std::string Line(const std::string& body) { return "<DATE>09.12.2026</DATE><TIME>12:00:00</TIME>" + body + "\r\n"; }

void Append(const std::string& path, const std::string& text)
{
    const int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600);
    ASSERT_GE(fd, 0) << path;
    ASSERT_EQ(::write(fd, text.data(), text.size()), static_cast<ssize_t>(text.size()));
    ::close(fd);
}

class Journal : public ::testing::Test {
protected:
    Sandbox sandbox;
    JournalReceiver receiver {sandbox.root + "/journal.sock"};
    JournalForwarder forwarder {sandbox.root + "/journal.sock"};

    std::string DayFile(std::time_t when) const { return protocol::TrafficLogFileName(sandbox.logs, when); }

    // Forwards and receives until count entries came (or 10 s passed), then
    // looks 100 ms more for any entry too many.
    std::vector<Entry> Pump(size_t count, std::time_t now)
    {
        std::vector<Entry> entries;
        const auto deadline = std::chrono::steady_clock::now() + 10s;
        while (entries.size() < count && std::chrono::steady_clock::now() < deadline) {
            const bool more = forwarder.Forward(now);
            const size_t before = entries.size();
            while (auto entry = receiver.Receive(0ms))
                entries.push_back(std::move(*entry));
            if (entries.size() == before && !more)
                if (auto entry = receiver.Receive(20ms))
                    entries.push_back(std::move(*entry));
        }
        forwarder.Forward(now);
        while (auto entry = receiver.Receive(100ms))
            entries.push_back(std::move(*entry));
        return entries;
    }

    static std::vector<std::string> Paths(const std::vector<Entry>& entries)
    {
        std::vector<std::string> paths;
        for (const Entry& entry : entries)
            paths.push_back(Field(entry, "ZEL_PATH"));
        return paths;
    }
};
using AttackJournal = Journal;

TEST_F(Journal, EachRecordBecomesAnEntryWithItsFields)
{
    ASSERT_TRUE(receiver.Bound());
    forwarder.Configure(true, sandbox.logs, kDay1);
    const protocol::TrafficLog log(sandbox.logs);
    log.AppendLogRecord(Body("/usr/bin/curl", "CURL", 0, "example.org"), kDay1);
    log.AppendLogRecord(Body("/usr/sbin/sshd", "SSHD", 1, nullptr, 0, 2), kDay1);
    log.AppendLogRecord(Body("/usr/local/bin/static", "static", 0) + "<BACKSTOP>1</BACKSTOP>", kDay1);
    log.AppendLogRecord(Body("/usr/bin/wget", "WGET", 0) + "<REASON>no answer</REASON><FUTURE>x</FUTURE>", kDay1);
    log.AppendLogRecord(protocol::CarrierEventBody(protocol::kApplicationStartTag, "/usr/bin/curl"), kDay1);
    log.AppendLogRecord(protocol::CarrierEventBody(protocol::kApplicationEndTag, "/usr/bin/curl"), kDay1);
    const std::vector<Entry> entries = Pump(6, kDay1);
    ASSERT_EQ(entries.size(), 6u);

    struct Expected {
        const char* name;
        std::vector<std::string> values; // one per entry; "<none>" where the field is absent
    };
    const Expected table[] = {
        {"SYSLOG_IDENTIFIER", {"tessary", "tessary", "tessary", "tessary", "tessary", "tessary"}},
        {"ZEL_EVENT", {"connection", "connection", "connection", "connection", "program-start", "program-end"}},
        {"ZEL_PATH", {"/usr/bin/curl", "/usr/sbin/sshd", "/usr/local/bin/static", "/usr/bin/wget", "/usr/bin/curl",
                      "/usr/bin/curl"}},
        {"ZEL_PROGRAM", {"CURL", "SSHD", "static", "WGET", "<none>", "<none>"}},
        {"ZEL_PEER", {"192.0.2.7", "192.0.2.7", "192.0.2.7", "192.0.2.7", "<none>", "<none>"}},
        {"ZEL_PORT", {"443", "443", "443", "443", "<none>", "<none>"}},
        {"ZEL_LOCAL_PORT", {"40000", "40000", "40000", "40000", "<none>", "<none>"}},
        {"ZEL_DIRECTION", {"outgoing", "incoming", "outgoing", "outgoing", "<none>", "<none>"}},
        {"ZEL_PROTOCOL", {"tcp", "udp", "tcp", "tcp", "<none>", "<none>"}},
        {"ZEL_VERDICT", {"denied", "permitted", "denied", "denied", "<none>", "<none>"}},
        {"ZEL_HOST", {"example.org", "<none>", "<none>", "<none>", "<none>", "<none>"}},
        {"ZEL_REASON", {"<none>", "<none>", "backstop", "no answer", "<none>", "<none>"}},
        {"ZEL_FUTURE", {"<none>", "<none>", "<none>", "x", "<none>", "<none>"}},
        {"PRIORITY", {"5", "6", "5", "5", "6", "6"}},
        {"MESSAGE", {"denied outgoing TCP connection of /usr/bin/curl to 192.0.2.7 port 443 (example.org)",
                     "permitted incoming UDP connection of /usr/sbin/sshd from 192.0.2.7 port 443",
                     "denied outgoing TCP connection of /usr/local/bin/static to 192.0.2.7 port 443, by the kernel backstop",
                     "denied outgoing TCP connection of /usr/bin/wget to 192.0.2.7 port 443, by the no answer",
                     "program started: /usr/bin/curl", "program ended: /usr/bin/curl"}},
    };
    for (const Expected& expected : table)
        for (size_t i = 0; i < entries.size(); ++i)
            EXPECT_EQ(Field(entries[i], expected.name), expected.values[i]) << expected.name << " of entry " << i;
    EXPECT_EQ(Field(entries[0], "MESSAGE_ID"), journal_entry::kConnectionMessageId);
    EXPECT_EQ(Field(entries[4], "MESSAGE_ID"), journal_entry::kProgramMessageId);
    EXPECT_EQ(receiver.Malformed(), 0);
}

TEST_F(AttackJournal, HostileTextsArriveByteForByte)
{
    const std::vector<std::string> paths = {
        "/tmp/new\nline",
        "/tmp/a=b=c",
        "=\n=",
        std::string("/tmp/\xff\xfe not UTF-8 \xc3"),
        "/tmp/<EXEPATH>forged</EXEPATH>&amp;",
        "/tmp/tab\there\r",
        std::string("/tmp/nul\0inside", 15),
        "/tmp/\x1b[31mred",
    };
    forwarder.Configure(true, sandbox.logs, kDay1);
    const protocol::TrafficLog log(sandbox.logs);
    for (const std::string& path : paths)
        log.AppendLogRecord(Body(path, "desc\nof " + path), kDay1);
    const std::vector<Entry> entries = Pump(paths.size(), kDay1);
    ASSERT_EQ(entries.size(), paths.size());
    for (size_t i = 0; i < paths.size(); ++i) {
        EXPECT_EQ(Field(entries[i], "ZEL_PATH"), paths[i]) << i;
        EXPECT_EQ(Field(entries[i], "ZEL_PROGRAM"), "desc\nof " + paths[i]) << i;
        EXPECT_NE(Field(entries[i], "MESSAGE").find(paths[i]), std::string::npos) << i;
        // Nothing in a text makes a field of its own.
        EXPECT_EQ(entries[i].count("ZEL_PATH"), 1u);
        EXPECT_EQ(entries[i].size(), entries[0].size()) << i;
    }
    EXPECT_EQ(receiver.Malformed(), 0);
}

TEST_F(Journal, ASlowJournalLosesNothingAndGetsNothingTwice)
{
    // The journal reads nothing for a while: its queue fills, and the
    // records wait in the file.
    forwarder.Configure(true, sandbox.logs, kDay1);
    const protocol::TrafficLog log(sandbox.logs);
    constexpr int kRecords = 3000;
    for (int i = 0; i < kRecords; ++i)
        log.AppendLogRecord(Body("/p/" + std::to_string(i)), kDay1);
    for (int turn = 0; turn < 5; ++turn)
        forwarder.Forward(kDay1);
    EXPECT_GE(forwarder.BlockedFd(), 0) << "the journal's queue never filled";
    EXPECT_LT(forwarder.Totals().sent, static_cast<uint64_t>(kRecords));
    const std::vector<Entry> entries = Pump(kRecords, kDay1);
    ASSERT_EQ(entries.size(), static_cast<size_t>(kRecords));
    for (int i = 0; i < kRecords; ++i)
        ASSERT_EQ(Field(entries[static_cast<size_t>(i)], "ZEL_PATH"), "/p/" + std::to_string(i));
    EXPECT_EQ(forwarder.Totals().sent, static_cast<uint64_t>(kRecords));
}

TEST_F(Journal, AJournalThatIsAwayGetsTheRecordsWhenItComes)
{
    os::ManualTime time;
    const std::string elsewhere = sandbox.root + "/later.sock";
    JournalForwarder waiting(elsewhere);
    waiting.Configure(true, sandbox.logs, kDay1);
    const protocol::TrafficLog log(sandbox.logs);
    log.AppendLogRecord(Body("/p/before"), kDay1);
    EXPECT_FALSE(waiting.Forward(kDay1));
    JournalReceiver later(elsewhere);
    log.AppendLogRecord(Body("/p/after"), kDay1);
    // Looked for again only once its retry is due.
    time.Advance(JournalForwarder::kAbsentRetry - 1ms);
    waiting.Forward(kDay1);
    EXPECT_FALSE(later.Receive(0ms));
    time.Advance(1ms);
    std::vector<std::string> paths;
    for (int i = 0; i < 60 && paths.size() < 2; ++i) {
        waiting.Forward(kDay1);
        while (auto entry = later.Receive(50ms))
            paths.push_back(Field(*entry, "ZEL_PATH"));
    }
    EXPECT_EQ(paths, (std::vector<std::string> {"/p/before", "/p/after"}));
    EXPECT_FALSE(later.Receive(100ms));
}

TEST_F(Journal, WhatTheFileHeldBeforeIsNotSentNorALineHalfWritten)
{
    const std::string file = DayFile(kDay1);
    Append(file, Line(Body("/p/old")));
    // A record being written when following begins: its rest is not one.
    const std::string half = Line(Body("/p/half"));
    Append(file, half.substr(0, 40));
    forwarder.Configure(true, sandbox.logs, kDay1);
    Append(file, half.substr(40));
    Append(file, Line(Body("/p/new")));
    // Lines that are no records: one blanked out after a full disk, a foreign one.
    Append(file, std::string(60, ' ') + "\r\n" + "not a record\r\n");
    Append(file, Line(Body("/p/last")));
    EXPECT_EQ(Paths(Pump(2, kDay1)), (std::vector<std::string> {"/p/new", "/p/last"}));
    EXPECT_EQ(forwarder.Totals().notRecords, 2u);
}

TEST_F(Journal, FollowsTheDaysChangeAndLateRecordsOfTheDayBefore)
{
    forwarder.Configure(true, sandbox.logs, kDay1);
    const protocol::TrafficLog log(sandbox.logs);
    log.AppendLogRecord(Body("/p/day1"), kDay1Late);
    EXPECT_EQ(Paths(Pump(1, kDay1Late)), (std::vector<std::string> {"/p/day1"}));
    // Midnight: the new day's file from its start; a record stamped before
    // midnight and written after it still counts.
    log.AppendLogRecord(Body("/p/day2"), kDay2);
    Append(DayFile(kDay1Late), Line(Body("/p/late")));
    EXPECT_EQ(Paths(Pump(2, kDay2)), (std::vector<std::string> {"/p/late", "/p/day2"}));
    log.AppendLogRecord(Body("/p/day2-next"), kDay2);
    EXPECT_EQ(Paths(Pump(1, kDay2)), (std::vector<std::string> {"/p/day2-next"}));
}

TEST_F(Journal, FollowsATruncatedOrReplacedFileWithoutSendingAgain)
{
    const std::string file = DayFile(kDay1);
    forwarder.Configure(true, sandbox.logs, kDay1);
    Append(file, Line(Body("/p/a")) + Line(Body("/p/b")));
    EXPECT_EQ(Paths(Pump(2, kDay1)), (std::vector<std::string> {"/p/a", "/p/b"}));
    ASSERT_EQ(::truncate(file.c_str(), 0), 0);
    Append(file, Line(Body("/p/c")));
    EXPECT_EQ(Paths(Pump(1, kDay1)), (std::vector<std::string> {"/p/c"}));
    // Replaced: a record written to the old file before it went, then the new one's.
    const std::string replacement = sandbox.root + "/replacement.log";
    Append(replacement, Line(Body("/p/d")));
    const int old = ::open(file.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
    ASSERT_GE(old, 0);
    ASSERT_EQ(::rename(replacement.c_str(), file.c_str()), 0);
    const std::string late = Line(Body("/p/old-file"));
    ASSERT_EQ(::write(old, late.data(), late.size()), static_cast<ssize_t>(late.size()));
    ::close(old);
    Append(file, Line(Body("/p/e")));
    EXPECT_EQ(Paths(Pump(3, kDay1)), (std::vector<std::string> {"/p/old-file", "/p/d", "/p/e"}));
}

TEST_F(Journal, AnEntryTooBigForADatagramGoesAsAMemoryFile)
{
    forwarder.Configure(true, sandbox.logs, kDay1);
    // Bigger than the socket's buffer by default (wmem_default).
    const std::string description(2 << 20, 'x');
    const protocol::TrafficLog log(sandbox.logs);
    log.AppendLogRecord(Body("/p/big", description), kDay1);
    log.AppendLogRecord(Body("/p/small"), kDay1);
    const std::vector<Entry> entries = Pump(2, kDay1);
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(Field(entries[0], "ZEL_PROGRAM"), description);
    EXPECT_EQ(Field(entries[1], "ZEL_PATH"), "/p/small");
    EXPECT_EQ(receiver.FileEntries(), 1);
}

TEST_F(Journal, OffSendsNothingAndOnAgainStartsFromThen)
{
    forwarder.Configure(true, sandbox.logs, kDay1);
    const protocol::TrafficLog log(sandbox.logs);
    log.AppendLogRecord(Body("/p/on"), kDay1);
    EXPECT_EQ(Paths(Pump(1, kDay1)), (std::vector<std::string> {"/p/on"}));
    forwarder.Configure(false, sandbox.logs, kDay1);
    EXPECT_EQ(forwarder.WatchFd(), -1);
    log.AppendLogRecord(Body("/p/off"), kDay1);
    EXPECT_FALSE(forwarder.Forward(kDay1));
    EXPECT_FALSE(receiver.Receive(100ms));
    forwarder.Configure(true, sandbox.logs, kDay1);
    log.AppendLogRecord(Body("/p/on-again"), kDay1);
    EXPECT_EQ(Paths(Pump(1, kDay1)), (std::vector<std::string> {"/p/on-again"}));
}

// The interceptor's process with the option on: the records the engines
// write reach the journal, all of them, in order, and stop with the option.
TEST(JournalFromTheInterceptor, TenThousandRecordsSentWhole)
{
    Sandbox sandbox;
    sandbox.SetSetting("JournalRecords", "1");
    JournalReceiver receiver(sandbox.root + "/journal.sock");
    ChildProcess zelconn({ZELCONN}, {{"ZEL_JOURNAL_SOCKET", receiver.Path()}});
    const protocol::TrafficLog log(sandbox.logs);
    // Following starts with the process: a record written until one comes through.
    bool following = false;
    for (int i = 0; i < 100 && !following; ++i) {
        log.AppendLogRecord(Body("/p/probe"), std::time(nullptr));
        following = receiver.Receive(100ms).has_value();
    }
    ASSERT_TRUE(following) << "zelconn sent nothing to the journal";
    while (receiver.Receive(200ms)) {
    }

    constexpr int kRecords = 10000;
    std::thread writer([&] {
        for (int i = 0; i < kRecords; ++i)
            log.AppendLogRecord(Body("/p/" + std::to_string(i), "P", i % 2, i % 3 ? "host.example" : nullptr),
                                std::time(nullptr));
    });
    std::vector<Entry> entries;
    const auto deadline = std::chrono::steady_clock::now() + 60s;
    while (entries.size() < static_cast<size_t>(kRecords) && std::chrono::steady_clock::now() < deadline)
        if (auto entry = receiver.Receive(500ms))
            entries.push_back(std::move(*entry));
    writer.join();
    ASSERT_EQ(entries.size(), static_cast<size_t>(kRecords));
    for (int i = 0; i < kRecords; ++i) {
        const Entry& entry = entries[static_cast<size_t>(i)];
        ASSERT_EQ(Field(entry, "ZEL_PATH"), "/p/" + std::to_string(i));
        ASSERT_EQ(Field(entry, "ZEL_VERDICT"), i % 2 ? "permitted" : "denied");
        ASSERT_EQ(Field(entry, "ZEL_HOST"), i % 3 ? "host.example" : "<none>");
    }
    EXPECT_EQ(receiver.Malformed(), 0);
    EXPECT_FALSE(receiver.Receive(200ms)) << "more entries than records";

    // Switched off: within a second nothing more goes; a record written
    // after the next one has come through shows that.
    sandbox.SetSetting("JournalRecords", "0");
    // Fixed: zelconn, another process on its own clock, looks at the setting once a second.
    std::this_thread::sleep_for(1500ms);
    log.AppendLogRecord(Body("/p/while-off"), std::time(nullptr));
    EXPECT_FALSE(receiver.Receive(500ms));
    sandbox.SetSetting("JournalRecords", "1");
    std::optional<Entry> next;
    for (int i = 0; i < 50 && !next; ++i) {
        log.AppendLogRecord(Body("/p/on-again"), std::time(nullptr));
        next = receiver.Receive(100ms);
    }
    ASSERT_TRUE(next);
    EXPECT_EQ(Field(*next, "ZEL_PATH"), "/p/on-again");
}

}  // namespace
