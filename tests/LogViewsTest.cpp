#include "panel/core/LogReader.h"
#include "panel/core/RuleChecks.h"
#include "panel/core/SystemServices.h"

#include "backstop/ServicesRules.h"
#include "rules/DocumentReader.h"

#include "os/Files.h"
#include "protocol/LogFiles.h"
#include "protocol/RecordTime.h"
#include "tests/Sandbox.h"
#include "text/Strings.h"
#include "tools/log/Table.h"

#include <algorithm>
#include <cstdio>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

using panel::LogRow;
using testing_support::Sandbox;
using testing_support::WriteText;

namespace {

std::string Record(const std::string& path, const std::string& application, int direction, int permission,
                   int localPort, int remotePort, int service = 0, const std::string& ip = "10.0.0.7",
                   const std::string& time = "10:00:00")
{
    return "<DATE>08.12.2026</DATE><TIME>" + time + "</TIME><EXEPATH>" + text::EscapeLogText(path)
        + "</EXEPATH><APPLICATION>" + text::EscapeLogText(application) + "</APPLICATION><PROTOCOL>1</PROTOCOL>"
          "<DIRECTION>" + std::to_string(direction) + "</DIRECTION><IP>" + ip + "</IP><LOCALPORT>"
        + std::to_string(localPort) + "</LOCALPORT><REMOTEPORT>" + std::to_string(remotePort)
        + "</REMOTEPORT><PERMISSION>" + std::to_string(permission) + "</PERMISSION><SERVICE>" + std::to_string(service)
        + "</SERVICE>\r\n";
}

std::vector<std::string> Column(const std::vector<LogRow>& rows, std::string LogRow::*field)
{
    std::vector<std::string> values;
    for (const LogRow& row : rows)
        values.push_back(row.*field);
    return values;
}

// A log folder with today's file and one of an earlier day.
class LogViews : public ::testing::Test {
protected:
    void SetUp() override
    {
        today = protocol::TrafficLogFileName(sandbox.logs, std::time(nullptr));
        WriteText(protocol::TrafficLogFileName(sandbox.logs, std::time(nullptr) - 3 * 86400),
                  Record("/usr/bin/curl", "CURL", 1, 1, 0, 80));
        WriteText(today, Record("/usr/bin/curl", "CURL", 1, 0, 0, 8) + Record("/usr/bin/ssh", "SSH", 1, 2, 0, 22)
                             + "<DATE>08.12.2026</DATE><TIME>10:0" // cut short by a crash
                             + "\r\n\x01\x02 binary noise\r\n<FOREIGN>line</FOREIGN>\r\n"
                             + Record("/usr/sbin/sshd", "SSHD", 0, 0, 22, 40000)
                             + Record("/usr/lib/systemd/systemd", "SYSTEMD", 0, 0, 67, 68)
                             + Record("/opt/x/<b>tool</b>", "<i>Tool</i>", 0, 1, 8080, 5000, 1)
                             + "<DATE>d</DATE><TIME>t</TIME><APPLICATIONSTART>/usr/bin/curl</APPLICATIONSTART>\r\n");
        ports = panel::PortNames::FromText("http 80/tcp\r\nno number here\r\nssh 22\r\n");
    }
    std::vector<LogRow> View(const char* key, bool services = false, const std::string& servicesFolder = {},
                             const panel::LogFilter& filter = {})
    {
        return reader.FillLogView(sandbox.logs, key, services, ports, "SYSTEMD", filter, servicesFolder);
    }

    Sandbox sandbox;
    std::string today;
    panel::PortNames ports;
    panel::LogReader reader;
};

}  // namespace

TEST(LogPhrases, FieldsAreReadByTagWithTheirDisplayValues)
{
    const std::string line = Record("/usr/bin/a&b", "A", 0, 2, 22, 5000, 0);
    EXPECT_EQ(panel::GetPhrase(line, "protocol"), "TCP");
    EXPECT_EQ(panel::GetPhrase(line, "DIRECTION"), "Incoming");
    EXPECT_EQ(panel::GetPhrase(line, "PERMISSION"), "Ask");
    EXPECT_EQ(panel::GetPhrase(line, "EXEPATH"), "/usr/bin/a&b");
    EXPECT_EQ(panel::GetPhrase(line, "SERVICE"), "0");
    EXPECT_EQ(panel::GetPhrase("<SERVICE></SERVICE>", "SERVICE"), "0");
    EXPECT_EQ(panel::GetPhrase("<IP>10.0.0.1", "IP"), "");
    EXPECT_EQ(panel::GetPhrase(line, "NOTHING"), "");
}

TEST_F(LogViews, ViewsFilterByDirectionAndPermission)
{
    const auto deniedOut = View("Log4");
    // Permission 2 (asked and denied) is listed as denied; port 8 has no name.
    EXPECT_EQ(Column(deniedOut, &LogRow::application), (std::vector<std::string> {"SSH", "CURL"}));
    EXPECT_EQ(Column(deniedOut, &LogRow::port), (std::vector<std::string> {"22(ssh)", "8"}));
    EXPECT_EQ(Column(deniedOut, &LogRow::portNumber), (std::vector<std::string> {"22", "8"}));
    EXPECT_EQ(Column(deniedOut, &LogRow::number), (std::vector<std::string> {"     1", "     2"}));
    EXPECT_EQ(deniedOut[1].dateTime, "08.12.2026 10:00:00");
    EXPECT_EQ(deniedOut[1].path, "/usr/bin/curl");
    EXPECT_TRUE(deniedOut[1].outgoing);
    EXPECT_EQ(Column(View("Log2"), &LogRow::port), (std::vector<std::string> {"80(http)"}));
    // The service manager's program counts as a service, shown only on request.
    EXPECT_EQ(Column(View("Log3"), &LogRow::application), (std::vector<std::string> {"SSHD"}));
    EXPECT_EQ(Column(View("Log3", true), &LogRow::application), (std::vector<std::string> {"SYSTEMD", "SSHD"}));
    // Texts of a record stay texts.
    const auto permittedIn = View("Log1", true);
    ASSERT_EQ(permittedIn.size(), 1u);
    EXPECT_EQ(permittedIn[0].application, "<i>Tool</i>");
    EXPECT_EQ(permittedIn[0].path, "/opt/x/<b>tool</b>");
    EXPECT_EQ(permittedIn[0].service, "1");
}

TEST_F(LogViews, TheServicesRecordsAreMergedByTimeWhenShown)
{
    const std::string services = sandbox.root + "/services";
    os::MakeDirectories(services);
    // Written by the services' backstop: every record a service's, whatever it says.
    WriteText(protocol::TrafficLogFileName(services, std::time(nullptr)),
              Record("/usr/sbin/resolved", "RESOLVED", 0, 0, 53, 5353, 1, "10.0.0.8", "09:00:00")
                  + Record("/usr/sbin/ntpd", "NTPD", 0, 0, 123, 123, 0, "10.0.0.9", "10:30:00")
                  + Record("/usr/sbin/chronyd", "CHRONYD", 0, 0, 123, 123, 1, "10.0.0.9", "01:05:00 PM"));
    const std::string earlier = protocol::TrafficLogFileName(sandbox.logs, std::time(nullptr) - 3 * 86400);
    const struct {
        const char* what;
        bool show;
        std::string folder;
        std::string dayFile;
        std::vector<std::string> applications;
        std::vector<std::string> service;
    } cases[] = {
        {"merged, newest first", true, services, "", {"CHRONYD", "NTPD", "SYSTEMD", "SSHD", "RESOLVED"}, {"1", "1", "1", "0", "1"}},
        {"the day chosen by the user's file", true, services, today, {"CHRONYD", "NTPD", "SYSTEMD", "SSHD", "RESOLVED"}, {}},
        {"another day", true, services, earlier, {}, {}},
        {"switched off", false, services, "", {"SSHD"}, {"0"}},
        {"missing folder", true, sandbox.root + "/none", "", {"SYSTEMD", "SSHD"}, {"1", "0"}},
        {"not a folder", true, today, "", {"SYSTEMD", "SSHD"}, {}},
        {"the user's own folder", true, sandbox.logs, "", {"SYSTEMD", "SSHD"}, {}},
    };
    for (const auto& c : cases) {
        const auto rows = View("Log3", c.show, c.folder, {c.dayFile, ""});
        EXPECT_EQ(Column(rows, &LogRow::application), c.applications) << c.what;
        if (!c.service.empty()) {
            EXPECT_EQ(Column(rows, &LogRow::service), c.service) << c.what;
        }
    }
    // A search reaches them as any record.
    EXPECT_EQ(Column(View("Log3", true, services, {"", "ntpd"}), &LogRow::application), (std::vector<std::string> {"NTPD"}));
    // Only the services' own records are the machine's; the user's service entry stays the user's.
    for (const LogRow& row : View("Log3", true, services))
        EXPECT_EQ(row.machine, row.application != "SYSTEMD" && row.application != "SSHD") << row.application;
}

// A machine of its own: processes of root, system and ordinary users, and the
// service rules.
TEST(SystemServices, ListedWithWhatDecidesThem)
{
    Sandbox sandbox;
    const std::string proc = sandbox.root + "/proc";
    WriteText(sandbox.root + "/login.defs", "# users\nUID_MIN   500\nUID_MAX 60000\n");
    std::string tables = "  sl  local_address rem_address   st tx_queue rx_queue tr tm->when retrnsmt   uid  timeout inode\n";
    for (const auto& [inode, uid] : std::initializer_list<std::pair<int, int>> {{100, 0}, {101, 101}, {102, 1000}, {103, 102}, {104, 0}, {105, 600}, {106, 65534}})
        tables += "   0: 0100007F:1F90 00000000:0000 0A 00000000:00000000 00:00000000 00000000  " + std::to_string(uid)
            + "        0 " + std::to_string(inode) + " 1 0000000000000000 100 0 0 10 0\n";
    os::MakeDirectories(proc + "/net");
    WriteText(proc + "/net/tcp", tables);
    const auto add = [&](int pid, int uid, const std::string& exe, std::vector<int> sockets, bool hidden = false,
                         const std::string& commandLine = "prog") {
        const std::string folder = proc + "/" + std::to_string(pid);
        os::MakeDirectories(folder);
        WriteText(folder + "/status", "Name:\tp" + std::to_string(pid) + "\nUid:\t" + std::to_string(uid) + "\t"
                                          + std::to_string(uid) + "\t0\t0\n");
        WriteText(folder + "/cmdline", commandLine);
        if (!exe.empty()) {
            ASSERT_EQ(::symlink(exe.c_str(), (folder + "/exe").c_str()), 0);
        }
        if (hidden) {
            WriteText(folder + "/fd", ""); // cannot be listed
            return;
        }
        os::MakeDirectories(folder + "/fd");
        WriteText(folder + "/fd/0", "");
        sockets.push_back(900); // a local socket: not a network one
        for (size_t i = 0; i < sockets.size(); ++i)
            ASSERT_EQ(::symlink(("socket:[" + std::to_string(sockets[i]) + "]").c_str(),
                                (folder + "/fd/" + std::to_string(i + 3)).c_str()), 0);
    };
    add(10, 0, "/usr/sbin/sshd", {100});
    add(11, 0, "/usr/sbin/cron", {});
    add(12, 101, "/usr/lib/systemd/systemd-resolved", {101});
    add(13, 1000, "/usr/bin/curl", {102});
    add(14, 0, "", {}, false, ""); // a kernel thread
    add(15, 102, "", {}, true, std::string("/usr/sbin/ntpd\0-g\0", 18)); // unseen, its user holds sockets
    add(16, 0, "", {}, true);                                             // root's, unseen
    add(17, 0, "/tmp/sshd", {104});                                       // a copy of a bound program
    add(18, 600, "/usr/bin/wget", {105});                                 // above UID_MIN of the file
    add(19, 103, "", {}, true);                                           // unseen, its user holds none
    add(20, 65534, "/usr/bin/nobodys", {106});                            // above UID_MAX: the system's
    const std::string rulesFile = sandbox.root + "/Rules.xml";
    WriteText(rulesFile, testing_support::RulesDocument(
        "<APPLICATION><EXENAME>SSHD</EXENAME><DESCRIPTION>SSH server</DESCRIPTION><APPPATH>/usr/sbin/sshd</APPPATH>"
        "<BYPATH>1</BYPATH><ISSERVICE>1</ISSERVICE><INDEF>DENY</INDEF><OUTDEF>DENY</OUTDEF><RULES></RULES></APPLICATION>"
        "<APPLICATION><EXENAME>NTPD</EXENAME><DESCRIPTION></DESCRIPTION><ISSERVICE>1</ISSERVICE><OUTDEF>PERMIT</OUTDEF>"
        "<RULES></RULES></APPLICATION>"
        "<APPLICATION><EXENAME>ANY</EXENAME><DESCRIPTION>SYSTEM SETTINGS</DESCRIPTION><ISSERVICE>1</ISSERVICE>"
        "<INDEF>ASK</INDEF><OUTDEF>PERMIT</OUTDEF><RULES></RULES></APPLICATION>"));
    panel::services::Places places {proc, sandbox.root + "/login.defs", rulesFile, sandbox.root + "/services.sock", ""};

    using panel::services::DecidedBy;
    using rules::Permission;
    auto listing = panel::services::List(places);
    const struct {
        int pid;
        int sockets;
        bool fromCommandLine;
        DecidedBy by;
        const char* entry;
        Permission incoming, outgoing;
    } expected[] = {
        {10, 1, false, DecidedBy::kEntry, "SSH server", Permission::kDeny, Permission::kDeny},
        {12, 1, false, DecidedBy::kDefault, "", Permission::kAsk, Permission::kPermit},
        {15, -1, true, DecidedBy::kEntry, "NTPD", Permission::kAsk, Permission::kPermit},
        {17, 1, false, DecidedBy::kDefault, "", Permission::kAsk, Permission::kPermit},
        {20, 1, false, DecidedBy::kDefault, "", Permission::kAsk, Permission::kPermit},
    };
    ASSERT_EQ(listing.services.size(), std::size(expected));
    for (size_t i = 0; i < std::size(expected); ++i) {
        const auto& service = listing.services[i];
        const auto& want = expected[i];
        EXPECT_EQ(service.pid, want.pid);
        EXPECT_EQ(service.sockets, want.sockets) << want.pid;
        EXPECT_EQ(service.pathFromCommandLine, want.fromCommandLine) << want.pid;
        EXPECT_EQ(service.decidedBy, want.by) << want.pid;
        EXPECT_EQ(service.entry, want.entry) << want.pid;
        EXPECT_EQ(service.incoming, want.incoming) << want.pid;
        EXPECT_EQ(service.outgoing, want.outgoing) << want.pid;
    }
    EXPECT_EQ(listing.services[2].exePath, "/usr/sbin/ntpd");
    EXPECT_EQ(listing.unseen, 1u);
    EXPECT_FALSE(listing.truncated);
    EXPECT_FALSE(listing.backstopRuns);

    // The backstop answers: root serves its socket.
    const int server = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address {};
    address.sun_family = AF_UNIX;
    std::snprintf(address.sun_path, sizeof address.sun_path, "%s", places.backstopSocket.c_str());
    ASSERT_EQ(::bind(server, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(::listen(server, 4), 0);
    EXPECT_EQ(panel::services::List(places).backstopRuns, ::geteuid() == 0);
    ::close(server);

    // No rules file: the shipped settings; one that cannot be read: nothing claimed.
    ::unlink(rulesFile.c_str());
    listing = panel::services::List(places);
    EXPECT_TRUE(listing.rulesMissing);
    for (const auto& service : listing.services)
        EXPECT_TRUE(service.decidedBy == DecidedBy::kShipped && service.incoming == Permission::kPermit
                    && service.outgoing == Permission::kPermit) << service.pid;
    WriteText(rulesFile, "<APPLICATIONS><APPLICATION>");
    listing = panel::services::List(places);
    EXPECT_FALSE(listing.rulesProblem.empty());
    for (const auto& service : listing.services)
        EXPECT_TRUE(service.decidedBy == DecidedBy::kUnknown && !service.incoming && !service.outgoing) << service.pid;

    // Bounded: a machine of very many services lists the first few hundred.
    for (int pid = 1000; pid < 1000 + static_cast<int>(panel::services::kMaxServices); ++pid)
        add(pid, 0, "/usr/sbin/many", {100});
    listing = panel::services::List(places);
    EXPECT_EQ(listing.services.size(), panel::services::kMaxServices);
    EXPECT_TRUE(listing.truncated);
    EXPECT_EQ(panel::services::OrdinaryUsers(sandbox.root + "/none"), (std::pair<uid_t, uid_t> {1000, 60000}));
    // Words that are not a whole number, and 0, are not taken.
    WriteText(sandbox.root + "/odd.defs", "UID_MIN 2000x\nUID_MAX 0\n\tUID_MIN\t1500\nUID_MAX\n");
    EXPECT_EQ(panel::services::OrdinaryUsers(sandbox.root + "/odd.defs"), (std::pair<uid_t, uid_t> {1500, 60000}));
    ::setenv("ZEL_SERVICES_ROOT", sandbox.root.c_str(), 1);
    const auto there = panel::services::Places::OfThisMachine();
    ::unsetenv("ZEL_SERVICES_ROOT");
    EXPECT_EQ(there.rulesFile, sandbox.root + "/etc/korvel/Rules.xml");
    EXPECT_EQ(there.backstopSocket, sandbox.root + "/run/zel-backstop/services.sock");
    EXPECT_EQ(panel::services::Places::OfThisMachine().logFolder, "/var/log/korvel/services");
}

// An administrator's choice for one service: its own entry bound to its path
// changed or added, nothing else of the machine's rules changed.
TEST(SystemServices, DefaultSetForOneServiceAlone)
{
    using panel::services::Direction;
    using rules::Permission;
    const auto app = [](const std::string& name, const std::string& path, const std::string& defaults, const std::string& rules = "") {
        return "<APPLICATION><EXENAME>" + name + "</EXENAME><DESCRIPTION>" + name + "</DESCRIPTION>"
            + (path.empty() ? "" : "<APPPATH>" + path + "</APPPATH><BYPATH>1</BYPATH>") + "<ISSERVICE>1</ISSERVICE>" + defaults
            + "<RULES>" + rules + "</RULES></APPLICATION>";
    };
    const std::string rule = "<RULE><RULENAME>ntp</RULENAME><DIRECTION>1</DIRECTION><PERMISSION>1</PERMISSION><STATE>1</STATE>"
                             "<PORTS></PORTS></RULE>";
    const std::string machine = testing_support::RulesDocument(
        app("SSHD", "/usr/sbin/sshd", "<INDEF>DENY</INDEF><OUTDEF>DENY</OUTDEF>")
        + app("NTPD", "", "<OUTDEF>PERMIT</OUTDEF>", rule) + app("ANY", "", "<INDEF>ASK</INDEF><OUTDEF>PERMIT</OUTDEF>"));
    const struct {
        const char* what;
        std::optional<std::string> current;
        std::string path;
        Direction direction;
        Permission permission;
        size_t entries; // after
        std::optional<Permission> incoming, outgoing; // the path's own entry, after
        size_t rules;
    } cases[] = {
        {"no file: the shipped settings and the entry", std::nullopt, "/usr/sbin/sshd", Direction::kOutgoing,
         Permission::kDeny, 2, Permission::kPermit, Permission::kDeny, 0},
        {"its bound entry changed in place", machine, "/usr/sbin/sshd", Direction::kIncoming, Permission::kAsk, 3,
         Permission::kAsk, Permission::kDeny, 0},
        {"the entry of its name copied, bound, its rules with it", machine, "/usr/sbin/ntpd", Direction::kIncoming,
         Permission::kDeny, 4, Permission::kDeny, Permission::kPermit, 1},
        {"none: a new one, the other way as the default had it", machine, "/usr/lib/systemd/systemd-resolved",
         Direction::kOutgoing, Permission::kAsk, 4, Permission::kAsk, Permission::kAsk, 0},
        {"a copy of a bound program is another program", machine, "/tmp/sshd", Direction::kOutgoing,
         Permission::kPermit, 4, Permission::kAsk, Permission::kPermit, 0},
        {"a path a program names itself with markup in it stays a path", machine,
         "/usr/sbin/x</APPPATH><INDEF>PERMIT</INDEF></APPLICATION><APPLICATION><EXENAME>ANY", Direction::kIncoming,
         Permission::kDeny, 4, Permission::kDeny, Permission::kPermit, 0},
    };
    const auto before = rules::ReadDocument(machine);
    ASSERT_TRUE(before);
    for (const auto& c : cases) {
        std::string why;
        const auto text = panel::services::WithDefault(c.current, {c.path, c.direction, c.permission}, why);
        ASSERT_TRUE(text) << c.what << ": " << why;
        const auto after = rules::ReadDocument(*text);
        ASSERT_TRUE(after) << c.what;
        EXPECT_EQ(after->applications.size(), c.entries) << c.what;
        const std::string name = rules::rules_format::ProgramName(text::FileNamePart(c.path));
        const rules::Application* own = after->FindFor(name, c.path);
        ASSERT_TRUE(own) << c.what;
        EXPECT_TRUE(own->IsBound() && own->path == c.path && own->service) << c.what;
        EXPECT_EQ(own->incoming, c.incoming) << c.what;
        EXPECT_EQ(own->outgoing, c.outgoing) << c.what;
        EXPECT_EQ(own->rules.size(), c.rules) << c.what;
        // Every entry a service's (the services' helper takes no other), and
        // the others' as they were: another ntpd still follows NTPD.
        for (const rules::Application& entry : after->applications) {
            EXPECT_TRUE(entry.service) << c.what;
            if (&entry != own && c.current) {
                EXPECT_NE(std::find(before->applications.begin(), before->applications.end(), entry),
                          before->applications.end()) << c.what << ": " << entry.Key();
            }
        }
        EXPECT_EQ(after->FindFor("NTPD", "/opt/ntpd") == nullptr, !c.current) << c.what;
    }
    // What stands for a missing file is what the services' backstop ships.
    EXPECT_EQ(panel::services::ShippedRules(), rules::ReadDocument(backstop::kServicesRulesDocument));
    // Nothing made of rules that do not read, nor for a program of no known file.
    std::string why;
    EXPECT_FALSE(panel::services::WithDefault(std::string("<APPLICATIONS><APPLICATION>"), {"/usr/sbin/sshd"}, why));
    EXPECT_FALSE(why.empty());
    for (const std::string& path : {std::string(), std::string("sshd"), std::string("/usr/sbin/sshd\0x", 16)}) {
        why.clear();
        EXPECT_FALSE(panel::services::WithDefault(machine, {path}, why)) << path;
        EXPECT_FALSE(why.empty()) << path;
    }
}

TEST_F(LogViews, ARefreshReadsOnlyWhatChanged)
{
    EXPECT_EQ(View("Log4").size(), 2u);
    // The same file, changed in place: read again.
    WriteText(today, testing_support::ReadText(today) + Record("/usr/bin/wget", "WGET", 1, 0, 0, 443));
    EXPECT_EQ(View("Log4").size(), 3u);
    // A record with the name the program looked up: shown beside the address.
    std::string named = Record("/usr/bin/wget", "WGET", 1, 0, 0, 443);
    named.insert(named.find("\r\n"), "<HOST>ads.example.net</HOST>");
    WriteText(today, testing_support::ReadText(today) + named);
    const auto rows = View("Log4");
    ASSERT_EQ(rows.size(), 4u);
    EXPECT_EQ(rows[0].host, "ads.example.net");
    EXPECT_EQ(rows[1].host, "");
    // A file that left the folder leaves the view.
    ::unlink(today.c_str());
    EXPECT_TRUE(View("Log4").empty());
}

TEST_F(LogViews, TodaysBlockedIntrudersAndAnApplicationsStatistics)
{
    EXPECT_EQ(panel::CountBlockedIntruders(sandbox.logs, std::time(nullptr)), 2); // sshd and systemd
    EXPECT_EQ(panel::CountBlockedIntruders(sandbox.root + "/none", std::time(nullptr)), 0);

    std::string log;
    for (int port = 1; port <= 6; ++port)
        log += Record("/usr/bin/curl", "CURL", 1, 1, 40000 + port, port, 0, "10.0.0.7", "11:0" + std::to_string(port) + ":00");
    log += Record("/usr/bin/curlish", "CURLISH", 1, 1, 0, 99, 0, "10.0.0.7", "12:00:00");
    // Written today: its time is shown as the window's shownTime has it.
    const std::time_t now = std::time(nullptr);
    std::tm at {};
    ::localtime_r(&now, &at);
    char date[16];
    std::strftime(date, sizeof date, "%d.%m.%Y", &at);
    std::string named = Record("/usr/bin/wget", "WGET", 1, 1, 0, 443);
    named.replace(named.find("08.12.2026"), 10, date);
    named.insert(named.find("\r\n"), "<HOST>www.example.org</HOST>");
    log += named;
    WriteText(today, log);
    at.tm_hour = 10;
    at.tm_min = at.tm_sec = 0;
    at.tm_isdst = -1;
    const std::string written = protocol::IsoTime(std::mktime(&at));
    const auto statistics = [&](const char* exeName, const char* path, bool service) {
        rules::Application app;
        app.name = exeName;
        app.path = path;
        app.service = service;
        return panel::AppStatistics(app, sandbox.logs, now, protocol::IsoTime);
    };
    EXPECT_EQ(statistics("CURL", "/usr/bin/curl", false),
              "Application last time accessed : 08.12.2026 11:06:00\n"
              "Remote ports used : 1, 2, 3, 4\n"
              "Local ports used : 40001, 40002, 40003, 40004\n");
    EXPECT_EQ(statistics("WGET", "/usr/bin/wget", false),
              "Application last time accessed : " + written + "\n"
              "Remote ports used : 443\n"
              "Local ports used : \n"
              "Remote hosts used : www.example.org\n");
    EXPECT_EQ(statistics("SSHD", "/usr/sbin/sshd", true),
              "Note : Application is a system service and will not allow ask as a permission.\n\n\n"
              "No statistics are available at the moment");
}

TEST(LogMenus, ApplicationFromALogRowTakesTheGeneralDefaults)
{
    using rules::Permission;
    const auto app = panel::ApplicationFromLog("Curl", "/usr/bin/curl", "0", Permission::kAsk, Permission::kPermit,
                                               "SYSTEMD");
    EXPECT_EQ(app.name, "CURL");
    EXPECT_EQ(app.description, "CURL");
    EXPECT_EQ(app.path, "/usr/bin/curl");
    EXPECT_EQ(app.incoming, Permission::kAsk);
    EXPECT_EQ(app.outgoing, Permission::kPermit);
    const auto service = panel::ApplicationFromLog("sshd", "/usr/sbin/sshd", "1", Permission::kAsk, Permission::kAsk,
                                                   "SYSTEMD");
    EXPECT_TRUE(service.service);
    EXPECT_EQ(service.incoming, Permission::kDeny);
    EXPECT_EQ(service.outgoing, Permission::kDeny);
    EXPECT_TRUE(panel::ApplicationFromLog("init", "/usr/lib/systemd/systemd", "0", Permission::kAsk, Permission::kAsk,
                                          "SYSTEMD")
                    .service);
}

TEST(LogAddresses, AddressesOrderByFamilyThenValue)
{
    const std::vector<std::string> ordered = {"0.0.0.1",   "9.0.0.0",       "10.0.0.9",         "10.0.0.10",
                                              "10.0.0.100", "255.255.255.255", "::1",           "2001:db8::9",
                                              "2001:db8::10", "2001:db8::a:0", "fd00::2",       "ffff::",
                                              "",          "no address"};
    std::vector<std::string> shuffled = {"2001:db8::10", "10.0.0.100", "no address", "ffff::", "10.0.0.9", "",
                                         "::1",          "2001:db8::a:0", "9.0.0.0", "fd00::2", "255.255.255.255",
                                         "0.0.0.1",      "10.0.0.10",    "2001:db8::9"};
    std::sort(shuffled.begin(), shuffled.end(),
              [](const std::string& a, const std::string& b) { return panel::AddressSortKey(a) < panel::AddressSortKey(b); });
    EXPECT_EQ(shuffled, ordered);
    // A peer mapped into IPv6 sorts as the IPv4 address it is.
    EXPECT_EQ(panel::AddressSortKey("::ffff:10.0.0.9"), panel::AddressSortKey("10.0.0.9"));
}

TEST_F(LogViews, Ipv6PeersAreListedCountedAndInTheStatistics)
{
    WriteText(today, Record("/usr/bin/curl", "CURL", 1, 0, 40001, 443, 0, "2001:db8::1")
                         + Record("/usr/sbin/sshd", "SSHD", 0, 0, 22, 40000, 0, "fd00::3")
                         + Record("/usr/bin/curl", "CURL", 1, 1, 40002, 80, 0, "fd00::2", "11:00:00"));
    EXPECT_EQ(Column(View("Log4"), &LogRow::ip), std::vector<std::string> {"2001:db8::1"});
    EXPECT_EQ(Column(View("Log3"), &LogRow::ip), std::vector<std::string> {"fd00::3"});
    EXPECT_EQ(Column(View("Log2"), &LogRow::ip), (std::vector<std::string> {"fd00::2", "10.0.0.7"}));
    EXPECT_EQ(panel::CountBlockedIntruders(sandbox.logs, std::time(nullptr)), 1);
    rules::Application app;
    app.name = "CURL";
    app.path = "/usr/bin/curl";
    EXPECT_EQ(panel::AppStatistics(app, sandbox.logs, std::time(nullptr), protocol::IsoTime),
              "Application last time accessed : 08.12.2026 11:00:00\n"
              "Remote ports used : 443, 80\n"
              "Local ports used : 40001, 40002\n");
}

// The latest first: today's file before an earlier day's, a file's last
// record before its first; the day chooser lists the days the same way.
TEST_F(LogViews, NewestRecordsAndDaysComeFirst)
{
    WriteText(today, Record("/usr/bin/a", "A", 1, 1, 0, 1, 0, "10.0.0.1", "09:00:00")
                         + Record("/usr/bin/b", "B", 1, 1, 0, 2, 0, "10.0.0.1", "10:00:00")
                         + Record("/usr/bin/c", "C", 1, 1, 0, 3, 0, "10.0.0.1", "11:00:00"));
    EXPECT_EQ(Column(View("Log2"), &LogRow::application), (std::vector<std::string> {"C", "B", "A", "CURL"}));
    const auto days = panel::LogDays(sandbox.logs);
    ASSERT_EQ(days.size(), 2u);
    EXPECT_EQ(days[0].path, today);
    std::tm local {};
    const std::time_t earlier = std::time(nullptr) - 3 * 86400;
    ::localtime_r(&earlier, &local);
    EXPECT_EQ(days[1].day, local.tm_mday);
    EXPECT_EQ(days[1].month, local.tm_mon + 1);
    EXPECT_EQ(days[1].year, local.tm_year + 1900);
    // One day alone.
    EXPECT_EQ(Column(reader.FillLogView(sandbox.logs, "Log2", false, ports, "SYSTEMD", {days[1].path, ""}),
                     &LogRow::application),
              std::vector<std::string> {"CURL"});
}

// A search finds a program by name or path, a peer by host name or address
// (a part of them, in any case), a port by its number; every word must match.
TEST_F(LogViews, SearchMatchesProgramHostAddressAndPort)
{
    std::string named = Record("/opt/Browser/firefox-bin", "Firefox", 1, 1, 0, 443, 0, "192.0.2.44");
    named.insert(named.find("\r\n"), "<HOST>www.Example.org</HOST>");
    WriteText(today, named + Record("/usr/bin/wget", "WGET", 1, 1, 0, 80, 0, "198.51.100.4")
                         + Record("/usr/bin/ssh", "SSH", 1, 1, 0, 4430, 0, "2001:db8::443"));
    const struct {
        const char* search;
        std::vector<std::string> found;
    } cases[] = {
        {"", {"SSH", "WGET", "Firefox", "CURL"}},
        {"firefox", {"Firefox"}},           // the program's name, in any case
        {"/usr/bin/", {"SSH", "WGET", "CURL"}}, // its path
        {"example.ORG", {"Firefox"}},       // the host
        {"198.51", {"WGET"}},               // a part of an address
        {"2001:db8::", {"SSH"}},
        {"443", {"SSH", "Firefox"}},        // the port 443, and an address holding 443, not port 4430 alone
        {"80", {"WGET", "CURL"}},
        {"44", {"SSH", "Firefox"}},         // in addresses only: no port is 44
        {"wget 80", {"WGET"}},              // every word
        {"wget 443", {}},
        {"  curl   ", {"CURL"}},
        {"nothing", {}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(Column(reader.FillLogView(sandbox.logs, "Log2", false, ports, "SYSTEMD", {"", c.search}),
                         &LogRow::application),
                  c.found)
            << '"' << c.search << '"';
}

// The reason column: each word of the engine as its text; a record of an
// older engine has none, the backstop's says it came from the kernel.
TEST_F(LogViews, ReasonsAreShownAndOlderRecordsStillRead)
{
    const auto with = [](std::string record, const std::string& tail) {
        return record.insert(record.find("\r\n"), tail);
    };
    WriteText(today, Record("/usr/bin/old", "OLD", 1, 0, 0, 1)
                         + with(Record("/usr/bin/a", "A", 1, 0, 0, 2), "<REASON>rule</REASON>")
                         + with(Record("/usr/bin/b", "B", 1, 0, 0, 3), "<HOST>b.example</HOST><REASON>blockall</REASON>")
                         + with(Record("/usr/bin/c", "C", 1, 0, 0, 4), "<REASON>timeout</REASON><LATER>x</LATER>")
                         + with(Record("/usr/bin/d", "D", 1, 0, 0, 5), "<BACKSTOP>1</BACKSTOP>")
                         + with(Record("/usr/bin/e", "E", 1, 0, 0, 6), "<REASON>newword</REASON>"));
    const auto rows = View("Log4");
    EXPECT_EQ(Column(rows, &LogRow::application), (std::vector<std::string> {"E", "D", "C", "B", "A", "OLD"}));
    EXPECT_EQ(Column(rows, &LogRow::reason),
              (std::vector<std::string> {"newword", "Kernel backstop", "Time-out", "Block All", "Rule", ""}));
    EXPECT_EQ(rows[3].host, "b.example");
    const std::pair<const char*, const char*> texts[] = {
        {"default", "Default"}, {"peer", "Reply to an allowed peer"}, {"answer", "Your answer"},
        {"remembered", "Earlier answer"}, {"away", "Away answer"}, {"noalert", "No alert shown"},
        {"service", "Service, never asked"}, {"list", "Host list"}, {"quiet", "Quiet mode"}, {"learn", "Learning mode"},
        {"", ""}};
    for (const auto& [word, text] : texts)
        EXPECT_EQ(panel::ReasonText(word), text) << word;
}

// A rule made from a row: its direction and decision, its port (named as
// the ports list names it) and its peer, by host name only for an outgoing
// row that has one.
TEST(LogRules, RuleFromARowTakesWhatTheRowShows)
{
    const auto row = [](bool outgoing, bool denied, const char* port, const char* number, const char* host) {
        LogRow made;
        made.outgoing = outgoing;
        made.denied = denied;
        made.port = port;
        made.portNumber = number;
        made.ip = "192.0.2.5";
        made.host = host;
        return made;
    };
    using rules::Direction;
    using rules::Permission;
    const struct {
        LogRow row;
        const char* name;
        Direction direction;
        Permission permission;
        const char* alias;
        bool byHost;
    } cases[] = {
        {row(true, true, "443(https)", "443", "ads.example.net"), "Block ads.example.net port 443", Direction::kOutgoing,
         Permission::kDeny, "https", true},
        {row(true, false, "8081", "8081", ""), "Allow 192.0.2.5 port 8081", Direction::kOutgoing, Permission::kPermit, "",
         false},
        {row(false, true, "22(ssh)", "22", "ignored.example"), "Block 192.0.2.5 port 22", Direction::kIncoming,
         Permission::kDeny, "ssh", false},
    };
    for (const auto& c : cases) {
        const rules::Rule rule = panel::RuleFromLog(c.row);
        EXPECT_EQ(rule.name, c.name);
        EXPECT_EQ(rule.direction, c.direction) << c.name;
        EXPECT_EQ(rule.permission, c.permission) << c.name;
        EXPECT_EQ(rule.inForce, true);
        EXPECT_TRUE(rule.listed);
        ASSERT_EQ(rule.ports.size(), 1u);
        const rules::Port& port = rule.ports[0];
        EXPECT_EQ(port.number, c.row.portNumber) << c.name;
        EXPECT_EQ(port.alias, c.alias) << c.name;
        if (c.byHost) {
            EXPECT_EQ(port.hosts, std::vector<std::string> {c.row.host}) << c.name;
            EXPECT_FALSE(port.addresses) << c.name;
        } else {
            EXPECT_EQ(port.addresses, std::vector<std::string> {"192.0.2.5"}) << c.name;
            EXPECT_FALSE(port.hosts) << c.name;
        }
    }
}

namespace {

// Columns on the screen (a character each), and whether the text is whole
// UTF-8: no character cut in two.
int ScreenColumns(std::string_view text)
{
    return static_cast<int>(std::count_if(text.begin(), text.end(), [](char c) { return (c & 0xC0) != 0x80; }));
}
bool WholeCharacters(std::string_view text)
{
    for (size_t at = 0; at < text.size();) {
        const auto lead = static_cast<unsigned char>(text[at]);
        const size_t length = lead < 0x80 ? 1 : lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 0;
        if (length == 0 || at + length > text.size())
            return false;
        for (size_t i = 1; i < length; ++i)
            if ((text[at + i] & 0xC0) != 0x80)
                return false;
        at += length;
    }
    return true;
}

}  // namespace

// zel-log's rows on a terminal: never wider than it, the program, peer and
// host cut with "…" on a character's edge; not on a terminal, every value
// whole in the columns scripts have always cut.
TEST(LogTable, RowsFitTheTerminalAndPipesGetWholeValues)
{
    const std::string program = "Überprüfungsprogramm-für-Äpfel";
    const std::string peer = "2001:db8:85a3:1234:5678:8a2e:370:7334";
    const std::string host = "a-rather-long-host-name.example.org";
    const std::string_view values[10] = {"2026-07-03", "14:05:09", program, "out", "allowed", "TCP", peer, "443", "rule", host};
    struct Case {
        int width;
        const char* programShown; // its start, as shown
        bool whole;               // the peer and host shown whole
    };
    for (const Case& c : {Case {80, "Überpr\u2026", false}, Case {100, "Überprüfu", false}, Case {200, program.c_str(), true}}) {
        const std::string row = tools::zel_log::TableRow(values, c.width);
        EXPECT_LE(ScreenColumns(row), c.width) << row;
        EXPECT_TRUE(WholeCharacters(row)) << row;
        EXPECT_NE(row.find(c.programShown), std::string::npos) << row;
        EXPECT_EQ(row.find(peer) != std::string::npos && row.find(host) != std::string::npos, c.whole) << row;
        EXPECT_EQ(row.rfind("2026-07-03 14:05:09 ", 0), 0u) << row;
    }
    // A pipe: the columns of old (printf's), the values whole however long.
    const std::string_view plain[10] = {"2026-07-03", "14:05:09", "curl", "in", "denied", "UDP", peer, "53", "-", host};
    char old[512];
    std::snprintf(old, sizeof old, "%-10s %-8s %-20s %-3s %-7s %-3s %-39s %5s %-10s %s", "2026-07-03", "14:05:09",
                  "curl", "in", "denied", "UDP", peer.c_str(), "53", "-", host.c_str());
    EXPECT_EQ(tools::zel_log::TableRow(plain, 0), old);
    EXPECT_NE(tools::zel_log::TableRow(values, 0).find(program), std::string::npos);
}

// A record's date and time in ISO 8601, read as the writer's locale wrote
// them against the file's day; what cannot be read stays as written.
TEST(LogTable, DatesAndTimesAreShownAsIso)
{
    struct Case {
        const char* date;
        const char* time;
        const char* isoDate;
        const char* isoTime;
    };
    for (const Case& c : {Case {"07/03/26", "14:05:09", "2026-07-03", "14:05:09"},
                          Case {"07/03/2026", "02:05:09 PM", "2026-07-03", "14:05:09"},
                          Case {"03.07.2026", "14:05:09", "2026-07-03", "14:05:09"},
                          Case {"03/07/26", "00:00:01", "2026-07-03", "00:00:01"},
                          Case {"today", "10:00:00", "today", "10:00:00"},
                          Case {"03.07.2026", "noon", "03.07.2026", "noon"}}) {
        protocol::RecordTimeReader times(protocol::CalendarDay {2026, 7, 3});
        protocol::LogEntry entry;
        entry.date = c.date;
        entry.time = c.time;
        const tools::zel_log::ShownTime shown = tools::zel_log::IsoDateAndTime(entry, times);
        EXPECT_EQ(shown.date, c.isoDate) << c.date << " " << c.time;
        EXPECT_EQ(shown.time, c.isoTime) << c.date << " " << c.time;
    }
}

// A hostile program's name (or a host name from the network) holding a
// terminal's control sequence: zel-log shows it as "?", on a terminal or not.
TEST(AttackLogTable, ControlCharactersOfARecordNeverReachTheTerminal)
{
    const std::string_view values[10] = {"2026-07-03", "14:05:09", "\x1b]0;owned\x07x",  "out", "allowed",
                                         "TCP",        "10.0.0.1", "443", "rule\r", "h\xc2\x9b" "2J\n"};
    for (const int width : {0, 100}) {
        const std::string row = tools::zel_log::TableRow(values, width);
        EXPECT_TRUE(std::none_of(row.begin(), row.end(), [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7F; }))
            << width;
        EXPECT_EQ(row.find("\xc2\x9b"), std::string::npos) << width;
        EXPECT_NE(row.find("?]0;owned?x"), std::string::npos) << row;
    }
}
