// The hook in programs that run with other privileges than their caller's:
// set-user-ID programs, and servers that start as root and serve as nobody.
// These need root to set up; without it they are skipped.
#include "tests/InterceptorFixture.h"

#include <algorithm>
#include <chrono>
#include <dlfcn.h>
#include <fstream>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

using namespace std::chrono_literals;
using testing_support::App;
using testing_support::ChildProcess;
using testing_support::Rule;

namespace {

using Privileges = testing_support::InterceptorTest;
using AttackPrivileges = testing_support::InterceptorTest;
constexpr uid_t kNobody = 65534;

std::optional<std::string> Line(const std::string& text) { return text; }

bool Exists(const std::string& path)
{
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0;
}

void Copy(const std::string& from, const std::string& to, mode_t mode)
{
    testing_support::WriteText(to, testing_support::ReadText(from));
    ASSERT_EQ(::chmod(to.c_str(), mode), 0) << to;
}

// The folder the C library was loaded from: one the loader trusts in secure execution.
std::string TrustedLibraryFolder()
{
    Dl_info info {};
    if (!::dladdr(reinterpret_cast<void*>(&::getpid), &info) || !info.dli_fname)
        return {};
    const std::string path = info.dli_fname;
    return path.substr(0, path.rfind('/'));
}

std::string Nginx()
{
    for (const std::string& path : {std::string(TEST_PROGRAMS) + "/usr/sbin/nginx", std::string("/usr/sbin/nginx")})
        if (::access(path.c_str(), X_OK) == 0)
            return path;
    return {};
}

// curl from a source address under no firewall: its exit status and output.
std::pair<int, std::string> Fetch(const char* source, int port)
{
    ChildProcess curl({CURL, "-sS", "--max-time", "5", "--interface", source,
                       "http://127.0.0.2:" + std::to_string(port) + "/"});
    std::string output = curl.ReadLine(6s).value_or("");
    return {curl.Wait(), output};
}

}  // namespace

// A set-user-ID program runs with the caller's environment: the hook must
// not load a library it names, nor write where it points.
TEST_F(AttackPrivileges, SetUserIdProgramLoadsNothingAndDecidesNothing)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "making a set-user-ID program needs root";
    WriteRules(App("ANY", "DENY", "DENY"));
    auto server = Server({"tcp-server", "127.0.0.2", "22101"});
    // Preloaded into set-user-ID programs only from a trusted folder, and only
    // with its own set-user-ID bit: as a machine-wide preload would be.
    const std::string library = "libzelhook-test-" + std::to_string(::getpid()) + ".so";
    const std::string installed = TrustedLibraryFolder() + "/" + library;
    Copy(hooked.at("LD_PRELOAD"), installed, 04755);
    struct Remove {
        std::string path;
        ~Remove() { ::unlink(path.c_str()); }
    } removeLater {installed};
    // A folder everybody may write to, where the caller points the program.
    char openPattern[] = "/tmp/zel-open-XXXXXX";
    ASSERT_NE(::mkdtemp(openPattern), nullptr);
    const std::string open = openPattern;
    struct RemoveFolder {
        std::string path;
        ~RemoveFolder() { testing_support::RemoveTree(path); }
    } removeFolderLater {open};
    ASSERT_EQ(::chmod(open.c_str(), 0777), 0);
    const std::string probe = sandbox.root + "/probe";
    Copy(SECURE_PROBE, probe, 0755);
    ASSERT_EQ(::chown(probe.c_str(), kNobody, kNobody), 0);
    ASSERT_EQ(::chmod(probe.c_str(), 04755), 0);

    ChildProcess program({probe, "22101"}, {{"LD_PRELOAD", library},
                                            {"ZEL_ENGINE_LIBRARY", PLANTED_ENGINE},
                                            {"ZEL_TEST_MARKER", open + "/marker"},
                                            {"ZEL_RUNTIME_DIR", open + "/runtime"},
                                            {"ZEL_ALERT_PROGRAM", open + "/alert"}});
    EXPECT_EQ(program.ReadLine(), Line("hooked"));
    EXPECT_EQ(program.ReadLine(), Line("connected")); // decided by nothing: passed
    EXPECT_EQ(program.Wait(), 0);
    EXPECT_FALSE(Exists(open + "/marker")) << "the planted library was loaded";
    EXPECT_FALSE(Exists(open + "/runtime")) << "the hook wrote where the caller pointed";
    EXPECT_TRUE(Records("<REMOTEPORT>22101</REMOTEPORT>").empty());
}

// A server whose worker clears its environment and becomes nobody keeps
// being decided by the rules and settings it started with, keeps logging,
// follows block-all, and says once that it cannot read later rule changes.
TEST_F(Privileges, ServerThatDropsItsPrivilegesStaysUnderItsRules)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "changing to another user needs root";
    WriteRules(App("ANY", "DENY", "PERMIT", Rule("INCOMING", "PERMIT", 22102, "127.0.0.4")));
    const std::string errorLogs = sandbox.root + "/errlogs";
    ::mkdir(errorLogs.c_str(), 0700);
    sandbox.SetSetting("ErrLogs", errorLogs);
    auto server = Server({"priv-server", "127.0.0.2", "22102", "3"}, true);
    ChildProcess permitted({NETPEER, "tcp-client", "127.0.0.4", "127.0.0.2", "22102"});
    EXPECT_EQ(server->ReadLine(), Line("accepted 127.0.0.4"));
    ChildProcess denied({NETPEER, "tcp-client", "127.0.0.3", "127.0.0.2", "22102"});
    EXPECT_EQ(server->ReadLine(), Line("reset 127.0.0.3"));
    sandbox.SetSetting("SecurityStatus", "0");
    // Fixed: the server's engine, in another process on its own clock, takes
    // settings again once its copy is 20 ms old.
    std::this_thread::sleep_for(100ms);
    ChildProcess blocked({NETPEER, "tcp-client", "127.0.0.4", "127.0.0.2", "22102"});
    EXPECT_EQ(server->ReadLine(), Line("reset 127.0.0.4"));

    EXPECT_EQ(Records("<IP>127.0.0.4</IP><LOCALPORT>22102</LOCALPORT><REMOTEPORT>").size(), 2u);
    EXPECT_EQ(Records("<PERMISSION>1</PERMISSION>").size(), 1u);
    EXPECT_EQ(Records("<PERMISSION>0</PERMISSION>").size(), 2u);
    std::string errors;
    for (const auto& name : testing_support::FolderEntries(errorLogs))
        errors += testing_support::ReadText(errorLogs + "/" + name);
    EXPECT_NE(errors.find("cannot read the rules file"), std::string::npos) << errors;
}

TEST_F(Privileges, NginxWorkersRunningAsNobodyStayUnderTheirRules)
{
    const std::string nginx = Nginx();
    if (nginx.empty())
        GTEST_SKIP() << "nginx is not here";
    if (::geteuid() != 0)
        GTEST_SKIP() << "nginx changes its workers' user only as root";
    WriteRules(App("ANY", "DENY", "PERMIT", Rule("INCOMING", "PERMIT", 22103, "127.0.0.4")));
    const std::string prefix = sandbox.root + "/nginx";
    ::mkdir(prefix.c_str(), 0755);
    testing_support::WriteText(prefix + "/nginx.conf", R"(
daemon off; master_process on; worker_processes 2; user nobody nogroup;
pid nginx.pid; error_log stderr;
events { worker_connections 64; }
http {
  access_log off;
  client_body_temp_path body; proxy_temp_path proxy; fastcgi_temp_path fastcgi;
  uwsgi_temp_path uwsgi; scgi_temp_path scgi;
  server { listen 127.0.0.2:22103; location / { return 200 "hello\n"; } }
}
)");
    ChildProcess server({nginx, "-p", prefix, "-c", prefix + "/nginx.conf", "-e", "stderr"}, hooked);
    // Listening once it has written its pid file.
    ASSERT_TRUE(testing_support::WaitForFile(prefix, [&prefix] { return ::access((prefix + "/nginx.pid").c_str(), F_OK) == 0; }));
    std::pair<int, std::string> fetched = Fetch("127.0.0.4", 22103);
    EXPECT_EQ(fetched, std::make_pair(0, std::string("hello")));
    EXPECT_NE(Fetch("127.0.0.3", 22103).first, 0);
    sandbox.SetSetting("SecurityStatus", "0");
    // Fixed: the server's engine, in another process on its own clock, takes
    // settings again once its copy is 20 ms old.
    std::this_thread::sleep_for(100ms);
    EXPECT_NE(Fetch("127.0.0.4", 22103).first, 0);
    EXPECT_GE(Records("<EXEPATH>" + nginx + "</EXEPATH>").size(), 3u);
    EXPECT_EQ(Records("<IP>127.0.0.3</IP><LOCALPORT>22103</LOCALPORT>").size(), 1u);
}

// A program that becomes another user (apt's download methods, a script
// that drops root first) or shuts itself into a folder (bind, postfix,
// ntpd) before it ever made a socket is still decided by the rules it
// started under, and logs into the log it started with.
TEST_F(Privileges, ProgramThatChangesUserOrFolderBeforeItsFirstSocketStaysUnderItsRules)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "changing to another user or folder needs root";
    const std::string jail = sandbox.root + "/jail";
    ASSERT_EQ(::mkdir(jail.c_str(), 0755), 0);
    const struct {
        std::string change;
        int port;
    } cases[] = {
        {"os.setgroups([]); os.setgid(65534); os.setuid(65534)", 22104},
        {"os.chroot('" + jail + "')", 22107},
    };
    for (const auto& c : cases) {
        const std::string port = std::to_string(c.port);
        WriteRules(App("ANY", "DENY", "DENY", Rule("OUTGOING", "PERMIT", c.port, "127.0.0.2")));
        auto permitted = Server({"tcp-server", "127.0.0.2", port});
        auto denied = Server({"tcp-server", "127.0.0.4", port});
        auto program = Python("import os, socket\n" + c.change + R"(
for address in ('127.0.0.2', '127.0.0.4'):
    s = socket.socket(); s.bind(('127.0.0.3', 0))
    try:
        s.connect((address, )" + port + R"()); print('connected')
    except ConnectionRefusedError:
        print('refused')
)");
        EXPECT_EQ(program->ReadLine(), Line("connected")) << c.change;
        EXPECT_EQ(program->ReadLine(), Line("refused")) << c.change;
        EXPECT_EQ(program->Wait(), 0) << c.change;
        for (const char* address : {"127.0.0.2", "127.0.0.4"}) {
            const auto records = Records(std::string("<IP>") + address + "</IP><LOCALPORT>");
            EXPECT_EQ(std::count_if(records.begin(), records.end(),
                                    [&](const std::string& record) {
                                        return record.find("<REMOTEPORT>" + port + "</REMOTEPORT>") != std::string::npos;
                                    }),
                      1)
                << c.change << " " << address;
        }
    }
}

// When its engine cannot be made ready before the change (no descriptor
// left), the program could no longer read its user's rules afterwards:
// nothing it does passes.
TEST_F(Privileges, ProgramThatSwitchesUserWithoutItsEngineIsRefusedEverything)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "changing to another user needs root";
    WriteRules(App("ANY", "PERMIT", "PERMIT"));
    auto server = Server({"tcp-server", "127.0.0.2", "22105"});
    auto program = Python(R"(
import os, socket, resource
resource.setrlimit(resource.RLIMIT_NOFILE, (64, 64))
s = socket.socket(); s.bind(('127.0.0.3', 0))
held = []
try:
    while True:
        held.append(os.open('/dev/null', os.O_RDONLY))
except OSError:
    pass
os.setgroups([]); os.setgid(65534); os.setuid(65534)
for fd in held:
    os.close(fd)
try:
    s.connect(('127.0.0.2', 22105)); print('connected')
except ConnectionRefusedError:
    print('refused')
)");
    EXPECT_EQ(program->ReadLine(), Line("refused"));
    EXPECT_FALSE(server->ReadLine(300ms).has_value());
}

// A program started by root with the environment of a user (su without a
// login, sudo -E) loads only an engine nobody but root could have put
// where the environment points, never one that user could write.
TEST_F(AttackPrivileges, EngineNamedByTheEnvironmentIsLoadedOnlyWhenOthersCouldNotHaveWrittenIt)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "files of another user need root to make";
    WriteRules(App("ANY", "PERMIT", "PERMIT"));
    auto server = Server({"tcp-server", "127.0.0.2", "22106"});
    const struct {
        const char* folder;
        uid_t owner;
        mode_t folderMode;
        bool loaded;
    } cases[] = {
        {"root-only", 0, 0755, true},
        {"users-own", kNobody, 0755, false},
        {"open-to-all", 0, 0777, false},
    };
    for (const auto& c : cases) {
        const std::string folder = sandbox.root + "/" + c.folder;
        ASSERT_EQ(::mkdir(folder.c_str(), 0700), 0);
        ASSERT_EQ(::chmod(folder.c_str(), c.folderMode), 0);
        Copy(PLANTED_ENGINE, folder + "/libqrbruler.so", 0755);
        ASSERT_EQ(::chown(folder.c_str(), c.owner, c.owner), 0);
        ASSERT_EQ(::chown((folder + "/libqrbruler.so").c_str(), c.owner, c.owner), 0);
        const std::string marker = sandbox.root + "/marker-" + c.folder;
        ChildProcess client({NETPEER, "tcp-client", "127.0.0.3", "127.0.0.2", "22106"},
                            Hooked({{"ZEL_ENGINE_LIBRARY", folder + "/libqrbruler.so"}, {"ZEL_TEST_MARKER", marker}}));
        EXPECT_EQ(client.Wait(), 0) << c.folder;
        EXPECT_EQ(Exists(marker), c.loaded) << c.folder;
    }
}
