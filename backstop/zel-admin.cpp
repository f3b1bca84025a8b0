// zel-admin: what the control panel asks of the administrator, one thing per
// call, run as root through pkexec (polkit asks for the administrator's
// password where its policy says so, org.tessary.firewall.policy). Never a
// set-user-ID program: it trusts nothing of its caller but the uid pkexec
// names (PKEXEC_UID), or the uid root gives with --user.
//   zel-admin protect [--user UID]   the caller's backstop and the services', started now and at every boot
//   zel-admin start [--user UID]     the caller's backstop started when it is not running (at login, where
//                                    nothing starts it at boot); nothing else
//   zel-admin stop [--user UID]      the caller's backstop stopped, and not started at boot
//   zel-admin services-rules [--over DIGEST] [FILE]
//                                    the machine's rules for the services replaced by a rules file: FILE
//                                    (an absolute path, the caller's own regular file) or standard input;
//                                    refused unless it reads whole and every entry is a service's, and with
//                                    --over unless the rules in place are still those of DIGEST (their
//                                    sha256:HEX, or "none"): a change made from rules another administrator
//                                    has replaced meanwhile would undo theirs
// Exit status: 0 done, 1 not root, 2 usage, 3 failed.
#include "backstop/RulesCompiler.h"
#include "backstop/ServicesRules.h"

#include "os/FileDigest.h"
#include "os/Files.h"
#include "os/hooksafe/Retry.h"
#include "protocol/BackstopSocket.h"
#include "rules/DocumentReader.h"
#include "rules/RulesFile.h"
#include "rules/RulesFormat.h"
#include "text/ToolStart.h"
#include "text/Translate.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <grp.h>
#include <limits.h>
#include <pwd.h>
#include <optional>
#include <string>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

using namespace backstop;

namespace {

using text::Arg;
using text::Tr;

constexpr int kNotRoot = 1;
constexpr int kMisused = 2;
constexpr int kFailed = 3;
// Where a backstop started without systemd writes what it says (its journal).
constexpr const char* kLogFolder = "/var/log/korvel";
// The machine's administrators (Debian's, as polkit and zel-backstop know them).
constexpr const char* kAdministrators = "sudo";

int Usage(std::FILE* out = stderr)
{
    std::fputs(Tr("zel-admin", "usage: zel-admin protect|start|stop [--user UID]\n"
                               "       zel-admin services-rules [--over DIGEST] [FILE]   (FILE an absolute path; none: standard input)\n")
                   .c_str(),
               out);
    return out == stdout ? 0 : kMisused;
}

int Fail(const std::string& text)
{
    std::fprintf(stderr, "zel-admin: %s\n", text.c_str());
    return kFailed;
}

// zel-backstop of this program's installation: PREFIX/SBINDIR, this being
// PREFIX/PKGDIR/zel-admin (the package's folder is lib/korvel, or under the
// architecture's folder of lib). Both are root's, installed together.
// Empty when this program is not where it was installed.
std::string BackstopProgram()
{
    char self[PATH_MAX] = {};
    const ssize_t length = ::readlink("/proc/self/exe", self, sizeof self - 1);
    std::string folder = length > 0 ? std::string(self, static_cast<size_t>(length)) : std::string();
    folder.resize(folder.rfind('/') == std::string::npos ? 0 : folder.rfind('/'));
    const std::string package = "/" ZEL_PKG_DIR;
    if (folder.size() <= package.size() || !folder.ends_with(package))
        return {};
    return folder.substr(0, folder.size() - package.size()) + "/" ZEL_SBIN_DIR "/zel-backstop";
}

// In a child: becomes args[0] (a full path, no search) with args.
[[noreturn]] void Exec(const std::vector<std::string>& args)
{
    std::vector<char*> argv;
    for (const std::string& arg : args)
        argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    ::execv(argv[0], argv.data());
    ::_exit(127);
}

// Runs program with args, waiting; its exit status (-1: did not run).
int Run(const std::vector<std::string>& args)
{
    const pid_t child = ::fork();
    if (child == 0) {
        Exec(args);
    }
    int status = 0;
    if (child < 0)
        return -1;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Starts args in the background, on its own, its words appended to log.
bool Detach(const std::vector<std::string>& args, const std::string& log)
{
    const pid_t child = ::fork();
    if (child < 0)
        return false;
    if (child == 0) {
        ::setsid();
        if (::fork() != 0)
            ::_exit(0); // the service goes on under init, not under pkexec
        ::mkdir(kLogFolder, 0755);
        const int out = ::open(log.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0640);
        const int in = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
        if (out < 0 || in < 0 || ::dup2(in, 0) < 0 || ::dup2(out, 1) < 0 || ::dup2(out, 2) < 0)
            ::_exit(1);
        Exec(args);
    }
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    return true;
}

bool SystemdRuns()
{
    struct stat st {};
    return ::lstat("/run/systemd/system", &st) == 0 && S_ISDIR(st.st_mode);
}

std::string Systemctl()
{
    for (const char* path : {"/usr/bin/systemctl", "/bin/systemctl"})
        if (::access(path, X_OK) == 0)
            return path;
    return "systemctl";
}

// The caller's uid: the one pkexec names, or root's --user. Through pkexec
// --user may only name the caller: "start" needs no password, and would
// otherwise put another user's programs under a backstop they never asked for.
bool CallerUid(const std::vector<std::string>& args, uid_t& uid)
{
    const char* pkexec = std::getenv("PKEXEC_UID");
    std::string text;
    if (args.size() == 2 && args[0] == "--user")
        text = args[1];
    else if (!args.empty())
        return false;
    else if (pkexec)
        text = pkexec;
    if (pkexec && text != pkexec)
        return false;
    char* end = nullptr;
    errno = 0;
    const unsigned long value = text.empty() ? 0 : std::strtoul(text.c_str(), &end, 10);
    if (text.empty() || errno != 0 || *end != '\0' || value == 0 || value > 0x7fffffff)
        return false;
    uid = static_cast<uid_t>(value);
    return true;
}

// Whether a backstop answers on its socket: a relay runs for it.
bool Running(const std::string& name) { return protocol::backstop_socket::Answers(protocol::backstop_socket::PathFor(name)); }

int Start(uid_t uid, bool atBoot)
{
    const std::string backstop = BackstopProgram();
    if (::access(backstop.c_str(), X_OK) != 0)
        return Fail(Arg(Tr("zel-admin", "the kernel layer is not installed (%1)"), {backstop}));
    const std::string user = std::to_string(uid);
    if (SystemdRuns()) {
        const std::vector<std::string> units {"zel-backstop@" + user + ".service", "zel-backstop-services.service"};
        std::vector<std::string> args {Systemctl(), atBoot ? "enable" : "start"};
        if (atBoot)
            args.push_back("--now");
        args.insert(args.end(), units.begin(), units.end());
        return Run(args) == 0 ? 0 : Fail(Tr("zel-admin", "systemctl could not start the kernel layer"));
    }
    // No service manager to start it: started here, and by the panel at the next login.
    if (!Running(user))
        Detach({backstop, "start", "--user", user, "--rules"}, std::string(kLogFolder) + "/backstop-" + user + ".log");
    if (!Running("services"))
        Detach({backstop, "start", "--services"}, std::string(kLogFolder) + "/backstop-services.log");
    return 0;
}

int Stop(uid_t uid)
{
    const std::string user = std::to_string(uid);
    if (SystemdRuns())
        Run({Systemctl(), "disable", "--now", "zel-backstop@" + user + ".service"});
    const std::string backstop = BackstopProgram();
    if (backstop.empty())
        return Fail(Tr("zel-admin", "the kernel layer is not installed beside this program"));
    return Run({backstop, "stop", "--user", user}) == 0 ? 0 : kFailed;
}

// Whether uid is root or one of the machine's administrators. polkit asked
// for an administrator's password; the services' rules are still changed
// only for an administrator's panel, whatever a local policy lets through.
bool Administrator(uid_t uid)
{
    if (uid == 0)
        return true;
    const passwd* account = ::getpwuid(uid);
    const group* admins = ::getgrnam(kAdministrators);
    if (!account || !account->pw_name || !admins)
        return false;
    if (account->pw_gid == admins->gr_gid)
        return true;
    for (char** member = admins->gr_mem; member && *member; ++member)
        if (std::strcmp(*member, account->pw_name) == 0)
            return true;
    return false;
}

// Reads what fd holds, to one byte over the limit; false (told) on error.
bool ReadBounded(int fd, std::string& text)
{
    char buffer[65536];
    rules::rules_file::Markup markup;
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return Fail(std::strerror(errno)), false;
        if (n == 0)
            return true;
        markup.Add(std::string_view(buffer, static_cast<size_t>(n)));
        text.append(buffer, static_cast<size_t>(n));
        if (text.size() > rules::rules_format::kMaxRulesFileBytes || markup.Over())
            return Fail(Tr("zel-admin", "the rules are larger than a rules file may be")), false;
    }
}

// Opens FILE for the caller: the file itself (no link), a regular file of
// the caller's own, within the limit; what was opened is what is checked,
// so a name changed meanwhile gains nothing. -1 (told) when refused.
int OpenCallersFile(const std::string& file, uid_t caller)
{
    if (file.empty() || file[0] != '/')
        return Fail(Arg(Tr("zel-admin", "%1: the rules file is named by its absolute path"), {file})), -1;
    // O_NONBLOCK: a FIFO put there is refused, not waited on.
    const int fd = ::open(file.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        return Fail(errno == ELOOP ? Arg(Tr("zel-admin", "%1 is a symbolic link; name the file itself"), {file})
                                   : file + ": " + std::strerror(errno)),
               -1;
    struct stat st {};
    std::string why;
    if (::fstat(fd, &st) != 0)
        why = std::strerror(errno);
    else if (!S_ISREG(st.st_mode))
        why = Arg(Tr("zel-admin", "%1 is not a regular file"), {file});
    else if (st.st_uid != caller)
        why = Arg(Tr("zel-admin", "%1 is not the caller's own file"), {file});
    else if (static_cast<size_t>(st.st_size) > rules::rules_format::kMaxRulesFileBytes)
        why = Tr("zel-admin", "the rules are larger than a rules file may be");
    if (why.empty() && ::fcntl(fd, F_SETFL, 0) == 0)
        return fd;
    why = why.empty() ? std::string(std::strerror(errno)) : why;
    ::close(fd);
    return Fail(why), -1;
}

// Whether text is rules the services' backstop takes as written: a rules
// file that reads, each entry named and a service's (the general settings
// apart), and fits the kernel's maps. false (why) otherwise.
bool ServicesDocument(const std::string& text, std::string& why)
{
    std::string problem;
    const std::optional<rules::Document> document = rules::ReadDocument(text, &problem);
    if (!document) {
        why = Arg(Tr("zel-admin", "the rules do not read: %1"), {problem});
        return false;
    }
    for (const rules::Application& app : document->applications)
        if (!app.name || (!app.service && !app.IsGeneral())) {
            why = Arg(Tr("zel-admin", "the entry %1 is not a service's (ISSERVICE 1): the services' rules hold no other"),
                      {app.name.value_or("(none)")});
            return false;
        }
    RulesCompiler::Options options;
    options.services = true;
    if (!RulesCompiler::Compile(text, problem, options)) {
        why = Arg(Tr("zel-admin", "the rules do not read: %1"), {problem});
        return false;
    }
    return true;
}

// What --over compares: the digest of the rules in place, "none" where there
// are none; empty (never equal) when they cannot be read.
std::string InPlace(const std::string& path)
{
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0 && errno == ENOENT)
        return "none";
    return os::FileDigestText(path);
}

// The machine's rules replaced whole by what an administrator's panel sends:
// a rules file within the format's limits, of service entries only, written
// by root for root. Nothing is replaced unless all of it is good.
int ServicesRules(const std::vector<std::string>& args)
{
    uid_t caller = 0;
    if (const char* pkexec = std::getenv("PKEXEC_UID")) {
        char* end = nullptr;
        errno = 0;
        const unsigned long value = std::strtoul(pkexec, &end, 10);
        if (errno != 0 || end == pkexec || *end != '\0' || value > 0x7fffffff)
            return Usage();
        caller = static_cast<uid_t>(value);
    }
    if (!Administrator(caller))
        return Fail(Arg(Tr("zel-admin", "user %1 is no administrator (a member of %2): the services' rules are not changed"),
                        {std::to_string(caller), kAdministrators}));
    std::vector<std::string> rest = args;
    std::optional<std::string> over;
    if (rest.size() >= 2 && rest[0] == "--over") {
        over = rest[1];
        rest.erase(rest.begin(), rest.begin() + 2);
    }
    if (rest.size() > 1 || (!rest.empty() && rest[0].starts_with("-")))
        return Usage();
    int fd = 0;
    if (!rest.empty() && (fd = OpenCallersFile(rest[0], caller)) < 0)
        return kFailed;
    std::string text;
    const bool read = ReadBounded(fd, text);
    if (fd != 0)
        ::close(fd);
    if (!read)
        return kFailed;
    std::string why;
    if (!ServicesDocument(text, why))
        return Fail(why);
    const std::string path = kServicesRulesPath;
    const std::string folder = path.substr(0, path.rfind('/'));
    ::umask(022);
    if (::mkdir(folder.c_str(), 0755) != 0 && errno != EEXIST)
        return Fail(Arg(Tr("zel-admin", "cannot make %1: %2"), {folder, std::strerror(errno)}));
    // One change at a time: the check of what is in place and the
    // replacement go together. The folder's lock ends with the process.
    const int lock = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (lock < 0 || os::RetryOnInterrupt([&] { return ::flock(lock, LOCK_EX); }) != 0)
        return Fail(Arg(Tr("zel-admin", "cannot make %1: %2"), {folder, std::strerror(errno)}));
    if (over && *over != InPlace(path))
        return Fail(Tr("zel-admin", "the services' rules were changed meanwhile (by another administrator?): nothing was "
                                    "changed; read them again and choose anew"));
    if (!os::WriteFileAtomically(path, text, 0644))
        return Fail(Arg(Tr("zel-admin", "cannot write %1: %2"), {path, std::strerror(errno)}));
    return 0;
}

}  // namespace

int main(int argc, char** argv)
{
    // Run as root for another user: the words come from the installed
    // translations only, never from a folder the environment names.
    if (const auto answered = text::StartTool({"zel-admin", argc, argv, Usage, false}))
        return *answered;
    if (argc < 2)
        return Usage();
    const std::string command = argv[1];
    const std::vector<std::string> args(argv + 2, argv + argc);
    if (::geteuid() != 0 || ::getuid() != 0) {
        std::fprintf(stderr, "zel-admin: %s\n", Tr("zel-admin", "must run as root (the control panel runs it through pkexec)").c_str());
        return kNotRoot;
    }
    if (command == "services-rules")
        return ServicesRules(args);
    uid_t uid = 0;
    if ((command != "protect" && command != "start" && command != "stop") || !CallerUid(args, uid))
        return Usage();
    if (command == "stop")
        return Stop(uid);
    return Start(uid, command == "protect");
}
