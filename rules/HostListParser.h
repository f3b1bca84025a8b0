#pragma once

#include "rules/AddressRange.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// Host lists (ads, trackers, malware) as they are published: a hosts file
// ("0.0.0.0 name ..."), one name a line, AdBlock's "||name^", "*.name",
// addresses and prefixes; '#' and '!' comments, blank lines, CRLF. The text
// is hostile until read: every line is bounded, the list is bounded, and a
// line that is not plainly one of the forms adds nothing. Names come out as
// rules compare them (rules::NormalizeHostName).
namespace rules {

inline constexpr size_t kMaxHostListLine = 1024;              // bytes, without its line break
inline constexpr size_t kMaxHostListBytes = 64u << 20;        // read no further
inline constexpr size_t kMaxHostListEntries = 2'000'000;      // take no more
inline constexpr size_t kHostListInvalidLinesKept = 5;        // line numbers shown to the user

// A name of the list, its text in HostList::pool.
struct HostListName {
    uint32_t offset = 0;
    uint8_t length = 0;
    bool below = false; // the name and every name under it ("||name^", "*.name")
};

// Lines by what became of them. A line adds its entries or none at all.
struct HostListCounts {
    size_t lines = 0;           // read, up to where reading stopped
    size_t names = 0;           // entries: exact names
    size_t namesAndBelow = 0;   //          names with everything under them
    size_t addresses = 0;       //          addresses and prefixes
    size_t comments = 0;        // blank and comment lines
    size_t skippedAdBlock = 0;  // AdBlock syntax other than "||name^": options, exceptions, cosmetics, paths
    size_t skippedLocal = 0;    // the hosts file's own names (localhost, ...) and this machine's addresses
    size_t skippedNonAscii = 0; // international names not written as punycode
    size_t skippedLong = 0;     // over kMaxHostListLine
    size_t invalid = 0;         // none of the forms: a bad name, markup, control bytes, a foreign address

    size_t Entries() const { return names + namesAndBelow + addresses; }
    size_t Skipped() const { return skippedAdBlock + skippedLocal + skippedNonAscii + skippedLong; }
};

enum class HostListStop : uint8_t {
    kNone,
    kTooLarge,       // the text is over kMaxHostListBytes: lines past it were not read
    kTooManyEntries, // kMaxHostListEntries taken: the line that would have passed it and the rest were not
};

struct HostList {
    std::string pool; // the names' normalised texts, back to back
    std::vector<HostListName> names;
    std::vector<AddressRange> addresses;
    HostListCounts counts;
    std::array<size_t, kHostListInvalidLinesKept> firstInvalid {}; // line numbers from 1
    size_t firstInvalidKept = 0;
    HostListStop stop = HostListStop::kNone;
    size_t stopLine = 0; // the first line not read when reading stopped

    std::string_view Name(const HostListName& name) const { return {pool.data() + name.offset, name.length}; }
};

// One pass over the text; no allocation but the entries' own storage.
HostList ParseHostList(std::string_view text);

}  // namespace rules
