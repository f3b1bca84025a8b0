#include "backstop/UserSettings.h"

#include "backstop/BoundFiles.h"
#include "backstop/RulesCompiler.h"

#include "os/Files.h"
#include "os/Paths.h"
#include "os/hooksafe/Retry.h"
#include "protocol/Registry.h"
#include "protocol/SettingNames.h"
#include "rules/RulesFile.h"
#include "text/Strings.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <grp.h>
#include <malloc.h>
#include <optional>
#include <poll.h>
#include <pugixml.hpp>
#include <pwd.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <type_traits>
#include <unistd.h>
#include <vector>

namespace registry = protocol::registry;

namespace backstop {

namespace {

// What the reader sends, then keyFolder, rulesPath and why; when rules is
// kRead, a Result follows once the text is compiled.
struct Header {
    uint8_t done;
    uint8_t blockAll;
    uint8_t rules;
    uint8_t pad[5];
    uint64_t lengths[3];
    UserSettings::Stamp stamp;
};
// Then why, the bound files' folders (each ending in a NUL), and the
// compiled rules' programs, lists, intervals, intervals6 and bound paths, as
// many as counts says.
struct Result {
    uint8_t compiled; // 0: refused, why says why
    uint8_t unsettled;
    uint8_t pad[6];
    uint64_t textHash;
    uint64_t whyLength;
    uint64_t foldersLength;
    uint64_t counts[5];
};
constexpr uint64_t kMaxTextBytes = 64 << 10; // of the folders, path and reason
constexpr int kCannotBound = 3;              // the reader's exit status when it cannot bound its memory
// What the kernel's maps hold: more is not the compiler's.
constexpr uint64_t kMaxCounts[5] = {ZEL_RULES_PROGRAMS, ZEL_RULES_LISTS, ZEL_RULES_INTERVALS, ZEL_RULES_INTERVALS6,
                                    ZEL_RULES_BOUND};

template <typename Item>
constexpr bool kPlain = std::is_trivially_copyable_v<Item>;
static_assert(kPlain<CompiledRules::Program> && kPlain<CompiledRules::List> && kPlain<zel_rules_interval>
              && kPlain<zel_rules_interval6> && kPlain<CompiledRules::Bound>);

// In the reader: set when it ran out of the memory it may have (the
// document parser says so only as a parse error).
bool g_outOfMemory = false;

void* ParserAllocate(size_t size)
{
    void* block = std::malloc(size);
    if (!block)
        g_outOfMemory = true;
    return block;
}

// The reader's address space: what it has now and budget more, less the
// heap it took free from the service, which it may fill without growing;
// false when that cannot be known or set.
bool BoundAddressSpace(size_t budget)
{
    ::malloc_trim(0);
    budget -= std::min(budget, ::mallinfo2().fordblks);
    char text[128];
    const int fd = ::open("/proc/self/statm", O_RDONLY | O_CLOEXEC);
    const ssize_t n = fd < 0 ? -1 : ::read(fd, text, sizeof text - 1);
    if (fd >= 0)
        ::close(fd);
    if (n <= 0)
        return false;
    text[n] = '\0';
    const unsigned long long pages = std::strtoull(text, nullptr, 10);
    if (pages == 0)
        return false;
    const rlim_t most = static_cast<rlim_t>(pages * static_cast<unsigned long long>(::sysconf(_SC_PAGESIZE)) + budget);
    const rlimit limit {most, most};
    return ::setrlimit(RLIMIT_AS, &limit) == 0;
}

bool WriteAll(int fd, const void* data, size_t size)
{
    return os::WriteAll(fd, std::string_view(static_cast<const char*>(data), size));
}

// Reads size bytes before the deadline; false on an end, an error or the deadline.
bool ReadAll(int fd, void* data, size_t size, std::chrono::steady_clock::time_point deadline)
{
    auto* bytes = static_cast<char*>(data);
    while (size > 0) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0)
            return false;
        pollfd wait {fd, POLLIN, 0};
        const int ready = ::poll(&wait, 1, static_cast<int>(left.count()));
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready <= 0)
            return false;
        const ssize_t n = os::RetryOnInterrupt([&] { return ::read(fd, bytes, size); });
        if (n <= 0)
            return false;
        bytes += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

template <typename Item>
bool ReadItems(int fd, std::vector<Item>& items, uint64_t count, std::chrono::steady_clock::time_point deadline)
{
    items.resize(count);
    return ReadAll(fd, items.data(), count * sizeof(Item), deadline);
}

template <typename Item>
bool WriteItems(int fd, const std::vector<Item>& items)
{
    return WriteAll(fd, items.data(), items.size() * sizeof(Item));
}

UserSettings::Stamp StampOf(const struct stat& st)
{
    return {st.st_dev, st.st_ino, static_cast<long long>(st.st_size),
            static_cast<long long>(st.st_mtim.tv_sec) * 1000000000LL + st.st_mtim.tv_nsec,
            static_cast<long long>(st.st_ctim.tv_sec) * 1000000000LL + st.st_ctim.tv_nsec};
}

std::string Megabytes(size_t bytes) { return std::to_string(bytes >> 20) + " MB"; }

// Whether the machine's rules file (opened, st) and its folder are root's
// and written by no one else: whoever may write them decides the services.
bool WrittenByRootAlone(const std::string& path, const struct stat& st, std::string& why)
{
    const auto rootsAlone = [](const struct stat& info) {
        return info.st_uid == 0 && (info.st_mode & S_IWOTH) == 0 && ((info.st_mode & S_IWGRP) == 0 || info.st_gid == 0);
    };
    struct stat folder {};
    const std::string parent = path.substr(0, std::max<size_t>(path.rfind('/'), 1));
    if (!rootsAlone(st)) {
        why = path + " may be written by others than root";
        return false;
    }
    if (::stat(parent.c_str(), &folder) != 0 || !rootsAlone(folder)) {
        why = parent + " may be written by others than root";
        return false;
    }
    return true;
}

}  // namespace

UserSettings UserSettings::Machine(std::string rulesPath)
{
    UserSettings machine(0, std::string());
    machine.machine_ = true;
    machine.store_ = std::move(rulesPath);
    return machine;
}

UserSettings::UserSettings(uid_t uid, std::string store) : uid_(uid), gid_(static_cast<gid_t>(uid)), home_("/"), store_(std::move(store))
{
    if (const passwd* account = ::getpwuid(uid)) {
        gid_ = account->pw_gid;
        name_ = account->pw_name ? account->pw_name : "";
        if (account->pw_dir && account->pw_dir[0] == '/')
            home_ = account->pw_dir;
    }
}

bool UserSettings::TakeCompiled(int fd, std::chrono::steady_clock::time_point deadline, Look& look)
{
    Result result {};
    if (!ReadAll(fd, &result, sizeof result, deadline) || result.whyLength > kMaxTextBytes
        || result.foldersLength > kMaxTextBytes)
        return false;
    for (size_t i = 0; i < 5; ++i)
        if (result.counts[i] > kMaxCounts[i])
            return false;
    look.why.resize(result.whyLength);
    std::string folders(result.foldersLength, '\0');
    CompiledRules& rules = look.compiled;
    if (!ReadAll(fd, look.why.data(), look.why.size(), deadline) || !ReadAll(fd, folders.data(), folders.size(), deadline)
        || !ReadItems(fd, rules.programs, result.counts[0], deadline)
        || !ReadItems(fd, rules.lists, result.counts[1], deadline)
        || !ReadItems(fd, rules.intervals, result.counts[2], deadline)
        || !ReadItems(fd, rules.intervals6, result.counts[3], deadline)
        || !ReadItems(fd, rules.bound, result.counts[4], deadline))
        return false;
    for (size_t start = 0; start < folders.size();) {
        const size_t end = folders.find('\0', start);
        if (end == std::string::npos)
            break;
        look.boundFolders.push_back(folders.substr(start, end - start));
        start = end + 1;
    }
    look.unsettled = result.unsettled != 0;
    look.textHash = result.textHash;
    if (result.compiled == 0 || rules.programs.empty()) {
        look.rules = Rules::kRefused;
        look.compiled = {};
        if (look.why.empty())
            look.why = "its reader compiled no rules";
    }
    return true;
}

UserSettings::Look UserSettings::Read(const Stamp& known, const std::string& knownPath) const
{
    Look look;
    int channel[2];
    if (::pipe2(channel, O_CLOEXEC) != 0) {
        look.why = std::string("cannot make a pipe: ") + std::strerror(errno);
        return look;
    }
    const pid_t child = ::fork();
    if (child == 0) {
        ::close(channel[0]);
        // Nothing of the service's goes with it but this channel.
        if (channel[1] != 3 && ::dup2(channel[1], 3) != 3)
            ::_exit(1);
        ::close_range(4, ~0u, 0);
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        ReadAsUser(3, known, knownPath);
    }
    ::close(channel[1]);
    if (child < 0) {
        look.why = std::string("cannot start the reader: ") + std::strerror(errno);
        ::close(channel[0]);
        return look;
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(kReadSeconds);
    Header header {};
    bool whole = ReadAll(channel[0], &header, sizeof header, deadline);
    std::string* texts[] = {&look.keyFolder, &look.rulesPath, &look.why};
    for (size_t i = 0; whole && i < 3; ++i) {
        const uint64_t length = header.lengths[i];
        whole = length <= kMaxTextBytes;
        if (whole) {
            texts[i]->resize(length);
            whole = ReadAll(channel[0], texts[i]->data(), length, deadline);
        }
    }
    look.rules = static_cast<Rules>(header.rules);
    // The settings are known from here on; the rules, once compiled.
    const bool compiling = whole && header.done != 0 && look.rules == Rules::kRead;
    const bool compiled = compiling && TakeCompiled(channel[0], deadline, look);
    const bool late = std::chrono::steady_clock::now() >= deadline;
    ::close(channel[0]);
    if (!whole || (compiling && !compiled))
        ::kill(child, SIGKILL); // late, or saying more than it may (one that ended keeps its status)
    int status = 0;
    os::RetryOnInterrupt([&] { return ::waitpid(child, &status, 0); });
    if (!whole || (!compiling && (!WIFEXITED(status) || WEXITSTATUS(status) != 0))) {
        const std::string why = look.why;
        look = Look {};
        look.why = !why.empty() ? why
            : !whole          ? "the reader did not answer whole within " + std::to_string(kReadSeconds) + " s"
            : WIFEXITED(status) && WEXITSTATUS(status) == kCannotBound ? "the reader could not bound its memory"
                              : "the reader could not take uid " + std::to_string(uid_) + "'s identity";
        return look;
    }
    look.done = header.done != 0;
    look.blockAll = header.blockAll != 0;
    look.stamp = header.stamp;
    if (compiling && !compiled) {
        // The file itself is what cannot be read within the bounds: refused
        // until it changes.
        look.rules = Rules::kRefused;
        look.compiled = {};
        look.why = late ? "reading it takes more than " + std::to_string(kReadSeconds) + " s"
            : WIFSIGNALED(status) && WTERMSIG(status) != SIGKILL
            ? "its reader ended by signal " + std::to_string(WTERMSIG(status)) + " (reading it needs more than "
                + Megabytes(kReadMemoryBytes) + " of memory?)"
            : "its reader did not answer whole";
    }
    return look;
}

void UserSettings::ReadAsUser(int fd, const Stamp& known, const std::string& knownPath) const
{
    // Whatever the user's file makes it build, the reader fails, not the service.
    if (!BoundAddressSpace(kReadMemoryBytes))
        ::_exit(kCannotBound);
    // The user's identity, whole, before anything of theirs is opened. The
    // machine's rules are root's: read as root, and only as root wrote them.
    const bool groups = machine_ || (name_.empty() ? ::setgroups(0, nullptr) == 0 : ::initgroups(name_.c_str(), gid_) == 0);
    if (!groups || ::setresgid(gid_, gid_, gid_) != 0 || ::setresuid(uid_, uid_, uid_) != 0 || ::getuid() != uid_
        || ::geteuid() != uid_ || ::getegid() != gid_)
        ::_exit(2);
    ::clearenv();
    ::setenv("HOME", home_.c_str(), 1);
    if (!store_.empty() && !machine_)
        ::setenv("ZEL_REGISTRY_ROOT", store_.c_str(), 1);

    Header header {};
    std::string keyFolder, rulesPath, why;
    rules::rules_file::Contents contents;
    std::string value;
    const auto blockAll = machine_ ? registry::Value::Status::kMissing
                                   : registry::QueryStatus(registry::RootKey::LocalMachine, registry::kSettingsKey,
                                                           protocol::settings::kSecurityStatus, value);
    const auto rulesFile = machine_ ? registry::Value::Status::kFound
                                    : registry::QueryStatus(registry::RootKey::LocalMachine, registry::kSettingsKey,
                                                            protocol::settings::kRulesFile, rulesPath);
    if (blockAll == registry::Value::Status::kUnreadable || rulesFile == registry::Value::Status::kUnreadable) {
        why = "the settings in " + os::RegistryRoot() + " cannot be read";
    } else {
        header.done = 1;
        header.blockAll = blockAll == registry::Value::Status::kFound && text::ParseDecimal(value) == 0;
        if (machine_) {
            rulesPath = store_;
            keyFolder = rulesPath.substr(0, rulesPath.rfind('/'));
        } else {
            keyFolder = registry::KeyFolderPath(registry::RootKey::LocalMachine, registry::kSettingsKey).value_or("");
            rulesPath = rulesFile == registry::Value::Status::kFound ? os::SettingPath(rulesPath) : std::string();
        }
        Rules rules = Rules::kMissing;
        // As every reader reads it: only a regular file within the limits,
        // never waited on; only nothing at the path is no rules file.
        struct stat st {};
        rules::rules_file::Status opened;
        const int file = rulesPath.empty() ? -1 : rules::rules_file::Open(rulesPath, opened, st);
        if (rulesPath.empty() || opened.Missing()) {
            rules = Rules::kMissing;
        } else if (file < 0) {
            rules = Rules::kUnreadable;
            why = opened.Reason();
        } else if (std::string unsafe; machine_ && !WrittenByRootAlone(rulesPath, st, unsafe)) {
            rules = Rules::kUnreadable;
            why = unsafe;
            ::close(file);
        } else if (header.stamp = StampOf(st); rulesPath == knownPath && header.stamp == known) {
            rules = Rules::kUnchanged;
            ::close(file);
        } else {
            contents = rules::rules_file::ReadOpened(file, st);
            rules = contents.status.Read() ? Rules::kRead
                : contents.status.problem == rules::rules_file::Problem::kTooManyElements ? Rules::kRefused
                                                                                           : Rules::kUnreadable;
            why = contents.status.Reason();
        }
        header.rules = static_cast<uint8_t>(rules);
    }
    const std::string* texts[] = {&keyFolder, &rulesPath, &why};
    for (size_t i = 0; i < 3; ++i)
        header.lengths[i] = std::min<uint64_t>(texts[i]->size(), kMaxTextBytes);
    bool sent = WriteAll(fd, &header, sizeof header);
    for (size_t i = 0; sent && i < 3; ++i)
        sent = WriteAll(fd, texts[i]->data(), header.lengths[i]);
    if (!sent || static_cast<Rules>(header.rules) != Rules::kRead)
        ::_exit(sent ? 0 : 1);

    // Compiled here, as the user and within the bounds: the service takes
    // only what the kernel's maps can hold.
    Result result {};
    result.textHash = std::hash<std::string_view> {}(contents.text);
    std::optional<CompiledRules> compiled;
    std::string problem, folders;
    pugi::set_memory_management_functions(ParserAllocate, std::free);
    try {
        BoundFiles files;
        RulesCompiler::Options options;
        options.services = machine_;
        options.files = [&](const std::string& path, bool digest) {
            RulesCompiler::FileFacts facts = files.LookUp(path, digest);
            result.unsettled |= facts.settled ? 0 : 1;
            const std::string folder = path.substr(0, std::max<size_t>(path.rfind('/'), 1));
            if (folders.size() + folder.size() < kMaxTextBytes)
                folders += folder + '\0';
            return facts;
        };
        compiled = RulesCompiler::Compile(contents.text, problem, options);
    } catch (const std::bad_alloc&) {
        g_outOfMemory = true;
    }
    if (g_outOfMemory) {
        compiled.reset();
        problem = "reading it needs more than " + Megabytes(kReadMemoryBytes) + " of memory";
    }
    const CompiledRules none;
    const CompiledRules& rules = compiled ? *compiled : none;
    result.compiled = compiled ? 1 : 0;
    result.whyLength = std::min<uint64_t>(problem.size(), kMaxTextBytes);
    result.foldersLength = folders.size();
    const uint64_t counts[5] = {rules.programs.size(), rules.lists.size(), rules.intervals.size(), rules.intervals6.size(),
                                rules.bound.size()};
    std::copy(std::begin(counts), std::end(counts), result.counts);
    sent = WriteAll(fd, &result, sizeof result) && WriteAll(fd, problem.data(), result.whyLength)
        && WriteAll(fd, folders.data(), folders.size()) && WriteItems(fd, rules.programs) && WriteItems(fd, rules.lists)
        && WriteItems(fd, rules.intervals) && WriteItems(fd, rules.intervals6) && WriteItems(fd, rules.bound);
    ::_exit(sent ? 0 : 1);
}

}  // namespace backstop
