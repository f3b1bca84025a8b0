#include "session/ProgramCoverage.h"

#include "os/Processes.h"
#include "os/hooksafe/Retry.h"
#include "protocol/BackstopSocket.h"
#include "text/Strings.h"
#include "session/SessionPreload.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <elf.h>
#include <optional>
#include <fcntl.h>
#include <string_view>
#include <sys/auxv.h>
#include <sys/stat.h>
#include <unistd.h>
#include <unordered_map>
#include <unordered_set>

namespace session::coverage {

namespace {

constexpr size_t kSmallFile = 64 * 1024;
// Far more than any program has; a damaged file is not read for ever.
constexpr unsigned kMaxSections = 8192;
constexpr size_t kMaxSectionNames = 1 << 20;
constexpr int kMaxAncestors = 64;

// Reads a file of the proc root relative to dirFd, up to limit bytes;
// false when it cannot be opened or read. A record the kernel makes whole
// at once (status, stat) ends at the first read that does not fill the
// buffer: one system call less for every process.
bool ReadAt(int dirFd, const char* name, std::string& text, size_t limit = kSmallFile, bool wholeRecord = false)
{
    text.clear();
    const int fd = ::openat(dirFd, name, O_RDONLY | O_CLOEXEC | O_NOCTTY);
    if (fd < 0)
        return false;
    char buffer[8192];
    bool ok = true;
    while (text.size() < limit) {
        const ssize_t n = os::RetryOnInterrupt([&] { return ::read(fd, buffer, std::min(sizeof buffer, limit - text.size())); });
        if (n < 0)
            ok = false;
        if (n <= 0)
            break;
        text.append(buffer, static_cast<size_t>(n));
        if (wholeRecord && static_cast<size_t>(n) < sizeof buffer)
            break;
    }
    ::close(fd);
    return ok;
}

bool ReadAll(int fd, uint64_t offset, void* data, size_t size)
{
    auto* bytes = static_cast<char*>(data);
    while (size > 0) {
        const ssize_t n = os::RetryOnInterrupt([&] { return ::pread(fd, bytes, size, static_cast<off_t>(offset)); });
        if (n <= 0)
            return false;
        bytes += n;
        offset += static_cast<uint64_t>(n);
        size -= static_cast<size_t>(n);
    }
    return true;
}

using os::processes::StatusField;

// The first and second numbers of a "Uid:"/"Gid:" value (real, effective).
bool TwoIds(std::string_view value, unsigned long& real, unsigned long& effective)
{
    const std::string text(value);
    char* end = nullptr;
    real = std::strtoul(text.c_str(), &end, 10);
    if (end == text.c_str())
        return false;
    const char* next = end;
    effective = std::strtoul(next, &end, 10);
    return end != next;
}

struct Process {
    pid_t pid = 0;
    pid_t parent = 0;
    unsigned long realUid = 0, effectiveUid = 0, realGid = 0, effectiveGid = 0;
    bool capabilities = false; // permitted capabilities beyond none
    std::string command;
};

// The process's status, as "PID/status" below the proc root.
bool ReadProcess(int rootFd, pid_t pid, Process& process, std::string& scratch)
{
    char name[32];
    std::snprintf(name, sizeof name, "%d/status", static_cast<int>(pid));
    if (!ReadAt(rootFd, name, scratch, kSmallFile, true))
        return false;
    process.pid = pid;
    process.command = std::string(StatusField(scratch, "Name"));
    process.parent = static_cast<pid_t>(std::strtol(std::string(StatusField(scratch, "PPid")).c_str(), nullptr, 10));
    const std::string capabilities(StatusField(scratch, "CapPrm"));
    process.capabilities = !capabilities.empty() && std::strtoull(capabilities.c_str(), nullptr, 16) != 0;
    return TwoIds(StatusField(scratch, "Uid"), process.realUid, process.effectiveUid)
        && TwoIds(StatusField(scratch, "Gid"), process.realGid, process.effectiveGid);
}

using text::Column;

// Calls take(line) for every line of a table of net/ after its heading.
template <class Take>
void ForEachRow(int netFd, const char* table, std::string& text, Take take)
{
    if (!ReadAt(netFd, table, text, 64u << 20))
        return;
    size_t at = text.find('\n');
    while (at != std::string::npos && at + 1 < text.size()) {
        const size_t end = text.find('\n', at + 1);
        take(std::string_view(text.data() + at + 1, (end == std::string::npos ? text.size() : end) - at - 1));
        at = end;
    }
}

uint64_t Number(std::string_view word) { return std::strtoull(std::string(word).c_str(), nullptr, 10); }

// The sockets of a network namespace that reach no network: local (unix)
// sockets and the kernel's own (netlink); every other socket a program
// holds counts as a network one. The internet tables would say so directly,
// but reading them walks the kernel's whole connection table, which takes
// milliseconds for each of them on a machine with much memory.
std::unordered_set<uint64_t> LocalSockets(int netFd)
{
    std::unordered_set<uint64_t> inodes;
    std::string text;
    ForEachRow(netFd, "unix", text, [&](std::string_view line) { inodes.insert(Number(Column(line, 7))); });
    ForEachRow(netFd, "netlink", text, [&](std::string_view line) { inodes.insert(Number(Column(line, 10))); });
    return inodes;
}

// The user ids that own internet sockets in the proc root's namespace (the
// slow tables: read only when a program's own descriptors cannot be seen).
std::unordered_set<unsigned long> InternetOwners(const std::string& procRoot)
{
    std::unordered_set<unsigned long> owners;
    const int net = ::open((procRoot + "/net").c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (net < 0)
        return owners;
    std::string text;
    for (const char* table : {"tcp", "tcp6", "udp", "udp6", "raw", "raw6"})
        ForEachRow(net, table, text, [&](std::string_view line) { owners.insert(Number(Column(line, 8))); });
    ::close(net);
    return owners;
}

// When the process started, in clock ticks after boot: with its pid, what
// tells it from a later process that got the same number.
uint64_t StartTicks(int dirFd, std::string& scratch)
{
    if (!ReadAt(dirFd, "stat", scratch, kSmallFile, true))
        return 0;
    // The command name may hold anything, even ") ": the fields follow its last ')'.
    size_t at = scratch.rfind(')');
    for (int field = 2; field < 22 && at != std::string::npos; ++field)
        at = scratch.find(' ', at + 1);
    return at == std::string::npos ? 0 : std::strtoull(scratch.c_str() + at + 1, nullptr, 10);
}

// How many of the process's descriptors are network sockets; -1 when its
// descriptors cannot be seen. localOf gives the local sockets of the
// process's network namespace: asked only when it has a socket at all.
template <class LocalOf>
int CountSockets(int dirFd, LocalOf localOf)
{
    const int fdDir = ::openat(dirFd, "fd", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fdDir < 0)
        return -1;
    DIR* dir = ::fdopendir(fdDir);
    if (!dir) {
        ::close(fdDir);
        return -1;
    }
    const std::unordered_set<uint64_t>* local = nullptr;
    int count = 0;
    errno = 0;
    while (const dirent* entry = ::readdir(dir)) {
        if (entry->d_name[0] == '.')
            continue;
        char target[64];
        const ssize_t n = ::readlinkat(fdDir, entry->d_name, target, sizeof target - 1);
        if (n <= 8 || std::memcmp(target, "socket:[", 8) != 0)
            continue;
        target[n] = '\0';
        if (!local)
            local = &localOf();
        if (!local->contains(std::strtoull(target + 8, nullptr, 10)))
            ++count;
    }
    // Listing the descriptors of a process of another user fails at the
    // first entry read, not at the open.
    const bool denied = errno == EACCES || errno == EPERM;
    ::closedir(dir);
    return denied && count == 0 ? -1 : count;
}

// The loader ran the program in secure execution: it kept the preload out.
bool IsSecureExecution(int dirFd, const Process& process, uid_t uid)
{
    std::string auxv;
    if (ReadAt(dirFd, "auxv", auxv) && !auxv.empty()) {
        for (size_t at = 0; at + 2 * sizeof(unsigned long) <= auxv.size(); at += 2 * sizeof(unsigned long)) {
            unsigned long pair[2];
            std::memcpy(pair, auxv.data() + at, sizeof pair);
            if (pair[0] == AT_NULL)
                break;
            if (pair[0] == AT_SECURE)
                return pair[1] != 0;
        }
    }
    // Unreadable: it runs with rights its user lacks.
    return process.realUid != process.effectiveUid || process.realGid != process.effectiveGid
        || (uid != 0 && process.capabilities);
}

bool HasHookMapped(int dirFd)
{
    std::string maps;
    if (!ReadAt(dirFd, "maps", maps, 16u << 20))
        return false;
    const std::string needle = std::string("/") + session::kHookFileName + "\n";
    return maps.find(needle) != std::string::npos;
}

bool IsSandboxed(int dirFd, const std::string& exePath)
{
    if (exePath.starts_with("/snap/"))
        return true;
    std::string cgroup;
    if (ReadAt(dirFd, "cgroup", cgroup)
        && (cgroup.find("app-flatpak-") != std::string::npos || cgroup.find("/snap.") != std::string::npos))
        return true;
    struct stat st {};
    return ::fstatat(dirFd, "root/.flatpak-info", &st, 0) == 0;
}

// Its environment names the hook in LD_PRELOAD.
bool WasStartedWithHook(int dirFd)
{
    std::string environment;
    if (!ReadAt(dirFd, "environ", environment, 1u << 20))
        return false;
    size_t at = 0;
    while (at < environment.size()) {
        size_t end = environment.find('\0', at);
        if (end == std::string::npos)
            end = environment.size();
        const std::string_view entry(environment.data() + at, end - at);
        if (entry.starts_with("LD_PRELOAD="))
            return session::HasHook(entry.substr(11));
        at = end + 1;
    }
    return false;
}

std::string ExePath(int dirFd)
{
    char path[4096];
    const ssize_t n = ::readlinkat(dirFd, "exe", path, sizeof path - 1);
    if (n <= 0)
        return {};
    std::string text(path, static_cast<size_t>(n));
    if (text.ends_with(" (deleted)"))
        text.resize(text.size() - 10);
    return text;
}

std::vector<std::string> NulSeparated(const std::string& text)
{
    std::vector<std::string> items;
    size_t at = 0;
    while (at < text.size()) {
        size_t end = text.find('\0', at);
        if (end == std::string::npos)
            end = text.size();
        items.emplace_back(text, at, end - at);
        at = end + 1;
    }
    return items;
}

template <class Header, class ProgramHeader, class SectionHeader>
ExecutableKind ReadElf(int fd)
{
    ExecutableKind kind;
    Header header {};
    if (!ReadAll(fd, 0, &header, sizeof header))
        return kind;
    kind.readable = true;
    kind.isStatic = true;
    if (header.e_phentsize == sizeof(ProgramHeader))
        for (unsigned i = 0; i < header.e_phnum && i < kMaxSections; ++i) {
            ProgramHeader program {};
            if (!ReadAll(fd, header.e_phoff + static_cast<uint64_t>(i) * sizeof program, &program, sizeof program))
                break;
            if (program.p_type == PT_INTERP)
                kind.isStatic = false;
        }
    if (header.e_shentsize != sizeof(SectionHeader) || header.e_shnum == 0 || header.e_shnum > kMaxSections
        || header.e_shstrndx >= header.e_shnum)
        return kind;
    std::vector<SectionHeader> sections(header.e_shnum);
    if (!ReadAll(fd, header.e_shoff, sections.data(), sections.size() * sizeof(SectionHeader)))
        return kind;
    const SectionHeader& names = sections[header.e_shstrndx];
    if (names.sh_size == 0 || names.sh_size > kMaxSectionNames)
        return kind;
    std::string text(names.sh_size, '\0');
    if (!ReadAll(fd, names.sh_offset, text.data(), text.size()))
        return kind;
    for (const SectionHeader& section : sections) {
        if (section.sh_name >= text.size())
            continue;
        const std::string_view name(text.c_str() + section.sh_name);
        if (name == ".go.buildinfo" || name == ".note.go.buildid")
            kind.isGo = true;
    }
    return kind;
}

// Why the hook is not in a process (kNone: it is), from its folder of the
// proc root. What it is to a program is settled when its image starts.
Reason Classify(Scanner& scanner, int pidFd, const Process& process, uid_t uid, const std::string& exePath)
{
    ExecutableKind kind;
    if (const int exe = ::openat(pidFd, "exe", O_RDONLY | O_CLOEXEC); exe >= 0) {
        kind = scanner.KindOf(exe);
        ::close(exe);
    }
    if (kind.isGo)
        return Reason::kOwnSystemCalls;
    if (kind.foreignClass)
        return Reason::kForeignArchitecture;
    if (kind.readable && kind.isStatic)
        return Reason::kStatic;
    if (IsSecureExecution(pidFd, process, uid))
        return Reason::kSecureExecution;
    if (HasHookMapped(pidFd))
        return Reason::kNone;
    if (IsSandboxed(pidFd, exePath))
        return Reason::kSandboxed;
    return WasStartedWithHook(pidFd) ? Reason::kHookNotLoaded : Reason::kStartedWithout;
}

}  // namespace

ExecutableKind ReadExecutableKind(int fd)
{
    unsigned char ident[EI_NIDENT];
    if (!ReadAll(fd, 0, ident, sizeof ident) || std::memcmp(ident, ELFMAG, SELFMAG) != 0)
        return {};
    constexpr int kOwnClass = sizeof(void*) == 8 ? ELFCLASS64 : ELFCLASS32;
    ExecutableKind kind = ident[EI_CLASS] == ELFCLASS64 ? ReadElf<Elf64_Ehdr, Elf64_Phdr, Elf64_Shdr>(fd)
        : ident[EI_CLASS] == ELFCLASS32               ? ReadElf<Elf32_Ehdr, Elf32_Phdr, Elf32_Shdr>(fd)
                                                      : ExecutableKind {};
    kind.foreignClass = kind.readable && ident[EI_CLASS] != kOwnClass;
    return kind;
}

ExecutableKind Scanner::KindOf(int fd)
{
    struct stat st {};
    if (::fstat(fd, &st) != 0)
        return {};
    const FileKey key {st.st_dev, st.st_ino, static_cast<int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec,
                       static_cast<int64_t>(st.st_size)};
    if (const auto found = kinds_.find(key); found != kinds_.end())
        return found->second;
    // Programs come and go: the cache keeps what a desktop runs, not more.
    if (kinds_.size() > 4096)
        kinds_.clear();
    return kinds_[key] = ReadExecutableKind(fd);
}

std::vector<Program> Scanner::Scan(const ScanSettings& settings)
{
    ++generation_;
    std::vector<Program> programs;
    const int root = ::open(settings.procRoot.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (root < 0)
        return programs;
    DIR* dir = ::fdopendir(root);
    if (!dir) {
        ::close(root);
        return programs;
    }
    std::vector<Process> processes;
    std::string scratch;
    while (const dirent* entry = ::readdir(dir)) {
        char* end = nullptr;
        const long pid = std::strtol(entry->d_name, &end, 10);
        if (pid <= 0 || *end != '\0' || pid == settings.self)
            continue;
        Process process;
        // A process may end between the listing and the read: left out.
        if (ReadProcess(root, static_cast<pid_t>(pid), process, scratch))
            processes.push_back(std::move(process));
    }
    std::unordered_map<pid_t, const Process*> byPid;
    for (const Process& process : processes)
        byPid[process.pid] = &process;
    const auto startedByUser = [&](const Process& process) {
        const Process* at = &process;
        for (int step = 0; step < kMaxAncestors && at->parent > 0; ++step) {
            const auto parent = byPid.find(at->parent);
            if (parent == byPid.end())
                return false;
            at = parent->second;
            if (at->realUid == settings.uid)
                return true;
        }
        return false;
    };

    // The local sockets of the scanner's network namespace, and of others
    // programs run in, each read once.
    struct stat scanner {};
    const ino_t ownNamespace = ::stat((settings.procRoot + "/self/ns/net").c_str(), &scanner) == 0 ? scanner.st_ino : 0;
    std::unordered_map<ino_t, std::unordered_set<uint64_t>> local;
    const auto localSockets = [&](int pidFd) -> const std::unordered_set<uint64_t>& {
        struct stat st {};
        const ino_t space = ::fstatat(pidFd, "ns/net", &st, 0) == 0 && st.st_ino != ownNamespace ? st.st_ino : 0;
        auto found = local.find(space);
        if (found == local.end()) {
            const int net = space ? ::openat(pidFd, "net", O_RDONLY | O_DIRECTORY | O_CLOEXEC)
                                  : ::openat(root, "net", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
            found = local.emplace(space, net >= 0 ? LocalSockets(net) : std::unordered_set<uint64_t> {}).first;
            if (net >= 0)
                ::close(net);
        }
        return found->second;
    };
    std::optional<std::unordered_set<unsigned long>> owners;
    std::sort(processes.begin(), processes.end(), [](const Process& a, const Process& b) { return a.pid < b.pid; });
    for (const Process& process : processes) {
        const bool own = process.realUid == settings.uid;
        if (!own && !startedByUser(process))
            continue;
        const int pidFd = ::openat(root, std::to_string(process.pid).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (pidFd < 0)
            continue;
        Program program;
        program.pid = process.pid;
        program.uid = static_cast<uid_t>(process.realUid);
        program.command = process.command;
        program.sockets = CountSockets(pidFd, [&]() -> const auto& { return localSockets(pidFd); });
        if (program.sockets == 0) {
            ::close(pidFd);
            continue;
        }
        program.exePath = ExePath(pidFd);
        // Sockets that cannot be seen are assumed only where the reason is
        // plain: a set-user-ID program of the user's, or another user's
        // program while that user (not root, whose services always have
        // some) holds sockets.
        const auto ownsSockets = [&] {
            if (!owners)
                owners = InternetOwners(settings.procRoot);
            return owners->contains(process.effectiveUid);
        };
        if (program.sockets < 0
            && !(own ? IsSecureExecution(pidFd, process, settings.uid) : process.effectiveUid != 0 && ownsSockets())) {
            ::close(pidFd);
            continue;
        }
        program.registered = settings.registered.contains(process.pid);
        if (!own) {
            program.reason = Reason::kOtherUser;
        } else if (program.registered) {
            program.state = State::kFirewall;
        } else {
            // Found out once per process and executable.
            program.startTicks = StartTicks(pidFd, scratch);
            Known& known = known_[process.pid];
            if (!known.valid || known.startTicks != program.startTicks || known.exePath != program.exePath) {
                known = {true, program.startTicks, program.exePath, Classify(*this, pidFd, process, settings.uid, program.exePath),
                         generation_};
            }
            known.seen = generation_;
            program.reason = known.reason;
            if (known.reason == Reason::kNone)
                program.state = State::kFirewall;
        }
        if (program.state != State::kFirewall)
            program.state = settings.backstop && program.reason != Reason::kOtherUser ? State::kBackstop : State::kNotCovered;
        ::close(pidFd);
        programs.push_back(std::move(program));
    }
    ::closedir(dir);
    std::erase_if(known_, [this](const auto& entry) { return entry.second.seen != generation_; });
    return programs;
}

Launch LaunchOf(const std::string& procRoot, pid_t pid)
{
    Launch launch;
    const int pidFd = ::open((procRoot + "/" + std::to_string(pid)).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (pidFd < 0)
        return launch;
    std::string text;
    if (ReadAt(pidFd, "cmdline", text, 1u << 20))
        launch.arguments = NulSeparated(text);
    if (ReadAt(pidFd, "environ", text, 1u << 20))
        launch.environment = NulSeparated(text);
    char folder[4096];
    const ssize_t n = ::readlinkat(pidFd, "cwd", folder, sizeof folder - 1);
    if (n > 0)
        launch.folder.assign(folder, static_cast<size_t>(n));
    ::close(pidFd);
    if (launch.folder.empty())
        launch.arguments.clear();
    return launch;
}

bool BackstopRunning() { return protocol::backstop_socket::Answers(protocol::backstop_socket::ForThisUser()); }

}  // namespace session::coverage
