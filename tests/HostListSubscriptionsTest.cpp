// Host lists subscribed to: fetched from a file or from a page server of
// the test's own on 127.0.0.2, compiled into the shared file and read back
// through its mapped reader; a download that fails or does not read as a
// list keeps what the list had; hostile servers, sources and names.
#include "os/Clock.h"
#include "panel/core/HostListRefusals.h"
#include "panel/core/HostListSubscriptions.h"
#include "protocol/LogFiles.h"
#include "rules/HostListCompiler.h"
#include "rules/hooksafe/HostListView.h"
#include "tests/Sandbox.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fstream>
#include <functional>
#include <memory>
#include <mutex>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace {

using testing_support::ReadText;
using testing_support::Sandbox;
using testing_support::WriteText;
using Clock = std::chrono::steady_clock;

std::string Reply(const std::string& status, const std::string& body, const std::string& headers = "")
{
    return "HTTP/1.1 " + status + "\r\nContent-Length: " + std::to_string(body.size()) + "\r\nConnection: close\r\n"
        + headers + "\r\n" + body;
}

// Serves each connection one answer on 127.0.0.2, then closes it. An
// answer is the whole response; kStream sends headers without a length and
// then the body for ever (fast, or a line every 100 ms with kTrickle) until
// the client goes or the server ends.
class PageServer {
public:
    static constexpr const char* kStream = "stream";
    static constexpr const char* kTrickle = "trickle";
    using Answer = std::function<std::string(const std::string& request)>;

    explicit PageServer(Answer answer) : answer_(std::move(answer))
    {
        listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address {};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(0x7f000002);
        socklen_t length = sizeof address;
        if (::bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || ::listen(listener_, 8) != 0
            || ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length) != 0)
            ADD_FAILURE() << "no server on 127.0.0.2: " << std::strerror(errno);
        port_ = ntohs(address.sin_port);
        thread_ = std::thread([this] { Serve(); });
    }
    ~PageServer()
    {
        const uint64_t one = 1;
        (void)!::write(stop_, &one, sizeof one);
        thread_.join();
        ::close(listener_);
        ::close(stop_);
    }

    std::string Url(const std::string& path) const { return "http://127.0.0.2:" + std::to_string(port_) + path; }
    std::string LastRequest() const
    {
        std::lock_guard lock(mutex_);
        return lastRequest_;
    }

private:
    // Waits for fd (or the end) at most ms; true when fd is ready.
    bool Wait(int fd, short events, int ms) const
    {
        pollfd fds[2] = {{fd, events, 0}, {stop_, POLLIN, 0}};
        return ::poll(fds, 2, ms) > 0 && !(fds[1].revents & POLLIN) && fds[0].revents;
    }

    void Serve()
    {
        // Bounded: a test makes a few requests, each within seconds.
        for (int served = 0; served < 100 && Wait(listener_, POLLIN, 60'000); ++served) {
            const int client = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
            if (client < 0)
                continue;
            std::string request;
            char buffer[4096];
            while (request.find("\r\n\r\n") == std::string::npos && request.size() < 65536 && Wait(client, POLLIN, 5000)) {
                const ssize_t n = ::recv(client, buffer, sizeof buffer, 0);
                if (n <= 0)
                    break;
                request.append(buffer, size_t(n));
            }
            {
                std::lock_guard lock(mutex_);
                lastRequest_ = request;
            }
            const std::string answer = answer_(request);
            if (answer == kStream || answer == kTrickle)
                Stream(client, answer == kTrickle);
            else
                Send(client, answer);
            ::close(client);
        }
    }

    bool Send(int client, std::string_view bytes) const
    {
        while (!bytes.empty() && Wait(client, POLLOUT, 5000)) {
            const ssize_t n = ::send(client, bytes.data(), bytes.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
            if (n < 0 && errno != EAGAIN)
                return false;
            bytes.remove_prefix(n > 0 ? size_t(n) : 0);
        }
        return bytes.empty();
    }

    void Stream(int client, bool trickle) const
    {
        if (!Send(client, "HTTP/1.1 200 OK\r\nConnection: close\r\n\r\n"))
            return;
        std::string chunk;
        for (int i = 0; i < (trickle ? 1 : 4096); ++i)
            chunk += "0.0.0.0 endless" + std::to_string(i) + ".example\n";
        // At most 30 s of trickle or a few GB of stream: far past every bound.
        for (int i = 0; i < 300'000 && Send(client, chunk); ++i)
            if (trickle && Wait(stop_, POLLIN, 100))
                return;
    }

    Answer answer_;
    int listener_ = -1;
    int stop_ = ::eventfd(0, EFD_CLOEXEC);
    uint16_t port_ = 0;
    std::thread thread_;
    mutable std::mutex mutex_;
    std::string lastRequest_;
};

// Downloads from the test's own address, never 127.0.0.1, and never
// through a proxy the caller's environment names.
panel::DownloadLimits TestLimits()
{
    ::setenv("no_proxy", "*", 1);
    panel::DownloadLimits limits;
    limits.localAddress = "127.0.0.3";
    limits.connectMs = 5000;
    limits.totalMs = 60'000;
    return limits;
}

uint64_t Listed(std::string_view name)
{
    rules::HostListView view;
    EXPECT_EQ(view.Load(rules::HostListFilePath().c_str()), rules::HostListLoad::kLoaded);
    return view.Name(name.data(), name.size());
}

double SecondsSince(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

}  // namespace

TEST(HostListSubscriptions, AMillionNamesFromAFileAndFromAnAddressAreListed)
{
    Sandbox sandbox;
    std::string text = "# a hosts file\n127.0.0.1 localhost\n";
    text.reserve(32u << 20);
    for (int i = 0; i < 1'000'000; ++i)
        text += "0.0.0.0 h" + std::to_string(i) + ".d" + std::to_string(i % 1000) + ".example\n";
    const std::string file = sandbox.root + "/hosts.txt";
    WriteText(file, text);
    PageServer server([&](const std::string&) { return Reply("200 OK", text, "ETag: \"v1\"\r\n"); });

    panel::HostListSubscriptions lists(TestLimits());
    auto start = Clock::now();
    const panel::HostListOutcome fromFile = lists.Add("From file", file);
    ASSERT_TRUE(fromFile) << fromFile.error;
    const double addFile = SecondsSince(start);
    start = Clock::now();
    const panel::HostListOutcome web = lists.Add("From web", server.Url("/hosts.txt"));
    ASSERT_TRUE(web) << web.error;
    const double addWeb = SecondsSince(start);
    start = Clock::now();
    ASSERT_TRUE(lists.Compile());
    const double compileBoth = SecondsSince(start);
    std::printf("1,000,000 names: added from a file in %.2f s, from an address in %.2f s; both compiled again in %.2f s\n",
                addFile, addWeb, compileBoth);
    RecordProperty("add_file_seconds", std::to_string(addFile));

    const auto all = lists.All();
    ASSERT_EQ(all.size(), 2u);
    for (const auto& list : all) {
        EXPECT_EQ(list.entries, 1'000'000u) << list.name;
        EXPECT_EQ(list.error, "") << list.name;
        EXPECT_NE(list.updated, 0) << list.name;
    }
    EXPECT_EQ(all[1].etag, "\"v1\"");
    EXPECT_EQ(all[0].source, file);
    const uint64_t bits = (1ull << all[0].bit) | (1ull << all[1].bit);
    EXPECT_EQ(Listed("h654321.d321.example"), bits);
    EXPECT_EQ(Listed("H999999.D999.EXAMPLE."), bits);
    EXPECT_EQ(Listed("h1000000.d0.example"), 0u);
    EXPECT_EQ(Listed("localhost"), 0u);

    ASSERT_TRUE(lists.Remove("FROM WEB"));
    EXPECT_EQ(Listed("h654321.d321.example"), 1ull << all[0].bit);
    EXPECT_FALSE(lists.Find("from web"));
    EXPECT_NE(::access(panel::HostListSubscriptions::TextPath("From web").c_str(), F_OK), 0);
}

// A list fetched well, then a second fetch that goes wrong or brings
// nothing new: the list keeps its entries and its text, the error is kept.
TEST(HostListSubscriptions, AFailedOrMalformedUpdateKeepsTheList)
{
    const std::string good = "0.0.0.0 kept.example\n||below.example^\n";
    const struct {
        const char* name;
        std::string second; // the server's second answer; empty: the server is gone
        const char* error;  // a part of the error kept; empty: none
        const char* asked;  // a part of the second request
    } cases[] = {
        {"gone", "", "connect", ""},
        {"500", Reply("500 Internal Server Error", "oops"), "HTTP 500", ""},
        {"junk", Reply("200 OK", std::string("\x7f" "ELF\0\0\x01\x02\xff\xfe", 10)), "not text", ""},
        {"empty", Reply("200 OK", ""), "the list is empty", ""},
        {"page", Reply("200 OK", "<html>\n<body>\nNot found\n</body>\n</html>\n"), "holds no host names", ""},
        {"mostly junk", Reply("200 OK", "a.example\n<p>\n<b>\n"), "does not read as a host list", ""},
        {"not modified", "HTTP/1.1 304 Not Modified\r\nConnection: close\r\n\r\n", "", "If-None-Match: \"v1\""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Sandbox sandbox;
        os::ManualTime clock;
        std::atomic<int> requests = 0;
        auto server = std::make_unique<PageServer>([&](const std::string&) {
            return requests++ == 0 ? Reply("200 OK", good, "ETag: \"v1\"\r\nLast-Modified: Tue, 01 Dec 2026 10:00:00 GMT\r\n")
                                   : c.second;
        });
        panel::HostListSubscriptions lists(TestLimits());
        ASSERT_TRUE(lists.Add("Ads", server->Url("/ads")));
        const auto before = *lists.Find("Ads");
        const std::string url = server->Url("/ads");
        if (c.second.empty())
            server.reset();
        const panel::HostListOutcome outcome = lists.Update("ads");
        const auto after = *lists.Find("Ads");
        EXPECT_NE(outcome.error.find(c.error), std::string::npos) << outcome.error;
        EXPECT_EQ(after.error, outcome.error);
        EXPECT_EQ(bool(outcome), *c.error == '\0');
        EXPECT_EQ(after.entries, 2u);
        EXPECT_EQ(after.etag, "\"v1\"");
        EXPECT_EQ(ReadText(panel::HostListSubscriptions::TextPath("Ads")), good);
        EXPECT_EQ(Listed("kept.example"), 1u);
        EXPECT_EQ(Listed("x.below.example"), 1u);
        if (server) {
            EXPECT_NE(server->LastRequest().find(c.asked), std::string::npos) << server->LastRequest();
        }
        // Only a good fetch (a 304 too) moves the time of the last update.
        if (*c.error) {
            EXPECT_EQ(after.updated, before.updated);
        }
        // Not due within a day of its last good fetch; then due, and a
        // failed list stays due until a fetch goes well.
        std::vector<std::string> updated;
        EXPECT_TRUE(lists.UpdateDue(&updated));
        EXPECT_EQ(updated.size(), 0u);
        for (int day = 1; day <= 2; ++day) {
            clock.Advance(std::chrono::hours(25));
            EXPECT_EQ(bool(lists.UpdateDue(&updated)), *c.error == '\0');
            EXPECT_EQ(updated.size(), *c.error ? 0u : size_t(day));
        }
    }
}

// A redirect may lead only to http and https: not to a file of the user's,
// not to another protocol's server. Nothing is kept of such a list.
TEST(AttackHostListSubscriptions, RedirectsLeadOnlyToHttpAndHttps)
{
    for (const char* target : {"file:///etc/passwd", "ftp://127.0.0.2/hosts", "gopher://127.0.0.2:70/1", "dict://127.0.0.2/x",
                               "scp://127.0.0.2/etc/hosts"}) {
        SCOPED_TRACE(target);
        Sandbox sandbox;
        PageServer server([&](const std::string&) {
            return Reply("302 Found", "", std::string("Location: ") + target + "\r\n");
        });
        panel::HostListSubscriptions lists(TestLimits());
        const panel::HostListOutcome outcome = lists.Add("Ads", server.Url("/ads"));
        EXPECT_NE(outcome.error.find("other than http or https"), std::string::npos) << outcome.error;
        EXPECT_FALSE(lists.Find("Ads"));
        EXPECT_NE(::access(panel::HostListSubscriptions::TextPath("Ads").c_str(), F_OK), 0);
    }
}

// A server that never stops sending, fast or slowly, announces a huge body
// or packs one small: the download ends at its bound, and in its time.
TEST(AttackHostListSubscriptions, AHugeOrEndlessBodyIsCutOff)
{
    // 64 MB of lines sent as 100 KB of gzip: the bound is on what it unpacks to.
    Sandbox sandbox;
    std::string lines;
    for (int i = 0; i < (64 << 20) / 32; ++i)
        lines += "0.0.0.0 aaaaaaaaaaaa.example.org\n";
    WriteText(sandbox.root + "/lines", lines);
    std::string packed;
    if (FILE* gzip = ::popen(("gzip -c " + sandbox.root + "/lines").c_str(), "r")) {
        char buffer[65536];
        for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, gzip)) > 0;)
            packed.append(buffer, n);
        ASSERT_EQ(::pclose(gzip), 0);
    }
    ASSERT_LT(packed.size(), 1u << 20);
    const struct {
        const char* name;
        std::string answer;
        const char* error;
    } cases[] = {
        {"endless", PageServer::kStream, "larger than 1 MB"},
        {"announced", "HTTP/1.1 200 OK\r\nContent-Length: 99999999999\r\n\r\n0.0.0.0 a.example\n", "larger than 1 MB"},
        {"trickle", PageServer::kTrickle, "no answer in time"},
        {"packed", Reply("200 OK", packed, "Content-Encoding: gzip\r\n"), "larger than 1 MB"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        PageServer server([&](const std::string&) { return c.answer; });
        panel::DownloadLimits limits = TestLimits();
        limits.maxBytes = 1u << 20;
        limits.totalMs = 1500;
        panel::HostListSubscriptions lists(limits);
        const auto start = Clock::now();
        const panel::HostListOutcome outcome = lists.Add("Ads", server.Url("/ads"));
        EXPECT_LT(SecondsSince(start), 10.0);
        EXPECT_NE(outcome.error.find(c.error), std::string::npos) << outcome.error;
        EXPECT_FALSE(lists.Find("Ads"));
    }
}

// A list's name becomes a value of the settings and a file of the lists'
// folder: no name leads out of either. Sources that would make a reader
// wait (a FIFO, a device) or read elsewhere (file://) are refused at once.
TEST(AttackHostListSubscriptions, NamesAndSourcesStayWhereTheyBelong)
{
    Sandbox sandbox;
    const std::string list = sandbox.root + "/hosts.txt";
    WriteText(list, "0.0.0.0 a.example\n");
    const std::string fifo = sandbox.root + "/fifo";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    panel::HostListSubscriptions lists(TestLimits());
    for (const char* name : {"../x", "../../../etc/hosts", "a/b", "/abs", "..", ".", ".hidden", "-rf", "", "new\nline",
                             "tab\tname", "name\\x", "Ümlaut", "a-name-of-more-than-sixty-two-characters-is-too-long-for-the-file"}) {
        SCOPED_TRACE(name);
        EXPECT_NE(panel::HostListNameProblem(name), "");
        EXPECT_FALSE(lists.Add(name, list));
        EXPECT_FALSE(lists.Remove(name));
        EXPECT_FALSE(lists.Update(name));
    }
    EXPECT_TRUE(lists.All().empty());
    EXPECT_EQ(testing_support::FolderEntries(sandbox.root + "/data/korvel/hostlists"), std::vector<std::string> {});
    const auto start = Clock::now();
    for (const std::string& source : {fifo, std::string("/dev/zero"), sandbox.root, "file://" + list, "FILE://" + list}) {
        SCOPED_TRACE(source);
        EXPECT_FALSE(lists.Add("Ads", source));
    }
    EXPECT_LT(SecondsSince(start), 5.0);
    EXPECT_TRUE(lists.All().empty());
    // The names the store takes.
    for (const char* name : {"Ads", "Steven Black 2", "a.b_c-d", "0"})
        EXPECT_EQ(panel::HostListNameProblem(name), "") << name;
}

// Today's log is the user's programs' to write: in place of the day's file
// a pipe or a link is not read (nor waited on), a line longer than a look is
// passed over, a flood of names keeps a bounded count, a replaced file starts over.
TEST(AttackHostListSubscriptions, AHostileDayLogNeitherHangsNorGrowsTheCounts)
{
    Sandbox sandbox;
    const std::time_t now = std::time(nullptr);
    const std::string day = protocol::TrafficLogFileName(sandbox.logs, now);
    const auto refused = [](const std::string& list) {
        return "<DATE>d</DATE><TIME>t</TIME><EXEPATH>/usr/bin/curl</EXEPATH><IP>192.0.2.7</IP>"
               "<PERMISSION>0</PERMISSION><REASON>list</REASON><LIST>" + list + "</LIST>\r\n";
    };
    panel::HostListRefusals counts(1024);
    const auto start = Clock::now();
    ASSERT_EQ(::mkfifo(day.c_str(), 0600), 0);
    counts.ReadOn(sandbox.logs, now);
    ::unlink(day.c_str());
    WriteText(sandbox.root + "/elsewhere", refused("Ads"));
    ASSERT_EQ(::symlink((sandbox.root + "/elsewhere").c_str(), day.c_str()), 0);
    counts.ReadOn(sandbox.logs, now);
    EXPECT_EQ(counts.Today("Ads"), 0u);
    EXPECT_LT(SecondsSince(start), 2.0);
    ::unlink(day.c_str());

    WriteText(day, refused("Ads") + std::string(1500, 'x') + refused("Ads") + refused("../etc") + refused("Ads"));
    for (int look = 0; look < 4; ++look)
        counts.ReadOn(sandbox.logs, now);
    // The second record went with the endless line it follows.
    EXPECT_EQ(counts.Today("ads"), 2u);
    EXPECT_EQ(counts.Today("../etc"), 0u);

    std::string flood;
    for (int name = 0; name < 1000; ++name)
        flood += refused("n" + std::to_string(name));
    std::ofstream(day, std::ios::app) << flood << refused("Ads");
    for (int look = 0; look < 200; ++look)
        counts.ReadOn(sandbox.logs, now);
    EXPECT_EQ(counts.Today("Ads"), 3u);
    EXPECT_EQ(counts.Today("n0"), 1u);
    EXPECT_EQ(counts.Today("n999"), 0u);

    // Replaced by a file of the same size: read again from its start.
    const std::string text = ReadText(day);
    WriteText(day + ".new", std::string(text.size() - refused("Ads").size(), '\n') + refused("Ads"));
    ASSERT_EQ(::rename((day + ".new").c_str(), day.c_str()), 0);
    for (int look = 0; look < 200; ++look)
        counts.ReadOn(sandbox.logs, now);
    EXPECT_EQ(counts.Today("Ads"), 1u);
    EXPECT_EQ(counts.Today("n0"), 0u);
}

// A full disk: the list's text fits, the shared file compiled with it does
// not. The list is not added, and the lists already there stay as they were.
TEST(HostListSubscriptions, AListThatCannotBeKeptIsNotAdded)
{
    Sandbox sandbox;
    const std::string small = sandbox.root + "/small.txt";
    const std::string large = sandbox.root + "/large.txt";
    WriteText(small, "0.0.0.0 small.example\n");
    std::string text;
    for (int i = 0; i < 20'000; ++i)
        text += "0.0.0.0 n" + std::to_string(i) + ".example\n";
    WriteText(large, text);
    const int status = testing_support::WithTinyDisk(sandbox.root + "/data", "768k", [&] {
        panel::HostListSubscriptions lists;
        const bool first = bool(lists.Add("Small", small));
        const panel::HostListOutcome second = lists.Add("Large", large);
        return first && !second && second.error.find("cannot write") != std::string::npos && lists.All().size() == 1
            && !lists.Find("Large") && ::access(panel::HostListSubscriptions::TextPath("Large").c_str(), F_OK) != 0
            && Listed("small.example") == 1 && Listed("n1.example") == 0;
    });
    if (status == 77)
        GTEST_SKIP() << "no file system of the test's own";
    EXPECT_EQ(status, 0);
}
