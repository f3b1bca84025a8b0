// zel-backstop: the optional kernel layer, run as root. It attaches kernel
// programs that give the desktop user's connections from programs the hook
// is not in (static programs, direct system calls, set-user-ID programs,
// programs started without the preload) a verdict: let them pass and tell
// (notify), or refuse them (deny). The attachments are pinned, so the
// verdict holds if this service dies; "stop" removes them all.
//   zel-backstop start --user UID [--notify|--deny] [--cgroup DIR] [--pin DIR] [--socket PATH] [--detach]
//   zel-backstop run [--pin DIR] [--socket PATH]     relay the notices only
//   zel-backstop stop [--pin DIR]
//   zel-backstop status [--pin DIR]
#include "backstop.h"
#include "zel_backstop.skel.h"

#include <arpa/inet.h>
#include <bpf/bpf.h>
#include <bpf/libbpf.h>
#include <cerrno>
#include <cstdarg>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <fstream>
#include <linux/magic.h>
#include <map>
#include <poll.h>
#include <sstream>
#include <string>
#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/un.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr const char* kDefaultPin = "/sys/fs/bpf/zel";
constexpr const char* kDefaultSocket = "/run/zel-backstop.sock";
// One notice per program (by its executable) in this long.
constexpr std::chrono::minutes kNoticeInterval {10};

volatile std::sig_atomic_t g_stop = 0;
void OnSignal(int) { g_stop = 1; }

struct Options {
    std::string command;
    long uid = -1;
    unsigned mode = ZEL_BACKSTOP_NOTIFY;
    std::string cgroup;
    std::string pin = kDefaultPin;
    std::string socket = kDefaultSocket;
    bool detach = false;
};

int Usage()
{
    std::fprintf(stderr,
                 "usage: zel-backstop start --user UID [--notify|--deny] [--cgroup DIR] [--pin DIR] [--socket PATH] [--detach]\n"
                 "       zel-backstop run [--pin DIR] [--socket PATH]\n"
                 "       zel-backstop stop [--pin DIR]\n"
                 "       zel-backstop status [--pin DIR]\n");
    return 2;
}

bool ParseOptions(int argc, char** argv, Options& options)
{
    if (argc < 2)
        return false;
    options.command = argv[1];
    for (int i = 2; i < argc; ++i) {
        const std::string arg = argv[i];
        const auto value = [&]() -> const char* { return i + 1 < argc ? argv[++i] : nullptr; };
        if (arg == "--notify") {
            options.mode = ZEL_BACKSTOP_NOTIFY;
        } else if (arg == "--deny") {
            options.mode = ZEL_BACKSTOP_DENY;
        } else if (arg == "--detach") {
            options.detach = true;
        } else if (arg == "--user" || arg == "--cgroup" || arg == "--pin" || arg == "--socket") {
            const char* text = value();
            if (!text || !*text)
                return false;
            if (arg == "--user") {
                char* end = nullptr;
                options.uid = std::strtol(text, &end, 10);
                if (*end != '\0' || options.uid < 0 || options.uid > 0x7fffffff)
                    return false;
            } else {
                (arg == "--cgroup" ? options.cgroup : arg == "--pin" ? options.pin : options.socket) = text;
            }
        } else {
            return false;
        }
    }
    return true;
}

std::string PinPath(const Options& options, const char* name) { return options.pin + "/" + name; }

// The cgroup v2 hierarchy, wherever this system mounted it (pure v2 at
// /sys/fs/cgroup, or beside v1 controllers in a hybrid layout).
std::string CgroupTwoMount()
{
    std::ifstream mounts("/proc/self/mountinfo");
    for (std::string line; std::getline(mounts, line);) {
        // ... mount-point ... - fstype source options
        const size_t dash = line.find(" - ");
        if (dash == std::string::npos)
            continue;
        std::istringstream tail(line.substr(dash + 3));
        std::string type;
        tail >> type;
        if (type != "cgroup2")
            continue;
        std::istringstream head(line.substr(0, dash));
        std::string field, mountPoint;
        for (int i = 0; i < 5 && head >> field; ++i)
            if (i == 4)
                mountPoint = field;
        return mountPoint;
    }
    return {};
}

bool EnsureBpfFilesystem(const std::string& pin)
{
    const std::string parent = pin.substr(0, pin.rfind('/'));
    struct statfs fs {};
    if (::statfs(parent.c_str(), &fs) == 0 && fs.f_type == BPF_FS_MAGIC)
        return true;
    if (::mount("bpf", parent.c_str(), "bpf", 0, "mode=0700") != 0) {
        std::fprintf(stderr, "zel-backstop: cannot mount the BPF file system on %s: %s\n", parent.c_str(),
                     std::strerror(errno));
        return false;
    }
    return true;
}

bool IsRunning(const Options& options) { return ::access(PinPath(options, "config").c_str(), F_OK) == 0; }

const char* ModeName(unsigned mode) { return mode == ZEL_BACKSTOP_DENY ? "deny" : mode == ZEL_BACKSTOP_NOTIFY ? "notify" : "off"; }

bool WriteConfig(int mapFd, long uid, unsigned mode)
{
    const __u32 key = 0;
    const zel_backstop_config settings {static_cast<unsigned>(uid), mode};
    return bpf_map_update_elem(mapFd, &key, &settings, BPF_ANY) == 0;
}

// Removes every pin: links detach when their last reference goes.
int Unpin(const Options& options)
{
    DIR* dir = ::opendir(options.pin.c_str());
    if (!dir)
        return 0;
    int removed = 0;
    while (const dirent* entry = ::readdir(dir)) {
        if (entry->d_name[0] == '.')
            continue;
        if (::unlink((options.pin + "/" + entry->d_name).c_str()) == 0)
            ++removed;
    }
    ::closedir(dir);
    ::rmdir(options.pin.c_str());
    return removed;
}

int Attach(const Options& options)
{
    const std::string cgroup = options.cgroup.empty() ? CgroupTwoMount() : options.cgroup;
    if (cgroup.empty()) {
        std::fprintf(stderr, "zel-backstop: no cgroup v2 hierarchy is mounted\n");
        return 3;
    }
    const int cgroupFd = ::open(cgroup.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (cgroupFd < 0) {
        std::fprintf(stderr, "zel-backstop: cannot open %s: %s\n", cgroup.c_str(), std::strerror(errno));
        return 3;
    }
    zel_backstop* skeleton = zel_backstop__open_and_load();
    if (!skeleton) {
        std::fprintf(stderr, "zel-backstop: the kernel did not take the programs (%s)\n", std::strerror(errno));
        ::close(cgroupFd);
        return 3;
    }
    struct Attachment {
        const char* name;
        bpf_program* program;
        bool cgroup;
    };
    const Attachment attachments[] = {
        {"link-register", skeleton->progs.register_program, true},
        {"link-fork", skeleton->progs.on_fork, false},
        {"link-exec", skeleton->progs.on_exec, false},
        {"link-exit", skeleton->progs.on_exit, false},
        {"link-connect4", skeleton->progs.connect4, true},
        {"link-connect6", skeleton->progs.connect6, true},
        {"link-sendmsg4", skeleton->progs.sendmsg4, true},
        {"link-sendmsg6", skeleton->progs.sendmsg6, true},
    };
    int status = 0;
    if (::mkdir(options.pin.c_str(), 0700) != 0 && errno != EEXIST) {
        std::fprintf(stderr, "zel-backstop: cannot make %s: %s\n", options.pin.c_str(), std::strerror(errno));
        status = 3;
    }
    // The registrations are followed before any verdict is given, so that
    // no hooked program is taken for an unhooked one.
    if (status == 0 && !WriteConfig(bpf_map__fd(skeleton->maps.config), options.uid, ZEL_BACKSTOP_OFF))
        status = 3;
    for (const char* map : {"registered", "events"}) {
        bpf_map* handle = std::strcmp(map, "registered") == 0 ? skeleton->maps.registered : skeleton->maps.events;
        if (status == 0 && bpf_map__pin(handle, PinPath(options, map).c_str()) != 0) {
            std::fprintf(stderr, "zel-backstop: cannot pin %s: %s\n", map, std::strerror(errno));
            status = 3;
        }
    }
    for (const Attachment& attachment : attachments) {
        if (status != 0)
            break;
        bpf_link* link = attachment.cgroup ? bpf_program__attach_cgroup(attachment.program, cgroupFd)
                                           : bpf_program__attach(attachment.program);
        if (!link || bpf_link__pin(link, PinPath(options, attachment.name).c_str()) != 0) {
            std::fprintf(stderr, "zel-backstop: cannot attach %s: %s\n", attachment.name, std::strerror(errno));
            status = 3;
        }
    }
    if (status == 0 && !WriteConfig(bpf_map__fd(skeleton->maps.config), options.uid, options.mode))
        status = 3;
    // Pinned last: its presence says the backstop is whole.
    if (status == 0 && bpf_map__pin(skeleton->maps.config, PinPath(options, "config").c_str()) != 0)
        status = 3;
    if (status != 0)
        Unpin(options);
    // The pins hold the programs; this process's references go.
    zel_backstop__destroy(skeleton);
    ::close(cgroupFd);
    if (status == 0)
        std::printf("zel-backstop: %s for uid %ld on %s, pinned in %s\n", ModeName(options.mode), options.uid,
                    cgroup.c_str(), options.pin.c_str());
    return status;
}

// The notices: to the journal (standard output) and to the user's
// interceptor, connected to the socket, once per program in a while.
class Relay {
public:
    Relay(const Options& options, unsigned uid) : options_(options), uid_(uid) {}

    bool Listen()
    {
        ::unlink(options_.socket.c_str());
        listener_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
        sockaddr_un address {};
        address.sun_family = AF_UNIX;
        if (listener_ < 0 || options_.socket.size() >= sizeof address.sun_path)
            return false;
        std::strcpy(address.sun_path, options_.socket.c_str());
        if (::bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || ::listen(listener_, 8) != 0)
            return false;
        // Anyone may connect; only the covered user (or root) is told anything.
        ::chmod(options_.socket.c_str(), 0666);
        return true;
    }
    int ListenFd() const { return listener_; }

    void Accept()
    {
        for (;;) {
            const int client = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
            if (client < 0)
                return;
            ucred peer {};
            socklen_t size = sizeof peer;
            if (::getsockopt(client, SOL_SOCKET, SO_PEERCRED, &peer, &size) != 0 || (peer.uid != uid_ && peer.uid != 0)
                || clients_.size() >= 16) {
                ::close(client);
                continue;
            }
            clients_.push_back(client);
        }
    }

    void Event(const zel_backstop_event& event)
    {
        char link[64];
        std::snprintf(link, sizeof link, "/proc/%u/exe", event.pid);
        char path[4096];
        const ssize_t length = ::readlink(link, path, sizeof path - 1);
        // A program that ended already has only its command name left.
        std::string program = length > 0 ? std::string(path, static_cast<size_t>(length)) : std::string();
        if (program.empty())
            program = std::string(event.comm, strnlen(event.comm, sizeof event.comm));
        // A program's name is shown on a line of its own: no line breaks in it.
        for (char& c : program)
            if (c == '\n' || c == '\r')
                c = '?';
        // Once a while per program and verdict: a change of mode is news.
        const std::string key = std::to_string(event.mode) + " " + program;
        const auto now = std::chrono::steady_clock::now();
        const auto last = lastNotice_.find(key);
        if (last != lastNotice_.end() && now - last->second < kNoticeInterval)
            return;
        if (lastNotice_.size() > 4096)
            lastNotice_.clear();
        lastNotice_[key] = now;

        char address[INET6_ADDRSTRLEN] = "?";
        ::inet_ntop(event.family == 10 ? AF_INET6 : AF_INET, event.address, address, sizeof address);
        const char* verdict = event.mode == ZEL_BACKSTOP_DENY ? "denied" : "passed";
        char head[256];
        std::snprintf(head, sizeof head, "%s %u %s %u %s ", verdict, event.pid, address, event.port,
                      event.protocol == 17 ? "UDP" : "TCP");
        const std::string line = head + program + "\n";
        std::fputs(line.c_str(), stdout);
        std::fflush(stdout);
        for (size_t i = 0; i < clients_.size();) {
            if (::send(clients_[i], line.data(), line.size(), MSG_NOSIGNAL | MSG_DONTWAIT) != static_cast<ssize_t>(line.size())) {
                ::close(clients_[i]);
                clients_.erase(clients_.begin() + static_cast<long>(i));
            } else {
                ++i;
            }
        }
    }

    ~Relay()
    {
        for (int client : clients_)
            ::close(client);
        if (listener_ >= 0) {
            ::close(listener_);
            ::unlink(options_.socket.c_str());
        }
    }

private:
    const Options& options_;
    unsigned uid_;
    int listener_ = -1;
    std::vector<int> clients_;
    std::map<std::string, std::chrono::steady_clock::time_point> lastNotice_;
};

int OnEvent(void* context, void* data, size_t size)
{
    if (size >= sizeof(zel_backstop_event))
        static_cast<Relay*>(context)->Event(*static_cast<const zel_backstop_event*>(data));
    return 0;
}

int Run(const Options& options)
{
    const int configFd = bpf_obj_get(PinPath(options, "config").c_str());
    const int eventsFd = bpf_obj_get(PinPath(options, "events").c_str());
    zel_backstop_config settings {};
    const __u32 key = 0;
    if (configFd < 0 || eventsFd < 0 || bpf_map_lookup_elem(configFd, &key, &settings) != 0) {
        std::fprintf(stderr, "zel-backstop: not running (nothing pinned in %s)\n", options.pin.c_str());
        return 3;
    }
    ::close(configFd);
    Relay relay(options, settings.uid);
    if (!relay.Listen())
        std::fprintf(stderr, "zel-backstop: cannot listen on %s: %s (notices go to the journal only)\n",
                     options.socket.c_str(), std::strerror(errno));
    ring_buffer* ring = ring_buffer__new(eventsFd, OnEvent, &relay, nullptr);
    if (!ring) {
        std::fprintf(stderr, "zel-backstop: cannot read the notices\n");
        return 3;
    }
    struct sigaction action {};
    action.sa_handler = OnSignal;
    for (int signal : {SIGTERM, SIGINT, SIGHUP})
        ::sigaction(signal, &action, nullptr);
    while (!g_stop && IsRunning(options)) {
        pollfd waiting[2] = {{ring_buffer__epoll_fd(ring), POLLIN, 0}, {relay.ListenFd(), POLLIN, 0}};
        ::poll(waiting, relay.ListenFd() >= 0 ? 2 : 1, 1000);
        ring_buffer__consume(ring);
        if (waiting[1].revents & POLLIN)
            relay.Accept();
    }
    ring_buffer__free(ring);
    ::close(eventsFd);
    return 0;
}

int Status(const Options& options)
{
    const int configFd = bpf_obj_get(PinPath(options, "config").c_str());
    zel_backstop_config settings {};
    const __u32 key = 0;
    if (configFd < 0 || bpf_map_lookup_elem(configFd, &key, &settings) != 0) {
        std::printf("zel-backstop: not running\n");
        return 3;
    }
    ::close(configFd);
    int registered = 0;
    if (const int mapFd = bpf_obj_get(PinPath(options, "registered").c_str()); mapFd >= 0) {
        __u32 current = 0, next = 0;
        bool first = true;
        while (registered < 1000000 && bpf_map_get_next_key(mapFd, first ? nullptr : &current, &next) == 0) {
            current = next;
            first = false;
            ++registered;
        }
        ::close(mapFd);
    }
    int links = 0;
    if (DIR* dir = ::opendir(options.pin.c_str())) {
        while (const dirent* entry = ::readdir(dir))
            links += std::strncmp(entry->d_name, "link-", 5) == 0;
        ::closedir(dir);
    }
    std::printf("zel-backstop: running, %s for uid %u, %d programs attached, %d hooked programs registered\n",
                ModeName(settings.mode), settings.uid, links, registered);
    return 0;
}

}  // namespace

int main(int argc, char** argv)
{
    Options options;
    if (!ParseOptions(argc, argv, options))
        return Usage();
    if (::geteuid() != 0) {
        std::fprintf(stderr, "zel-backstop: must run as root\n");
        return 1;
    }
    libbpf_set_print([](enum libbpf_print_level level, const char* format, va_list args) {
        return level == LIBBPF_WARN ? std::vfprintf(stderr, format, args) : 0;
    });
    if (options.command == "stop") {
        const int removed = Unpin(options);
        std::printf("zel-backstop: %s\n", removed > 0 ? "stopped; nothing is attached any more" : "was not running");
        return 0;
    }
    if (options.command == "status")
        return Status(options);
    if (options.command == "run")
        return Run(options);
    if (options.command != "start" || options.uid < 0)
        return Usage();
    if (!EnsureBpfFilesystem(options.pin))
        return 3;
    if (IsRunning(options)) {
        // Already attached (a restart of the service): the verdict may change.
        const int configFd = bpf_obj_get(PinPath(options, "config").c_str());
        if (configFd < 0 || !WriteConfig(configFd, options.uid, options.mode))
            return 3;
        ::close(configFd);
        std::printf("zel-backstop: already attached; now %s for uid %ld\n", ModeName(options.mode), options.uid);
    } else if (const int status = Attach(options); status != 0) {
        return status;
    }
    return options.detach ? 0 : Run(options);
}
