#include "rules/HostListCompiler.h"

#include "os/Files.h"
#include "os/Paths.h"
#include "rules/hooksafe/HostListView.h"
#include "rules/hooksafe/Names.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <sys/random.h>
#include <unordered_map>
#include <utility>

namespace rules {

namespace {

__extension__ typedef unsigned __int128 Wide;

struct NameBits {
    uint64_t exact = 0;
    uint64_t below = 0;
};

struct Interval {
    Wide first = 0;
    Wide last = 0;
    uint64_t bits = 0;
};

Wide ToWide(const Address128& address) { return (Wide(address.high) << 64) | address.low; }

std::string CheckSources(const std::vector<HostListSource>& lists)
{
    if (lists.size() > kMaxHostLists)
        return "more than " + std::to_string(kMaxHostLists) + " lists";
    uint64_t used = 0;
    for (const auto& source : lists) {
        if (!source.list)
            return "list \"" + source.title + "\" has no entries read";
        if (source.title.empty() || source.title.size() > kMaxHostListTitle)
            return "a list's name must have 1 to " + std::to_string(kMaxHostListTitle) + " bytes";
        if (std::any_of(source.title.begin(), source.title.end(), [](char c) { return uint8_t(c) < 0x20 || c == 0x7f; }))
            return "a list's name holds a control character";
        if (source.bit >= 64 || (used & (1ull << source.bit)))
            return "list \"" + source.title + "\" needs a bit of its own below 64";
        used |= 1ull << source.bit;
    }
    return {};
}

// Entries of every list over one family, as disjoint intervals in order,
// each with the bits of all the lists that hold it; neighbours with the
// same bits joined.
std::vector<Interval> Intervals(const std::vector<HostListSource>& lists, AddressFamily family)
{
    const Wide top = family == AddressFamily::kIpv4 ? Wide(0xffffffffu) : ~Wide(0);
    struct Edge {
        Wide at;
        unsigned bit;
        int change;
    };
    std::vector<Edge> edges;
    for (const auto& source : lists)
        for (const auto& range : source.list->addresses) {
            if (range.family != family || range.last < range.first || ToWide(range.last) > top)
                continue;
            edges.push_back({ToWide(range.first), source.bit, +1});
            if (ToWide(range.last) != top)
                edges.push_back({ToWide(range.last) + 1, source.bit, -1});
        }
    std::sort(edges.begin(), edges.end(), [](const Edge& a, const Edge& b) { return a.at < b.at; });
    std::vector<Interval> out;
    uint32_t open[64] = {};
    uint64_t bits = 0;
    for (size_t i = 0; i < edges.size();) {
        const Wide at = edges[i].at;
        for (; i < edges.size() && edges[i].at == at; ++i) {
            open[edges[i].bit] += edges[i].change;
            bits = open[edges[i].bit] ? bits | (1ull << edges[i].bit) : bits & ~(1ull << edges[i].bit);
        }
        if (!bits)
            continue;
        const Wide last = i < edges.size() ? edges[i].at - 1 : top;
        if (!out.empty() && out.back().bits == bits && out.back().last + 1 == at)
            out.back().last = last;
        else
            out.push_back({at, last, bits});
    }
    return out;
}

size_t Align8(size_t size) { return (size + 7) & ~size_t(7); }

uint64_t RandomSeed()
{
    uint64_t seed = 0;
    while (seed == 0)
        if (::getrandom(&seed, sizeof seed, 0) != sizeof seed)
            seed = 0x6a09e667f3bcc909ull; // no randomness: a fixed seed is still a working table
    return seed;
}

// The table of names for a seed: false when some run would pass the
// longest a reader accepts.
bool FillSlots(std::vector<HostListSlot>& slots, const std::vector<std::pair<uint32_t, uint32_t>>& names,
               const std::string& pool, uint64_t seed, uint64_t hashMask, uint64_t& maxProbe)
{
    std::fill(slots.begin(), slots.end(), HostListSlot {});
    maxProbe = 0;
    const uint64_t mask = slots.size() - 1;
    for (const auto& [offset, set] : names) {
        const uint64_t hash =
            HostListHash(seed, pool.data() + offset + 1, static_cast<uint8_t>(pool[offset])) & hashMask;
        uint64_t at = hash & mask;
        uint64_t run = 0;
        for (; slots[at].nameOffset != 0; at = (at + 1) & mask)
            if (++run > kMaxHostListProbe)
                return false;
        slots[at] = {hash, offset, set};
        maxProbe = std::max(maxProbe, run);
    }
    return true;
}

template <typename T>
void Put(std::string& bytes, size_t offset, const std::vector<T>& items)
{
    if (!items.empty())
        std::memcpy(bytes.data() + offset, items.data(), items.size() * sizeof(T));
}

}  // namespace

CompiledHostLists CompileHostLists(const std::vector<HostListSource>& lists, const HostListCompileOptions& options)
{
    CompiledHostLists out;
    out.error = CheckSources(lists);
    if (!out.error.empty())
        return out;
    HostListFileHeader header;
    size_t entries = 0;
    for (const auto& source : lists)
        entries += source.list->names.size();
    // Each distinct name once, with the bits of every list that has it.
    std::unordered_map<std::string_view, NameBits> names;
    names.reserve(entries);
    for (const auto& source : lists)
        for (const auto& name : source.list->names) {
            const std::string_view text = source.list->Name(name);
            if (text.empty() || text.size() > kMaxHostName)
                continue;
            NameBits& bits = names[text];
            (name.below ? bits.below : bits.exact) |= 1ull << source.bit;
            if (name.below) {
                const size_t labels = size_t(std::count(text.begin(), text.end(), '.')) + 1;
                header.belowDepths |= 1ull << (std::min<size_t>(labels, 64) - 1);
            }
        }
    std::map<std::pair<uint64_t, uint64_t>, uint32_t> setIndex;
    std::vector<HostListSet> sets;
    std::string pool(1, '\0'); // offset 0 marks a free slot
    std::vector<std::pair<uint32_t, uint32_t>> placed; // pool offset, set
    placed.reserve(names.size());
    for (const auto& [text, bits] : names) {
        const auto [it, added] = setIndex.try_emplace({bits.exact, bits.below}, uint32_t(sets.size()));
        if (added)
            sets.push_back({bits.exact, bits.below});
        if (pool.size() + 1 + text.size() > kMaxHostListFileBytes) {
            out.error = "the lists are too large for one file";
            return out;
        }
        placed.emplace_back(uint32_t(pool.size()), it->second | (bits.below ? kHostListSlotBelow : 0));
        pool += char(text.size());
        pool += text;
    }
    uint64_t slotCount = 0;
    if (!placed.empty())
        for (slotCount = 8; slotCount < 2 * placed.size(); slotCount *= 2) {
        }
    const std::vector<Interval> v4 = Intervals(lists, AddressFamily::kIpv4);
    const std::vector<Interval> v6 = Intervals(lists, AddressFamily::kIpv6);

    header.slotsOffset = sizeof header;
    header.setsOffset = header.slotsOffset + slotCount * sizeof(HostListSlot);
    header.poolOffset = header.setsOffset + sets.size() * sizeof(HostListSet);
    header.v4Offset = Align8(header.poolOffset + pool.size());
    header.v6Offset = header.v4Offset + v4.size() * sizeof(HostListV4);
    header.fileSize = header.v6Offset + v6.size() * sizeof(HostListV6);
    if (header.fileSize > kMaxHostListFileBytes) {
        out.error = "the lists are too large for one file";
        return out;
    }

    std::vector<HostListSlot> slots(slotCount);
    header.hashBits = std::clamp<uint32_t>(options.hashBits, 1, 64);
    const uint64_t hashMask = HostListHashMask(header.hashBits);
    header.seed = options.seed ? options.seed : RandomSeed();
    for (int tries = 1; !placed.empty() && !FillSlots(slots, placed, pool, header.seed, hashMask, header.maxProbe);
         ++tries) {
        if (options.seed || tries == 4) {
            out.error = "the names do not spread over the table";
            return out;
        }
        header.seed = RandomSeed();
    }

    std::memcpy(header.magic, kHostListMagic, sizeof header.magic);
    header.version = kHostListVersion;
    header.listCount = uint32_t(lists.size());
    header.nameCount = placed.size();
    header.slotCount = slotCount;
    header.setCount = sets.size();
    header.poolSize = pool.size();
    header.v4Count = v4.size();
    header.v6Count = v6.size();
    for (size_t i = 0; i < lists.size(); ++i) {
        header.lists[i].bit = uint8_t(lists[i].bit);
        header.lists[i].length = uint8_t(lists[i].title.size());
        std::memcpy(header.lists[i].title, lists[i].title.data(), lists[i].title.size());
    }
    std::vector<HostListV4> v4Items;
    for (const auto& item : v4)
        v4Items.push_back({uint32_t(item.first), uint32_t(item.last), item.bits});
    std::vector<HostListV6> v6Items;
    for (const auto& item : v6)
        v6Items.push_back({uint64_t(item.first >> 64), uint64_t(item.first), uint64_t(item.last >> 64),
                           uint64_t(item.last), item.bits});

    out.bytes.assign(header.fileSize, '\0');
    Put(out.bytes, header.slotsOffset, slots);
    Put(out.bytes, header.setsOffset, sets);
    std::memcpy(out.bytes.data() + header.poolOffset, pool.data(), pool.size());
    Put(out.bytes, header.v4Offset, v4Items);
    Put(out.bytes, header.v6Offset, v6Items);
    std::memcpy(out.bytes.data(), &header, sizeof header);
    header.crc = HostListCrc(0, reinterpret_cast<const unsigned char*>(out.bytes.data()) + kHostListCrcStart,
                             out.bytes.size() - kHostListCrcStart);
    std::memcpy(out.bytes.data() + offsetof(HostListFileHeader, crc), &header.crc, sizeof header.crc);
    out.names = placed.size();
    out.ipv4 = v4.size();
    out.ipv6 = v6.size();
    return out;
}

bool WriteHostListFile(const std::string& path, std::string_view bytes)
{
    const size_t slash = path.rfind('/');
    if (slash != std::string::npos && slash > 0 && !os::MakeDirectories(path.substr(0, slash), 0700))
        return false;
    // Readable by all, writable by its owner only: a reader refuses a file
    // others could change.
    return os::WriteFileAtomically(path, bytes, 0644, true);
}

std::string HostListFilePath() { return os::DataHome() + "/korvel/hostlists.bin"; }

}  // namespace rules
