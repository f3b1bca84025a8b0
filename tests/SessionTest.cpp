// "Decide every program I start": the LD_PRELOAD value the session gets,
// when the hook may be named, the user's start-up files, and zel-session as
// the session's start-up files and the panel run it.
#include "os/Files.h"
#include "protocol/SettingNames.h"
#include "session/SessionLogin.h"
#include "session/SessionPreload.h"
#include "tests/ChildProcess.h"
#include "tests/Sandbox.h"

#include <cstdlib>
#include <dlfcn.h>
#include <exception>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace session;
using testing_support::ChildProcess;
using testing_support::ReadText;
using testing_support::Sandbox;
using testing_support::WriteText;

namespace {

constexpr const char* kHook = "/opt/korvel/lib/korvel/libzelhook.so";

// HOME and the XDG folders inside the sandbox, as they were afterwards.
class PrivateHome {
public:
    explicit PrivateHome(const Sandbox& sandbox) : home(sandbox.root + "/home")
    {
        const char* old = std::getenv("HOME");
        saved_ = old ? old : "";
        ::mkdir(home.c_str(), 0700);
        ::setenv("HOME", home.c_str(), 1);
    }
    ~PrivateHome() { ::setenv("HOME", saved_.c_str(), 1); }
    const std::string home;

private:
    std::string saved_;
};

// The output of a program run to its end, and its status.
struct Finished {
    int status = -1;
    std::string output;
};
Finished RunToEnd(const std::vector<std::string>& argv, const std::map<std::string, std::string>& env = {})
{
    ChildProcess child(argv, env);
    Finished finished;
    while (const auto line = child.ReadLine(std::chrono::seconds(10)))
        finished.output += *line + "\n";
    finished.status = child.Wait();
    return finished;
}

bool IsRoot() { return ::geteuid() == 0; }

// A library of the user's own preload, real so that the loader has nothing
// to say about it: the C++ library the tests run with.
std::string UsersLibrary()
{
    Dl_info info {};
    ::dladdr(reinterpret_cast<void*>(&std::terminate), &info);
    return info.dli_fname ? info.dli_fname : "";
}

}  // namespace

TEST(SessionPreload, HookGoesFirstOnceAndTheUsersEntriesStay)
{
    const struct {
        const char* current;
        const char* first;
        const char* without;
        bool hasHook;
    } cases[] = {
        {"", kHook, "", false},
        {"/usr/lib/libfoo.so", "/opt/korvel/lib/korvel/libzelhook.so:/usr/lib/libfoo.so", "/usr/lib/libfoo.so", false},
        {"/old/prefix/libzelhook.so:/a.so /b.so", "/opt/korvel/lib/korvel/libzelhook.so:/a.so:/b.so", "/a.so:/b.so", true},
        {"libfoo.so:libzelhook.so", "/opt/korvel/lib/korvel/libzelhook.so:libfoo.so", "libfoo.so", true},
        {":: :", kHook, "", false},
        // A name that only begins or ends like the hook's is the user's.
        {"/x/libzelhook.so.1:/y/not-libzelhook.so",
         "/opt/korvel/lib/korvel/libzelhook.so:/x/libzelhook.so.1:/y/not-libzelhook.so",
         "/x/libzelhook.so.1:/y/not-libzelhook.so", false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(WithHookFirst(kHook, c.current), c.first) << c.current;
        EXPECT_EQ(WithoutHook(c.current), c.without) << c.current;
        EXPECT_EQ(HasHook(c.current), c.hasHook) << c.current;
    }
}

// zel-run is a static program of its own that cannot share the code: it
// must still name the hook as the session does.
TEST(SessionPreload, ZelRunNamesTheHookAsTheSessionDoes)
{
    const std::string hook = HOOK_LIBRARY;
    for (const char* current : {"", "/usr/lib/libfoo.so", "/old/prefix/libzelhook.so:/a.so /b.so",
                                "libfoo.so:libzelhook.so", ":: :", "/x/libzelhook.so.1:/y/not-libzelhook.so"}) {
        const Finished run = RunToEnd({ZEL_RUN, "/usr/bin/printenv", "LD_PRELOAD"},
                                      {{"ZEL_HOOK_LIBRARY", hook}, {"LD_PRELOAD", current}});
        EXPECT_EQ(run.status, 0) << current;
        EXPECT_EQ(run.output, WithHookFirst(hook, current) + "\n") << current;
    }
}

TEST(SessionPreload, HookIsNamedOnlyWhenOnlyRootOrTheUserCanChangeIt)
{
    if (!IsRoot())
        GTEST_SKIP() << "files of other users are made as root";
    Sandbox sandbox;
    const std::string folder = sandbox.root + "/inst";
    ::mkdir(folder.c_str(), 0755);
    const std::string hook = folder + "/libzelhook.so";
    WriteText(hook, "\x7f" "ELF");
    ::chmod(hook.c_str(), 0644);
    EXPECT_EQ(CheckHook(hook, 0), HookProblem::kNone);
    EXPECT_EQ(CheckHook(hook, 1000), HookProblem::kNone) << "root's file is fine for any user";
    ::chown(hook.c_str(), 1000, 1000);
    EXPECT_EQ(CheckHook(hook, 1000), HookProblem::kNone) << "the user's own installation";
    EXPECT_EQ(CheckHook(hook, 1001), HookProblem::kWritableByOthers) << "another user's file";
    ::chown(hook.c_str(), 0, 0);
    ::chmod(hook.c_str(), 0664);
    EXPECT_EQ(CheckHook(hook, 0), HookProblem::kWritableByOthers);
    ::chmod(hook.c_str(), 0644);
    ::chmod(folder.c_str(), 0777);
    EXPECT_EQ(CheckHook(hook, 0), HookProblem::kWritableByOthers) << "a folder anyone may write to";
    ::chmod(folder.c_str(), 01777);
    EXPECT_EQ(CheckHook(hook, 0), HookProblem::kNone) << "with the sticky bit others cannot replace it";
    ::chmod(folder.c_str(), 0755);
    ::chown(folder.c_str(), 1001, 1001);
    EXPECT_EQ(CheckHook(hook, 1000), HookProblem::kWritableByOthers) << "a folder of another user";
    ::chown(folder.c_str(), 0, 0);

    EXPECT_EQ(CheckHook(folder + "/missing.so", 0), HookProblem::kMissing);
    EXPECT_EQ(CheckHook(folder, 0), HookProblem::kMissing) << "a folder is no hook";
    const std::string link = sandbox.root + "/link.so";
    ASSERT_EQ(::symlink(hook.c_str(), link.c_str()), 0);
    EXPECT_EQ(CheckHook(link, 0), HookProblem::kNone) << "links are followed to the file";
    for (const char* odd : {"/a b", "/a:b", "/a$LIB"}) {
        const std::string strange = sandbox.root + odd;
        ::mkdir(strange.c_str(), 0755);
        WriteText(strange + "/libzelhook.so", "x");
        EXPECT_EQ(CheckHook(strange + "/libzelhook.so", 0), HookProblem::kUnusablePath) << odd;
    }
}

TEST(SessionPreload, TheOptionDecidesWhetherTheSessionGetsTheHook)
{
    Sandbox sandbox;
    const std::string hook = sandbox.root + "/libzelhook.so";
    WriteText(hook, "x");
    ::chmod(hook.c_str(), 0644);
    EXPECT_FALSE(IsOptionOn()) << "missing: off";
    EXPECT_EQ(SessionPreload(hook, "/a.so", ::getuid()), std::nullopt);
    sandbox.SetSetting(protocol::settings::kDecideEveryProgram, " 1\n");
    EXPECT_TRUE(IsOptionOn());
    EXPECT_EQ(SessionPreload(hook, "/a.so", ::getuid()), hook + ":/a.so");
    sandbox.SetSetting(protocol::settings::kDecideEveryProgram, "0");
    EXPECT_EQ(SessionPreload(hook, "/a.so", ::getuid()), std::nullopt);
    sandbox.SetSetting(protocol::settings::kDecideEveryProgram, "1");
    ::unlink(hook.c_str());
    EXPECT_EQ(SessionPreload(hook, "/a.so", ::getuid()), std::nullopt) << "no hook, nothing named";
}

TEST(SessionPreload, GeneratorLinesAreQuotedForTheManagersReader)
{
    const struct {
        const char* value;
        const char* line;
    } cases[] = {
        {"/usr/lib/korvel/libzelhook.so", "LD_PRELOAD=\"/usr/lib/korvel/libzelhook.so\"\n"},
        {"/h:/usr/$LIB/libx.so", "LD_PRELOAD=\"/h:/usr/\\$LIB/libx.so\"\n"},
        {"/h:/a\"b\\c`d", "LD_PRELOAD=\"/h:/a\\\"b\\\\c\\`d\"\n"},
        {"/h:/a'b", "LD_PRELOAD=\"/h:/a'b\"\n"},
        {"/h\n/x", ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(GeneratorLine(c.value), c.line) << c.value;
}

TEST(SessionPreload, ManagersEnvironmentIsReadAsSystemctlQuotesIt)
{
    const std::string shown = "HOME=/home/u\nLD_PRELOAD_OTHER=/no.so\nLD_PRELOAD=$'/a b/x.so:/it\\'s\\\\here\\x21'\nPATH=/usr/bin\n";
    EXPECT_EQ(ManagerVariable(shown, "LD_PRELOAD"), "/a b/x.so:/it's\\here!");
    EXPECT_EQ(ManagerVariable(shown, "HOME"), "/home/u");
    EXPECT_EQ(ManagerVariable("HOME=/h\n", "LD_PRELOAD"), std::nullopt);
    EXPECT_EQ(ManagerVariable("LD_PRELOAD=\n", "LD_PRELOAD"), "");
}

TEST(SessionLogin, UserFilesCallTheProgramAndLeaveTheUsersOwnLinesAlone)
{
    Sandbox sandbox;
    PrivateHome home(sandbox);
    const LoginFiles files = UserLoginFiles();
    EXPECT_EQ(files.xsessionrc, home.home + "/.xsessionrc");
    EXPECT_EQ(files.service, sandbox.root + "/config/systemd/user/korvel-firewall-session.service");
    const std::string mine = "# my session\nexport EDITOR=vi\n";
    WriteText(files.xsessionrc, mine);
    ::chmod(files.xsessionrc.c_str(), 0600);
    const std::string program = "/home/u/.local/lib/korvel/zel-session";
    ASSERT_TRUE(WriteLoginFiles(program));
    ASSERT_TRUE(WriteLoginFiles(program)) << "a second time changes nothing";
    const std::string service = ReadText(files.service);
    EXPECT_NE(service.find("ConditionPathIsExecutable=" + program + "\n"), std::string::npos) << service;
    EXPECT_NE(service.find("ExecStart=\"" + program + "\" --update-session --manager-only\n"), std::string::npos);
    EXPECT_NE(service.find("Before=basic.target"), std::string::npos);
    char target[256] = {};
    ASSERT_GT(::readlink(files.wants.c_str(), target, sizeof target - 1), 0);
    EXPECT_STREQ(target, "../korvel-firewall-session.service");
    const std::string rc = ReadText(files.xsessionrc);
    EXPECT_EQ(rc.rfind(mine, 0), 0u) << "the user's lines first, as they were";
    EXPECT_EQ(rc.find(">>> Korvel Firewall"), rc.rfind(">>> Korvel Firewall")) << "one block only";
    EXPECT_NE(rc.find("'" + program + "' --preload"), std::string::npos);
    struct stat st {};
    ASSERT_EQ(::stat(files.xsessionrc.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u) << "the file keeps its mode";
    EXPECT_TRUE(HasLoginFiles());

    ASSERT_TRUE(RemoveLoginFiles());
    EXPECT_FALSE(HasLoginFiles());
    EXPECT_EQ(ReadText(files.xsessionrc), mine);
    EXPECT_NE(::access(files.service.c_str(), F_OK), 0);
    EXPECT_NE(::access(files.wants.c_str(), F_OK), 0);

    // A file that held only the block was the firewall's: it goes with it.
    ::unlink(files.xsessionrc.c_str());
    ASSERT_TRUE(WriteLoginFiles(program));
    ASSERT_TRUE(RemoveLoginFiles());
    EXPECT_NE(::access(files.xsessionrc.c_str(), F_OK), 0);
}

// ~/.xsessionrc is changed only when read whole, and through a link: one
// too large, or a link that leads nowhere, is left as it is (and said why);
// a linked one stays a link to the user's file, which is the one changed.
TEST(SessionLogin, AnXsessionrcIsChangedWholeOrNotAtAllAndThroughItsLink)
{
    Sandbox sandbox;
    PrivateHome home(sandbox);
    const std::string rc = UserLoginFiles().xsessionrc;
    const std::string program = "/home/u/.local/lib/korvel/zel-session";
    const std::string dotfiles = sandbox.root + "/dotfiles";
    ::mkdir(dotfiles.c_str(), 0700);
    const std::string mine = "# mine\nexport EDITOR=vi\n";
    struct Case {
        const char* what;
        std::string target; // what the link leads to; empty: a file of its own
        std::string text;   // what the file holds at first; empty: no file
        const char* refused; // a part of why it is left alone; null: changed
    };
    const Case cases[] = {
        {"over 16 MB", "", mine + std::string(17 << 20, '#') + "\n", "larger than 16 MB"},
        {"a link that leads nowhere", dotfiles + "/gone", "", "a link that leads nowhere"},
        {"a link to the user's file", dotfiles + "/xsessionrc", mine, nullptr},
        {"a link to a file that held only the block", dotfiles + "/only", "", nullptr},
    };
    for (const Case& c : cases) {
        ::unlink(rc.c_str());
        const std::string file = c.target.empty() ? rc : c.target;
        if (!c.target.empty()) {
            ASSERT_EQ(::symlink(c.target.c_str(), rc.c_str()), 0) << c.what;
        }
        if (!c.text.empty() || (!c.target.empty() && !c.refused))
            WriteText(file, c.text);
        const std::string before = testing_support::PathState(rc) + testing_support::PathState(file);
        std::string why;
        EXPECT_EQ(WriteLoginFiles(program, &why), !c.refused) << c.what;
        if (c.refused) {
            EXPECT_NE(why.find(c.refused), std::string::npos) << c.what << ": " << why;
            EXPECT_FALSE(RemoveLoginFiles(&why)) << c.what;
            EXPECT_EQ(testing_support::PathState(rc) + testing_support::PathState(file), before) << c.what;
            continue;
        }
        struct stat st {};
        ASSERT_EQ(::lstat(rc.c_str(), &st), 0);
        EXPECT_TRUE(S_ISLNK(st.st_mode)) << c.what << ": still a link";
        const std::string written = ReadText(file);
        EXPECT_EQ(written.rfind(c.text, 0), 0u) << c.what;
        EXPECT_NE(written.find("' --preload"), std::string::npos) << c.what;
        ASSERT_TRUE(RemoveLoginFiles(&why)) << c.what << ": " << why;
        ASSERT_EQ(::lstat(rc.c_str(), &st), 0);
        EXPECT_TRUE(S_ISLNK(st.st_mode)) << c.what << ": still a link";
        EXPECT_EQ(ReadText(file), c.text) << c.what;
    }
}

TEST(SessionLogin, DamagedBlockNeverCostsTheUsersLines)
{
    const std::string text = "a=1\n# >>> Korvel Firewall: old\nmine=2\n";
    EXPECT_EQ(WithXsessionBlock(text, {}), text) << "no end line: nothing taken";
    EXPECT_EQ(WithXsessionBlock("a=1\n# >>> Korvel Firewall\nx\n# <<< Korvel Firewall\nb=2", {}), "a=1\nb=2");
    EXPECT_EQ(WithXsessionBlock("a=1", "B\n"), "a=1\nB\n");
}

TEST(SessionLogin, PathsAUnitFileWouldReadOtherwiseAreRefused)
{
    Sandbox sandbox;
    PrivateHome home(sandbox);
    for (const char* program : {"/h/100%/zel-session", "/h/a\"b/zel-session", "/h/$x/zel-session", "relative/zel-session"}) {
        EXPECT_FALSE(WriteLoginFiles(program)) << program;
        EXPECT_FALSE(HasLoginFiles()) << program;
    }
}

TEST(SessionLogin, MachineWideOnlyWhereSystemdRunsTheGenerator)
{
    Sandbox sandbox;
    const std::string root = sandbox.root + "/system";
    EXPECT_FALSE(IsMachineWide("/usr/lib/korvel/", "lib/korvel", root)) << "no generator installed";
    ASSERT_TRUE(os::MakeDirectories(root + "/usr/lib/systemd/user-environment-generators"));
    WriteText(root + "/usr/lib/systemd/user-environment-generators/60-korvel-firewall", "#!/bin/sh\n");
    EXPECT_TRUE(IsMachineWide("/usr/lib/korvel/", "lib/korvel", root));
    EXPECT_TRUE(IsMachineWide("/usr/lib/korvel", "lib/korvel", root));
    EXPECT_FALSE(IsMachineWide("/usr/local/lib/korvel/", "lib/korvel", root)) << "the generator of another prefix";
    EXPECT_FALSE(IsMachineWide("/home/u/.local/lib/korvel/", "lib/korvel", root));
    EXPECT_FALSE(IsMachineWide("/usr/lib/other/", "lib/korvel", root));
}

// zel-session as the start-up files and the panel run it, from an
// installation folder of its own with the hook beside it.
class SessionProgram : public testing::Test {
protected:
    Sandbox sandbox;
    PrivateHome home {sandbox};
    std::string folder = sandbox.root + "/prefix/lib/korvel";
    std::string program = folder + "/zel-session";
    std::string hook = folder + "/libzelhook.so";
    std::string tools = sandbox.root + "/tools";
    std::string calls = sandbox.root + "/calls.txt";
    std::string mine = UsersLibrary();
    std::string bus = "unix:path=/run/user/1000/bus";

    void SetUp() override
    {
        ASSERT_TRUE(os::MakeDirectories(folder));
        ASSERT_TRUE(os::WriteFileAtomically(program, *os::ReadFile(ZEL_SESSION_PROGRAM, 64 << 20), 0755));
        ASSERT_TRUE(os::WriteFileAtomically(hook, *os::ReadFile(HOOK_LIBRARY, 64 << 20), 0644));
        ASSERT_TRUE(os::MakeDirectories(tools));
    }

    // Stand-ins for the desktop's tools: each records how it was called.
    void FakeTools(const std::string& managerEnvironment)
    {
        WriteText(tools + "/systemctl", "#!/bin/sh\necho \"systemctl $*\" >>'" + calls + "'\n"
                                        "[ \"$2\" = show-environment ] && printf '%s' '" + managerEnvironment + "'\nexit 0\n");
        WriteText(tools + "/dbus-update-activation-environment",
                  "#!/bin/sh\necho \"dbus-update-activation-environment $*\" >>'" + calls + "'\n");
        ::chmod((tools + "/systemctl").c_str(), 0755);
        ::chmod((tools + "/dbus-update-activation-environment").c_str(), 0755);
    }
    Finished Session(const std::vector<std::string>& arguments, const std::string& preload = "")
    {
        std::vector<std::string> argv {program};
        argv.insert(argv.end(), arguments.begin(), arguments.end());
        return RunToEnd(argv, {{"LD_PRELOAD", preload}, {"PATH", tools + ":/usr/bin:/bin"}, {"DBUS_SESSION_BUS_ADDRESS", bus}});
    }
    void Option(bool on) { sandbox.SetSetting(protocol::settings::kDecideEveryProgram, on ? "1" : "0"); }
};

TEST_F(SessionProgram, StartUpFilesGetTheHookOnlyWhenTheOptionIsOnAndTheHookIsThere)
{
    Option(false);
    EXPECT_EQ(Session({"--preload"}).output, "");
    EXPECT_EQ(Session({"--generator"}, mine).output, "");
    Option(true);
    EXPECT_EQ(Session({"--preload"}).output, hook + "\n");
    EXPECT_EQ(Session({"--preload"}, mine).output, hook + ":" + mine + "\n");
    EXPECT_EQ(Session({"--generator"}, mine).output, "LD_PRELOAD=\"" + hook + ":" + mine + "\"\n");
    EXPECT_EQ(Session({"--generator"}, hook).output, "") << "named already: nothing to change";
    ::chmod(hook.c_str(), 0666);
    EXPECT_EQ(Session({"--preload"}).output, "") << "a hook others may change is never named";
    ::chmod(hook.c_str(), 0644);
    ::unlink(hook.c_str());
    const Finished gone = Session({"--generator"});
    EXPECT_EQ(gone.output, "");
    EXPECT_EQ(gone.status, 0);
}

TEST_F(SessionProgram, CommandRunsWithTheHookNamedAgain)
{
    // As after a set-group-ID program cleared LD_PRELOAD.
    const std::vector<std::string> run {program, "--run", "/bin/sh", "-c", "echo \"preload=$LD_PRELOAD\""};
    Option(true);
    EXPECT_EQ(RunToEnd(run).output, "preload=" + hook + "\n");
    Option(false);
    EXPECT_EQ(RunToEnd(run, {{"LD_PRELOAD", mine}}).output, "preload=" + mine + "\n") << "off: left as it is";
    Option(true);
    ::unlink(hook.c_str());
    EXPECT_EQ(RunToEnd(run).output, "preload=\n") << "no hook: the command runs all the same";
    EXPECT_EQ(RunToEnd({program, "--run", sandbox.root + "/no-such-program"}).status, 127);
}

TEST_F(SessionProgram, RunningSessionGetsTheHookFirstAndLosesItAgain)
{
    Option(true);
    FakeTools("HOME=/h\nLD_PRELOAD=/usr/lib/mine.so\n");
    EXPECT_EQ(Session({"--update-session"}).status, 0);
    EXPECT_EQ(ReadText(calls), "systemctl --user show-environment\n"
                               "systemctl --user set-environment LD_PRELOAD=" + hook + ":/usr/lib/mine.so\n"
                               "dbus-update-activation-environment LD_PRELOAD=" + hook + ":/usr/lib/mine.so\n");

    ::unlink(calls.c_str());
    Option(false);
    FakeTools("LD_PRELOAD=" + hook + ":/usr/lib/mine.so\n");
    EXPECT_EQ(Session({"--update-session"}).status, 0);
    EXPECT_EQ(ReadText(calls), "systemctl --user show-environment\n"
                               "systemctl --user set-environment LD_PRELOAD=/usr/lib/mine.so\n"
                               "dbus-update-activation-environment LD_PRELOAD=/usr/lib/mine.so\n");

    ::unlink(calls.c_str());
    FakeTools("LD_PRELOAD=" + hook + "\n");
    EXPECT_EQ(Session({"--update-session", "--manager-only"}).status, 0);
    EXPECT_EQ(ReadText(calls), "systemctl --user show-environment\nsystemctl --user unset-environment LD_PRELOAD\n")
        << "at login only the manager: the session bus starts after it";

    ::unlink(calls.c_str());
    bus.clear();
    EXPECT_EQ(Session({"--update-session"}).status, 0);
    EXPECT_EQ(ReadText(calls), "systemctl --user show-environment\nsystemctl --user unset-environment LD_PRELOAD\n")
        << "no session bus named: none is started to be told";
}

TEST_F(SessionProgram, DesktopWithoutTheToolsIsLeftAlone)
{
    Option(true);
    const Finished finished = RunToEnd({program, "--update-session"}, {{"PATH", tools}});
    EXPECT_EQ(finished.status, 0);
}

TEST_F(SessionProgram, XsessionrcBlockNamesTheHookAndNothingOnceTheInstallationIsGone)
{
    Option(true);
    ASSERT_TRUE(WriteLoginFiles(program));
    // As Xsession sources it: a POSIX shell that stops at the first error.
    const std::vector<std::string> source {"/bin/sh", "-ec", ". \"$HOME/.xsessionrc\"; printf '%s\\n' \"preload=$LD_PRELOAD\""};
    EXPECT_EQ(RunToEnd(source, {{"LD_PRELOAD", mine}}).output, "preload=" + hook + ":" + mine + "\n");
    Option(false);
    EXPECT_EQ(RunToEnd(source, {{"LD_PRELOAD", mine}}).output, "preload=" + mine + "\n");
    // A session program a display manager named starts through zel-session.
    Option(true);
    const std::vector<std::string> named {"/bin/sh", "-ec", "STARTUP='startxfce4 --x'; . \"$HOME/.xsessionrc\"; echo \"$STARTUP\""};
    EXPECT_EQ(RunToEnd(named).output, program + " --run startxfce4 --x\n");
    ASSERT_EQ(::unlink(program.c_str()), 0);
    EXPECT_EQ(RunToEnd(named).output, "startxfce4 --x\n");
    const Finished gone = RunToEnd(source, {{"LD_PRELOAD", ""}});
    EXPECT_EQ(gone.status, 0);
    EXPECT_EQ(gone.output, "preload=\n");
}
