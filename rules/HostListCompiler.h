#pragma once

#include "rules/HostListParser.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// Host lists as read (rules/HostListParser) compiled into the one file every
// program maps (rules/hooksafe/HostListView has its layout): a name's lists
// found by one probe of a hash table, an address's by a binary search over
// disjoint intervals, whatever the lists' sizes.
namespace rules {

// A list as the user named it, its bit (kept from one compiling to the next,
// so that what refers to a list by its bit stays right) and its entries.
struct HostListSource {
    std::string title;
    unsigned bit = 0;
    const HostList* list = nullptr;
};

struct HostListCompileOptions {
    uint64_t seed = 0;      // of the names' hash; 0: a random one
    uint32_t hashBits = 64; // kept of each hash: fewer only where a test wants collisions
};

struct CompiledHostLists {
    std::string bytes; // the file; empty with error
    std::string error;
    size_t names = 0; // distinct names
    size_t ipv4 = 0;  // disjoint intervals
    size_t ipv6 = 0;
};

// At most kMaxHostLists lists, each with its own bit below 64 and a title of
// 1 to kMaxHostListTitle bytes without control characters. Entries of
// several lists that overlap become disjoint intervals with the bits of all.
CompiledHostLists CompileHostLists(const std::vector<HostListSource>& lists, const HostListCompileOptions& options = {});

// Writes the file beside path, synced, and renames it over path: a program
// maps the old file or the new one, never a part. False with errno.
bool WriteHostListFile(const std::string& path, std::string_view bytes);

// Where the compiled lists live: $XDG_DATA_HOME/korvel/hostlists.bin.
std::string HostListFilePath();

}  // namespace rules
