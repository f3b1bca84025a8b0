#pragma once

#include <cstddef>
#include <cstdint>

// The compiled host lists (rules/HostListCompiler writes them): one file
// every program maps and reads in place, never parses. Part of the platform
// core: no C++ runtime, nothing allocated, no exception. The file is read as
// hostile input: every offset and size is checked against the mapped size,
// and a file that is damaged, of another owner or writable by others lists
// nothing (a list only ever refuses, so an unused file never permits more
// than the rules do).
//
// Layout, in the machine's byte order, every section 8-aligned:
//   header     HostListFileHeader, with the table of lists
//   slots      slotCount HostListSlot: open addressing, linear probing, a
//              load of at most one half; a free slot has nameOffset 0
//   sets       setCount HostListSet: the lists' bits of the names
//   pool       the names: a length byte then the name; byte 0 is unused
//   v4, v6     sorted disjoint intervals with the lists' bits
// The CRC-32C covers every byte after the crc field.
namespace rules {

inline constexpr char kHostListMagic[8] = {'Z', 'E', 'L', 'H', 'O', 'S', 'T', 'S'};
inline constexpr uint32_t kHostListVersion = 1;
inline constexpr size_t kMaxHostLists = 64;
inline constexpr size_t kMaxHostListTitle = 62;               // a list's name, bytes
inline constexpr uint64_t kMaxHostListFileBytes = 1ull << 30; // a larger file is not mapped
// Label suffixes of a name checked against entries that cover what is under
// them, shortest first: the registrable part a list names is always among them.
inline constexpr size_t kHostListSuffixProbes = 8;
// The longest run of slots from a name's own slot to where it sits: the
// compiler reseeds rather than exceed it, and a file that does is not used,
// so that no lookup walks far.
inline constexpr uint64_t kMaxHostListProbe = 4096;

struct HostListFileList {
    uint8_t bit = 0;    // the list's bit in every set and interval
    uint8_t length = 0; // of title
    char title[kMaxHostListTitle] = {};
};

struct HostListFileHeader {
    char magic[8] = {};
    uint32_t version = 0;
    uint32_t crc = 0;
    uint64_t fileSize = 0;
    uint64_t seed = 0;     // of HostListHash
    uint32_t hashBits = 0; // of each hash kept: 64 but in tests that force collisions
    uint32_t listCount = 0;
    uint64_t nameCount = 0;
    uint64_t slotCount = 0; // a power of two, or 0 without names
    uint64_t slotsOffset = 0;
    uint64_t maxProbe = 0; // the longest run from a name's slot to where it sits
    uint64_t setCount = 0;
    uint64_t setsOffset = 0;
    uint64_t poolOffset = 0;
    uint64_t poolSize = 0;
    uint64_t v4Count = 0;
    uint64_t v4Offset = 0;
    uint64_t v6Count = 0;
    uint64_t v6Offset = 0;
    // Bit d-1 set: some entry covering what is under it has d labels (bit 63:
    // 64 or more). Lookups probe only the suffixes that can hit.
    uint64_t belowDepths = 0;
    HostListFileList lists[kMaxHostLists];
};
inline constexpr size_t kHostListCrcStart = 16; // the CRC covers the file from here
static_assert(sizeof(HostListFileHeader) == 144 + 64 * 64);

struct HostListSlot {
    uint64_t hash = 0;
    uint32_t nameOffset = 0; // into the pool; 0: free
    uint32_t set = 0;        // into the sets, with kHostListSlotBelow
};
// In a slot's set: the name covers what is under it. A suffix of a name
// looked up that meets a slot without it reads neither pool nor set.
inline constexpr uint32_t kHostListSlotBelow = 1u << 31;
struct HostListSet {
    uint64_t exact = 0; // lists that name the name itself
    uint64_t below = 0; // lists that name it and every name under it
};
struct HostListV4 {
    uint32_t first = 0;
    uint32_t last = 0;
    uint64_t bits = 0;
};
struct HostListV6 {
    uint64_t firstHigh = 0;
    uint64_t firstLow = 0;
    uint64_t lastHigh = 0;
    uint64_t lastLow = 0;
    uint64_t bits = 0;
};
static_assert(sizeof(HostListSlot) == 16 && sizeof(HostListSet) == 16 && sizeof(HostListV4) == 16
              && sizeof(HostListV6) == 40);

// The names' hash, the compiler's and the reader's: seeded per file, so that
// a list's author cannot line its names up on one run of slots.
uint64_t HostListHash(uint64_t seed, const char* text, size_t length);
uint64_t HostListHashMask(uint32_t bits);
// CRC-32C (Castagnoli), continued from crc (0 to start).
uint32_t HostListCrc(uint32_t crc, const unsigned char* data, size_t size);

enum class HostListLoad : uint8_t {
    kLoaded,
    kMissing,   // no file: no list
    kUntrusted, // not a regular file of ours or root's, a link, writable by the group or others
    kDamaged,   // size, magic, version, CRC or a section out of bounds
};

class HostListView {
public:
    HostListView() = default;
    ~HostListView();
    HostListView(const HostListView&) = delete;
    HostListView& operator=(const HostListView&) = delete;

    // The file mapped (shared, read-only) and checked; anything but kLoaded
    // leaves the view empty. errno is kept as it was. To keep the lists in
    // use when a new file is refused, load into another view and swap.
    HostListLoad Load(const char* path);
    void Swap(HostListView& other);
    // The same over bytes the caller keeps unchanged while the view lives.
    bool Use(const unsigned char* data, size_t size);
    void Clear();
    bool Empty() const { return data_ == nullptr; }

    // The bits of the lists that list the host name (normalised here as
    // rules compare names; 0 for no name): the name itself as a plain entry
    // or one covering what is under it, and its label suffixes as the latter.
    uint64_t Name(const char* name, size_t length) const;
    // The bits of the lists whose addresses hold the address; an IPv4 address
    // mapped into IPv6 is looked up as the IPv4 address it is.
    uint64_t Ipv4(uint32_t address) const;
    uint64_t Ipv6(uint64_t high, uint64_t low) const;

    size_t ListCount() const { return listCount_; }
    // The list at index: its bit and its name (not NUL-terminated).
    const HostListFileList* List(size_t index) const;
    uint64_t NameCount() const { return nameCount_; }
    uint64_t Ipv4Count() const { return v4Count_; }
    uint64_t Ipv6Count() const { return v6Count_; }

private:
    uint64_t Probe(const char* name, size_t length, uint64_t hash, bool whole) const;

    void* mapped_ = nullptr;
    size_t mappedSize_ = 0;
    const unsigned char* data_ = nullptr;
    size_t size_ = 0;
    uint64_t seed_ = 0;
    uint64_t hashMask_ = 0;
    uint64_t nameCount_ = 0;
    uint64_t slotCount_ = 0;
    uint64_t maxProbe_ = 0;
    uint64_t setCount_ = 0;
    uint64_t poolSize_ = 0;
    uint64_t v4Count_ = 0;
    uint64_t v6Count_ = 0;
    uint64_t belowDepths_ = 0;
    size_t listCount_ = 0;
    const unsigned char* lists_ = nullptr;
    const unsigned char* slots_ = nullptr;
    const unsigned char* sets_ = nullptr;
    const unsigned char* pool_ = nullptr;
    const unsigned char* v4_ = nullptr;
    const unsigned char* v6_ = nullptr;
};

}  // namespace rules
