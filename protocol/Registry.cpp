#include "protocol/Registry.h"

#include "os/Clock.h"
#include "os/Files.h"
#include "os/Paths.h"
#include "os/hooksafe/Descriptors.h"
#include "os/hooksafe/Retry.h"
#include "os/hooksafe/TrustedFolder.h"
#include "text/Strings.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <map>
#include <mutex>
#include <sys/stat.h>
#include <unistd.h>

namespace protocol::registry {

namespace {

constexpr size_t kMaxValueBytes = 64 * 1024;

std::atomic<bool> g_trustedOnly {false};

std::string_view RootFolderName(RootKey root)
{
    switch (root) {
    case RootKey::LocalMachine:
        return "HKEY_LOCAL_MACHINE";
    }
    return "HKEY_LOCAL_MACHINE";
}

std::vector<std::string> SplitKey(std::string_view subKey)
{
    std::vector<std::string> parts;
    std::string current;
    for (char c : subKey) {
        if (c == '\\' || c == '/') {
            if (!current.empty())
                parts.push_back(std::move(current));
            current.clear();
        } else {
            current += c;
        }
    }
    if (!current.empty())
        parts.push_back(std::move(current));
    return parts;
}

bool IsTempName(std::string_view name) { return name.starts_with(".tmp."); }

// The entries of the folder open as listing (taken over and closed), the
// writers' temporary files left out; nullopt with errno when it cannot be listed.
std::optional<std::vector<std::string>> ListedNames(int listing)
{
    DIR* dir = listing < 0 ? nullptr : ::fdopendir(listing);
    if (!dir) {
        if (listing >= 0)
            ::close(listing);
        return std::nullopt;
    }
    std::vector<std::string> names;
    while (const dirent* entry = ::readdir(dir))
        if (!IsTempName(entry->d_name) && std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0)
            names.emplace_back(entry->d_name);
    ::closedir(dir);
    return names;
}

// The one of names equal to name without regard to case, or nullopt with ENOENT.
std::optional<std::string> SpelledAs(const std::vector<std::string>& names, std::string_view name)
{
    for (const std::string& entry : names)
        if (text::EqualsNoCase(entry, name))
            return entry;
    errno = ENOENT;
    return std::nullopt;
}

// The entry of the folder open as listing (taken over) whose name equals name
// without regard to case, or nullopt with errno.
std::optional<std::string> ListedName(int listing, std::string_view name)
{
    const auto names = ListedNames(listing);
    return names ? SpelledAs(*names, name) : std::nullopt;
}

// The entry of folder whose name equals name without regard to case, or
// nullopt. The exact name is tried first: that is the common case.
std::optional<std::string> FindEntry(const std::string& folder, const std::string& name)
{
    struct stat st {};
    if (::lstat((folder + "/" + name).c_str(), &st) == 0)
        return name;
    return ListedName(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC), name);
}

// The folder of an existing key, with the stored spelling of every part.
std::optional<std::string> ResolveKey(RootKey root, std::string_view subKey)
{
    std::string folder = os::RegistryRoot() + "/" + std::string(RootFolderName(root));
    for (const std::string& part : SplitKey(subKey)) {
        auto entry = FindEntry(folder, part);
        if (!entry)
            return std::nullopt;
        folder += "/" + *entry;
    }
    // Judged by the key's own folder: that covers the store and every folder above it.
    if (g_trustedOnly.load(std::memory_order_relaxed) && !os::IsTrustedFolder(folder.c_str())) {
        errno = ENOENT;
        return std::nullopt;
    }
    return folder;
}

// Like ResolveKey, creating the parts that are missing.
std::optional<std::string> CreateKey(RootKey root, std::string_view subKey)
{
    std::string folder = os::RegistryRoot() + "/" + std::string(RootFolderName(root));
    if (!os::MakeDirectories(folder, 0755))
        return std::nullopt;
    for (const std::string& part : SplitKey(subKey)) {
        if (!IsValidName(part))
            return std::nullopt;
        auto entry = FindEntry(folder, part);
        folder += "/" + (entry ? *entry : part);
        if (!entry && ::mkdir(folder.c_str(), 0755) != 0 && errno != EEXIST)
            return std::nullopt;
    }
    return folder;
}

std::string UpToNul(std::string text)
{
    if (const size_t nul = text.find('\0'); nul != std::string::npos)
        text.resize(nul);
    return text;
}

// Reads an opened value file up to its first NUL; false on a read error.
bool ReadValueFile(int fd, const struct stat& st, std::string& text)
{
    text.clear();
    char chunk[512];
    bool ok = true;
    while (text.size() < kMaxValueBytes) {
        const ssize_t n = os::RetryOnInterrupt([&] { return ::read(fd, chunk, sizeof chunk); });
        if (n < 0)
            ok = false;
        if (n <= 0)
            break;
        text.append(chunk, static_cast<size_t>(n));
        // A short read of a regular file is its end: spare the extra call.
        if (static_cast<size_t>(n) < sizeof chunk && text.size() >= static_cast<size_t>(st.st_size))
            break;
    }
    ::close(fd);
    text = UpToNul(std::move(text));
    return ok;
}

}  // namespace

void ReadOnlyTrustedStore() { g_trustedOnly.store(true, std::memory_order_relaxed); }

std::optional<RootKey> ParseRootKey(std::string_view name)
{
    if (text::EqualsNoCase(name, "HKLM") || text::EqualsNoCase(name, "HKEY_LOCAL_MACHINE"))
        return RootKey::LocalMachine;
    return std::nullopt;
}

bool IsValidName(std::string_view name)
{
    return !name.empty() && name != "." && name != ".." && !IsTempName(name)
        && name.find('/') == std::string_view::npos && name.find('\0') == std::string_view::npos;
}

// Said by OpenTrustedKey when a folder of the key is a link: the key is then
// judged by its real path from the root, as any other path is.
constexpr int kKeyThroughLink = -2;

// The folder of a key in a store only the user and root may change, opened
// one folder at a time from the store's root: the root is judged from "/"
// once and kept open, and each key's folders below it are judged as they are
// passed (none may be a link, none writable by others), so that no key costs
// a walk from "/" again. The root is used again only while its path still
// leads to the very folder judged and that folder is still trusted: one
// moved away and another (or a link) put in its place is judged afresh.
// -1 with errno (ENOENT for a key missing or refused), or kKeyThroughLink
// (also when another thread walks from the root just now).
int OpenTrustedKey(RootKey root, std::string_view subKey)
{
    struct StoreRoot {
        std::mutex mutex;
        std::string path;
        os::KeptDescriptor fd;
        dev_t device = 0;
        ino_t inode = 0;
    };
    // Never destroyed, as the key folders below.
    static StoreRoot& kept = *new StoreRoot;
    const std::string rootPath = os::RegistryRoot();
    // Never waited for: a thread that finds the root in use (or a forked
    // child that finds it taken by a thread it lacks) takes the full walk.
    std::unique_lock lock(kept.mutex, std::try_to_lock);
    if (!lock.owns_lock())
        return kKeyThroughLink;
    struct stat st {};
    const bool same = kept.fd.IsOpen() && kept.path == rootPath && ::stat(rootPath.c_str(), &st) == 0
        && st.st_dev == kept.device && st.st_ino == kept.inode && os::IsTrustedFolderStat(st, true) && kept.fd.StillOurs();
    if (!same) {
        kept.fd.Close();
        const int fd = os::OpenTrustedFolder(rootPath.c_str(), &st);
        if (fd < 0) {
            if (errno == EPERM)
                errno = ENOENT; // a store others control reads as no store
            return -1;
        }
        kept.fd.Adopt(fd, st);
        kept.path = rootPath;
        kept.device = st.st_dev;
        kept.inode = st.st_ino;
    }
    const int top = kept.fd.Get();
    std::vector<std::string> parts = SplitKey(subKey);
    parts.insert(parts.begin(), std::string(RootFolderName(root)));
    std::string below;
    for (size_t i = 0; i < parts.size(); ++i) {
        std::string next = below.empty() ? parts[i] : below + "/" + parts[i];
        if (::fstatat(top, next.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
            if (errno != ENOENT || i == 0)
                return -1;
            // Spelled otherwise on disk?
            const auto found
                = ListedName(::openat(top, below.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC), parts[i]);
            if (!found) {
                errno = ENOENT;
                return -1;
            }
            next = below + "/" + *found;
            if (::fstatat(top, next.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0)
                return -1;
        }
        if (S_ISLNK(st.st_mode))
            return kKeyThroughLink;
        if (!os::IsTrustedFolderStat(st, i + 1 == parts.size())) {
            errno = ENOENT;
            return -1;
        }
        below = std::move(next);
    }
    // The folder opened must be the one judged last.
    const int fd = ::openat(top, below.c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    struct stat opened {};
    if (fd >= 0 && (::fstat(fd, &opened) != 0 || opened.st_dev != st.st_dev || opened.st_ino != st.st_ino)) {
        ::close(fd);
        errno = ENOENT;
        return -1;
    }
    return fd;
}

// The folder of one key, kept open: values stay readable through it after
// the process may no longer reach the folder by its path. Looked at again
// (removed? closed behind our back?) at most once a second.
class KeyFolder {
public:
    KeyFolder(RootKey root, std::string subKey) : root_(root), subKey_(std::move(subKey)) {}
    ~KeyFolder() { fd_.Close(); }

    int Get()
    {
        std::lock_guard lock(mutex_);
        const long long now = os::CoarseMilliseconds();
        if (fd_.IsOpen() && now - checkedAt_ < 1000)
            return fd_.Get();
        checkedAt_ = now;
        if (fd_.IsOpen()) {
            // A kept folder stays in use while it is there and, in a
            // trusted store, while no one else may write to it.
            struct stat st {};
            const bool trustedOnly = g_trustedOnly.load(std::memory_order_relaxed);
            if (fd_.StillOurs() && ::fstat(fd_.Get(), &st) == 0 && st.st_nlink > 0
                && (!trustedOnly || os::IsTrustedFolderStat(st, true)))
                return fd_.Get();
            fd_.Close();
        }
        int fd = g_trustedOnly.load(std::memory_order_relaxed) ? OpenTrustedKey(root_, subKey_) : kKeyThroughLink;
        if (fd == kKeyThroughLink) {
            const auto path = ResolveKey(root_, subKey_);
            if (!path)
                return -1;
            fd = ::open(path->c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
        }
        if (fd < 0)
            return -1;
        fd_.Adopt(fd);
        return fd_.Get();
    }

    // The folder's entry spelled name without regard to case. The names
    // listed are kept while the folder (dir, open as folder) stays as it was,
    // so that the values a program finds missing at its start cost one
    // listing between them, not one each.
    std::optional<std::string> Listed(int folder, const struct stat& dir, std::string_view name)
    {
        std::lock_guard lock(mutex_);
        const Stamp stamp {dir.st_dev, dir.st_ino, static_cast<long long>(dir.st_size), dir.st_mtim.tv_sec,
                           dir.st_mtim.tv_nsec, dir.st_ctim.tv_sec, dir.st_ctim.tv_nsec};
        if (!listed_ || listedStamp_ != stamp) {
            listed_ = ListedNames(::openat(folder, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
            listedStamp_ = stamp;
        }
        return listed_ ? SpelledAs(*listed_, name) : std::nullopt;
    }

private:
    struct Stamp {
        dev_t device;
        ino_t inode;
        long long size;
        long long modifiedSeconds;
        long modifiedNanoseconds;
        long long changedSeconds;
        long changedNanoseconds;
        bool operator==(const Stamp&) const = default;
    };

    RootKey root_;
    std::string subKey_;
    std::mutex mutex_;
    os::KeptDescriptor fd_;
    long long checkedAt_ = 0;
    std::optional<std::vector<std::string>> listed_;
    Stamp listedStamp_ {};
};

namespace {

// One folder per key and settings store for the whole process. Never destroyed:
// the hook's detached question threads may still look a key up while the program
// runs its exit handlers.
std::shared_ptr<KeyFolder> SharedKeyFolder(RootKey root, std::string_view subKey)
{
    static std::mutex& mutex = *new std::mutex;
    static auto& folders = *new std::map<std::string, std::weak_ptr<KeyFolder>>;
    std::string name = os::RegistryRoot() + "|";
    for (const std::string& part : SplitKey(subKey))
        name += text::ToUpper(part) + "/";
    std::lock_guard lock(mutex);
    std::weak_ptr<KeyFolder>& slot = folders[name];
    std::shared_ptr<KeyFolder> folder = slot.lock();
    if (!folder) {
        folder = std::make_shared<KeyFolder>(root, std::string(subKey));
        slot = folder;
    }
    return folder;
}

}  // namespace

Value::Value(RootKey root, std::string_view subKey, std::string_view valueName, int freshnessMs)
    : root_(root), subKey_(subKey), name_(valueName), validName_(IsValidName(valueName)), freshnessMs_(freshnessMs),
      key_(SharedKeyFolder(root, subKey)), leaf_(valueName)
{
}

Value::~Value() = default;

Value::Identity Value::IdentityOf(const struct stat& st)
{
    return Identity {st.st_dev, st.st_ino, static_cast<long long>(st.st_size), static_cast<long long>(st.st_ctim.tv_sec),
                     st.st_ctim.tv_nsec};
}

Value::Status Value::Known(std::string& text) const
{
    if (state_ == Status::kFound)
        text = text_;
    return state_;
}

int Value::Folder() const { return key_->Get(); }

Value::Status Value::Look(std::string& text, int depth) const
{
    const int folder = Folder();
    if (folder < 0) {
        if (errno == ENOENT || errno == ENOTDIR) {
            state_ = Status::kMissing;
            missingStamp_ = {};
            return state_;
        }
        return Known(text);
    }
    struct stat st {};
    if (::fstatat(folder, leaf_.c_str(), &st, 0) == 0) {
        if (S_ISREG(st.st_mode)) {
            if (state_ == Status::kFound && identity_ == IdentityOf(st))
                return Known(text);
            const int fd = os::OpenRegularFileAt(folder, leaf_.c_str(), O_RDONLY);
            if (fd >= 0) {
                std::string read;
                if (!ReadValueFile(fd, st, read))
                    return Known(text);
                // Labelled with the identity of the file actually read: a
                // later write makes a new file, so the next stat sees the change.
                identity_ = IdentityOf(st);
                text_ = std::move(read);
                state_ = Status::kFound;
                return Known(text);
            }
            if (errno != ENOENT)
                return Known(text);
        }
    } else if (errno != ENOENT) {
        return Known(text);
    }
    // Not under the name it had: missing, or spelled differently on disk.
    // While the folder stays as it was when the value was last missing, it still is.
    struct stat dir {};
    if (::fstat(folder, &dir) != 0)
        return Known(text);
    if (state_ == Status::kMissing && missingStamp_ == IdentityOf(dir))
        return state_;
    if (depth == 0) {
        const auto found = key_->Listed(folder, dir, name_);
        if (found && *found != leaf_) {
            leaf_ = *found;
            return Look(text, depth + 1);
        }
    }
    state_ = Status::kMissing;
    missingStamp_ = IdentityOf(dir);
    return state_;
}

Value::Status Value::Fetch(std::string& text) const
{
    if (!validName_)
        return Status::kMissing;
    const long long now = freshnessMs_ > 0 ? os::CoarseMilliseconds() : 0;
    std::lock_guard lock(mutex_);
    if (freshnessMs_ > 0 && now - checkedAt_ < freshnessMs_ && state_ != Status::kUnreadable)
        return Known(text);
    checkedAt_ = now;
    return Look(text, 0);
}

bool Value::ReadInto(char* buffer, size_t size) const
{
    std::string text;
    if (Fetch(text) != Status::kFound)
        return false;
    if (size > 0) {
        const size_t n = std::min(text.size(), size - 1);
        std::memcpy(buffer, text.data(), n);
        buffer[n] = '\0';
    }
    return true;
}

bool Value::Exists() const
{
    std::string text;
    return Fetch(text) == Status::kFound;
}

std::optional<std::string> Value::Read() const
{
    std::string text;
    if (Fetch(text) != Status::kFound)
        return std::nullopt;
    return text;
}

Value::Status QueryStatus(RootKey root, std::string_view subKey, std::string_view valueName, std::string& text)
{
    if (!IsValidName(valueName))
        return Value::Status::kMissing;
    // A program that only reads a trusted store (the engine) goes through the
    // kept key folders: a walk from the root for every query cost each
    // program's start a dozen calls.
    if (g_trustedOnly.load(std::memory_order_relaxed))
        return Value(root, subKey, valueName).Fetch(text);
    const auto folder = ResolveKey(root, subKey);
    if (!folder)
        return errno == ENOENT || errno == ENOTDIR ? Value::Status::kMissing : Value::Status::kUnreadable;
    const auto entry = FindEntry(*folder, std::string(valueName));
    if (!entry)
        return errno == ENOENT || errno == ENOTDIR || errno == 0 ? Value::Status::kMissing : Value::Status::kUnreadable;
    const int fd = os::OpenRegularFile((*folder + "/" + *entry).c_str(), O_RDONLY);
    if (fd < 0)
        return errno == ENOENT || errno == EINVAL ? Value::Status::kMissing : Value::Status::kUnreadable;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !ReadValueFile(fd, st, text))
        return Value::Status::kUnreadable;
    return Value::Status::kFound;
}

std::optional<std::string> Query(RootKey root, std::string_view subKey, std::string_view valueName)
{
    std::string text;
    if (QueryStatus(root, subKey, valueName, text) != Value::Status::kFound)
        return std::nullopt;
    return text;
}

std::string GetString(RootKey root, std::string_view subKey, std::string_view valueName)
{
    return Query(root, subKey, valueName).value_or(std::string());
}

bool SetString(RootKey root, std::string_view subKey, std::string_view valueName, std::string_view text)
{
    if (!IsValidName(valueName)) {
        errno = EINVAL;
        return false;
    }
    const auto folder = CreateKey(root, subKey);
    if (!folder)
        return false;
    const auto entry = FindEntry(*folder, std::string(valueName));
    return os::WriteFileAtomically(*folder + "/" + (entry ? *entry : std::string(valueName)), text);
}

bool DeleteValue(RootKey root, std::string_view subKey, std::string_view valueName)
{
    if (!IsValidName(valueName)) {
        errno = EINVAL;
        return false;
    }
    const auto folder = ResolveKey(root, subKey);
    if (!folder)
        return true;
    const auto entry = FindEntry(*folder, std::string(valueName));
    if (!entry)
        return true;
    return ::unlink((*folder + "/" + *entry).c_str()) == 0 || errno == ENOENT;
}

std::optional<std::string> KeyFolderPath(RootKey root, std::string_view subKey) { return ResolveKey(root, subKey); }

std::vector<std::pair<std::string, std::string>> ListValues(RootKey root, std::string_view subKey)
{
    std::vector<std::pair<std::string, std::string>> values;
    const auto folder = ResolveKey(root, subKey);
    if (!folder)
        return values;
    DIR* dir = ::opendir(folder->c_str());
    if (!dir)
        return values;
    while (const dirent* entry = ::readdir(dir)) {
        const std::string name = entry->d_name;
        if (!IsValidName(name))
            continue;
        struct stat st {};
        if (::stat((*folder + "/" + name).c_str(), &st) != 0 || !S_ISREG(st.st_mode))
            continue;
        if (auto text = os::ReadFile(*folder + "/" + name, kMaxValueBytes))
            values.emplace_back(name, UpToNul(std::move(*text)));
    }
    ::closedir(dir);
    std::sort(values.begin(), values.end());
    return values;
}

}  // namespace protocol::registry
