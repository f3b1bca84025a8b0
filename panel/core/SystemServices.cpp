#include "panel/core/SystemServices.h"

#include "os/FileDigest.h"
#include "os/Processes.h"
#include "panel/core/FileInformation.h"
#include "panel/core/RulesStore.h"
#include "protocol/BackstopSocket.h"
#include "rules/DocumentReader.h"
#include "rules/DocumentWriter.h"
#include "rules/RulesFile.h"
#include "rules/RulesFormat.h"
#include "text/Strings.h"
#include "text/Translate.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>
#include <unordered_map>
#include <unordered_set>

namespace panel::services {

namespace {

// Reads a small file below dirFd; false when it cannot be read.
bool ReadAt(int dirFd, const char* name, std::string& text, size_t limit = 64u << 10)
{
    text.clear();
    const int fd = ::openat(dirFd, name, O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0)
        return false;
    char buffer[16384];
    ssize_t n = 0;
    while (text.size() < limit && (n = ::read(fd, buffer, sizeof buffer)) > 0)
        text.append(buffer, static_cast<size_t>(std::min<size_t>(static_cast<size_t>(n), limit - text.size())));
    ::close(fd);
    return n >= 0;
}

using os::processes::StatusField;

using text::Column;

// The internet sockets of a network namespace (its net/ folder): their
// inodes, and the users that own them.
struct Internet {
    std::unordered_set<uint64_t> inodes;
    std::unordered_set<unsigned long> owners;
};

Internet ReadInternet(int netFd)
{
    Internet internet;
    std::string text;
    for (const char* table : {"tcp", "tcp6", "udp", "udp6", "raw", "raw6"}) {
        if (netFd < 0 || !ReadAt(netFd, table, text, 64u << 20))
            continue;
        for (size_t at = text.find('\n'); at != std::string::npos && at + 1 < text.size();) {
            const size_t end = text.find('\n', at + 1);
            const std::string_view line(text.data() + at + 1, (end == std::string::npos ? text.size() : end) - at - 1);
            internet.owners.insert(std::strtoul(std::string(Column(line, 8)).c_str(), nullptr, 10));
            internet.inodes.insert(std::strtoull(std::string(Column(line, 10)).c_str(), nullptr, 10));
            at = end;
        }
    }
    return internet;
}

// How many of the process's descriptors are internet sockets; -1 when its
// descriptors cannot be seen.
int CountSockets(int pidFd, const std::unordered_set<uint64_t>& internet)
{
    const int fdDir = ::openat(pidFd, "fd", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
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
        char target[64];
        const ssize_t n = entry->d_name[0] == '.' ? -1 : ::readlinkat(fdDir, entry->d_name, target, sizeof target - 1);
        if (n <= 8 || std::memcmp(target, "socket:[", 8) != 0)
            continue;
        target[n] = '\0';
        count += internet.contains(std::strtoull(target + 8, nullptr, 10)) ? 1 : 0;
    }
    // Another user's descriptors: the listing fails at the first read.
    const bool denied = errno == EACCES || errno == EPERM;
    ::closedir(dir);
    return denied && count == 0 ? -1 : count;
}

}  // namespace

Places Places::OfThisMachine()
{
    Places places;
    const char* root = std::getenv("ZEL_SERVICES_ROOT");
    if (root && *root == '/') {
        places.procRoot = root + places.procRoot;
        places.loginDefs = root + places.loginDefs;
        places.rulesFile = root + places.rulesFile;
        places.backstopSocket = root + protocol::backstop_socket::PathFor(protocol::backstop_socket::kServicesName);
        places.logFolder = root + places.logFolder;
    }
    return places;
}

std::pair<uid_t, uid_t> OrdinaryUsers(const std::string& loginDefs) { return os::processes::OrdinaryUsers(loginDefs); }

bool IsAdministrator()
{
    if (::geteuid() == 0)
        return true;
    const group* administrators = ::getgrnam(kAdministrators);
    if (!administrators)
        return false;
    if (::getegid() == administrators->gr_gid)
        return true;
    gid_t groups[1024];
    const int count = ::getgroups(1024, groups);
    return std::find(groups, groups + std::max(count, 0), administrators->gr_gid) != groups + std::max(count, 0);
}

Listing List(const Places& places)
{
    Listing listing;
    const std::string socket = places.backstopSocket.empty()
        ? protocol::backstop_socket::PathFor(protocol::backstop_socket::kServicesName)
        : places.backstopSocket;
    listing.backstopRuns = protocol::backstop_socket::Answers(socket);

    // The machine's rules, as the services' backstop reads them.
    std::optional<rules::Document> document;
    const rules::rules_file::Contents contents = rules::rules_file::Read(places.rulesFile);
    if (contents.status.Missing()) {
        listing.rulesMissing = true;
    } else if (!contents.status.Read()) {
        listing.rulesProblem = contents.status.ShownReason();
    } else if (!(document = rules::ReadDocument(contents.text))) {
        listing.rulesProblem = text::Tr("SystemServices", "it is not a rules file that can be read");
    }

    const auto [firstOrdinary, lastOrdinary] = OrdinaryUsers(places.loginDefs);
    const int root = ::open(places.procRoot.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (root < 0)
        return listing;
    // The internet sockets of each network namespace, read once.
    struct stat own {};
    const ino_t ownSpace = ::fstatat(root, "self/ns/net", &own, 0) == 0 ? own.st_ino : 0;
    std::unordered_map<ino_t, Internet> spaces;
    const auto internetOf = [&](int pidFd) -> const Internet& {
        struct stat st {};
        const ino_t space = ::fstatat(pidFd, "ns/net", &st, 0) == 0 && st.st_ino != ownSpace ? st.st_ino : 0;
        auto found = spaces.find(space);
        if (found == spaces.end()) {
            const int net = ::openat(space ? pidFd : root, "net", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
            found = spaces.emplace(space, ReadInternet(net)).first;
            if (net >= 0)
                ::close(net);
        }
        return found->second;
    };

    std::vector<pid_t> pids;
    if (DIR* dir = ::fdopendir(::dup(root))) {
        while (const dirent* entry = ::readdir(dir)) {
            char* end = nullptr;
            const long pid = std::strtol(entry->d_name, &end, 10);
            if (pid > 0 && *end == '\0')
                pids.push_back(static_cast<pid_t>(pid));
        }
        ::closedir(dir);
    }
    std::sort(pids.begin(), pids.end());
    std::string status, commandLine;
    for (const pid_t pid : pids) {
        const int pidFd = ::openat(root, std::to_string(pid).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (pidFd < 0)
            continue;
        Service service;
        service.pid = pid;
        const uid_t uid = static_cast<uid_t>(std::strtoul(std::string(StatusField(
            ReadAt(pidFd, "status", status) ? std::string_view(status) : std::string_view(), "Uid")).c_str(), nullptr, 10));
        // Kernel threads have no command line; ordinary users are their own backstops'.
        if (status.empty() || (uid >= firstOrdinary && uid <= lastOrdinary) || !ReadAt(pidFd, "cmdline", commandLine) || commandLine.empty()) {
            ::close(pidFd);
            continue;
        }
        service.uid = uid;
        service.command = std::string(StatusField(status, "Name"));
        const Internet& internet = internetOf(pidFd);
        service.sockets = CountSockets(pidFd, internet.inodes);
        const bool listed = service.sockets > 0 || (service.sockets < 0 && uid != 0 && internet.owners.contains(uid));
        if (service.sockets < 0 && uid == 0)
            ++listing.unseen;
        if (!listed) {
            ::close(pidFd);
            continue;
        }
        char path[4096];
        const ssize_t n = ::readlinkat(pidFd, "exe", path, sizeof path - 1);
        ::close(pidFd);
        if (n > 0) {
            service.exePath.assign(path, static_cast<size_t>(n));
            if (service.exePath.ends_with(" (deleted)"))
                service.exePath.resize(service.exePath.size() - 10);
        } else if (const std::string first = commandLine.c_str(); first.starts_with('/')) {
            service.exePath = first;
            service.pathFromCommandLine = true;
        }
        if (listing.services.size() == kMaxServices) {
            listing.truncated = true;
            break;
        }
        listing.services.push_back(std::move(service));
    }
    ::close(root);

    for (Service& service : listing.services) {
        if (listing.rulesMissing) {
            service.decidedBy = DecidedBy::kShipped;
            service.incoming = service.outgoing = rules::Permission::kPermit;
            continue;
        }
        if (!document)
            continue;
        const std::string name = rules::rules_format::ProgramName(text::FileNamePart(service.exePath));
        const rules::Application* general = document->General();
        const rules::Application* entry = service.exePath.empty() ? nullptr : document->FindFor(name, service.exePath);
        service.decidedBy = entry ? DecidedBy::kEntry : DecidedBy::kDefault;
        if (entry) {
            const std::string shown = EntryDisplayName(*entry);
            service.entry = !shown.empty() ? shown : entry->description.empty() ? entry->Key() : entry->description;
            service.rules = entry->rules.size();
            service.incoming = entry->incoming;
            service.outgoing = entry->outgoing;
        }
        if (general && !service.incoming)
            service.incoming = general->incoming;
        if (general && !service.outgoing)
            service.outgoing = general->outgoing;
    }
    return listing;
}

rules::Document ShippedRules()
{
    rules::Application general;
    general.name = rules::rules_format::kGeneralApp;
    general.description = "SYSTEM SETTINGS";
    general.service = true;
    general.incoming = general.outgoing = rules::Permission::kPermit;
    return rules::Document {{std::move(general)}};
}

std::optional<std::string> WithDefault(const std::optional<std::string>& current, const DefaultChange& change,
                                       std::string& why)
{
    const std::string& path = change.exePath;
    if (!rules::IsPathKey(path) || path.find('\0') != std::string::npos) {
        why = text::Tr("SystemServices", "the service's program file is not known");
        return std::nullopt;
    }
    std::optional<rules::Document> document = current ? rules::ReadDocument(*current) : ShippedRules();
    if (!document) {
        why = text::Tr("SystemServices", "it is not a rules file that can be read");
        return std::nullopt;
    }
    const auto set = [&change](rules::Application& app) {
        app.service = true;
        (change.direction == Direction::kIncoming ? app.incoming : app.outgoing) = change.permission;
    };
    const std::string name = rules::rules_format::ProgramName(text::FileNamePart(path));
    if (rules::Application* own = document->FindFor(name, path); own && own->IsBound()) {
        set(*own);
        return rules::WriteDocument(*document);
    }
    // The entry of its name (or none) it followed until now, bound to it
    // alone: other programs of that name keep theirs.
    const rules::Application* followed = document->FindFor(name, path);
    rules::Application app = followed ? *followed : rules::Application {};
    if (const rules::Application* general = document->General()) {
        app.incoming = app.incoming ? app.incoming : general->incoming;
        app.outgoing = app.outgoing ? app.outgoing : general->outgoing;
    }
    if (app.description.empty())
        app.description = std::string(text::FileNamePart(path));
    app.path = path;
    app.fileHash.clear();
    panel::BindToPath(app);
    set(app);
    document->Add(std::move(app));
    return rules::WriteDocument(*document);
}

std::optional<std::string> WithDefault(const Places& places, const DefaultChange& change, std::string& why,
                                       std::string& over)
{
    const rules::rules_file::Contents contents = rules::rules_file::Read(places.rulesFile);
    if (!contents.status.Missing() && !contents.status.Read()) {
        why = contents.status.ShownReason();
        return std::nullopt;
    }
    over = contents.status.Missing() ? "none" : os::DigestText(contents.text);
    return WithDefault(contents.status.Missing() ? std::nullopt : std::optional<std::string>(contents.text), change, why);
}

}  // namespace panel::services
