#include "rules/hooksafe/HostListView.h"

#include "rules/hooksafe/Names.h"

#include <atomic>
#include <cerrno>
#include <cstddef>
#include <cstring>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>
#if defined(__x86_64__)
#include <cpuid.h>
#endif

namespace rules {

namespace {

struct CrcTables {
    uint32_t t[8][256];
};

constexpr CrcTables MakeCrcTables()
{
    CrcTables tables {};
    for (uint32_t i = 0; i < 256; ++i) {
        uint32_t crc = i;
        for (int k = 0; k < 8; ++k)
            crc = (crc >> 1) ^ ((crc & 1) ? 0x82F63B78u : 0);
        tables.t[0][i] = crc;
    }
    for (uint32_t i = 0; i < 256; ++i)
        for (int k = 1; k < 8; ++k)
            tables.t[k][i] = (tables.t[k - 1][i] >> 8) ^ tables.t[0][tables.t[k - 1][i] & 0xff];
    return tables;
}

constexpr CrcTables kCrc = MakeCrcTables();

uint32_t CrcSoftware(uint32_t crc, const unsigned char* data, size_t size)
{
    for (; size >= 8; data += 8, size -= 8) {
        uint64_t word;
        std::memcpy(&word, data, 8);
        word ^= crc;
        crc = kCrc.t[7][word & 0xff] ^ kCrc.t[6][(word >> 8) & 0xff] ^ kCrc.t[5][(word >> 16) & 0xff]
            ^ kCrc.t[4][(word >> 24) & 0xff] ^ kCrc.t[3][(word >> 32) & 0xff] ^ kCrc.t[2][(word >> 40) & 0xff]
            ^ kCrc.t[1][(word >> 48) & 0xff] ^ kCrc.t[0][word >> 56];
    }
    for (; size > 0; ++data, --size)
        crc = (crc >> 8) ^ kCrc.t[0][(crc ^ *data) & 0xff];
    return crc;
}

#if defined(__x86_64__)
// Every program checks the whole file when it maps it: the processor's own
// instruction does that several times faster than the tables.
__attribute__((target("sse4.2"))) uint32_t CrcHardware(uint32_t crc, const unsigned char* data, size_t size)
{
    uint64_t wide = crc;
    for (; size >= 8; data += 8, size -= 8) {
        uint64_t word;
        std::memcpy(&word, data, 8);
        wide = __builtin_ia32_crc32di(wide, word);
    }
    crc = static_cast<uint32_t>(wide);
    for (; size > 0; ++data, --size)
        crc = __builtin_ia32_crc32qi(crc, *data);
    return crc;
}

// Asked of the processor at the first check, not at load: the compiler's own
// test (__builtin_cpu_supports) brings a constructor that runs CPUID in every
// program the engine is loaded into, and each CPUID is a costly exit on a
// virtual machine. 0: not asked yet, 1: has it, 2: has not.
std::atomic<int> crcInstruction{0};

bool HasCrcInstruction()
{
    int known = crcInstruction.load(std::memory_order_relaxed);
    if (known == 0) {
        unsigned int eax = 0, ebx = 0, ecx = 0, edx = 0;
        known = __get_cpuid(1, &eax, &ebx, &ecx, &edx) && (ecx & bit_SSE4_2) ? 1 : 2;
        crcInstruction.store(known, std::memory_order_relaxed);
    }
    return known == 1;
}
#endif

uint64_t Mix(uint64_t x)
{
    x ^= x >> 32;
    x *= 0xD6E8FEB86659FD93ull;
    x ^= x >> 32;
    x *= 0xD6E8FEB86659FD93ull;
    x ^= x >> 32;
    return x;
}

// A section of count items of width bytes at offset: 8-aligned, after the
// header, inside the file.
bool Inside(uint64_t offset, uint64_t count, uint64_t width, size_t size)
{
    return offset % 8 == 0 && offset >= sizeof(HostListFileHeader) && offset <= size
        && count <= (size - offset) / width;
}

uint64_t DepthBit(size_t labels) { return 1ull << ((labels > 64 ? 64 : labels) - 1); }

}  // namespace

uint64_t HostListHash(uint64_t seed, const char* text, size_t length)
{
    uint64_t h = Mix(seed ^ (length * 0x9E3779B97F4A7C15ull));
    for (; length >= 8; text += 8, length -= 8) {
        uint64_t word;
        std::memcpy(&word, text, 8);
        h = Mix(h ^ word) + 0x9E3779B97F4A7C15ull;
    }
    uint64_t tail = 0;
    for (size_t i = 0; i < length; ++i)
        tail |= uint64_t(static_cast<unsigned char>(text[i])) << (8 * i);
    return Mix(h ^ tail);
}

uint64_t HostListHashMask(uint32_t bits) { return bits >= 64 ? ~0ull : (1ull << bits) - 1; }

uint32_t HostListCrc(uint32_t crc, const unsigned char* data, size_t size)
{
    crc = ~crc;
#if defined(__x86_64__)
    if (HasCrcInstruction())
        return ~CrcHardware(crc, data, size);
#endif
    return ~CrcSoftware(crc, data, size);
}

HostListView::~HostListView() { Clear(); }

void HostListView::Clear()
{
    if (mapped_)
        ::munmap(mapped_, mappedSize_);
    mapped_ = nullptr;
    mappedSize_ = 0;
    data_ = lists_ = slots_ = sets_ = pool_ = v4_ = v6_ = nullptr;
    size_ = 0;
    seed_ = hashMask_ = nameCount_ = slotCount_ = maxProbe_ = setCount_ = poolSize_ = v4Count_ = v6Count_ = 0;
    belowDepths_ = 0;
    listCount_ = 0;
}

void HostListView::Swap(HostListView& other)
{
    const auto exchange = [](auto& a, auto& b) {
        const auto held = a;
        a = b;
        b = held;
    };
    exchange(mapped_, other.mapped_);
    exchange(mappedSize_, other.mappedSize_);
    exchange(data_, other.data_);
    exchange(size_, other.size_);
    exchange(seed_, other.seed_);
    exchange(hashMask_, other.hashMask_);
    exchange(nameCount_, other.nameCount_);
    exchange(slotCount_, other.slotCount_);
    exchange(maxProbe_, other.maxProbe_);
    exchange(setCount_, other.setCount_);
    exchange(poolSize_, other.poolSize_);
    exchange(v4Count_, other.v4Count_);
    exchange(v6Count_, other.v6Count_);
    exchange(belowDepths_, other.belowDepths_);
    exchange(listCount_, other.listCount_);
    exchange(lists_, other.lists_);
    exchange(slots_, other.slots_);
    exchange(sets_, other.sets_);
    exchange(pool_, other.pool_);
    exchange(v4_, other.v4_);
    exchange(v6_, other.v6_);
}

HostListLoad HostListView::Load(const char* path)
{
    // Called inside a program's own calls: its errno is not ours to change.
    struct KeptErrno {
        int value = errno;
        ~KeptErrno() { errno = value; }
    } kept;
    Clear();
    // Never through a link, never waiting on a FIFO put in its place.
    const int fd = ::open(path, O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOFOLLOW | O_NOCTTY);
    if (fd < 0)
        return errno == ENOENT || errno == ENOTDIR ? HostListLoad::kMissing : HostListLoad::kUntrusted;
    struct stat info {};
    HostListLoad result = HostListLoad::kDamaged;
    void* data = MAP_FAILED;
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || (info.st_uid != ::geteuid() && info.st_uid != 0)
        || (info.st_mode & (S_IWGRP | S_IWOTH)))
        result = HostListLoad::kUntrusted;
    else if (info.st_size >= off_t(sizeof(HostListFileHeader)) && uint64_t(info.st_size) <= kMaxHostListFileBytes)
        data = ::mmap(nullptr, size_t(info.st_size), PROT_READ, MAP_SHARED, fd, 0);
    ::close(fd);
    if (data == MAP_FAILED)
        return result;
    if (!Use(static_cast<const unsigned char*>(data), size_t(info.st_size))) {
        ::munmap(data, size_t(info.st_size));
        return HostListLoad::kDamaged;
    }
    mapped_ = data;
    mappedSize_ = size_t(info.st_size);
    return HostListLoad::kLoaded;
}

bool HostListView::Use(const unsigned char* data, size_t size)
{
    Clear();
    HostListFileHeader h;
    if (!data || size < sizeof h || size > kMaxHostListFileBytes)
        return false;
    std::memcpy(&h, data, sizeof h);
    if (std::memcmp(h.magic, kHostListMagic, sizeof h.magic) != 0 || h.version != kHostListVersion
        || h.fileSize != size || h.crc != HostListCrc(0, data + kHostListCrcStart, size - kHostListCrcStart))
        return false;
    if (h.hashBits == 0 || h.hashBits > 64 || h.listCount > kMaxHostLists || h.maxProbe > kMaxHostListProbe)
        return false;
    // Names only in a table with free slots, so that every run ends.
    if ((h.slotCount & (h.slotCount - 1)) != 0 || h.nameCount > h.slotCount / 2
        || (h.slotCount == 0) != (h.nameCount == 0))
        return false;
    if (!Inside(h.slotsOffset, h.slotCount, sizeof(HostListSlot), size)
        || !Inside(h.setsOffset, h.setCount, sizeof(HostListSet), size) || !Inside(h.poolOffset, h.poolSize, 1, size)
        || !Inside(h.v4Offset, h.v4Count, sizeof(HostListV4), size)
        || !Inside(h.v6Offset, h.v6Count, sizeof(HostListV6), size))
        return false;
    for (uint32_t i = 0; i < h.listCount; ++i)
        if (h.lists[i].bit >= 64 || h.lists[i].length > kMaxHostListTitle)
            return false;
    data_ = data;
    size_ = size;
    lists_ = data + offsetof(HostListFileHeader, lists);
    listCount_ = h.listCount;
    seed_ = h.seed;
    hashMask_ = HostListHashMask(h.hashBits);
    nameCount_ = h.nameCount;
    slotCount_ = h.slotCount;
    maxProbe_ = h.maxProbe;
    slots_ = data + h.slotsOffset;
    setCount_ = h.setCount;
    sets_ = data + h.setsOffset;
    poolSize_ = h.poolSize;
    pool_ = data + h.poolOffset;
    v4Count_ = h.v4Count;
    v4_ = data + h.v4Offset;
    v6Count_ = h.v6Count;
    v6_ = data + h.v6Offset;
    belowDepths_ = h.belowDepths;
    return true;
}

const HostListFileList* HostListView::List(size_t index) const
{
    return index < listCount_ ? reinterpret_cast<const HostListFileList*>(lists_) + index : nullptr;
}

uint64_t HostListView::Probe(const char* name, size_t length, uint64_t hash, bool whole) const
{
    const uint64_t mask = slotCount_ - 1;
    uint64_t at = hash & mask;
    for (uint64_t run = 0; run <= maxProbe_ && run < slotCount_; ++run, at = (at + 1) & mask) {
        HostListSlot slot;
        std::memcpy(&slot, slots_ + at * sizeof slot, sizeof slot);
        if (slot.nameOffset == 0)
            return 0;
        if (slot.hash != hash || (!whole && !(slot.set & kHostListSlotBelow)))
            continue;
        // The pool decides, not the hash: a name that merely hashes like a
        // listed one is not refused.
        if (slot.nameOffset >= poolSize_ || pool_[slot.nameOffset] != length
            || length > poolSize_ - slot.nameOffset - 1 || std::memcmp(pool_ + slot.nameOffset + 1, name, length) != 0)
            continue;
        const uint32_t index = slot.set & ~kHostListSlotBelow;
        if (index >= setCount_)
            return 0;
        HostListSet set;
        std::memcpy(&set, sets_ + uint64_t(index) * sizeof set, sizeof set);
        return whole ? set.exact | set.below : set.below;
    }
    return 0;
}

uint64_t HostListView::Name(const char* name, size_t length) const
{
    if (nameCount_ == 0 || !name)
        return 0;
    char normal[kMaxHostName + 1];
    const size_t n = NormalizeHostName(name, length, normal, sizeof normal);
    if (n == 0)
        return 0;
    // The name itself, then the suffixes after each dot from the right (one
    // label, two, ...) at the depths entries covering what is under them
    // have. Their slots are fetched from memory together, not one by one.
    struct Wanted {
        size_t from;
        uint64_t hash;
    } wanted[1 + kHostListSuffixProbes];
    size_t count = 0;
    size_t labels = 0;
    for (size_t i = n; i-- > 0 && count < kHostListSuffixProbes;)
        if (normal[i] == '.' && (belowDepths_ & DepthBit(++labels)))
            wanted[count++].from = i + 1;
    wanted[count++].from = 0;
    const uint64_t mask = slotCount_ - 1;
    for (size_t k = 0; k < count; ++k) {
        wanted[k].hash = HostListHash(seed_, normal + wanted[k].from, n - wanted[k].from) & hashMask_;
        __builtin_prefetch(slots_ + (wanted[k].hash & mask) * sizeof(HostListSlot));
    }
    uint64_t bits = 0;
    for (size_t k = 0; k < count; ++k)
        bits |= Probe(normal + wanted[k].from, n - wanted[k].from, wanted[k].hash, wanted[k].from == 0);
    return bits;
}

uint64_t HostListView::Ipv4(uint32_t address) const
{
    // The last interval that starts at or before the address.
    uint64_t low = 0;
    uint64_t high = v4Count_;
    while (low < high) {
        const uint64_t middle = low + (high - low) / 2;
        HostListV4 item;
        std::memcpy(&item, v4_ + middle * sizeof item, sizeof item);
        if (item.first <= address)
            low = middle + 1;
        else
            high = middle;
    }
    if (low == 0)
        return 0;
    HostListV4 item;
    std::memcpy(&item, v4_ + (low - 1) * sizeof item, sizeof item);
    return address <= item.last ? item.bits : 0;
}

uint64_t HostListView::Ipv6(uint64_t high, uint64_t low) const
{
    if (high == 0 && (low >> 32) == 0xffff)
        return Ipv4(static_cast<uint32_t>(low));
    const auto atOrBefore = [&](uint64_t itemHigh, uint64_t itemLow) {
        return itemHigh < high || (itemHigh == high && itemLow <= low);
    };
    uint64_t from = 0;
    uint64_t to = v6Count_;
    HostListV6 item;
    while (from < to) {
        const uint64_t middle = from + (to - from) / 2;
        std::memcpy(&item, v6_ + middle * sizeof item, sizeof item);
        if (atOrBefore(item.firstHigh, item.firstLow))
            from = middle + 1;
        else
            to = middle;
    }
    if (from == 0)
        return 0;
    std::memcpy(&item, v6_ + (from - 1) * sizeof item, sizeof item);
    return high < item.lastHigh || (high == item.lastHigh && low <= item.lastLow) ? item.bits : 0;
}

}  // namespace rules
