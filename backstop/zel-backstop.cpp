// zel-backstop: the optional kernel layer, run as root. It attaches kernel
// programs that give a covered user's connections from programs the hook is
// not in (static programs, direct system calls, set-user-ID programs,
// programs started without the preload) a verdict: decide them by the
// user's own rules, compiled into the kernel (rules), let them pass and
// tell (notify), or refuse them (deny). Each covered user has a backstop of
// their own, with its own pins, socket and lifetime
// (zel-backstop@UID.service): their kernel programs sit side by side at the
// cgroup v2 root, each deciding only its own user's connections. The
// attachments are pinned, so the verdict holds if the service dies; "stop"
// removes what it pinned. While it runs, the service relays the notices and,
// deciding by rules, follows the user's rules and Block All (read from the
// user's settings store, or the one --settings names).
// The system services' backstop (--services) decides root's programs and the
// system users' (below the first ordinary uid of /etc/login.defs, or above
// the last) by the machine's rules (/etc/korvel/Rules.xml, or FILE), and
// records what it lets through by their general settings.
//   zel-backstop start (--user UID [--rules|--notify|--deny] [--settings DIR] | --services [--rules FILE] [--log DIR])
//                      [--cgroup DIR] [--pin DIR] [--socket PATH] [--detach]
//   zel-backstop run (--user UID | --services | --pin DIR) [--settings DIR | --rules FILE] [--socket PATH] [--log DIR]
//   zel-backstop stop (--user UID | --services | --pin DIR)
//   zel-backstop status [--user UID | --services | --pin DIR]    (as a user: the kernel's support and your own)
// start and stop hold a lock on the pin folder's parent while they work, and
// finish what they begin or undo it. Exit status: 0 done (status: running),
// 1 not root, 2 usage, 3 not done and nothing half done left (status: not
// running), 4 (status) partly attached by a start or stop that was killed.
#include "backstop/FolderLock.h"
#include "backstop/KernelSupport.h"
#include "backstop/NoticeRelay.h"
#include "backstop/PinnedBackstop.h"
#include "backstop/PinnedRules.h"
#include "backstop/RulesFollower.h"
#include "backstop/ServicesRules.h"
#include "backstop/UserSettings.h"
#include "backstop/backstop.h"

#include "os/Net.h"
#include "os/Processes.h"
#include "protocol/BackstopSocket.h"
#include "text/ToolStart.h"
#include "text/Translate.h"

#include <algorithm>
#include <arpa/inet.h>
#include <bpf/bpf.h>
#include <bpf/libbpf.h>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <grp.h>
#include <memory>
#include <linux/magic.h>
#include <string>
#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <unistd.h>
#include <vector>

using namespace backstop;

namespace {

// Each user's backstop pins in a folder of its own here, named by the uid,
// and relays on a socket of its own (protocol::backstop_socket).
constexpr const char* kBpfMount = "/sys/fs/bpf";
constexpr const char* kPinRoot = "/sys/fs/bpf/zel";
// The services' backstop: its pins and socket under this name, its records here.
using protocol::backstop_socket::kServicesName;
constexpr const char* kServicesLogFolder = "/var/log/korvel/services";
// Whose members hear the services' notices (Debian's administrators).
constexpr const char* kAdministrators = "sudo";
// start and stop take well under a second; a lock held longer than this is
// a command that hangs.
constexpr unsigned kLockWait = 10;
// A relay of a backstop just stopped ends within a second.
constexpr unsigned kRelayLockWait = 3;

// Exit statuses.
constexpr int kMisused = 2;  // usage
constexpr int kFailed = 3;   // did not happen; nothing half done is left
constexpr int kPartial = 4;  // status: an interrupted start or stop left part of a backstop

volatile std::sig_atomic_t g_stop = 0;
void OnSignal(int) { g_stop = 1; }

struct Options {
    std::string command;
    long uid = -1;
    unsigned mode = ZEL_BACKSTOP_NOTIFY;
    std::string cgroup;
    std::string pin;
    std::string socket;
    std::string settings; // the user's settings store; empty: their own
    bool services = false;
    std::string rulesFile; // the services' rules; empty: kServicesRulesPath
    std::string log;       // the services' records; empty: kServicesLogFolder
    bool detach = false;
};

using text::Arg;
using text::Tr;

// A line after "zel-backstop: ", on standard output or error.
void Say(std::FILE* out, const std::string& text) { std::fprintf(out, "zel-backstop: %s\n", text.c_str()); }

// On standard error for a mistake (exit status 2), on standard output when asked for.
int Usage(std::FILE* out = stderr)
{
    std::fputs(Tr("zel-backstop",
                 "usage: zel-backstop start (--user UID [--rules|--notify|--deny] [--settings DIR] |\n"
                 "                           --services [--rules FILE] [--log DIR]) [--cgroup DIR] [--pin DIR] [--socket PATH]\n"
                 "                          [--detach]\n"
                 "       zel-backstop run (--user UID | --services | --pin DIR) [--settings DIR | --rules FILE] [--socket PATH]\n"
                 "                        [--log DIR]\n"
                 "       zel-backstop stop (--user UID | --services | --pin DIR)\n"
                 "       zel-backstop status [--user UID | --services | --pin DIR]\n")
                   .c_str(),
               out);
    return out == stdout ? 0 : 2;
}

bool ParseOptions(int argc, char** argv, Options& options)
{
    if (argc < 2)
        return false;
    options.command = argv[1];
    for (int i = 2; i < argc; ++i) {
        const std::string arg = argv[i];
        const auto value = [&]() -> const char* { return i + 1 < argc ? argv[++i] : nullptr; };
        if (arg == "--rules") {
            options.mode = ZEL_BACKSTOP_RULES;
            // The services' take the machine's rules file, when one is named.
            if (i + 1 < argc && argv[i + 1][0] == '/')
                options.rulesFile = argv[++i];
        } else if (arg == "--services") {
            options.services = true;
            options.mode = ZEL_BACKSTOP_RULES;
        } else if (arg == "--notify") {
            options.mode = ZEL_BACKSTOP_NOTIFY;
        } else if (arg == "--deny") {
            options.mode = ZEL_BACKSTOP_DENY;
        } else if (arg == "--detach") {
            options.detach = true;
        } else if (arg == "--user" || arg == "--cgroup" || arg == "--pin" || arg == "--socket" || arg == "--settings"
                   || arg == "--log") {
            const char* text = value();
            if (!text || !*text)
                return false;
            if (arg == "--user") {
                char* end = nullptr;
                errno = 0;
                options.uid = std::strtol(text, &end, 10);
                if (errno != 0 || *end != '\0' || options.uid < 0 || options.uid > 0x7fffffff)
                    return false;
            } else {
                std::string& target = arg == "--cgroup" ? options.cgroup
                    : arg == "--pin"                    ? options.pin
                    : arg == "--settings"               ? options.settings
                    : arg == "--log"                    ? options.log
                                                        : options.socket;
                target = text;
                // "DIR/" names DIR.
                while (target.size() > 1 && target.back() == '/')
                    target.pop_back();
            }
        } else {
            return false;
        }
    }
    // A user's or the services', not both; a rules file is the services'
    // (or, named by its pins, a backstop's that must be the services').
    return !(options.services && options.uid >= 0) && (options.services || options.rulesFile.empty()
                                                       || (options.uid < 0 && !options.pin.empty()));
}

std::string PinFolder(const Options& options)
{
    return !options.pin.empty() ? options.pin
        : options.services      ? std::string(kPinRoot) + "/" + kServicesName
                                : std::string(kPinRoot) + "/" + std::to_string(options.uid);
}

std::string SocketPath(const Options& options, unsigned uid)
{
    if (!options.socket.empty())
        return options.socket;
    return protocol::backstop_socket::PathFor(uid == ZEL_BACKSTOP_SERVICES ? kServicesName : std::to_string(uid));
}

// What the kernel programs are configured with: a user, or the services.
zel_backstop_config ConfigOf(const Options& options)
{
    zel_backstop_config settings {static_cast<unsigned>(options.uid), options.mode, 0, 0};
    if (options.services) {
        const auto [first, last] = os::processes::OrdinaryUsers();
        settings = {ZEL_BACKSTOP_SERVICES, options.mode, first, last};
    }
    return settings;
}

// Whose settings a backstop follows: the user's, or the machine's rules.
UserSettings SettingsOf(unsigned uid, const Options& options)
{
    if (uid == ZEL_BACKSTOP_SERVICES)
        return UserSettings::Machine(options.rulesFile.empty() ? kServicesRulesPath : options.rulesFile);
    return UserSettings(uid, options.settings);
}

std::string Whose(unsigned uid)
{
    return uid == ZEL_BACKSTOP_SERVICES ? Tr("zel-backstop", "the system services") : "uid " + std::to_string(uid);
}

std::string ParentOf(const std::string& path)
{
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
}

bool OnBpfFilesystem(const std::string& path)
{
    struct statfs fs {};
    return ::statfs(path.c_str(), &fs) == 0 && fs.f_type == BPF_FS_MAGIC;
}

// The BPF file system mounted (where the system did not) and the pin
// folder's parent made: the folder the lock is taken on.
bool PrepareParent(const std::string& pin, std::string& error)
{
    const std::string mount = kBpfMount;
    if (pin.compare(0, mount.size() + 1, mount + "/") == 0 && !OnBpfFilesystem(mount)
        && ::mount("bpf", mount.c_str(), "bpf", 0, "mode=0700") != 0) {
        error = "cannot mount the BPF file system on " + mount + ": " + std::strerror(errno);
        return false;
    }
    const std::string parent = ParentOf(pin);
    for (size_t slash = 1; slash != std::string::npos;) {
        slash = parent.find('/', slash + 1);
        const std::string step = parent.substr(0, slash);
        if (::mkdir(step.c_str(), 0700) != 0 && errno != EEXIST) {
            error = "cannot make " + step + ": " + std::strerror(errno);
            return false;
        }
    }
    if (!OnBpfFilesystem(parent)) {
        error = parent + " is not on a BPF file system";
        return false;
    }
    return true;
}

int Fail(const std::string& why)
{
    std::fprintf(stderr, "zel-backstop: %s\n", why.c_str());
    return kFailed;
}

const char* ModeName(unsigned mode)
{
    return mode == ZEL_BACKSTOP_RULES ? "rules"
        : mode == ZEL_BACKSTOP_DENY   ? "deny"
        : mode == ZEL_BACKSTOP_NOTIFY ? "notify"
                                      : "off";
}

void SayForeign(const PinnedBackstop& backstop, const PinnedBackstop::Look& look, const char* what)
{
    for (const std::string& name : look.foreign)
        Say(stderr, Arg(Tr("zel-backstop", "%1 is not the backstop's: %2"), {backstop.Folder() + "/" + name, what}));
}

// Says what a removal did not do; true when it left nothing of the backstop's.
bool SayRemoval(const PinnedBackstop& backstop, const PinnedBackstop::Removal& removal)
{
    for (const std::string& failure : removal.failed)
        Say(stderr, Arg(Tr("zel-backstop", "cannot remove %1"), {backstop.Folder() + "/" + failure}));
    if (removal.programsLeft > 0)
        Say(stderr, removal.programsLeft == 1
                        ? Tr("zel-backstop", "unpinned, but 1 of its programs is still held by another process")
                        : Tr("zel-backstop", "unpinned, but %n of its programs are still held by another process", nullptr,
                             removal.programsLeft));
    return removal.failed.empty() && removal.programsLeft == 0;
}

// This computer's address as its name resolves (network order), which the
// engine holds as local as 127.0.0.1; 0 when it does not resolve.
unsigned OwnAddress()
{
    in_addr address {};
    const std::string text = os::net::ResolveOwnAddress();
    return !text.empty() && ::inet_pton(AF_INET, text.c_str(), &address) == 1 ? address.s_addr : 0;
}

int Start(const Options& options)
{
    const std::string pin = PinFolder(options);
    const std::string cgroup = options.cgroup.empty() ? kernel_support::CgroupTwoMount() : options.cgroup;
    if (const std::string missing = kernel_support::Missing(); !missing.empty() && options.cgroup.empty())
        return Fail(Arg(Tr("zel-backstop", "this kernel cannot hold the backstop: %1"), {missing}));
    // Found before the lock is taken: the lookup may wait on the resolver.
    const unsigned ownAddress = OwnAddress();
    std::string error;
    if (!PrepareParent(pin, error))
        return Fail(error);
    const FolderLock lock(ParentOf(pin), FolderLock::Mode::kExclusive, kLockWait);
    if (!lock)
        return Fail(lock.Error());
    const PinnedBackstop backstop(pin);
    const PinnedBackstop::Look look = backstop.Inspect();
    const zel_backstop_config settings = ConfigOf(options);
    const unsigned uid = settings.uid;
    if (!look.foreign.empty()) {
        SayForeign(backstop, look, Tr("zel-backstop", "not started").c_str());
        return kFailed;
    }
    if (look.configured && look.settings.uid != uid)
        return Fail(Arg(Tr("zel-backstop", "%1 holds the backstop of %2: not started"), {pin, Whose(look.settings.uid)}));
    // Before the verdict: this computer's address and, deciding by rules,
    // the rules and Block All as the user's settings say now. Rules that
    // cannot be read leave every program asked, as the engine does, until
    // the service reads them (the services: permitted and recorded).
    const auto prepare = [&](std::string& why) {
        const PinnedRules rules(pin);
        if (!rules.SetOwnAddress(ownAddress, why) || !rules.SetRecordGeneral(options.services, why))
            return false;
        if (options.mode == ZEL_BACKSTOP_RULES) {
            RulesFollower follower(pin, SettingsOf(uid, options), std::string());
            if (std::string unread; !follower.Refresh(unread))
                std::printf("zel-backstop: %s: %s\n", Whose(uid).c_str(), unread.c_str());
        }
        return true;
    };
    if (look.state == PinnedBackstop::State::kWhole) {
        // Already attached (a restart of the service): the verdict may change.
        if (!prepare(error) || !backstop.SetMode(settings, error))
            return Fail(error);
        Say(stdout, Arg(Tr("zel-backstop", "already attached; now %1 for %2"), {ModeName(options.mode), Whose(uid)}));
        return 0;
    }
    if (look.state == PinnedBackstop::State::kPartial) {
        Say(stdout, Arg(Tr("zel-backstop", "removing what an interrupted start or stop left in %1"), {pin}));
        if (!SayRemoval(backstop, backstop.Remove()))
            return kFailed;
    }
    if (!backstop.Attach(settings, cgroup, prepare, error))
        return Fail(error);
    Say(stdout, Arg(Tr("zel-backstop", "%1 for %2 on %3, pinned in %4"), {ModeName(options.mode), Whose(uid), cgroup, pin}));
    std::fflush(stdout);
    return 0;
}

int Stop(const Options& options)
{
    const std::string pin = PinFolder(options);
    if (!OnBpfFilesystem(ParentOf(pin))) {
        Say(stdout, Tr("zel-backstop", "was not running"));
        return 0;
    }
    const FolderLock lock(ParentOf(pin), FolderLock::Mode::kExclusive, kLockWait);
    if (!lock)
        return Fail(lock.Error());
    const PinnedBackstop backstop(pin);
    const PinnedBackstop::Look look = backstop.Inspect();
    SayForeign(backstop, look, Tr("zel-backstop", "left as it is").c_str());
    const PinnedBackstop::Removal removal = backstop.Remove();
    if (!SayRemoval(backstop, removal))
        return kFailed;
    if (removal.removed == 0) {
        Say(stdout, Tr("zel-backstop", "was not running"));
        return 0;
    }
    std::string stopped = look.configured ? Arg(Tr("zel-backstop", "stopped for %1; nothing of it is attached any more"),
                                                {Whose(look.settings.uid)})
                                          : Tr("zel-backstop", "stopped; nothing of it is attached any more");
    if (removal.folderKept)
        stopped += Tr("zel-backstop", " (its folder is kept: it holds files that are not the backstop's)");
    Say(stdout, stopped);
    return 0;
}

int StatusOf(const std::string& pin, bool named)
{
    const PinnedBackstop backstop(pin);
    PinnedBackstop::Look look;
    if (OnBpfFilesystem(ParentOf(pin))) {
        // Shared: what a start or stop under way does is seen whole.
        const FolderLock lock(ParentOf(pin), FolderLock::Mode::kShared, kLockWait);
        look = backstop.Inspect();
    }
    const std::string prefix = named ? pin + ": " : std::string();
    switch (look.state) {
    case PinnedBackstop::State::kWhole: {
        std::string rules;
        PinnedRules::State state;
        if (look.settings.mode == ZEL_BACKSTOP_RULES && PinnedRules(pin).Read(state)) {
            // Besides the general one (ANY).
            const int tables = state.programs - 1;
            if (!state.loaded)
                rules = Tr("zel-backstop", ", no rules read yet (every program is asked)");
            else if (tables == 1)
                rules = Tr("zel-backstop", ", the rules of 1 program and the general ones in force");
            else
                rules = Tr("zel-backstop", ", the rules of %n programs and the general ones in force", nullptr, tables);
            if (state.loaded && state.bound > 0)
                rules += Tr("zel-backstop", ", %n paths known by their files", nullptr, static_cast<int>(state.bound));
        }
        if (state.blockAll)
            rules += Tr("zel-backstop", ", Block All on");
        // The mode keeps the word it is started with (rules, notify, deny).
        Say(stdout, prefix
                + Arg(Tr("zel-backstop", "running, %1 for %2, %3, %4%5"),
                      {ModeName(look.settings.mode), Whose(look.settings.uid),
                       backstop.AttachedCount() == 1
                           ? Tr("zel-backstop", "1 program attached")
                           : Tr("zel-backstop", "%n programs attached", nullptr, backstop.AttachedCount()),
                       backstop.RegisteredCount() == 1
                           ? Tr("zel-backstop", "1 hooked program registered")
                           : Tr("zel-backstop", "%n hooked programs registered", nullptr, backstop.RegisteredCount()),
                       rules}));
        return 0;
    }
    case PinnedBackstop::State::kPartial:
        Say(stdout, prefix + Tr("zel-backstop", "partly attached (a start or stop did not finish): start or stop it again"));
        return kPartial;
    case PinnedBackstop::State::kNone:
        break;
    }
    Say(stdout, prefix + Tr("zel-backstop", "not running"));
    return kFailed;
}

// Asks the relay on socket what its backstop does: its first line.
bool RelayMode(const std::string& socket, std::string& mode)
{
    sockaddr_un address {};
    address.sun_family = AF_UNIX;
    if (socket.size() >= sizeof address.sun_path)
        return false;
    std::memcpy(address.sun_path, socket.data(), socket.size());
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return false;
    const timeval wait {2, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
    char line[64] = {};
    const bool heard = ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0
        && ::recv(fd, line, sizeof line - 1, 0) > 6;
    ::close(fd);
    const std::string text(line);
    if (!heard || text.compare(0, 6, "state ") != 0)
        return false;
    mode = text.substr(6, text.find('\n') - 6);
    return true;
}

// Without root: what the kernel lacks, and whether the caller's own
// backstop runs, as its socket says (the pins are root's to look at).
int UserStatus(const Options& options)
{
    const std::string missing = kernel_support::Missing();
    if (!missing.empty()) {
        Say(stdout, Arg(Tr("zel-backstop", "this kernel cannot hold the backstop: %1"), {missing}));
        return kFailed;
    }
    const unsigned uid = options.services ? ZEL_BACKSTOP_SERVICES : options.uid >= 0 ? static_cast<unsigned>(options.uid) : ::getuid();
    const std::string socket = SocketPath(options, uid);
    std::string mode;
    if (!RelayMode(socket, mode)) {
        Say(stdout, Arg(Tr("zel-backstop", "not running for %1 (nothing answers on %2)"), {Whose(uid), socket}));
        return kFailed;
    }
    Say(stdout, Arg(Tr("zel-backstop", "running, %1 for %2"), {mode, Whose(uid)}));
    return 0;
}

int Status(const Options& options)
{
    if (::geteuid() != 0)
        return UserStatus(options);
    if (const std::string missing = kernel_support::Missing(); !missing.empty())
        Say(stdout, Arg(Tr("zel-backstop", "this kernel cannot hold the backstop: %1"), {missing}));
    if (options.uid >= 0 || options.services || !options.pin.empty())
        return StatusOf(PinFolder(options), false);
    // Every user's.
    std::vector<std::string> pins;
    if (DIR* dir = ::opendir(kPinRoot)) {
        while (const dirent* entry = ::readdir(dir))
            if (entry->d_name[0] != '.' && entry->d_type == DT_DIR)
                pins.push_back(std::string(kPinRoot) + "/" + entry->d_name);
        ::closedir(dir);
    }
    if (pins.empty()) {
        Say(stdout, Tr("zel-backstop", "not running"));
        return kFailed;
    }
    int status = kFailed;
    for (const std::string& pin : pins) {
        const int one = StatusOf(pin, true);
        status = one == kPartial || status == kPartial ? kPartial : one == 0 ? 0 : status;
    }
    return status;
}

// The kernel's id of a map, 0 when fd is none.
__u32 MapId(int fd)
{
    bpf_map_info info {};
    __u32 size = sizeof info;
    return fd >= 0 && bpf_obj_get_info_by_fd(fd, &info, &size) == 0 ? info.id : 0;
}

int OnEvent(void* context, void* data, size_t size)
{
    if (size >= sizeof(zel_backstop_event))
        static_cast<NoticeRelay*>(context)->Tell(*static_cast<const zel_backstop_event*>(data));
    return 0;
}

// Relays one backstop's notices until it is stopped (or this process is).
int Run(const Options& options)
{
    const std::string pin = PinFolder(options);
    // One relay per backstop: its notices are read once.
    const FolderLock lock(pin, FolderLock::Mode::kExclusive, kRelayLockWait);
    if (!lock) {
        Say(stderr, OnBpfFilesystem(pin) ? Tr("zel-backstop", "not relaying: another relay serves this backstop")
                                         : Tr("zel-backstop", "not relaying: not running"));
        return kFailed;
    }
    const PinnedBackstop backstop(pin);
    const PinnedBackstop::Look look = backstop.Inspect();
    const std::string configPath = pin + "/config";
    const int configFd = bpf_obj_get(configPath.c_str());
    const __u32 configId = MapId(configFd);
    if (configFd >= 0)
        ::close(configFd);
    const int eventsFd = bpf_obj_get((pin + "/events").c_str());
    if (look.state != PinnedBackstop::State::kWhole || configId == 0 || eventsFd < 0) {
        Say(stderr, Arg(Tr("zel-backstop", "not running (nothing whole pinned in %1)"), {pin}));
        if (eventsFd >= 0)
            ::close(eventsFd);
        return kFailed;
    }
    if (!options.rulesFile.empty() && look.settings.uid != ZEL_BACKSTOP_SERVICES) {
        ::close(eventsFd);
        Say(stderr, Arg(Tr("zel-backstop", "a rules file is for the system services' backstop, not %1's"), {pin}));
        return kMisused;
    }
    const std::string socket = SocketPath(options, look.settings.uid);
    NoticeRelay relay(socket, look.settings.uid);
    relay.SetMode(look.settings.mode);
    if (look.settings.uid == ZEL_BACKSTOP_SERVICES) {
        // The services' notices: to the administrators, and into their own day logs.
        const group* administrators = ::getgrnam(kAdministrators);
        const std::string logFolder = options.log.empty() ? kServicesLogFolder : options.log;
        ::mkdir(ParentOf(logFolder).c_str(), 0755);
        ::mkdir(logFolder.c_str(), 0750);
        if (administrators && ::chown(logFolder.c_str(), 0, administrators->gr_gid) != 0)
            Say(stderr, Arg(Tr("zel-backstop", "cannot give %1 to the administrators: %2"), {logFolder, std::strerror(errno)}));
        relay.ServeAdministrators(administrators ? administrators->gr_gid : static_cast<gid_t>(-1), logFolder);
    }
    if (std::string error; !relay.Listen(error))
        Say(stderr,
            Arg(Tr("zel-backstop", "cannot listen on %1: %2 (notices go to the journal only)"), {socket, error}));
    ring_buffer* ring = ring_buffer__new(eventsFd, OnEvent, &relay, nullptr);
    if (!ring) {
        Say(stderr, Tr("zel-backstop", "cannot read the notices"));
        ::close(eventsFd);
        return kFailed;
    }
    struct sigaction action {};
    action.sa_handler = OnSignal;
    for (int signal : {SIGTERM, SIGINT, SIGHUP})
        ::sigaction(signal, &action, nullptr);
    // Still this backstop: stopped, its configuration goes (or is turned off
    // first); started anew, it is another map. Its mode, or off.
    const auto stillServing = [&] {
        zel_backstop_config settings {};
        const __u32 key = 0;
        const int fd = bpf_obj_get(configPath.c_str());
        const bool on = MapId(fd) == configId && bpf_map_lookup_elem(fd, &key, &settings) == 0;
        if (fd >= 0)
            ::close(fd);
        return on ? settings.mode : static_cast<unsigned>(ZEL_BACKSTOP_OFF);
    };
    // Deciding by rules, the user's settings are followed while this runs.
    std::unique_ptr<RulesFollower> follower;
    auto nextCheck = std::chrono::steady_clock::now();
    while (!g_stop) {
        auto now = std::chrono::steady_clock::now();
        if (now >= nextCheck) {
            const unsigned mode = stillServing();
            if (mode == ZEL_BACKSTOP_OFF)
                break;
            relay.SetMode(mode);
            if (mode == ZEL_BACKSTOP_RULES && !follower)
                follower = std::make_unique<RulesFollower>(pin, SettingsOf(look.settings.uid, options), ParentOf(pin));
            else if (mode != ZEL_BACKSTOP_RULES)
                follower.reset();
            nextCheck = now + std::chrono::seconds(1);
        }
        if (follower)
            follower->Step(now);
        std::vector<pollfd> waits {{ring_buffer__epoll_fd(ring), POLLIN, 0}};
        if (follower && follower->Fd() >= 0)
            waits.push_back({follower->Fd(), POLLIN, 0});
        const size_t servedFrom = waits.size();
        const std::vector<pollfd> served = relay.Waits();
        waits.insert(waits.end(), served.begin(), served.end());
        now = std::chrono::steady_clock::now();
        auto wake = nextCheck;
        if (follower)
            wake = std::min(wake, follower->Due());
        const auto wait = std::chrono::duration_cast<std::chrono::milliseconds>(wake - now).count();
        ::poll(waits.data(), waits.size(), static_cast<int>(std::clamp<long long>(wait, 0, 1000)));
        relay.Served(waits.data() + servedFrom, waits.size() - servedFrom);
        ring_buffer__consume(ring);
    }
    ring_buffer__free(ring);
    ::close(eventsFd);
    return 0;
}

}  // namespace

int main(int argc, char** argv)
{
    // Run as root for another user: the words come from the installed
    // translations only, never from a folder the environment names.
    if (const auto answered = text::StartTool({"zel-backstop", argc, argv, Usage, false}))
        return *answered;
    Options options;
    if (!ParseOptions(argc, argv, options))
        return Usage();
    const bool named = options.uid >= 0 || options.services || !options.pin.empty();
    const bool known = options.command == "start" || options.command == "run" || options.command == "stop" || options.command == "status";
    if (!known || (options.command == "start" && options.uid < 0 && !options.services)
        || ((options.command == "run" || options.command == "stop") && !named))
        return Usage();
    libbpf_set_print([](enum libbpf_print_level level, const char* format, va_list args) {
        return level == LIBBPF_WARN ? std::vfprintf(stderr, format, args) : 0;
    });
    if (options.command == "status")
        return Status(options); // a user may ask too: of the kernel, and of their own
    if (::geteuid() != 0) {
        Say(stderr, Tr("zel-backstop", "must run as root"));
        return 1;
    }
    if (options.command == "stop")
        return Stop(options);
    if (options.command == "status")
        return Status(options);
    if (options.command == "run")
        return Run(options);
    if (options.command != "start")
        return Usage();
    if (const int status = Start(options); status != 0 || options.detach)
        return status;
    return Run(options);
}
