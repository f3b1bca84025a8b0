// What the main window says "Decide every program I start" covers, the
// Protection view's words, and the panel making the user's start-up files
// and the running session follow the choice.
#include "panel/core/KernelLayer.h"
#include "panel/core/SessionCoverage.h"

#include "os/Files.h"
#include "session/SessionLogin.h"
#include "tests/EventWait.h"
#include "tests/Sandbox.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

using namespace panel;
using session::coverage::Program;
using session::coverage::Reason;
using session::coverage::State;
using session::HookProblem;
using testing_support::ReadText;
using testing_support::Sandbox;
using testing_support::WriteText;

namespace {

constexpr const char* kFromNow = "Programs you start from now on are decided by your rules; programs already running are "
                                 "not: restart them or log in again";

Program Row(State state, Reason reason)
{
    Program program;
    program.state = state;
    program.reason = reason;
    return program;
}

}  // namespace

// What is decided now, and what after the next login (the first-run window's second line).
TEST(SessionCoverage, TextSaysWhatIsDecidedNowAndAfterTheNextLogin)
{
    constexpr const char* kOff = "Only programs you start with zel-run are decided";
    constexpr const char* kWhole = "Programs you start are decided by your rules.";
    constexpr const char* kMissing = "Programs you start are not decided: the firewall's hook /i/libzelhook.so is missing";
    const struct {
        bool on;
        HookProblem problem;
        bool underHook;
        bool switchedNow;
        Coverage coverage;
        const char* text; // the start of it
        const char* nextLogin; // the start of it
    } cases[] = {
        {false, HookProblem::kNone, true, false, Coverage::kOff, kOff, kOff},
        {true, HookProblem::kMissing, false, false, Coverage::kHookUnusable, kMissing, kMissing},
        {true, HookProblem::kWritableByOthers, true, false, Coverage::kHookUnusable,
         "Programs you start are not decided: the firewall's hook /i/libzelhook.so could be changed by other users",
         "Programs you start are not decided: the firewall's hook /i/libzelhook.so could be changed by other users"},
        {true, HookProblem::kNone, false, false, Coverage::kFromNow, kFromNow, kWhole},
        {true, HookProblem::kNone, false, true, Coverage::kFromNow, kFromNow, kWhole},
        // Off and on again: what started meanwhile started without it.
        {true, HookProblem::kNone, true, true, Coverage::kFromNow, kFromNow, kWhole},
        {true, HookProblem::kNone, true, false, Coverage::kWholeSession, kWhole, kWhole},
    };
    for (const auto& c : cases) {
        const SessionFacts facts {c.on, "/i/libzelhook.so", c.problem, c.underHook, c.switchedNow};
        EXPECT_EQ(CoverageOf(facts), c.coverage) << c.text;
        EXPECT_EQ(CoverageText(facts).rfind(c.text, 0), 0u) << CoverageText(facts);
        EXPECT_EQ(CoverageText(AtNextLogin(facts)).rfind(c.nextLogin, 0), 0u) << CoverageText(AtNextLogin(facts));
    }
}

TEST(SessionCoverage, SummaryCountsProgramsByWhatDecidesThem)
{
    EXPECT_EQ(SummaryText({}), "Protection: no program of yours has a network connection.");
    EXPECT_EQ(SummaryText({Row(State::kFirewall, Reason::kNone)}), "Protection: 1 program decided by your rules.");
    EXPECT_EQ(SummaryText({Row(State::kFirewall, Reason::kNone), Row(State::kFirewall, Reason::kNone),
                           Row(State::kNotCovered, Reason::kStatic), Row(State::kBackstop, Reason::kOwnSystemCalls)}),
              "Protection: 2 programs decided by your rules, 1 by the kernel backstop, 1 not covered.");
    EXPECT_EQ(SummaryText({Row(State::kNotCovered, Reason::kStartedWithout)}),
              "Protection: 0 programs decided by your rules, 1 not covered.");
    // Processes of one file are one program, as covered as its least covered
    // process; processes whose file cannot be read count one by one.
    std::vector<Program> browser(9, Row(State::kFirewall, Reason::kNone));
    for (Program& process : browser)
        process.exePath = "/usr/lib/firefox-esr/firefox-esr";
    EXPECT_EQ(SummaryText(browser), "Protection: 1 program decided by your rules.");
    browser[5].state = State::kNotCovered;
    browser.push_back(Row(State::kFirewall, Reason::kNone));
    browser.push_back(Row(State::kFirewall, Reason::kNone));
    EXPECT_EQ(SummaryText(browser), "Protection: 2 programs decided by your rules, 1 not covered.");
    const auto programs = panel::GroupByProgram(browser);
    ASSERT_EQ(programs.size(), 3u);
    EXPECT_EQ(programs[0].size(), 9u);
    EXPECT_EQ(programs[0].front(), &browser[5]);
}

TEST(SessionCoverage, AdviceNamesWhatFixesAProgram)
{
    const struct {
        Program program;
        bool backstop;
        const char* advice;
    } cases[] = {
        {Row(State::kFirewall, Reason::kNone), false, "Nothing to do."},
        {Row(State::kNotCovered, Reason::kStartedWithout), false, "Restart it under the firewall, or log in again."},
        {Row(State::kBackstop, Reason::kHookNotLoaded), true, "Restart it under the firewall, or log in again."},
        {Row(State::kNotCovered, Reason::kStatic), false, "Install the kernel backstop (zel-backstop, as root) to cover it; see the README."},
        {Row(State::kBackstop, Reason::kSandboxed), true, "The kernel backstop decides its connections."},
        {Row(State::kNotCovered, Reason::kOtherUser), true, "Start it as yourself to have it decided by your rules."},
    };
    for (const auto& c : cases)
        EXPECT_EQ(AdviceText(c.program, c.backstop), c.advice);
    Program other = Row(State::kNotCovered, Reason::kOtherUser);
    EXPECT_EQ(ReasonText(other, "_apt"), "Another user's program (it runs as _apt): the firewall decides only your own programs.");
}

// What `zel-backstop status` says, as the page reads it: only its own
// lines count, and nothing unknown is taken for attached.
TEST(KernelLayer, StatusIsReadFromTheBackstopsOwnLines)
{
    using Kind = panel::KernelLayerState::Kind;
    const struct {
        int exit;
        const char* output;
        Kind kind;
        const char* detail;
    } cases[] = {
        {0, "zel-backstop: running, rules for alice\n", Kind::kAttached, "rules"},
        {0, "zel-backstop: running, notify for alice\n", Kind::kAttached, "notify"},
        {3, "zel-backstop: not running for alice (nothing answers on /run/zel-backstop/1000.sock)\n", Kind::kNotAttached, ""},
        {3, "libbpf: noise\nzel-backstop: this kernel cannot hold the backstop: no cgroup v2 hierarchy is mounted; "
            "the kernel has no type information (BTF)\n", Kind::kCannotHold,
         "no cgroup v2 hierarchy is mounted; the kernel has no type information (BTF)"},
        {3, "zel-backstop: running, rules for alice\n", Kind::kNotAttached, ""}, // said, but it failed
        {0, "zel-backstop: running, sideways for alice\n", Kind::kUnknown, ""},
        {0, "running, rules for alice\n", Kind::kUnknown, ""},
        {-1, "", Kind::kNotAttached, ""},
    };
    for (const auto& c : cases) {
        const panel::KernelLayerState state = panel::ParseKernelLayerStatus(c.exit, c.output);
        EXPECT_EQ(state.kind, c.kind) << c.output;
        EXPECT_EQ(state.detail, c.detail) << c.output;
    }
    EXPECT_EQ(panel::KernelLayerText({Kind::kCannotHold, "the kernel has no type information (BTF); a new lack"}),
              "The kernel backstop cannot run on this kernel (the kernel has no type information (BTF); a new lack): "
              "programs the firewall cannot enter are not covered. The firewall still decides the programs it is in.");
}

// pkexec runs zel-admin as root once an administrator agrees: a copy that
// anyone but root could replace, or one beside it, is never offered.
TEST(KernelLayer, OnlyProgramsRootAloneCanChangeAreOffered)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "files of root's need root";
    testing_support::Sandbox sandbox;
    const std::string prefix = sandbox.root + "/usr", other = sandbox.root + "/opt";
    for (const std::string& at : {prefix, other}) {
        ASSERT_TRUE(os::MakeDirectories(at + "/" ZEL_SBIN_DIR) && os::MakeDirectories(at + "/" ZEL_PKG_DIR));
        for (const std::string& program : {at + "/" ZEL_SBIN_DIR "/zel-backstop", at + "/" ZEL_PKG_DIR "/zel-admin"})
            ASSERT_TRUE(os::WriteFileAtomically(program, "#!/bin/sh\n", 0755));
    }
    ASSERT_EQ(::chmod(sandbox.root.c_str(), 0755), 0);
    const auto offered = [&] { return panel::FindKernelLayerPrograms({"relative", other, prefix}).admin; };
    EXPECT_EQ(offered(), other + "/" ZEL_PKG_DIR "/zel-admin");
    // Another user's file, a folder others can write: the next prefix's.
    ASSERT_EQ(::chown((other + "/" ZEL_PKG_DIR "/zel-admin").c_str(), 65534, 65534), 0);
    EXPECT_EQ(offered(), prefix + "/" ZEL_PKG_DIR "/zel-admin");
    ASSERT_EQ(::chmod((prefix + "/" ZEL_SBIN_DIR).c_str(), 0777), 0);
    EXPECT_EQ(offered(), "");
    ASSERT_EQ(::chmod((prefix + "/" ZEL_SBIN_DIR).c_str(), 01777), 0); // sticky: root's entries stay root's
    EXPECT_EQ(panel::FindKernelLayerPrograms({prefix}).backstop, prefix + "/" ZEL_SBIN_DIR "/zel-backstop");
    ASSERT_EQ(::chmod(sandbox.root.c_str(), 0775), 0);
    ASSERT_EQ(::chown(sandbox.root.c_str(), 0, 65534), 0);
    EXPECT_EQ(offered(), "");
}

// What the panel tells as it looks at the backstop every few seconds: each
// change once (a single miss is a restart, not a stop), nothing while
// nothing was expected to run.
TEST(KernelLayer, ChangesAreToldOncePerChange)
{
    using Event = panel::KernelLayerWatch::Event;
    const struct {
        const char* name;
        const char* looks; // per look: R running, m missing, e missing while expected
        std::vector<Event> told;
    } cases[] = {
        {"never installed or wanted", "mmmmmm", {}},
        {"running throughout", "RRRR", {}},
        {"a restart between two looks", "RmRmRmR", {}},
        {"stopped, and stays stopped", "RRmmmmmm", {Event::kStopped}},
        {"stopped and started again, twice", "RmmmRRmmR", {Event::kStopped, Event::kBack, Event::kStopped, Event::kBack}},
        {"expected but never came", "eeeeee", {Event::kNotStarted}},
        {"came late after all", "eeeR", {Event::kNotStarted, Event::kBack}},
        {"came in time", "eR", {}},
    };
    for (const auto& c : cases) {
        panel::KernelLayerWatch watch;
        std::vector<Event> told;
        for (const char* look = c.looks; *look; ++look)
            if (const Event event = watch.Observe(*look == 'R', *look == 'e'); event != Event::kNone)
                told.push_back(event);
        EXPECT_EQ(told, c.told) << c.name;
    }
    EXPECT_EQ(panel::KernelLayerEventText(Event::kNone), "");
    EXPECT_NE(panel::KernelLayerEventText(Event::kStopped), panel::KernelLayerEventText(Event::kNotStarted));
}

// The login start's decision: started only where it is installed, systemd
// does not start it and it is not running, and once per login (the mark
// names the login; a mark left by an earlier login does not count; a mark
// that cannot be kept means no start rather than one at every panel start).
TEST(KernelLayer, StartedAtLoginOnlyWhereNothingElseStartsItAndOnce)
{
    using panel::LoginStart;
    Sandbox sandbox;
    const std::string mark = sandbox.root + "/mark";
    const struct {
        bool installed, systemd, running;
        std::string mark, login;
        LoginStart decided;
    } cases[] = {
        {false, false, false, mark, "boot 1", LoginStart::kNotInstalled},
        {true, true, false, mark, "boot 1", LoginStart::kSystemd},
        {true, false, true, mark, "boot 1", LoginStart::kRunning},
        {true, false, false, mark, "boot 1", LoginStart::kStart},
        {true, false, false, mark, "boot 1", LoginStart::kAlreadyTried},
        {true, false, true, mark, "boot 1", LoginStart::kRunning},
        {true, false, false, mark, "boot 2", LoginStart::kStart}, // the next login
        {true, false, false, mark, "boot 2", LoginStart::kAlreadyTried},
        {true, false, false, "", "boot 3", LoginStart::kAlreadyTried},
        {true, false, false, sandbox.root + "/absent/mark", "boot 3", LoginStart::kAlreadyTried},
    };
    for (const auto& c : cases)
        EXPECT_EQ(panel::DecideLoginStart(c.installed, c.systemd, c.running, c.mark, c.login), c.decided)
            << c.login << " " << c.installed << c.systemd << c.running << " " << c.mark;
    // A link planted for the mark is not followed.
    ASSERT_EQ(::unlink(mark.c_str()), 0);
    ASSERT_EQ(::symlink((sandbox.root + "/elsewhere").c_str(), mark.c_str()), 0);
    EXPECT_EQ(panel::DecideLoginStart(true, false, false, mark, "boot 4"), LoginStart::kStart);
    EXPECT_FALSE(os::ReadFile(sandbox.root + "/elsewhere").has_value());
    const std::string login = panel::LoginName("/proc");
    EXPECT_EQ(login, panel::LoginName("/proc"));
    EXPECT_GT(login.size(), 36u) << login; // the boot's id and a session
}

// The panel's side: the user's start-up files follow the choice, and the
// running session is updated by the installation's zel-session.
TEST(SessionCoverage, ChoiceWritesAndTakesAwayTheUsersStartUpFiles)
{
    Sandbox sandbox;
    const char* oldHome = std::getenv("HOME");
    const std::string savedHome = oldHome ? oldHome : "";
    const std::string home = sandbox.root + "/home";
    ::mkdir(home.c_str(), 0700);
    ::setenv("HOME", home.c_str(), 1);
    const std::string install = sandbox.root + "/prefix/lib/korvel/";
    ASSERT_TRUE(os::MakeDirectories(install));
    const std::string calls = sandbox.root + "/calls.txt";
    WriteText(install + "zel-session", "#!/bin/sh\necho \"$*\" >>'" + calls + "'\n");
    ::chmod((install + "zel-session").c_str(), 0755);
    const auto callsMade = [&](size_t wanted) {
        testing_support::WaitForFile(sandbox.root, [&] {
            const std::string text = ReadText(calls);
            return static_cast<size_t>(std::count(text.begin(), text.end(), '\n')) >= wanted;
        }, std::chrono::seconds(5));
        return ReadText(calls);
    };

    ASSERT_TRUE(SaveSessionOption(true));
    EXPECT_TRUE(session::IsOptionOn());
    ASSERT_TRUE(ApplySessionOption(true, install, true));
    EXPECT_TRUE(session::HasLoginFiles());
    EXPECT_NE(ReadText(home + "/.xsessionrc").find("'" + install + "zel-session' --preload"), std::string::npos);
    EXPECT_EQ(callsMade(1), "--update-session\n");

    ASSERT_TRUE(SaveSessionOption(false));
    ASSERT_TRUE(ApplySessionOption(false, install, true));
    EXPECT_FALSE(session::HasLoginFiles());
    EXPECT_EQ(callsMade(2), "--update-session\n--update-session\n");

    // Without being asked, the running session is left alone: the next
    // call asked for is the third line.
    ASSERT_TRUE(ApplySessionOption(true, install, false));
    EXPECT_TRUE(session::HasLoginFiles());
    ASSERT_TRUE(ApplySessionOption(false, install, true));
    EXPECT_EQ(callsMade(3), "--update-session\n--update-session\n--update-session\n");
    ::setenv("HOME", savedHome.c_str(), 1);
}
