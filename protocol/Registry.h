#pragma once

#include "os/hooksafe/Descriptors.h"

#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <sys/stat.h>
#include <sys/types.h>
#include <utility>
#include <vector>

// The settings store. A key is a folder below the registry root, a value a
// file holding its text. Key and value names compare without regard to case;
// a key path may use "\" or "/" between its parts. Only string values exist.
namespace protocol::registry {

enum class RootKey { LocalMachine };

inline constexpr std::string_view kSettingsKey = "Software\\KORVEL\\QRB";
inline constexpr std::string_view kRunKey = "Software\\Microsoft\\Windows\\CurrentVersion\\Run";
inline constexpr std::string_view kAutostartValue = "Korvel Firewall";

// From now on this process reads only a store that no other user can change
// (see TrustedFolder.h); any other store reads as missing, as if there were
// no store. Called by the programs that run with whatever environment their
// caller gave them, possibly as root (the engine, the interceptor process).
void ReadOnlyTrustedStore();

// Parses "HKLM", "HKEY_LOCAL_MACHINE" (any case); nullopt for other roots.
std::optional<RootKey> ParseRootKey(std::string_view name);

// A value read again and again, as the engine does at every decision. The
// key's folder is kept open, and the value's text is kept together with the
// identity of the file it came from (a write replaces the file), so that a
// repeated read costs one stat while the value stays the same, and the value
// stays readable after the process gave up the rights to reach the folder by
// its path (a server that drops its privileges). Thread-safe.
class Value {
public:
    enum class Status {
        kFound,
        kMissing,
        kUnreadable, // cannot be read now (no descriptor left, no permission) and nothing is known
    };

    // freshnessMs: a text (or its absence) checked less than this long ago is
    // given again without looking; 0 looks every time.
    Value(RootKey root, std::string_view subKey, std::string_view valueName, int freshnessMs = 0);
    ~Value();
    Value(const Value&) = delete;
    Value& operator=(const Value&) = delete;

    // The text up to its first NUL. When the value cannot be read now, the
    // last text (or absence) seen is given again.
    Status Fetch(std::string& text) const;
    // The text, or nullopt when the value is missing or cannot be read.
    std::optional<std::string> Read() const;
    // The same into a caller's buffer (NUL-terminated, cut to fit); false when missing.
    bool ReadInto(char* buffer, size_t size) const;
    bool Exists() const;

    // Held across fork() so that the child never inherits a lock taken by
    // another thread of the parent.
    void LockForFork() const { mutex_.lock(); }
    void UnlockAfterFork() const { mutex_.unlock(); }

private:
    struct Identity {
        dev_t device = 0;
        ino_t inode = 0;
        long long size = 0;
        long long changeSeconds = 0;
        long changeNanoseconds = 0;
        bool operator==(const Identity&) const = default;
    };
    static Identity IdentityOf(const struct stat& st);
    Status Look(std::string& text, int depth) const;
    Status Known(std::string& text) const;
    // The key's folder, open; -1 with errno when it cannot be had.
    int Folder() const;

    RootKey root_;
    std::string subKey_;
    std::string name_;
    bool validName_;
    int freshnessMs_;

    mutable std::mutex mutex_;
    // Shared by every value of the key this process reads again and again.
    std::shared_ptr<class KeyFolder> key_;
    mutable std::string leaf_;       // the value's file name as spelled on disk
    mutable Status state_ = Status::kUnreadable; // nothing known yet
    mutable Identity identity_;      // of the file the text came from
    mutable std::string text_;
    mutable Identity missingStamp_;  // the folder as it was when the value was missing
    mutable long long checkedAt_ = -1000000;
};

// One look at a value. Returns an empty text when the value is missing.
std::string GetString(RootKey root, std::string_view subKey, std::string_view valueName);
std::optional<std::string> Query(RootKey root, std::string_view subKey, std::string_view valueName);
Value::Status QueryStatus(RootKey root, std::string_view subKey, std::string_view valueName, std::string& text);
// Creates the key when needed; replaces the value atomically.
bool SetString(RootKey root, std::string_view subKey, std::string_view valueName, std::string_view text);
// True when the value is gone afterwards (also when it never existed).
bool DeleteValue(RootKey root, std::string_view subKey, std::string_view valueName);
// Values of a key in name order; empty when the key is missing.
std::vector<std::pair<std::string, std::string>> ListValues(RootKey root, std::string_view subKey);

// The folder that holds a key's values, as the store spells it; nullopt
// when the key does not exist.
std::optional<std::string> KeyFolderPath(RootKey root, std::string_view subKey);

// A value name the store can hold: not empty, no '/', no NUL, not "." or "..".
bool IsValidName(std::string_view name);

}  // namespace protocol::registry
