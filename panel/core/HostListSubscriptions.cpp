#include "panel/core/HostListSubscriptions.h"

#include "os/Clock.h"
#include "os/Files.h"
#include "os/Paths.h"
#include "protocol/Registry.h"
#include "protocol/SettingNames.h"
#include "rules/HostListCompiler.h"
#include "rules/HostListParser.h"
#include "rules/hooksafe/HostListView.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <sys/file.h>
#include <unistd.h>

namespace panel {

namespace {

namespace registry = protocol::registry;

constexpr int kMaxRefreshHours = 24 * 365;

std::string Folder() { return os::DataHome() + "/korvel/hostlists"; }

std::string Lower(std::string_view text)
{
    std::string lower(text);
    std::transform(lower.begin(), lower.end(), lower.begin(), [](char c) { return char(std::tolower(uint8_t(c))); });
    return lower;
}

std::string OneLine(std::string text)
{
    std::replace_if(text.begin(), text.end(), [](char c) { return uint8_t(c) < 0x20 || c == 0x7f; }, ' ');
    return text;
}

std::string Serialize(const HostListSubscription& list)
{
    return "source=" + list.source + "\nenabled=" + (list.enabled ? "1" : "0") + "\nbit=" + std::to_string(list.bit)
        + "\nentries=" + std::to_string(list.entries) + "\nupdated=" + std::to_string(list.updated)
        + "\nerror=" + OneLine(list.error) + "\netag=" + OneLine(list.etag)
        + "\nlast-modified=" + OneLine(list.lastModified) + "\n";
}

std::optional<uint64_t> Number(std::string_view text)
{
    if (text.empty() || text.size() > 19 || !std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return std::nullopt;
    return std::stoull(std::string(text));
}

const char* const kUnreadable = "its settings do not read; remove it and add it again";

// A list as the store holds it; one whose source or bit does not read is
// kept (so that it can be seen and removed) but not compiled.
HostListSubscription Deserialize(const std::string& name, std::string_view text)
{
    HostListSubscription list;
    list.name = name;
    bool haveBit = false;
    while (!text.empty()) {
        const size_t end = std::min(text.find('\n'), text.size());
        const std::string_view line = text.substr(0, end);
        text.remove_prefix(std::min(end + 1, text.size()));
        const size_t equals = line.find('=');
        if (equals == std::string_view::npos)
            continue;
        const std::string_view key = line.substr(0, equals);
        const std::string_view value = line.substr(equals + 1);
        if (key == "source") {
            list.source = value;
        } else if (key == "enabled") {
            list.enabled = value == "1";
        } else if (key == "bit") {
            const auto bit = Number(value);
            haveBit = bit && *bit < rules::kMaxHostLists;
            list.bit = haveBit ? unsigned(*bit) : 0;
        } else if (key == "entries") {
            list.entries = Number(value).value_or(0);
        } else if (key == "updated") {
            list.updated = int64_t(std::min<uint64_t>(Number(value).value_or(0), INT64_MAX));
        } else if (key == "error") {
            list.error = value;
        } else if (key == "etag") {
            list.etag = value;
        } else if (key == "last-modified") {
            list.lastModified = value;
        }
    }
    if (list.source.empty() || !haveBit) {
        list.enabled = false;
        list.error = kUnreadable;
    }
    return list;
}

HostListOutcome Failed(std::string error) { return {std::move(error), false}; }

bool Save(const HostListSubscription& list)
{
    return registry::SetString(registry::RootKey::LocalMachine, protocol::settings::kHostListsKey, list.name,
                               Serialize(list));
}

// One writer of the lists at a time (the panel, a terminal, a timer): each
// reads the settings, fetches and writes back whole.
class WriterLock {
public:
    WriterLock()
    {
        if (!os::MakeDirectories(Folder(), 0700))
            return;
        fd_ = ::open((Folder() + "/.lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
        if (fd_ >= 0 && ::flock(fd_, LOCK_EX) != 0) {
            ::close(fd_);
            fd_ = -1;
        }
    }
    ~WriterLock()
    {
        if (fd_ >= 0)
            ::close(fd_);
    }
    WriterLock(const WriterLock&) = delete;
    WriterLock& operator=(const WriterLock&) = delete;
    bool Held() const { return fd_ >= 0; }

private:
    int fd_ = -1;
};

const char* const kNotLocked = "the host lists' folder cannot be used";

struct Fetched {
    DownloadResult::Outcome outcome = DownloadResult::Outcome::kFailed;
    std::string text;
    std::string etag;
    std::string lastModified;
    std::string error;
};

// Why a text fetched is not taken as the list, or empty; a list that stopped
// early is taken with a note in note.
std::string Problem(std::string_view text, const rules::HostList& list, std::string& note)
{
    if (text.empty())
        return "the list is empty";
    if (text.find('\0') != std::string_view::npos)
        return "the list is not text";
    const size_t entries = list.counts.Entries();
    if (entries == 0)
        return "the list holds no host names or addresses";
    if (list.counts.invalid > entries)
        return "the list does not read as a host list (" + std::to_string(list.counts.invalid)
            + " lines of no known form, " + std::to_string(entries) + " entries)";
    if (list.stop == rules::HostListStop::kTooManyEntries)
        note = "only the first " + std::to_string(rules::kMaxHostListEntries) + " entries are taken";
    return {};
}

}  // namespace

std::string HostListNameProblem(std::string_view name)
{
    if (name.empty() || name.size() > rules::kMaxHostListTitle)
        return "a list's name has 1 to " + std::to_string(rules::kMaxHostListTitle) + " characters";
    if (!std::isalnum(uint8_t(name.front())))
        return "a list's name starts with a letter or digit";
    const bool plain = std::all_of(name.begin(), name.end(), [](char c) {
        return std::isalnum(uint8_t(c)) || c == '.' || c == '_' || c == '-' || c == ' ';
    });
    return plain ? std::string() : "a list's name holds only letters, digits, '.', '_', '-' and blanks";
}

int HostListRefreshHours()
{
    const auto text = registry::Query(registry::RootKey::LocalMachine, registry::kSettingsKey,
                                      protocol::settings::kHostListRefreshHours);
    const auto hours = Number(text.value_or(""));
    return hours && *hours >= 1 && *hours <= kMaxRefreshHours ? int(*hours) : protocol::settings::kDefaultHostListRefreshHours;
}

std::string HostListSubscriptions::TextPath(std::string_view name) { return Folder() + "/" + Lower(name) + ".txt"; }

std::vector<HostListSubscription> HostListSubscriptions::All() const
{
    std::vector<HostListSubscription> lists;
    for (const auto& [name, text] :
         registry::ListValues(registry::RootKey::LocalMachine, protocol::settings::kHostListsKey))
        if (HostListNameProblem(name).empty())
            lists.push_back(Deserialize(name, text));
    return lists;
}

std::optional<HostListSubscription> HostListSubscriptions::Find(std::string_view name) const
{
    for (HostListSubscription& list : All())
        if (Lower(list.name) == Lower(name))
            return std::move(list);
    return std::nullopt;
}

namespace {

// The list of that name, whatever its case; end when there is none.
std::vector<HostListSubscription>::iterator Named(std::vector<HostListSubscription>& lists, std::string_view name)
{
    return std::find_if(lists.begin(), lists.end(),
                        [&](const HostListSubscription& one) { return Lower(one.name) == Lower(name); });
}

Fetched Fetch(const HostListSubscription& list, const DownloadLimits& limits, bool haveCopy)
{
    Fetched fetched;
    if (IsDownloadAddress(list.source)) {
        DownloadResult download = Download({list.source, haveCopy ? list.etag : "", haveCopy ? list.lastModified : ""}, limits);
        return {download.outcome, std::move(download.body), std::move(download.etag), std::move(download.lastModified),
                std::move(download.error)};
    }
    errno = 0;
    auto text = os::ReadFile(list.source, rules::kMaxHostListBytes + 1);
    if (!text) {
        fetched.error = "cannot read " + list.source + ": " + (errno ? std::strerror(errno) : "not a regular file");
    } else if (text->size() > rules::kMaxHostListBytes) {
        fetched.error = "the list is larger than " + std::to_string(rules::kMaxHostListBytes >> 20) + " MB";
    } else {
        fetched.outcome = DownloadResult::Outcome::kNew;
        fetched.text = std::move(*text);
    }
    return fetched;
}

// The enabled lists' kept texts compiled and the shared file replaced; the
// list named fresh is taken as already read.
HostListOutcome CompileLists(const std::vector<HostListSubscription>& lists, std::string_view freshName,
                             const rules::HostList* fresh)
{
    std::vector<rules::HostList> parsed;
    parsed.reserve(lists.size());
    std::vector<rules::HostListSource> sources;
    for (const HostListSubscription& list : lists) {
        if (!list.enabled)
            continue;
        if (fresh && Lower(list.name) == Lower(freshName)) {
            sources.push_back({list.name, list.bit, fresh});
            continue;
        }
        const auto text = os::ReadFile(HostListSubscriptions::TextPath(list.name), rules::kMaxHostListBytes, false);
        if (!text)
            continue; // never fetched well: nothing to list
        parsed.push_back(rules::ParseHostList(*text));
        sources.push_back({list.name, list.bit, &parsed.back()});
    }
    const rules::CompiledHostLists compiled = rules::CompileHostLists(sources);
    if (!compiled.error.empty())
        return Failed("the lists cannot be compiled: " + compiled.error);
    const std::string path = rules::HostListFilePath();
    if (!rules::WriteHostListFile(path, compiled.bytes))
        return Failed("cannot write " + path + ": " + std::strerror(errno));
    return {{}, true};
}

}  // namespace

HostListOutcome HostListSubscriptions::Compile() const
{
    const WriterLock lock;
    if (!lock.Held())
        return Failed(kNotLocked);
    return CompileLists(All(), {}, nullptr);
}

HostListOutcome HostListSubscriptions::Add(std::string_view name, std::string_view source)
{
    if (std::string problem = HostListNameProblem(name); !problem.empty())
        return Failed(std::move(problem));
    if (source.empty() || std::any_of(source.begin(), source.end(), [](char c) { return uint8_t(c) < 0x20 || c == 0x7f; }))
        return Failed("no address or file given");
    if (HasScheme(source) && !IsDownloadAddress(source))
        return Failed("only http and https addresses are fetched: " + std::string(source));
    const WriterLock lock;
    if (!lock.Held())
        return Failed(kNotLocked);
    const std::vector<HostListSubscription> lists = All();
    if (const auto existing = Find(name))
        return Failed("a list named \"" + existing->name + "\" exists");
    uint64_t used = 0;
    for (const HostListSubscription& list : lists)
        used |= 1ull << list.bit;
    if (lists.size() >= rules::kMaxHostLists || ~used == 0)
        return Failed("there are " + std::to_string(rules::kMaxHostLists) + " lists already");

    HostListSubscription list;
    list.name = name;
    list.source = IsDownloadAddress(source) ? std::string(source) : std::filesystem::absolute(source).lexically_normal().string();
    list.bit = unsigned(__builtin_ctzll(~used));
    Fetched fetched = Fetch(list, limits_, false);
    if (fetched.outcome != DownloadResult::Outcome::kNew)
        return Failed(fetched.error);
    const rules::HostList parsed = rules::ParseHostList(fetched.text);
    if (std::string problem = Problem(fetched.text, parsed, list.error); !problem.empty())
        return Failed(std::move(problem));
    if (!os::WriteFileAtomically(TextPath(list.name), fetched.text, 0600, true))
        return Failed("cannot write " + TextPath(list.name) + ": " + std::strerror(errno));
    list.entries = parsed.counts.Entries();
    list.updated = os::WallTime();
    list.etag = std::move(fetched.etag);
    list.lastModified = std::move(fetched.lastModified);
    if (!Save(list)) {
        ::unlink(TextPath(list.name).c_str());
        return Failed("the settings store cannot be written");
    }
    std::vector<HostListSubscription> all = lists;
    all.push_back(list);
    HostListOutcome compiled = CompileLists(all, list.name, &parsed);
    if (!compiled) {
        // Not added after all: the shared file still holds the lists without it.
        registry::DeleteValue(registry::RootKey::LocalMachine, protocol::settings::kHostListsKey, list.name);
        ::unlink(TextPath(list.name).c_str());
    }
    return compiled;
}

HostListOutcome HostListSubscriptions::Remove(std::string_view name)
{
    const WriterLock lock;
    if (!lock.Held())
        return Failed(kNotLocked);
    std::vector<HostListSubscription> lists = All();
    const auto list = Named(lists, name);
    if (list == lists.end())
        return Failed("no list \"" + std::string(name) + "\"");
    const std::string removed = list->name;
    lists.erase(list);
    // The shared file first: while it cannot be written the list stays, whole.
    HostListOutcome compiled = CompileLists(lists, {}, nullptr);
    if (!compiled)
        return compiled;
    if (!registry::DeleteValue(registry::RootKey::LocalMachine, protocol::settings::kHostListsKey, removed))
        return Failed("the settings store cannot be written");
    ::unlink(TextPath(removed).c_str());
    return compiled;
}

// Fetches one list and keeps the outcome with it; the caller compiles when
// its text changed. Called with the writer's lock held.
HostListOutcome HostListSubscriptions::Refresh(HostListSubscription& list) const
{
    const bool haveCopy = ::access(TextPath(list.name).c_str(), F_OK) == 0;
    Fetched fetched = Fetch(list, limits_, haveCopy);
    HostListOutcome outcome;
    std::string note;
    if (fetched.outcome == DownloadResult::Outcome::kFailed) {
        outcome.error = fetched.error;
    } else if (fetched.outcome == DownloadResult::Outcome::kNew) {
        const rules::HostList parsed = rules::ParseHostList(fetched.text);
        outcome.error = Problem(fetched.text, parsed, note);
        if (outcome.error.empty() && !os::WriteFileAtomically(TextPath(list.name), fetched.text, 0600, true))
            outcome.error = "cannot write " + TextPath(list.name) + ": " + std::strerror(errno);
        if (outcome.error.empty()) {
            list.entries = parsed.counts.Entries();
            list.etag = std::move(fetched.etag);
            list.lastModified = std::move(fetched.lastModified);
            outcome.changed = true;
        }
    }
    if (outcome.error.empty()) {
        list.updated = os::WallTime();
        list.error = note;
    } else {
        // The text kept stays in use: only the error is new.
        list.error = outcome.error;
    }
    if (!Save(list) && outcome.error.empty())
        outcome.error = "the settings store cannot be written";
    return outcome;
}

HostListOutcome HostListSubscriptions::Update(std::string_view name)
{
    const WriterLock lock;
    if (!lock.Held())
        return Failed(kNotLocked);
    auto list = Find(name);
    if (!list)
        return Failed("no list \"" + std::string(name) + "\"");
    HostListOutcome outcome = Refresh(*list);
    if (outcome.changed)
        if (HostListOutcome compiled = CompileLists(All(), {}, nullptr); !compiled)
            outcome.error += (outcome.error.empty() ? "" : "\n") + compiled.error;
    return outcome;
}

std::vector<BuiltInHostList> BuiltInHostLists()
{
    std::string folder = os::SettingPath(
        registry::Query(registry::RootKey::LocalMachine, registry::kSettingsKey, protocol::settings::kVrnFolder)
            .value_or(""));
    if (folder.empty())
        return {};
    if (folder.back() != '/')
        folder += '/';
    return {{"Encrypted DNS resolvers", folder + "EncryptedDnsResolvers.txt"}};
}

HostListOutcome HostListSubscriptions::SetEnabled(std::string_view name, bool enabled)
{
    if (enabled && !Find(name))
        for (const BuiltInHostList& builtIn : BuiltInHostLists())
            if (Lower(builtIn.name) == Lower(name))
                return Add(builtIn.name, builtIn.path);
    const WriterLock lock;
    if (!lock.Held())
        return Failed(kNotLocked);
    std::vector<HostListSubscription> lists = All();
    const auto list = Named(lists, name);
    if (list == lists.end())
        return Failed("no list \"" + std::string(name) + "\"");
    if (list->enabled == enabled)
        return {};
    if (enabled && list->error == kUnreadable)
        return Failed(kUnreadable);
    list->enabled = enabled;
    // The shared file first: while it cannot be written nothing changes.
    HostListOutcome compiled = CompileLists(lists, {}, nullptr);
    if (!compiled)
        return compiled;
    if (!Save(*list)) {
        // The settings still say what the file held before: make it so again.
        list->enabled = !enabled;
        CompileLists(lists, {}, nullptr);
        return Failed("the settings store cannot be written");
    }
    return compiled;
}

HostListOutcome HostListSubscriptions::UpdateDue(std::vector<std::string>* updated)
{
    const WriterLock lock;
    if (!lock.Held())
        return Failed(kNotLocked);
    const int64_t now = os::WallTime();
    const int64_t interval = int64_t(HostListRefreshHours()) * 3600;
    HostListOutcome outcome;
    for (HostListSubscription& list : All()) {
        if (!list.enabled || (list.updated != 0 && now - list.updated < interval && now >= list.updated))
            continue;
        const HostListOutcome one = Refresh(list);
        if (one && updated)
            updated->push_back(list.name);
        outcome.changed = outcome.changed || one.changed;
        if (!one)
            outcome.error += (outcome.error.empty() ? "" : "\n") + list.name + ": " + one.error;
    }
    if (outcome.changed)
        if (HostListOutcome compiled = CompileLists(All(), {}, nullptr); !compiled)
            outcome.error += (outcome.error.empty() ? "" : "\n") + compiled.error;
    return outcome;
}

}  // namespace panel
