#include "backstop/PinnedBackstop.h"

#include "zel_backstop.skel.h"

#include <bpf/bpf.h>
#include <bpf/libbpf.h>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace backstop {

namespace {

enum class Kind { kMap, kCgroupLink, kTracingLink };

// What the folder holds, in the order pinned. The configuration comes first,
// so that a stop can turn the verdict off whatever a start got to; the
// verdict is put in force only after the last pin.
struct Pin {
    const char* name;   // in the folder
    Kind kind;
    const char* object; // the map's name, or the name of the program a link runs
};
constexpr Pin kPins[] = {
    {"config", Kind::kMap, "config"},
    {"events", Kind::kMap, "events"},
    {"images", Kind::kMap, "images"},
    {"rules_state", Kind::kMap, "rules_state"},
    {"programs", Kind::kMap, "programs"},
    {"lists", Kind::kMap, "lists"},
    {"intervals", Kind::kMap, "intervals"},
    {"intervals6", Kind::kMap, "intervals6"},
    {"bound", Kind::kMap, "bound"},
    {"noticed", Kind::kMap, "noticed"},
    {"sockets", Kind::kMap, "sockets"},
    // Registrations are followed before any connection is looked at, so
    // that no hooked program is taken for an unhooked one.
    {"link-register", Kind::kCgroupLink, "register_program"},
    {"link-fork", Kind::kTracingLink, "on_fork"},
    {"link-exec", Kind::kTracingLink, "on_exec"},
    {"link-exit", Kind::kTracingLink, "on_exit"},
    {"link-connect4", Kind::kCgroupLink, "connect4"},
    {"link-connect6", Kind::kCgroupLink, "connect6"},
    {"link-sendmsg4", Kind::kCgroupLink, "sendmsg4"},
    {"link-sendmsg6", Kind::kCgroupLink, "sendmsg6"},
    // Sockets made and bound are noted before what arrives for them is looked at.
    {"link-sock-create", Kind::kCgroupLink, "sock_create"},
    {"link-post-bind4", Kind::kCgroupLink, "post_bind4"},
    {"link-post-bind6", Kind::kCgroupLink, "post_bind6"},
    {"link-listen", Kind::kTracingLink, "note_listener"},
    {"link-ingress", Kind::kCgroupLink, "ingress"},
};
constexpr const Pin& kConfigPin = kPins[0];
// How long the kernel may take to let go of unpinned programs (it does so
// after a grace period, in the background).
constexpr std::chrono::seconds kReleaseWait {2};

bool IsLink(const Pin& pin) { return pin.kind != Kind::kMap; }

// The kernel keeps names of at most 15 characters.
bool SameKernelName(const char* kernelName, const char* name)
{
    return std::strncmp(kernelName, name, BPF_OBJ_NAME_LEN - 1) == 0;
}

// What kind of object a descriptor from bpf_obj_get is, by its anonymous
// inode: "bpf-map", "bpf-link" ("bpf_link" in older kernels) or "bpf-prog".
std::string ObjectKind(int fd)
{
    char link[64];
    std::snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
    char target[64] = {};
    const ssize_t length = ::readlink(link, target, sizeof target - 1);
    return length > 0 ? std::string(target, static_cast<size_t>(length)) : std::string();
}

// Whether the object pinned at path is the backstop's own under that pin:
// a map of that name, or a link running the program of that name (whose
// id goes to programId).
bool IsOurs(const std::string& path, const Pin& pin, __u32* programId = nullptr)
{
    const int fd = bpf_obj_get(path.c_str());
    if (fd < 0)
        return false;
    bool ours = false;
    const std::string kind = ObjectKind(fd);
    if (pin.kind == Kind::kMap && kind == "anon_inode:bpf-map") {
        bpf_map_info info {};
        __u32 size = sizeof info;
        ours = bpf_obj_get_info_by_fd(fd, &info, &size) == 0 && SameKernelName(info.name, pin.object);
    } else if (IsLink(pin) && (kind == "anon_inode:bpf-link" || kind == "anon_inode:bpf_link")) {
        bpf_link_info link {};
        __u32 size = sizeof link;
        if (bpf_obj_get_info_by_fd(fd, &link, &size) == 0) {
            const int programFd = bpf_prog_get_fd_by_id(link.prog_id);
            bpf_prog_info program {};
            size = sizeof program;
            ours = programFd >= 0 && bpf_obj_get_info_by_fd(programFd, &program, &size) == 0
                && SameKernelName(program.name, pin.object);
            if (programFd >= 0)
                ::close(programFd);
            if (ours && programId)
                *programId = link.prog_id;
        }
    }
    ::close(fd);
    return ours;
}

bool Exists(const std::string& path)
{
    struct stat info {};
    return ::lstat(path.c_str(), &info) == 0;
}

bool ReadConfig(const std::string& path, zel_backstop_config& settings)
{
    const int fd = bpf_obj_get(path.c_str());
    if (fd < 0)
        return false;
    const __u32 key = 0;
    const bool read = bpf_map_lookup_elem(fd, &key, &settings) == 0;
    ::close(fd);
    return read;
}

bool WriteConfig(int mapFd, const zel_backstop_config& settings)
{
    const __u32 key = 0;
    return bpf_map_update_elem(mapFd, &key, &settings, BPF_ANY) == 0;
}

zel_backstop_config With(zel_backstop_config settings, unsigned mode)
{
    settings.mode = mode;
    return settings;
}

// The programs of the processes that ran before the kernel programs were
// there to see them executed: the kernel's own walk of its tasks, in a
// fixed number of calls whatever runs. Without it those are decided by the
// general settings until they execute something.
void SeedImages(zel_backstop* skeleton)
{
    bpf_link* link = bpf_program__attach_iter(skeleton->progs.seed_images, nullptr);
    if (!link)
        return;
    if (const int fd = bpf_iter_create(bpf_link__fd(link)); fd >= 0) {
        char scrap[256];
        while (::read(fd, scrap, sizeof scrap) > 0) {
        }
        ::close(fd);
    }
    bpf_link__destroy(link);
}

}  // namespace

PinnedBackstop::Look PinnedBackstop::Inspect() const
{
    Look look;
    int ours = 0;
    for (const Pin& pin : kPins) {
        const std::string path = Path(pin.name);
        if (!Exists(path))
            continue;
        if (!IsOurs(path, pin)) {
            look.foreign.emplace_back(pin.name);
            continue;
        }
        ++ours;
        if (&pin == &kConfigPin)
            look.configured = ReadConfig(path, look.settings);
    }
    if (ours == 0)
        look.state = State::kNone;
    else if (ours == static_cast<int>(std::size(kPins)) && look.configured && look.settings.mode != ZEL_BACKSTOP_OFF)
        look.state = State::kWhole;
    else
        look.state = State::kPartial;
    return look;
}

bool PinnedBackstop::Attach(const zel_backstop_config& settings, const std::string& cgroup, const Prepare& prepare,
                            std::string& error) const
{
    if (::mkdir(folder_.c_str(), 0700) != 0 && errno != EEXIST) {
        error = "cannot make " + folder_ + ": " + std::strerror(errno);
        return false;
    }
    const int cgroupFd = ::open(cgroup.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (cgroupFd < 0) {
        error = "cannot open " + cgroup + ": " + std::strerror(errno);
        Undo(error); // the folder, made above
        return false;
    }
    zel_backstop* skeleton = zel_backstop__open_and_load();
    if (!skeleton) {
        error = std::string("the kernel did not take the programs (") + std::strerror(errno) + ")";
        ::close(cgroupFd);
        Undo(error);
        return false;
    }
    const int configFd = bpf_map__fd(skeleton->maps.config);
    std::vector<bpf_link*> links;
    bool whole = WriteConfig(configFd, With(settings, ZEL_BACKSTOP_OFF));
    if (!whole)
        error = std::string("cannot write the configuration: ") + std::strerror(errno);
    for (const Pin& pin : kPins) {
        if (!whole)
            break;
        const std::string path = Path(pin.name);
        if (pin.kind == Kind::kMap) {
            bpf_map* map = bpf_object__find_map_by_name(skeleton->obj, pin.object);
            whole = map && bpf_map__pin(map, path.c_str()) == 0;
        } else {
            bpf_program* program = bpf_object__find_program_by_name(skeleton->obj, pin.object);
            bpf_link* link = !program                         ? nullptr
                : pin.kind == Kind::kCgroupLink ? bpf_program__attach_cgroup(program, cgroupFd)
                                                : bpf_program__attach(program);
            if (link)
                links.push_back(link);
            whole = link && bpf_link__pin(link, path.c_str()) == 0;
        }
        if (!whole)
            error = std::string("cannot attach and pin ") + pin.name + ": " + std::strerror(errno);
    }
    if (whole)
        SeedImages(skeleton);
    if (whole && prepare)
        whole = prepare(error);
    // Everything is in place: the verdict from now on.
    if (whole && !WriteConfig(configFd, settings)) {
        whole = false;
        error = std::string("cannot put the verdict in force: ") + std::strerror(errno);
    }
    // The pins hold what they hold; this process's references go (an
    // unpinned link detaches with them).
    for (bpf_link* link : links)
        bpf_link__destroy(link);
    zel_backstop__destroy(skeleton);
    ::close(cgroupFd);
    if (!whole)
        Undo(error);
    return whole;
}

void PinnedBackstop::Undo(std::string& error) const
{
    const Removal removal = Remove();
    if (removal.failed.empty() && removal.programsLeft == 0) {
        error += "; nothing is attached";
        return;
    }
    error += "; could not undo all of it:";
    for (const std::string& failure : removal.failed)
        error += " " + failure + ";";
    if (removal.programsLeft > 0)
        error += " " + std::to_string(removal.programsLeft) + " programs still held";
}

bool PinnedBackstop::SetMode(const zel_backstop_config& wanted, std::string& error) const
{
    const std::string path = Path(kConfigPin.name);
    zel_backstop_config settings {};
    if (!IsOurs(path, kConfigPin) || !ReadConfig(path, settings)) {
        error = "no backstop pinned in " + folder_;
        return false;
    }
    if (settings.uid != wanted.uid) {
        error = folder_ + " holds the backstop of uid " + std::to_string(settings.uid);
        return false;
    }
    const int fd = bpf_obj_get(path.c_str());
    const bool written = fd >= 0 && WriteConfig(fd, wanted);
    if (!written)
        error = std::string("cannot change the verdict: ") + std::strerror(errno);
    if (fd >= 0)
        ::close(fd);
    return written;
}

PinnedBackstop::Removal PinnedBackstop::Remove() const
{
    Removal removal;
    // The verdict off first: whatever happens next, nothing is refused.
    if (const std::string path = Path(kConfigPin.name); IsOurs(path, kConfigPin)) {
        zel_backstop_config settings {};
        const int fd = bpf_obj_get(path.c_str());
        if (fd >= 0 && ReadConfig(path, settings))
            WriteConfig(fd, With(settings, ZEL_BACKSTOP_OFF));
        if (fd >= 0)
            ::close(fd);
    }
    // Links before the maps they use, the configuration last.
    std::vector<__u32> programs;
    for (auto pin = std::rbegin(kPins); pin != std::rend(kPins); ++pin) {
        const std::string path = Path(pin->name);
        __u32 programId = 0;
        if (!Exists(path) || !IsOurs(path, *pin, &programId))
            continue;
        if (::unlink(path.c_str()) != 0) {
            removal.failed.push_back(std::string(pin->name) + ": " + std::strerror(errno));
            continue;
        }
        ++removal.removed;
        if (programId != 0)
            programs.push_back(programId);
    }
    if (::rmdir(folder_.c_str()) != 0 && errno != ENOENT)
        removal.folderKept = true;
    // A program's id resolves until the kernel has let it go, and with it
    // its attachment.
    const auto deadline = std::chrono::steady_clock::now() + kReleaseWait;
    for (;;) {
        removal.programsLeft = 0;
        for (const __u32 id : programs) {
            if (const int fd = bpf_prog_get_fd_by_id(id); fd >= 0) {
                ::close(fd);
                ++removal.programsLeft;
            }
        }
        if (removal.programsLeft == 0 || std::chrono::steady_clock::now() >= deadline)
            break;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return removal;
}

int PinnedBackstop::AttachedCount() const
{
    int attached = 0;
    for (const Pin& pin : kPins)
        attached += IsLink(pin) && Exists(Path(pin.name)) && IsOurs(Path(pin.name), pin);
    return attached;
}

int PinnedBackstop::RegisteredCount() const
{
    // The hook's registrations are kept in the processes' notes.
    const int fd = bpf_obj_get(Path("images").c_str());
    if (fd < 0)
        return 0;
    int registered = 0;
    __u32 current = 0, next = 0;
    bool first = true;
    zel_backstop_image image{};
    for (int seen = 0; seen < 1000000 && bpf_map_get_next_key(fd, first ? nullptr : &current, &next) == 0; ++seen) {
        current = next;
        first = false;
        registered += bpf_map_lookup_elem(fd, &current, &image) == 0 && image.registered != 0;
    }
    ::close(fd);
    return registered;
}

}  // namespace backstop
