#include "platform/ProgramCoverage.h"

#include "platform/SessionPreload.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <elf.h>
#include <fcntl.h>
#include <string_view>
#include <sys/auxv.h>
#include <sys/stat.h>
#include <unistd.h>
#include <unordered_map>
#include <unordered_set>

namespace platform::coverage {

namespace {

constexpr size_t kSmallFile = 64 * 1024;
// Far more than any program has; a damaged file is not read for ever.
constexpr unsigned kMaxSections = 8192;
constexpr size_t kMaxSectionNames = 1 << 20;
constexpr int kMaxAncestors = 64;

// Reads a file of the proc root relative to dirFd, up to limit bytes;
// false when it cannot be opened or read.
bool ReadAt(int dirFd, const char* name, std::string& text, size_t limit = kSmallFile)
{
    text.clear();
    const int fd = ::openat(dirFd, name, O_RDONLY | O_CLOEXEC | O_NOCTTY);
    if (fd < 0)
        return false;
    char buffer[8192];
    bool ok = true;
    while (text.size() < limit) {
        const ssize_t n = ::read(fd, buffer, std::min(sizeof buffer, limit - text.size()));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            ok = false;
        if (n <= 0)
            break;
        text.append(buffer, static_cast<size_t>(n));
    }
    ::close(fd);
    return ok;
}

bool ReadAll(int fd, uint64_t offset, void* data, size_t size)
{
    auto* bytes = static_cast<char*>(data);
    while (size > 0) {
        const ssize_t n = ::pread(fd, bytes, size, static_cast<off_t>(offset));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        bytes += n;
        offset += static_cast<uint64_t>(n);
        size -= static_cast<size_t>(n);
    }
    return true;
}

// The value after "Name:" on its own line of a status file.
std::string_view Field(std::string_view status, std::string_view name)
{
    size_t at = 0;
    while (at < status.size()) {
        size_t end = status.find('\n', at);
        if (end == std::string_view::npos)
            end = status.size();
        const std::string_view line = status.substr(at, end - at);
        if (line.size() > name.size() && line.starts_with(name) && line[name.size()] == ':') {
            std::string_view value = line.substr(name.size() + 1);
            while (!value.empty() && (value.front() == ' ' || value.front() == '\t'))
                value.remove_prefix(1);
            return value;
        }
        at = end + 1;
    }
    return {};
}

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

bool ReadProcess(int dirFd, pid_t pid, Process& process, std::string& scratch)
{
    if (!ReadAt(dirFd, "status", scratch))
        return false;
    process.pid = pid;
    process.command = std::string(Field(scratch, "Name"));
    process.parent = static_cast<pid_t>(std::strtol(std::string(Field(scratch, "PPid")).c_str(), nullptr, 10));
    const std::string capabilities(Field(scratch, "CapPrm"));
    process.capabilities = !capabilities.empty() && std::strtoull(capabilities.c_str(), nullptr, 16) != 0;
    return TwoIds(Field(scratch, "Uid"), process.realUid, process.effectiveUid)
        && TwoIds(Field(scratch, "Gid"), process.realGid, process.effectiveGid);
}

struct InternetSockets {
    std::unordered_set<uint64_t> inodes;
    std::unordered_set<unsigned long> owners; // user ids the sockets were made under
};

// Every IPv4 and IPv6 socket the tables of the proc root list.
InternetSockets ReadInternetSockets(const std::string& procRoot)
{
    InternetSockets sockets;
    const int net = ::open((procRoot + "/net").c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (net < 0)
        return sockets;
    std::string text;
    for (const char* table : {"tcp", "tcp6", "udp", "udp6", "udplite", "udplite6", "raw", "raw6", "icmp", "icmp6"}) {
        if (!ReadAt(net, table, text, 64u << 20))
            continue;
        size_t at = text.find('\n'); // the heading
        while (at != std::string::npos && at + 1 < text.size()) {
            const size_t end = text.find('\n', at + 1);
            const std::string_view line(text.data() + at + 1, (end == std::string::npos ? text.size() : end) - at - 1);
            at = end;
            // The eighth column is the owner, the tenth the inode.
            size_t column = 0, pos = 0;
            while (pos < line.size() && column < 10) {
                while (pos < line.size() && line[pos] == ' ')
                    ++pos;
                const size_t start = pos;
                while (pos < line.size() && line[pos] != ' ')
                    ++pos;
                if (pos == start)
                    break;
                const std::string word(line.substr(start, pos - start));
                ++column;
                if (column == 8)
                    sockets.owners.insert(std::strtoul(word.c_str(), nullptr, 10));
                else if (column == 10)
                    sockets.inodes.insert(std::strtoull(word.c_str(), nullptr, 10));
            }
        }
    }
    ::close(net);
    return sockets;
}

// How many of the process's descriptors are internet sockets; -1 when its
// descriptors cannot be seen.
int CountSockets(int dirFd, const std::unordered_set<uint64_t>& internet)
{
    const int fdDir = ::openat(dirFd, "fd", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fdDir < 0)
        return -1;
    DIR* dir = ::fdopendir(fdDir);
    if (!dir) {
        ::close(fdDir);
        return -1;
    }
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
        if (internet.contains(std::strtoull(target + 8, nullptr, 10)))
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
        const int pidFd = ::openat(root, entry->d_name, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (pidFd < 0)
            continue;
        Process process;
        // A process may end between the listing and the read: left out.
        if (ReadProcess(pidFd, static_cast<pid_t>(pid), process, scratch))
            processes.push_back(std::move(process));
        ::close(pidFd);
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

    const InternetSockets internet = ReadInternetSockets(settings.procRoot);
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
        program.sockets = CountSockets(pidFd, internet.inodes);
        program.exePath = ExePath(pidFd);
        const bool secure = own && IsSecureExecution(pidFd, process, settings.uid);
        // Sockets that cannot be seen are assumed only where the reason is
        // plain: a set-user-ID program of the user's, or another user's
        // program while that user (not root, whose services always have
        // some) holds sockets.
        const bool assumed = own ? secure
                                 : process.effectiveUid != 0 && internet.owners.contains(process.effectiveUid);
        if (program.sockets == 0 || (program.sockets < 0 && !assumed)) {
            ::close(pidFd);
            continue;
        }
        program.registered = settings.registered.contains(process.pid);
        if (!own) {
            program.reason = Reason::kOtherUser;
        } else if (program.registered) {
            program.state = State::kFirewall;
        } else {
            ExecutableKind kind;
            if (const int exe = ::openat(pidFd, "exe", O_RDONLY | O_CLOEXEC); exe >= 0) {
                kind = KindOf(exe);
                ::close(exe);
            }
            if (kind.isGo)
                program.reason = Reason::kOwnSystemCalls;
            else if (kind.foreignClass)
                program.reason = Reason::kForeignArchitecture;
            else if (kind.readable && kind.isStatic)
                program.reason = Reason::kStatic;
            else if (secure)
                program.reason = Reason::kSecureExecution;
            else if (HasHookMapped(pidFd))
                program.state = State::kFirewall;
            else if (IsSandboxed(pidFd, program.exePath))
                program.reason = Reason::kSandboxed;
            else
                program.reason = WasStartedWithHook(pidFd) ? Reason::kHookNotLoaded : Reason::kStartedWithout;
        }
        if (program.state != State::kFirewall)
            program.state = settings.backstop && program.reason != Reason::kOtherUser ? State::kBackstop : State::kNotCovered;
        ::close(pidFd);
        programs.push_back(std::move(program));
    }
    ::closedir(dir);
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

bool BackstopRunning()
{
    const char* configured = ::secure_getenv("ZEL_BACKSTOP_SOCKET");
    const std::string path = configured && *configured ? configured : "/run/zel-backstop.sock";
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0 && S_ISSOCK(st.st_mode) && st.st_uid == 0;
}

}  // namespace platform::coverage
