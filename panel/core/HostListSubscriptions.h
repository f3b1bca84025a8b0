#pragma once

#include "panel/core/HostListDownload.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

// Host lists the user subscribes to (ads, trackers, malware), each fetched
// from an address or read from a file and kept up to date. Each list is a
// value of the settings store (its source and state) and its last good
// text in the data folder, so that a download that fails or does not read
// as a host list never drops what the list had. After every change the
// enabled lists are compiled into the one file the engines map
// (rules::HostListFilePath), replaced whole.
namespace panel {

struct HostListSubscription {
    std::string name;
    std::string source; // an http(s) address or an absolute file path
    bool enabled = true;
    unsigned bit = 0;   // in the compiled file, kept for the list's life
    size_t entries = 0; // of the text kept
    int64_t updated = 0; // seconds since 1970 of the last good fetch (a 304 too); 0: never
    std::string error;   // of the last fetch or reading; empty when it went well
    std::string etag;
    std::string lastModified;
};

// What an operation did: empty error when all went well.
struct HostListOutcome {
    std::string error;
    bool changed = false; // a list's text or the set of lists changed: compiled again
    explicit operator bool() const { return error.empty(); }
};

// The list names the store takes: 1 to 62 bytes of letters, digits, '.',
// '_', '-' and blanks, starting with a letter or digit; two names that
// differ only in case are the same list. Empty when the name is good, else why not.
std::string HostListNameProblem(std::string_view name);

// A list shipped with the firewall, in its installation folder (VRNFolder).
// Offered switched off: switching it on adds it as a list read from that
// file, which an update of the firewall replaces.
struct BuiltInHostList {
    std::string name;
    std::string path;
};
std::vector<BuiltInHostList> BuiltInHostLists();

// Hours between updates of a list (HostListRefreshHours; missing or not a
// number from 1 to 8760: 24).
int HostListRefreshHours();

class HostListSubscriptions {
public:
    explicit HostListSubscriptions(DownloadLimits limits = {}) : limits_(std::move(limits)) {}

    // In name order; a value the store holds that is not a list's is left out.
    std::vector<HostListSubscription> All() const;
    std::optional<HostListSubscription> Find(std::string_view name) const;

    // Fetches the list and keeps it only when it reads as a host list:
    // nothing is stored when it does not.
    HostListOutcome Add(std::string_view name, std::string_view source);
    HostListOutcome Remove(std::string_view name);
    // Fetches the list again now. A failure is kept with the list, its text stays.
    HostListOutcome Update(std::string_view name);
    // Updates every enabled list whose last good fetch is older than the
    // refresh interval (or that never had one); the names updated well go to updated.
    HostListOutcome UpdateDue(std::vector<std::string>* updated = nullptr);
    // Switches a list on or off and compiles again. A list switched off keeps
    // its text and its bit, so that switching it back on fetches nothing; it
    // is not updated while off. A built-in list not added yet is added.
    HostListOutcome SetEnabled(std::string_view name, bool enabled);
    // The enabled lists' kept texts compiled into the shared file.
    HostListOutcome Compile() const;

    // Where a list's last good text is kept.
    static std::string TextPath(std::string_view name);

private:
    HostListOutcome Refresh(HostListSubscription& list) const;

    DownloadLimits limits_;
};

}  // namespace panel
