#include "engine/CarrierIdentity.h"
#include "engine/Engine.h"
#include "protocol/RecordTime.h"
#include "protocol/RecordWords.h"
#include "protocol/TrafficLog.h"

#include "rules/RulesFormat.h"
#include "rules/hooksafe/ScriptArguments.h"
#include "tests/EngineTestOptions.h"
#include "tests/EventWait.h"
#include "tests/Sandbox.h"

#include "os/Files.h"
#include "os/Paths.h"
#include "text/Strings.h"

#include <chrono>
#include <climits>
#include <csignal>
#include <cstdlib>
#include <functional>
#include <gtest/gtest.h>
#include <set>
#include <sched.h>
#include <sstream>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using testing_support::Sandbox;
using testing_support::WriteText;

using rules::rules_format::kDefaultRulesDocument;

namespace {

// A fake process table entry: stat with the parent, exe link, cgroup and uid.
void AddProcess(const std::string& procRoot, int pid, int parent, const std::string& exe, const std::string& cgroup,
                int uid = 1000)
{
    const std::string folder = procRoot + "/" + std::to_string(pid);
    ::mkdir(procRoot.c_str(), 0755);
    ::mkdir(folder.c_str(), 0755);
    // Fields 4 to 22 of proc(5), the start time last.
    WriteText(folder + "/stat", std::to_string(pid) + " (a) b) S " + std::to_string(parent)
                  + " 1 1 0 -1 0 0 0 0 0 0 0 0 0 20 0 1 0 " + std::to_string(pid * 7) + " 0 0\n");
    WriteText(folder + "/status", "Name:\ta\nUid:\t" + std::to_string(uid) + "\t" + std::to_string(uid) + "\n");
    if (!cgroup.empty())
        WriteText(folder + "/cgroup", cgroup);
    ASSERT_EQ(::symlink(exe.c_str(), (folder + "/exe").c_str()), 0);
}

class FixedTimeZone : public testing::Test {
protected:
    void SetUp() override
    {
        ::setenv("TZ", "UTC", 1);
        ::tzset();
    }
    void TearDown() override
    {
        ::unsetenv("TZ");
        ::tzset();
    }
};

}  // namespace

TEST(CarrierIdentity, CopyNumbersAreCutFromTheFileName)
{
    EXPECT_EQ(rules::rules_format::CleanCarrierPath("/apps/Tool (2).exe"), "/apps/Tool.exe");
    EXPECT_EQ(rules::rules_format::CleanCarrierPath("/apps/SETUP (2).EXE"), "/apps/SETUP.EXE");
    EXPECT_EQ(rules::rules_format::CleanCarrierPath("/apps/tool (2)"), "/apps/tool (2)"); // no "." after it
    EXPECT_EQ(rules::rules_format::CleanCarrierPath("/my (old).d/tool"), "/my (old).d/tool"); // only the file part counts
    EXPECT_EQ(rules::rules_format::CarrierExeName("/apps/Tool.exe"), "TOOL.EXE");
}

// Each interpreter's own grammar: the script it runs, the module or class it
// runs by name, or nothing (code on the command line, standard input).
TEST(CarrierIdentity, ScriptArgumentsFollowEachInterpretersGrammar)
{
    using Kind = rules::ScriptKind;
    struct Case {
        const char* exe;
        std::vector<const char*> argv;
        Kind kind;
        const char* text;
    };
    const Case cases[] = {
        {"/usr/bin/python3", {"python3", "x.py", "-c", "a"}, Kind::kFile, "x.py"},
        {"/usr/bin/python3.11", {"python3", "-u", "-W", "ignore", "x.py"}, Kind::kFile, "x.py"},
        {"/usr/bin/python3", {"python3", "-Wignore", "-X", "dev", "-OO", "x.py"}, Kind::kFile, "x.py"},
        {"/usr/bin/python3", {"/usr/bin/python3", "-W ignore", "/s/x.py"}, Kind::kFile, "/s/x.py"}, // "#!python3 -W ignore"
        {"/usr/bin/python3", {"python3", "-uW", "error", "x.py"}, Kind::kFile, "x.py"},
        {"/usr/bin/python3", {"python3", "--", "-x.py"}, Kind::kFile, "-x.py"},
        {"/usr/bin/python3", {"python3", "--", "-"}, Kind::kNone, nullptr},
        {"/usr/bin/python3", {"python3", "-c", "print(1)", "/allowed/x.py"}, Kind::kNone, nullptr},
        {"/usr/bin/python3", {"python3", "-ic", "code", "x.py"}, Kind::kNone, nullptr},
        {"/usr/bin/python3", {"python3", "-", "/allowed/x.py"}, Kind::kNone, nullptr},
        {"/usr/bin/python3", {"python3"}, Kind::kNone, nullptr},
        {"/usr/bin/python3", {"python3", ""}, Kind::kNone, nullptr},
        {"/usr/bin/python3", {"python3", "-m", "http.server", "x.py"}, Kind::kModule, "http.server"},
        {"/usr/bin/python3", {"python3", "-Im", "pip", "install"}, Kind::kModule, "pip"},
        {"/usr/bin/python3", {"python3", "-W"}, Kind::kNone, nullptr},
        {"/usr/bin/python3", {"python3", "-m", ""}, Kind::kNone, nullptr},
        {"/usr/bin/java", {"java", ""}, Kind::kNone, nullptr},
        {"/usr/bin/python3", {"python3", "--check-hash-based-pycs", "always", "x.py"}, Kind::kFile, "x.py"},
        {"/usr/bin/python3", {"python3", "--version", "x.py"}, Kind::kNone, nullptr},
        {"/usr/bin/python3", {"python3", "-Z", "x.py"}, Kind::kNone, nullptr},
        {"/usr/bin/python3.11d", {"python3", "x.py"}, Kind::kNone, nullptr}, // not a name the grammar knows
        {"/usr/bin/perl", {"perl", "-Ilib", "-Mstrict", "s.pl"}, Kind::kFile, "s.pl"},
        {"/usr/bin/perl5.36.0", {"perl", "-I", "lib", "-w", "s.pl", "-e"}, Kind::kFile, "s.pl"},
        {"/usr/bin/perl", {"perl", "-lane", "print", "s.pl"}, Kind::kNone, nullptr},
        {"/usr/bin/perl", {"perl", "-0777", "-pi.bak", "s.pl"}, Kind::kFile, "s.pl"},
        {"/usr/bin/perl", {"perl", "-E", "say 1", "s.pl"}, Kind::kNone, nullptr},
        {"/usr/bin/perl", {"perl", "-M", "strict", "s.pl"}, Kind::kNone, nullptr}, // perl refuses it
        {"/usr/bin/perl", {"perl", "-S", "s.pl"}, Kind::kNone, nullptr},          // found through PATH
        {"/usr/bin/ruby3.1", {"ruby", "-I", "lib", "-rjson", "-w", "t.rb"}, Kind::kFile, "t.rb"},
        {"/usr/bin/ruby", {"ruby", "--disable-gems", "--encoding", "utf-8", "t.rb"}, Kind::kFile, "t.rb"},
        {"/usr/bin/ruby", {"ruby", "-e", "puts 1", "t.rb"}, Kind::kNone, nullptr},
        {"/usr/bin/ruby", {"ruby", "-C", "/elsewhere", "t.rb"}, Kind::kNone, nullptr},
        {"/usr/bin/node", {"node", "--require", "x", "y.js"}, Kind::kFile, "y.js"},
        {"/usr/bin/nodejs", {"node", "-r", "x", "--inspect", "--import=z", "y.js"}, Kind::kFile, "y.js"},
        {"/usr/bin/node", {"node", "--max-old-space-size", "4096", "--no-warnings", "y.js"}, Kind::kFile, "y.js"},
        {"/usr/bin/node", {"node", "--eval", "1", "y.js"}, Kind::kNone, nullptr},
        {"/usr/bin/node", {"node", "-pe", "1", "y.js"}, Kind::kNone, nullptr},
        {"/usr/bin/node", {"node", "--print=1", "y.js"}, Kind::kNone, nullptr},
        {"/usr/lib/jvm/java-17-openjdk-amd64/bin/java", {"java", "-jar", "app.jar", "x"}, Kind::kFile, "app.jar"},
        {"/usr/bin/java", {"java", "-cp", "a.jar:b.jar", "org.Main"}, Kind::kMainClass, "org.Main"},
        {"/usr/bin/java", {"java", "-Xmx1g", "-Dx=y", "-classpath", "a.jar", "org.Main", "-jar"}, Kind::kMainClass,
         "org.Main"},
        {"/usr/bin/java", {"java", "--module-path", "mods", "-m", "app/org.Main"}, Kind::kModule, "app/org.Main"},
        {"/usr/bin/java", {"java", "Hello.java"}, Kind::kFile, "Hello.java"},
        {"/usr/bin/java", {"java", "--source", "17", "hello"}, Kind::kFile, "hello"},
        {"/usr/bin/java", {"java", "@args.txt"}, Kind::kNone, nullptr},
        {"/usr/bin/java", {"java", "-version", "org.Main"}, Kind::kNone, nullptr},
        {"/usr/bin/bash", {"bash", "-e", "-o", "pipefail", "s.sh"}, Kind::kFile, "s.sh"},
        {"/bin/sh", {"sh", "-eux", "s.sh", "-c"}, Kind::kFile, "s.sh"},
        {"/usr/bin/dash", {"sh", "-c", "code", "s.sh"}, Kind::kNone, nullptr},
        {"/usr/bin/bash", {"bash", "-ec", "code", "s.sh"}, Kind::kNone, nullptr},
        {"/usr/bin/bash", {"bash", "-s", "s.sh"}, Kind::kNone, nullptr},
        {"/usr/bin/bash", {"bash", "--norc", "--rcfile", "r", "+x", "-O", "extglob", "s.sh"}, Kind::kFile, "s.sh"},
        {"/usr/bin/zsh", {"zsh", "--", "-s.sh"}, Kind::kFile, "-s.sh"},
        {"/usr/bin/bash", {"bash"}, Kind::kNone, nullptr},
        // argv[0] is whatever the starter wrote; only the executable counts.
        {"/usr/bin/curl", {"python3", "x.py"}, Kind::kNone, nullptr},
        {"/usr/bin/python3", {"/allowed/x.py", "-c", "code"}, Kind::kNone, nullptr},
    };
    for (const Case& c : cases) {
        const rules::ScriptArgument found = rules::FindScriptArgument(c.exe, c.argv.data(), c.argv.size());
        std::string line = c.exe;
        for (const char* arg : c.argv)
            line += std::string(" ") + arg;
        EXPECT_EQ(found.kind, c.kind) << line;
        EXPECT_STREQ(found.text, c.text) << line;
    }
}

TEST(CarrierIdentity, HostWithoutDesktopEntryIsNamedByItsFileAndUnknownCompany)
{
    Sandbox sandbox;
    sandbox.WriteRules(kDefaultRulesDocument);
    engine::EngineOptions options = testing_support::TestEngineOptions("/apps/Tool (2).exe");
    engine::Engine engine(options);
    EXPECT_EQ(engine.Carrier().exeName, "TOOL.EXE");
    EXPECT_EQ(engine.Approve(40000, 1, "10.0.0.5", 1, 80), 1);
    EXPECT_EQ(engine.Carrier().description, "TOOL.EXE");
    EXPECT_EQ(engine.Carrier().company, "Unknown");
    const auto lines = sandbox.LogLines();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_NE(lines[0].find("<APPLICATIONSTART>/apps/Tool.exe</APPLICATIONSTART>"), std::string::npos);
    EXPECT_NE(lines[1].find("<EXEPATH>/apps/Tool.exe</EXEPATH><APPLICATION>TOOL.EXE</APPLICATION>"), std::string::npos);
    engine.Detach();
    EXPECT_NE(sandbox.LogLines().back().find("<APPLICATIONEND>/apps/Tool.exe</APPLICATIONEND>"), std::string::npos);
}

TEST(CarrierIdentity, DesktopEntryNamesTheHost)
{
    Sandbox sandbox;
    const std::string exe = sandbox.root + "/bin/viewer";
    ::mkdir((sandbox.root + "/bin").c_str(), 0755);
    WriteText(exe, "#!/bin/sh\n");
    ::chmod(exe.c_str(), 0755);
    ::mkdir((sandbox.root + "/data/applications").c_str(), 0755);
    WriteText(sandbox.root + "/data/applications/viewer.desktop",
              "[Desktop Entry]\nName[de]=Betrachter\nName=Picture Viewer\nExec=" + exe + " %U\nIcon=viewer\n");
    engine::EngineOptions options = testing_support::TestEngineOptions(exe);
    engine::Engine engine(options);
    engine.Approve(1, 1, "127.0.0.1", 1, 1);
    EXPECT_EQ(engine.Carrier().description, "Picture Viewer");
    // A desktop entry names no maker: the alert says "created by Unknown".
    EXPECT_EQ(engine.Carrier().company, "Unknown");
    EXPECT_EQ(engine.Carrier().icon, "viewer");
}

TEST(CarrierIdentity, ServiceHostsAreThoseTheServiceManagerStarted)
{
    Sandbox sandbox;
    const std::string proc = sandbox.root + "/proc";
    AddProcess(proc, 1, 0, "/usr/lib/systemd/systemd", "0::/init.scope\n", 0);
    AddProcess(proc, 500, 1, "/usr/sbin/sshd", "0::/system.slice/ssh.service\n", 0);
    AddProcess(proc, 600, 1, "/usr/bin/firefox", "0::/user.slice/user-1000.slice/session-2.scope\n", 1000);
    AddProcess(proc, 700, 1, "/usr/sbin/ntpd", "", 104);   // no cgroups: parent 1 and a system account
    AddProcess(proc, 800, 1, "/usr/bin/editor", "", 1000); // double-forked desktop program
    AddProcess(proc, 900, 600, "/usr/bin/helper", "0::/\n", 0); // cgroup namespace root: fall back
    const std::pair<int, int> cases[] = {{500, 1}, {600, 0}, {700, 1}, {800, 0}, {900, 0}};
    for (const auto& [pid, expected] : cases) {
        engine::EngineOptions options;
        options.procRoot = proc;
        options.pid = pid;
        options.exePath = "/usr/bin/x";
        engine::Engine engine(options);
        EXPECT_EQ(engine.IsInService(), expected) << pid;
        EXPECT_EQ(engine.Carrier().isServiceCarrier, expected == 1) << pid;
    }
}

// A script a system interpreter runs is the program, named by its resolved
// path from the folder the process started in; code given on the command
// line, and whatever an interpreter of the user's own runs, are the
// interpreter's.
TEST(CarrierIdentity, AScriptASystemInterpreterRunsIsTheCarrier)
{
    Sandbox sandbox;
    sandbox.WriteRules(kDefaultRulesDocument);
    const std::string proc = sandbox.root + "/proc";
    const std::string folder = sandbox.root + "/work";
    ASSERT_TRUE(os::MakeDirectories(folder));
    WriteText(folder + "/run.py", "print(1)\n");
    ASSERT_EQ(::symlink("run.py", (folder + "/link.py").c_str()), 0);
    WriteText(folder + "/python3", ""); // the user's own, even when the tests run as root
    ASSERT_EQ(::chmod((folder + "/python3").c_str(), 0755), 0);
    if (::geteuid() == 0) {
        ASSERT_EQ(::chown((folder + "/python3").c_str(), 1000, 1000), 0);
    }
    char resolved[PATH_MAX];
    ASSERT_TRUE(::realpath(folder.c_str(), resolved));
    const std::string script = std::string(resolved) + "/run.py";
    const std::string python = "/usr/bin/python3.11";
    struct Case {
        std::string exe;
        std::vector<std::string> argv;
        std::string exePath;
        std::string exeName;
    };
    const Case cases[] = {
        {python, {"python3", "-u", "run.py"}, script, "RUN.PY"},
        {python, {"python3", "link.py", "x"}, script, "RUN.PY"},
        {"/usr/bin/bash", {"bash", "-e", script}, script, "RUN.PY"},
        {python, {"python3", "-c", "code", "run.py"}, python, "PYTHON3.11"},
        {python, {"python3", "-m", "http.server"}, python + " -m http.server", "PYTHON3.11 -M HTTP.SERVER"},
        {folder + "/python3", {"python3", "run.py"}, folder + "/python3", "PYTHON3"},
    };
    int pid = 100;
    for (const Case& c : cases) {
        AddProcess(proc, ++pid, 1, c.exe, "");
        std::string commandLine;
        for (const std::string& arg : c.argv)
            commandLine += arg + '\0';
        WriteText(proc + "/" + std::to_string(pid) + "/cmdline", commandLine);
        ASSERT_EQ(::symlink(folder.c_str(), (proc + "/" + std::to_string(pid) + "/cwd").c_str()), 0);
        engine::EngineOptions options = testing_support::TestEngineOptions("");
        options.procRoot = proc;
        options.pid = pid;
        engine::Engine engine(options);
        EXPECT_EQ(engine.Carrier().exePath, c.exePath) << c.argv.back();
        EXPECT_EQ(engine.Carrier().exeName, c.exeName) << c.argv.back();
        EXPECT_EQ(engine.Carrier().interpreterPath.empty(), c.exePath == c.exe) << c.argv.back();
        if (pid == 101) {
            engine.LoadRules();
            EXPECT_EQ(engine.Carrier().description, "run.py (Python 3.11)");
        }
    }
}

// The parent is known only when the same process was the parent at the
// start and before and after it was read; an entry limited to it then decides.
TEST(CarrierIdentity, ParentIsKnownOnlyWhileTheSameProcessStaysTheParent)
{
    Sandbox sandbox;
    sandbox.WriteRules(testing_support::RulesDocument(
        "<APPLICATION><EXENAME>GIT-REMOTE-HTTPS</EXENAME><INDEF>DENY</INDEF><OUTDEF>DENY</OUTDEF></APPLICATION>"
        "<APPLICATION><EXENAME>GIT-REMOTE-HTTPS/GIT</EXENAME><PARENT>GIT</PARENT><INDEF>DENY</INDEF><OUTDEF>PERMIT"
        "</OUTDEF></APPLICATION>"));
    const std::string proc = sandbox.root + "/proc";
    AddProcess(proc, 300, 1, "/usr/bin/git", "");
    AddProcess(proc, 303, 1, "/usr/bin/git", "");
    ::unlink((proc + "/303/exe").c_str()); // another user's, or gone: its executable does not read
    AddProcess(proc, 310, 300, "/usr/lib/git-core/git-remote-https", "");
    AddProcess(proc, 311, 300, "/usr/lib/git-core/git-remote-https", "");
    static std::vector<pid_t> parents; // what getppid answers, call by call (the last one thereafter)
    static size_t asked;
    const struct Case {
        std::vector<pid_t> parents;
        pid_t startParent, self; // as the hook saw them at the start (0: parents' first, this process)
        const char* parentName;
    } cases[] = {
        {{300}, 0, 0, "GIT"},   {{300, 1}, 0, 0, ""}, // reparented while read
        {{300}, 305, 0, ""},                          // adopted by git after its starter ended
        {{303}, 0, 0, ""},      {{1}, 0, 0, ""},   {{309}, 0, 0, ""},
        {{310}, 300, 311, "GIT"},                     // a fork of what git started
        {{310}, 300, 312, ""},                        // the same, that one gone
    };
    for (const Case& c : cases) {
        parents = c.parents;
        asked = 0;
        engine::EngineOptions options = testing_support::TestEngineOptions("");
        options.procRoot = proc;
        options.pid = 310;
        options.parentPid = [] { return parents[std::min(asked++, parents.size() - 1)]; };
        const protocol::HookParent started {c.self ? c.self : 310, c.startParent ? c.startParent : c.parents.front()};
        options.startParent = &started;
        engine::Engine engine(options);
        EXPECT_EQ(engine.Carrier().parentName, c.parentName) << &c - cases;
        EXPECT_EQ(engine.Approve(40000, 1, "10.0.0.5", 1, 80), *c.parentName ? engine::kPermit : engine::kDeny);
    }
}

TEST(CarrierIdentity, ServiceHostsAreNeverAskedAndLogTheirService)
{
    Sandbox sandbox;
    sandbox.WriteRules(kDefaultRulesDocument);
    const std::string proc = sandbox.root + "/proc";
    AddProcess(proc, 500, 1, "/usr/sbin/sshd", "0::/system.slice/ssh.service\n", 0);
    // The host's path comes from the fake process table.
    engine::EngineOptions options = testing_support::TestEngineOptions("");
    options.procRoot = proc;
    options.pid = 500;
    engine::Engine engine(options);
    EXPECT_EQ(engine.Carrier().exePath, "/usr/sbin/sshd");
    EXPECT_EQ(engine.UserApprove(22, 0, "10.0.0.5", "host1", 1, 40000), 0);
    const auto records = sandbox.ConnectionRecords();
    ASSERT_EQ(records.size(), 1u);
    EXPECT_NE(records[0].find("<PERMISSION>0</PERMISSION><SERVICE>1</SERVICE><REASON>service</REASON>"),
              std::string::npos);
}

TEST_F(FixedTimeZone, RecordsAcrossMidnightLandInTwoDailyFiles)
{
    Sandbox sandbox;
    protocol::TrafficLog log(sandbox.logs);
    const std::time_t beforeMidnight = 1796601599; // 2026-12-06 23:59:59 UTC
    log.AppendLogRecord("<APPLICATIONSTART>/a</APPLICATIONSTART>", beforeMidnight);
    log.AppendLogRecord("<APPLICATIONEND>/a</APPLICATIONEND>", beforeMidnight + 2);
    EXPECT_EQ(log.FileNameFor(beforeMidnight), sandbox.logs + "/6_12_2026_qrb.log");
    const std::string first = testing_support::ReadText(sandbox.logs + "/6_12_2026_qrb.log");
    const std::string second = testing_support::ReadText(sandbox.logs + "/7_12_2026_qrb.log");
    EXPECT_NE(first.find("<APPLICATIONSTART>/a</APPLICATIONSTART>\r\n"), std::string::npos);
    EXPECT_EQ(first.find("APPLICATIONEND"), std::string::npos);
    EXPECT_NE(second.find("<APPLICATIONEND>/a</APPLICATIONEND>\r\n"), std::string::npos);
}

TEST_F(FixedTimeZone, EngineUsesItsClockForTheFileOfTheDay)
{
    Sandbox sandbox;
    sandbox.WriteRules(kDefaultRulesDocument);
    std::time_t now = 1796601599;
    engine::EngineOptions options = testing_support::TestEngineOptions("/apps/tool");
    options.now = [&now] { return now; };
    engine::Engine engine(options);
    engine.Approve(40000, 1, "10.0.0.5", 1, 80);
    now += 2;
    engine.Approve(40000, 1, "10.0.0.5", 1, 80);
    EXPECT_EQ(testing_support::ReadText(sandbox.logs + "/6_12_2026_qrb.log").find("<EXEPATH>"),
              testing_support::ReadText(sandbox.logs + "/6_12_2026_qrb.log").rfind("<EXEPATH>"));
    EXPECT_NE(testing_support::ReadText(sandbox.logs + "/7_12_2026_qrb.log").find("<EXEPATH>"), std::string::npos);
}

// A record's DATE and TIME as the locales write them (%x, %X), read against
// its file's day: which number is the day is told by the file, a record
// from before midnight in the next day's file keeps its own day, and one
// whose DATE cannot be read stays in its file's day, never dropped.
TEST_F(FixedTimeZone, RecordTimesAreReadAsEveryLocaleWritesThemAgainstTheirFilesDay)
{
    ::setenv("TZ", "CET-1CEST,M3.5.0,M10.5.0/3", 1);
    ::tzset();
    struct Case {
        const char* file;
        const char* date;
        const char* time;
        const char* iso;
        bool dated;
    };
    const Case cases[] = {
        {"3_7_2026_qrb.log", "07/03/26", "14:05:09", "2026-07-03T14:05:09+02:00", true},      // C
        {"3_7_2026_qrb.log", "07/03/2026", "02:05:09 PM", "2026-07-03T14:05:09+02:00", true}, // en_US
        {"3_7_2026_qrb.log", "03.07.2026", "14:05:09", "2026-07-03T14:05:09+02:00", true},    // de_DE
        {"3_7_2026_qrb.log", "03/07/26", "14:05:09", "2026-07-03T14:05:09+02:00", true},      // en_GB
        {"7_3_2026_qrb.log", "07/03/26", "09:00:00", "2026-03-07T09:00:00+01:00", true},      // en_GB in March
        {"7_3_2026_qrb.log", "03/07/26", "12:00:01 AM", "2026-03-07T00:00:01+01:00", true},   // C, en_US's midnight
        {"4_7_2026_qrb.log", "07/03/26", "23:59:59", "2026-07-03T23:59:59+02:00", true},      // the day before
        {"4_7_2026_qrb.log", "03.07.2026", "23:59:59", "2026-07-03T23:59:59+02:00", true},
        {"3_7_2026_qrb.log", "2026年07月03日", "14時05分09秒", "2026-07-03T14:05:09+02:00", true},
        {"3_7_2026_qrb.log", "03 Jul, 2026", "02:05:09 PM IST", "2026-07-03T14:05:09+02:00", true},
        {"3_7_2026_qrb.log", "03/07/2026", "kl. 14.05 +0200", "2026-07-03T14:05:00+02:00", true},
        {"/logs/1_1_2027_qrb.log", "12/31/26", "11:59:59 PM", "2026-12-31T23:59:59+01:00", true},
        {"1_1_2026_qrb.log", "01/02/26", "10:00:00", "2026-01-02T10:00:00+01:00", true}, // the nearer of two
        // Not read: the file's day stands in, with the time when it is read.
        {"3_7_2026_qrb.log", "Freitag", "14:05:09", "2026-07-03T14:05:09+02:00", false},
        {"3_7_2026_qrb.log", "03/07/2569", "14:05:09", "2026-07-03T14:05:09+02:00", false}, // another era's year
        {"3_7_2026_qrb.log", "06/30/26", "14:05:09", "2026-07-03T14:05:09+02:00", false},   // days before its file
        {"3_7_2026_qrb.log", "", "", "2026-07-03T00:00:00+02:00", false},
        {"3_7_2026_qrb.log", "03/07/26", "99:99", "2026-07-03T00:00:00+02:00", false},
    };
    for (const Case& c : cases) {
        const auto day = protocol::DayOfLogFile(c.file);
        ASSERT_TRUE(day) << c.file;
        const protocol::RecordWhen read = protocol::ReadRecordTime(c.date, c.time, *day);
        EXPECT_EQ(protocol::IsoTime(read.when), c.iso) << c.file << " " << c.date << " " << c.time;
        EXPECT_EQ(read.dated, c.dated) << c.date << " " << c.time;
    }
    for (const char* name : {"03_7_2026_qrb.log", "3_7_2026_err.LOG", "31_2_2026_qrb.log", "x"})
        EXPECT_FALSE(protocol::DayOfLogFile(name)) << name;

    // The words: every REASON word the engine writes has its text, the
    // reserved ones too; a word no table knows has none and is shown as it is.
    for (const char* word : {protocol::log_reason::kRule, protocol::log_reason::kRuntime, protocol::log_reason::kList,
                             protocol::log_reason::kQuiet, protocol::log_reason::kLearn})
        EXPECT_TRUE(protocol::FindReasonWord(word)) << word;
    for (const char* word : {"", "newword", "Rule", "rule "})
        EXPECT_FALSE(protocol::FindReasonWord(word)) << word;
    // What the writer puts down the reader finds by the same tags.
    const std::string head = protocol::ConnectionRecordHead("/usr/bin/curl", "CURL");
    protocol::RecordText body;
    protocol::FormatConnectionBody(
        {&head, 1, 1, "192.0.2.7", 0, 443, 0, false, "x.example", protocol::log_reason::kList, "Ads <EU>"}, body);
    std::tm local {};
    local.tm_year = 126;
    local.tm_mon = 6;
    local.tm_mday = 3;
    const auto entry = protocol::ParseLogLine(protocol::RecordStamp(local) + std::string(body.View()) + "<NEWER>x</NEWER>");
    ASSERT_TRUE(entry);
    EXPECT_EQ((std::vector<std::string> {entry->exePath, entry->application, entry->protocol, entry->direction, entry->ip,
                                         entry->localPort, entry->remotePort, entry->permission, entry->service,
                                         entry->host, entry->reason, entry->list}),
              (std::vector<std::string> {"/usr/bin/curl", "CURL", "1", "1", "192.0.2.7", "0", "443", "0", "0", "x.example",
                                         "list", "Ads <EU>"}));
    EXPECT_FALSE(entry->date.empty());
    // A tag of a newer writer is kept aside.
    ASSERT_EQ(entry->others.size(), 1u);
    EXPECT_EQ(entry->others[0].first, "NEWER");
}

TEST(TrafficLog, UnwritableOrMissingFolderDropsRecordsQuietly)
{
    Sandbox sandbox;
    protocol::TrafficLog missing(sandbox.root + "/no/such/folder");
    missing.AppendLogRecord("<APPLICATIONSTART>/a</APPLICATIONSTART>", std::time(nullptr));
    protocol::TrafficLog empty("");
    empty.AppendLogRecord("<APPLICATIONSTART>/a</APPLICATIONSTART>", std::time(nullptr));
    struct stat st {};
    EXPECT_NE(::stat((sandbox.root + "/no").c_str(), &st), 0);
    // An empty folder setting must not put files at the root of the file system.
    EXPECT_NE(::stat(empty.FileNameFor(std::time(nullptr)).c_str(), &st), 0);
}

// A link named as the day's file could make a program run as root write
// into any file: the log does not follow it, and drops the record as it
// does when it cannot open the file.
TEST(AttackTrafficLog, LinkInPlaceOfTheDaysFileIsNotFollowed)
{
    Sandbox sandbox;
    const std::string target = sandbox.root + "/elsewhere";
    testing_support::WriteText(target, "untouched\n");
    protocol::TrafficLog log(sandbox.logs);
    const std::time_t now = std::time(nullptr);
    ASSERT_EQ(::symlink(target.c_str(), log.FileNameFor(now).c_str()), 0);
    log.AppendLogRecord("<APPLICATIONSTART>/a</APPLICATIONSTART>", now);
    EXPECT_EQ(testing_support::ReadText(target), "untouched\n");
    struct stat st {};
    ASSERT_EQ(::lstat(log.FileNameFor(now).c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
}

// The settings store of a program started as root with its caller's
// variables may be the caller's: a store another user owns or can write is
// taken as no store at all (no settings, no log folder, nothing logged).
TEST(AttackEngineSettings, StoreAnotherUserControlsIsTakenAsNoStore)
{
    const auto run = [](const std::function<void(const Sandbox&)>& spoil, int& answer, size_t& lines) {
        Sandbox sandbox;
        sandbox.WriteRules(kDefaultRulesDocument);
        spoil(sandbox);
        engine::Engine engine(testing_support::TestEngineOptions("/apps/tool"));
        answer = engine.Approve(40000, 1, "10.0.0.5", 1, 80);
        lines = sandbox.LogLines().size();
    };
    int trustedAnswer = -1, noStoreAnswer = -1;
    size_t trustedLines = 0, noStoreLines = 0;
    run([](const Sandbox&) {}, trustedAnswer, trustedLines);
    run([](const Sandbox& s) { testing_support::RemoveTree(s.registry); }, noStoreAnswer, noStoreLines);
    ASSERT_GT(trustedLines, 0u); // a sound store: the start is logged
    EXPECT_EQ(noStoreLines, 0u);
    struct Case {
        const char* name;
        bool needsRoot;
        std::function<void(const Sandbox&)> spoil;
    };
    const Case cases[] = {
        {"store writable by all", false, [](const Sandbox& s) { ::chmod(s.registry.c_str(), 0777); }},
        {"folder above writable by all", false, [](const Sandbox& s) { ::chmod(s.root.c_str(), 0777); }},
        {"store of another user", true, [](const Sandbox& s) { ASSERT_EQ(::chown(s.registry.c_str(), 65534, 65534), 0); }},
    };
    for (const Case& c : cases) {
        if (c.needsRoot && ::geteuid() != 0)
            continue;
        int answer = -1;
        size_t lines = 99;
        run(c.spoil, answer, lines);
        EXPECT_EQ(answer, noStoreAnswer) << c.name;
        EXPECT_EQ(lines, 0u) << c.name;
    }
    if (::geteuid() != 0)
        GTEST_SKIP() << "a store of another user needs root to make";
}

// A program's path, description or a peer's name is data: whatever it holds,
// a record stays one line and no text can end it or start another.
TEST(AttackTrafficLog, RecordTextsAreEscapedSoNoProgramCanForgeARecord)
{
    Sandbox sandbox;
    sandbox.WriteRules(kDefaultRulesDocument);
    const std::string forged = "/opt/evil\r\n<DATE>1</DATE><TIME>2</TIME><EXEPATH>/usr/bin/ssh</EXEPATH>&x/tool";
    engine::Engine engine(testing_support::TestEngineOptions(forged));
    EXPECT_EQ(engine.Approve(40000, 1, "10.0.0.5", 1, 80), 1);
    const auto lines = sandbox.LogLines();
    ASSERT_EQ(lines.size(), 2u); // the start and the connection, one line each
    const std::string& record = lines[1];
    EXPECT_EQ(record.find("<EXEPATH>/usr/bin/ssh</EXEPATH>"), std::string::npos);
    const size_t from = record.find("<EXEPATH>") + 9;
    const std::string path = record.substr(from, record.find("</EXEPATH>") - from);
    EXPECT_EQ(path.find_first_of("<>\r\n"), std::string::npos);
    EXPECT_EQ(text::UnescapeLogText(path), forged);
    EXPECT_EQ(text::UnescapeLogText(text::EscapeLogText("a&amp;b<&#10;")), "a&amp;b<&#10;");
}


// On a full disk a record is written whole or not at all: the part of one
// cut short is blanked out, and the next record starts a line of its own.
TEST(TrafficLog, RecordCutShortByAFullDiskIsBlankedOut)
{
    Sandbox sandbox;
    const std::string disk = sandbox.root + "/disk";
    ::mkdir(disk.c_str(), 0700);
    const std::string body = "<EXEPATH>" + std::string(300, 'p') + "</EXEPATH><PERMISSION>1</PERMISSION>";
    const int status = testing_support::WithTinyDisk(disk, "8k", [&] {
        // One page of the two taken by another file: the log has one page.
        WriteText(disk + "/filler", std::string(4096, 'f'));
        protocol::TrafficLog log(disk);
        for (int i = 0; i < 20; ++i)
            log.AppendLogRecord(body, 1796601599);
        ::unlink((disk + "/filler").c_str());
        log.AppendLogRecord(body + "<LAST/>", 1796601599);
        const std::string text = testing_support::ReadText(log.FileNameFor(1796601599));
        size_t whole = 0, blank = 0, torn = 0;
        std::istringstream lines(text);
        for (std::string line; std::getline(lines, line);) {
            if (line.rfind("<DATE>", 0) == 0 && line.find(body) != std::string::npos && line.back() == '\r')
                ++whole;
            else if (line.find_first_not_of(' ') == std::string::npos)
                ++blank;
            else
                ++torn;
        }
        std::fprintf(stderr, "whole %zu, blanked %zu, torn %zu\n", whole, blank, torn);
        return torn == 0 && blank == 1 && whole >= 2 && text.find("<LAST/>") != std::string::npos;
    });
    if (status == 77)
        GTEST_SKIP() << "no private tmpfs can be made here";
    EXPECT_EQ(status, 0);
}

namespace {

// Runs fn in a child that must finish within the time given: true when it did and returned true.
bool FinishesWithin(std::chrono::seconds limit, const std::function<bool()>& fn)
{
    const pid_t child = ::fork();
    if (child == 0)
        ::_exit(fn() ? 0 : 1);
    int status = 0;
    if (!testing_support::WaitChild(child, status, limit)) {
        ::kill(child, SIGKILL);
        ::waitpid(child, &status, 0);
        return false;
    }
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

}  // namespace

// A FIFO where the rules file or a setting should be is never opened for
// reading: opening one waits for a writer that never comes.
TEST(AttackEngineSettings, FifoWhereAFileShouldBeNeverHangsTheProgram)
{
    Sandbox sandbox;
    ASSERT_EQ(::mkfifo(sandbox.rulesFile.c_str(), 0600), 0);
    const std::string status = sandbox.registry + "/HKEY_LOCAL_MACHINE/Software/KORVEL/QRB/SecurityStatus";
    ::unlink(status.c_str());
    ASSERT_EQ(::mkfifo(status.c_str(), 0600), 0);
    EXPECT_TRUE(FinishesWithin(std::chrono::seconds(5), [] {
        engine::Engine engine(testing_support::TestEngineOptions("/apps/tool"));
        // No rules (so the user would be asked), and no block-all.
        return engine.Approve(40000, 1, "10.0.0.5", 1, 80) == 2 && !engine.IsBlockAll();
    }));
}

TEST(EngineSettings, PathSettingsAreTakenAsAUserMeansThem)
{
    Sandbox sandbox;
    sandbox.WriteRules(kDefaultRulesDocument);
    // Written with a line break by "echo > file"; a log folder relative to the home folder.
    sandbox.SetSetting("RulesFile", "  " + sandbox.rulesFile + "\n");
    sandbox.SetSetting("LogFilesPath", "relative-logs");
    const char* home = std::getenv("HOME");
    const std::string savedHome = home ? home : "";
    ::setenv("HOME", sandbox.root.c_str(), 1);
    ::mkdir((sandbox.root + "/relative-logs").c_str(), 0700);
    {
        engine::Engine engine(testing_support::TestEngineOptions("/apps/tool"));
        EXPECT_EQ(engine.Approve(40000, 1, "10.0.0.5", 1, 8080), 1); // the default document's outgoing default
        EXPECT_EQ(engine.RulesSnapshot().entries.size(), 6u);
    }
    ::setenv("HOME", savedHome.c_str(), 1);
    protocol::TrafficLog log(sandbox.root + "/relative-logs");
    EXPECT_NE(testing_support::ReadText(log.FileNameFor(std::time(nullptr))).find("<EXEPATH>/apps/tool"),
              std::string::npos);
    EXPECT_EQ(os::SettingPath("~/a/b"), os::HomeFolder() + "/a/b");
    EXPECT_EQ(os::SettingPath(" /abs/path\r\n"), "/abs/path");
}

// The hook keeps datagram verdicts while this number stays the same: each
// change makes a new one, never one seen before (block-all switched off
// again included), and never that of a failing engine.
TEST(EngineVerdictEpoch, ChangesWithReloadsBlockAllAndPassThrough)
{
    Sandbox sandbox;
    sandbox.WriteRules(kDefaultRulesDocument);
    engine::Engine engine(testing_support::TestEngineOptions("/apps/tool"));
    std::set<uint32_t> seen {engine.VerdictEpoch()};
    EXPECT_EQ(engine.VerdictEpoch(), *seen.begin());
    const std::function<void()> changes[] = {
        [&] { sandbox.SetSetting("SecurityStatus", "0"); },
        [&] { sandbox.SetSetting("SecurityStatus", "1"); },
        [&] { sandbox.SetAutostart(false); }, // the firewall is not meant to run: everything passes
        [&] { sandbox.SetAutostart(true); },
        [&] { engine.LoadRules(); },
    };
    for (const auto& change : changes) {
        change();
        const uint32_t epoch = engine.VerdictEpoch();
        EXPECT_TRUE(seen.insert(epoch).second) << epoch;
        EXPECT_NE(epoch, 0xFFFFFFFFu);
        EXPECT_EQ(engine.VerdictEpoch(), epoch);
    }
}
