// Host lists compiled into the file every program maps, and read back in
// place: what each name and address is listed by, and a damaged, hostile or
// untrusted file listing nothing without a fault.
#include "rules/HostListCompiler.h"
#include "rules/hooksafe/HostListView.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <cerrno>
#include <cstddef>
#include <cstring>
#include <filesystem>
#include <functional>
#include <sys/stat.h>
#include <tuple>
#include <unistd.h>

namespace {

using Bytes = std::vector<unsigned char>;

struct Lists {
    std::vector<rules::HostList> parsed;
    rules::CompiledHostLists compiled;
};

// Lists "title=bit" with their texts, compiled.
Lists Compile(const std::vector<std::tuple<const char*, unsigned, std::string>>& lists,
              rules::HostListCompileOptions options = {})
{
    Lists out;
    out.parsed.reserve(lists.size());
    std::vector<rules::HostListSource> sources;
    for (const auto& [title, bit, text] : lists) {
        out.parsed.push_back(rules::ParseHostList(text));
        sources.push_back({title, bit, &out.parsed.back()});
    }
    out.compiled = rules::CompileHostLists(sources, options);
    EXPECT_EQ(out.compiled.error, "");
    return out;
}

// The bytes in a buffer of their exact size, so that the sanitizer sees a
// read past the end.
Bytes Exact(std::string_view bytes) { return Bytes(bytes.begin(), bytes.end()); }

uint64_t Name(const rules::HostListView& view, std::string_view name) { return view.Name(name.data(), name.size()); }

uint64_t Address(const rules::HostListView& view, const char* text)
{
    in_addr v4 {};
    in6_addr v6 {};
    if (::inet_pton(AF_INET, text, &v4) == 1)
        return view.Ipv4(ntohl(v4.s_addr));
    EXPECT_EQ(::inet_pton(AF_INET6, text, &v6), 1) << text;
    uint64_t high = 0;
    uint64_t low = 0;
    for (int i = 0; i < 8; ++i) {
        high = high << 8 | v6.s6_addr[i];
        low = low << 8 | v6.s6_addr[8 + i];
    }
    return view.Ipv6(high, low);
}

template <typename T>
void SetField(Bytes& bytes, size_t offset, T value)
{
    std::memcpy(bytes.data() + offset, &value, sizeof value);
}

// What a hostile writer does after changing bytes: the CRC made right again.
void Reseal(Bytes& bytes)
{
    SetField(bytes, offsetof(rules::HostListFileHeader, crc),
             rules::HostListCrc(0, bytes.data() + rules::kHostListCrcStart, bytes.size() - rules::kHostListCrcStart));
}

rules::HostListFileHeader Header(const Bytes& bytes)
{
    rules::HostListFileHeader header;
    std::memcpy(&header, bytes.data(), sizeof header);
    return header;
}

const std::string kDeep = "deep.a.b.c.d.e.f.g.h.i.j"; // 12 labels

}  // namespace

TEST(HostListFile, NamesHitAsPlainEntriesOrWithEverythingUnderThem)
{
    const auto lists = Compile({{"Ads", 0, "0.0.0.0 ads.example.com\nexact.org\n"},
                                {"Trackers", 5, "||tracker.net^\n*." + kDeep + "\nexact.org\n"}});
    const Bytes bytes = Exact(lists.compiled.bytes);
    rules::HostListView view;
    ASSERT_TRUE(view.Use(bytes.data(), bytes.size()));
    constexpr uint64_t ads = 1, trackers = 1 << 5;
    const struct {
        std::string name;
        uint64_t bits;
    } cases[] = {
        {"ads.example.com", ads}, {"ADS.Example.COM.", ads}, {"x.ads.example.com", 0}, {"example.com", 0},
        {"tracker.net", trackers}, {"a.b.tracker.net", trackers}, {"nottracker.net", 0}, {"tracker.net.x", 0},
        {"exact.org", ads | trackers}, {"www.exact.org", 0},
        // More labels than suffixes probed: the short ones are, the entry is found.
        {"1.2.3.4.5.6.7.8.9.10.11.12.tracker.net", trackers},
        // A deep entry: its depth is probed, not only the first eight.
        {kDeep, trackers}, {"x.y." + kDeep, trackers}, {"x.a.b.c.d.e.f.g.h.i.j", 0},
        {"", 0}, {"bad name.org", 0}, {"10.0.0.1", 0},
    };
    for (const auto& c : cases)
        EXPECT_EQ(Name(view, c.name), c.bits) << c.name;
    ASSERT_EQ(view.ListCount(), 2u);
    EXPECT_EQ(std::string(view.List(1)->title, view.List(1)->length), "Trackers");
    EXPECT_EQ(view.List(1)->bit, 5);
    EXPECT_EQ(view.List(2), nullptr);
    EXPECT_EQ(view.NameCount(), 4u);
}

TEST(HostListFile, NamesThatShareAHashAreToldApartByTheirText)
{
    // Two bits of hash: every probe meets names of other hashes and of its own.
    std::string listed, unlisted;
    for (int i = 0; i < 60; ++i) {
        listed += "host" + std::to_string(i) + ".example\n";
        unlisted += "other" + std::to_string(i) + ".example\n";
    }
    const auto lists = Compile({{"One", 3, listed + "||below.example^\n"}}, {.seed = 7, .hashBits = 2});
    const Bytes bytes = Exact(lists.compiled.bytes);
    rules::HostListView view;
    ASSERT_TRUE(view.Use(bytes.data(), bytes.size()));
    EXPECT_GT(Header(bytes).maxProbe, 10u);
    for (int i = 0; i < 60; ++i) {
        EXPECT_EQ(Name(view, "host" + std::to_string(i) + ".example"), 8u) << i;
        EXPECT_EQ(Name(view, "other" + std::to_string(i) + ".example"), 0u) << i;
        EXPECT_EQ(Name(view, "x" + std::to_string(i) + ".below.example"), 8u) << i;
    }
}

TEST(HostListFile, AddressesOfSeveralListsBecomeDisjointIntervalsWithAllTheirBits)
{
    const auto lists = Compile({{"A", 0, "10.0.0.0/8\n192.168.1.5\n2001:db8::/32\n255.255.255.255\n"},
                                {"B", 1, "10.1.0.0/16\n10.255.255.255\n10.1.2.3\n2001:db8:1::/48\n"
                                         "ffff:ffff:ffff:ffff:ffff:ffff:ffff:ffff\n"},
                                {"C", 63, "10.1.0.0/16\n"}});
    EXPECT_EQ(lists.compiled.ipv4, 6u); // 10/8 cut in four by B's and C's, and two more
    EXPECT_EQ(lists.compiled.ipv6, 4u);
    const Bytes bytes = Exact(lists.compiled.bytes);
    rules::HostListView view;
    ASSERT_TRUE(view.Use(bytes.data(), bytes.size()));
    constexpr uint64_t a = 1, b = 2, c = 1ull << 63;
    const struct {
        const char* address;
        uint64_t bits;
    } cases[] = {
        {"9.255.255.255", 0}, {"10.0.0.0", a}, {"10.0.255.255", a}, {"10.1.0.0", a | b | c}, {"10.1.2.3", a | b | c},
        {"10.1.255.255", a | b | c}, {"10.2.0.0", a}, {"10.255.255.254", a}, {"10.255.255.255", a | b},
        {"11.0.0.0", 0}, {"192.168.1.4", 0}, {"192.168.1.5", a}, {"192.168.1.6", 0}, {"255.255.255.255", a},
        {"0.0.0.0", 0}, {"::ffff:10.1.0.1", a | b | c}, {"2001:db7:ffff:ffff:ffff:ffff:ffff:ffff", 0},
        {"2001:db8::", a}, {"2001:db8:1::7", a | b}, {"2001:db8:2::", a}, {"2001:db8:ffff:ffff:ffff:ffff:ffff:ffff", a},
        {"2001:db9::", 0}, {"ffff:ffff:ffff:ffff:ffff:ffff:ffff:ffff", b}, {"::", 0},
    };
    for (const auto& item : cases)
        EXPECT_EQ(Address(view, item.address), item.bits) << item.address;
}

TEST(HostListFile, CompilingRefusesWhatNoFileCanSay)
{
    const rules::HostList list = rules::ParseHostList("x.example\n");
    const std::vector<std::vector<rules::HostListSource>> bad = {
        {{"A", 1, &list}, {"B", 1, &list}}, {{"A", 64, &list}}, {{"", 0, &list}},
        {{std::string(rules::kMaxHostListTitle + 1, 'a'), 0, &list}}, {{"A\n", 0, &list}}, {{"A", 0, nullptr}},
        std::vector<rules::HostListSource>(rules::kMaxHostLists + 1, {"A", 0, &list}),
    };
    for (const auto& sources : bad) {
        const auto compiled = rules::CompileHostLists(sources);
        EXPECT_NE(compiled.error, "") << sources.size();
        EXPECT_EQ(compiled.bytes, "");
    }
    // No list at all is a file that lists nothing.
    const Bytes empty = Exact(rules::CompileHostLists({}).bytes);
    rules::HostListView view;
    ASSERT_TRUE(view.Use(empty.data(), empty.size()));
    EXPECT_EQ(Name(view, "x.example") | Address(view, "10.0.0.1") | Address(view, "2001:db8::1"), 0u);
}

TEST(AttackHostListFile, DamagedOrForgedBytesListNothingAndNeverReadOutside)
{
    const auto lists = Compile({{"A", 2, "one.example\n||two.example^\n10.0.0.0/8\n2001:db8::/32\n"}});
    const Bytes good = Exact(lists.compiled.bytes);
    const auto header = Header(good);
    using H = rules::HostListFileHeader;
    // Each damage, and whether a hostile writer resealed the CRC after it.
    const struct {
        const char* what;
        std::function<void(Bytes&)> damage;
    } cases[] = {
        {"a flipped byte", [](Bytes& b) { b[b.size() / 2] ^= 0x10; }},
        {"the last byte flipped", [](Bytes& b) { b.back() ^= 1; }},
        {"truncated", [](Bytes& b) { b.resize(b.size() - 1); }},
        {"cut to the header", [](Bytes& b) { b.resize(sizeof(H)); }},
        {"cut inside the header", [](Bytes& b) { b.resize(100); }},
        {"another magic", [](Bytes& b) { b[0] = 'X'; Reseal(b); }},
        {"another version", [](Bytes& b) { SetField<uint32_t>(b, offsetof(H, version), 2); Reseal(b); }},
        {"2^32 names", [](Bytes& b) { SetField<uint64_t>(b, offsetof(H, nameCount), 1ull << 32); SetField<uint64_t>(b, offsetof(H, slotCount), 1ull << 33); Reseal(b); }},
        {"slots past the end", [&](Bytes& b) { SetField<uint64_t>(b, offsetof(H, slotsOffset), header.fileSize - 8); Reseal(b); }},
        {"a full table", [&](Bytes& b) { SetField<uint64_t>(b, offsetof(H, nameCount), header.slotCount); Reseal(b); }},
        {"a table not a power of two", [&](Bytes& b) { SetField<uint64_t>(b, offsetof(H, slotCount), header.slotCount - 1); Reseal(b); }},
        {"a pool past the end", [&](Bytes& b) { SetField<uint64_t>(b, offsetof(H, poolSize), header.fileSize); Reseal(b); }},
        {"addresses past the end", [&](Bytes& b) { SetField<uint64_t>(b, offsetof(H, v6Count), header.v6Count + 1); Reseal(b); }},
        {"an offset wrapping", [&](Bytes& b) { SetField<uint64_t>(b, offsetof(H, v4Offset), ~uint64_t(7)); Reseal(b); }},
        {"an endless run", [&](Bytes& b) { SetField<uint64_t>(b, offsetof(H, maxProbe), ~uint64_t(0)); Reseal(b); }},
        {"65 lists", [&](Bytes& b) { SetField<uint32_t>(b, offsetof(H, listCount), 65); Reseal(b); }},
        {"a list's bit 64", [&](Bytes& b) { b[offsetof(H, lists)] = 64; Reseal(b); }},
    };
    for (const auto& c : cases) {
        Bytes bytes = good;
        c.damage(bytes);
        const Bytes exact(bytes.begin(), bytes.end());
        rules::HostListView view;
        EXPECT_FALSE(view.Use(exact.data(), exact.size())) << c.what;
        EXPECT_TRUE(view.Empty()) << c.what;
        EXPECT_EQ(Name(view, "one.example") | Address(view, "10.0.0.1"), 0u) << c.what;
    }
    // Sections the header places right but whose items point anywhere: each
    // slot's name and set past their sections. Read safely, nothing listed.
    for (const auto& [field, value] : {std::pair<size_t, uint32_t> {8, 0xfffffff0u}, {12, 0xffffffffu}}) {
        Bytes bytes = good;
        for (uint64_t slot = 0; slot < header.slotCount; ++slot)
            if (bytes[header.slotsOffset + slot * 16 + 8] | bytes[header.slotsOffset + slot * 16 + 9])
                SetField(bytes, header.slotsOffset + slot * 16 + field, value);
        Reseal(bytes);
        rules::HostListView view;
        ASSERT_TRUE(view.Use(bytes.data(), bytes.size()));
        EXPECT_EQ(Name(view, "one.example") | Name(view, "x.two.example"), 0u);
        EXPECT_EQ(Address(view, "10.0.0.1"), 4u);
    }
}

TEST(AttackHostListFile, OnlyAWholeFileOfOursWritableByNoOneElseIsMapped)
{
    char folder[] = "/tmp/zel-hostlists-XXXXXX";
    ASSERT_TRUE(::mkdtemp(folder));
    const std::string path = std::string(folder) + "/korvel/hostlists.bin";
    const auto lists = Compile({{"A", 0, "one.example\n"}});
    ASSERT_TRUE(rules::WriteHostListFile(path, lists.compiled.bytes));
    // Written whole, nothing left beside it.
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(std::string(folder) + "/korvel"), {}), 1);
    const std::string other = std::string(folder) + "/other.bin";
    const struct {
        const char* what;
        std::function<void()> change;
        rules::HostListLoad result;
    } cases[] = {
        {"as written", [] {}, rules::HostListLoad::kLoaded},
        {"group-writable", [&] { ::chmod(path.c_str(), 0664); }, rules::HostListLoad::kUntrusted},
        {"writable by others", [&] { ::chmod(path.c_str(), 0646); }, rules::HostListLoad::kUntrusted},
        {"of another user", [&] { ::chmod(path.c_str(), 0644); ASSERT_EQ(::chown(path.c_str(), 65534, 65534), 0); },
         rules::HostListLoad::kUntrusted},
        {"a link to a good file", [&] {
             ASSERT_TRUE(rules::WriteHostListFile(other, lists.compiled.bytes));
             std::filesystem::remove(path);
             std::filesystem::create_symlink(other, path); }, rules::HostListLoad::kUntrusted},
        {"a FIFO", [&] { std::filesystem::remove(path); ASSERT_EQ(::mkfifo(path.c_str(), 0644), 0); },
         rules::HostListLoad::kUntrusted},
        {"truncated", [&] {
             std::filesystem::remove(path);
             ASSERT_TRUE(rules::WriteHostListFile(path, std::string_view(lists.compiled.bytes).substr(0, lists.compiled.bytes.size() - 10))); },
         rules::HostListLoad::kDamaged},
        {"replaced whole again", [&] { ASSERT_TRUE(rules::WriteHostListFile(path, lists.compiled.bytes)); },
         rules::HostListLoad::kLoaded},
        {"gone", [&] { std::filesystem::remove(path); }, rules::HostListLoad::kMissing},
    };
    rules::HostListView view, inUse;
    for (const auto& c : cases) {
        c.change();
        errno = EINTR;
        EXPECT_EQ(view.Load(path.c_str()), c.result) << c.what;
        EXPECT_EQ(errno, EINTR) << c.what;
        EXPECT_EQ(Name(view, "one.example"), c.result == rules::HostListLoad::kLoaded ? 1u : 0u) << c.what;
        // Taken only when whole: the lists in use stay otherwise.
        if (c.result == rules::HostListLoad::kLoaded)
            inUse.Swap(view);
        EXPECT_EQ(Name(inUse, "one.example"), 1u) << c.what;
    }
    std::filesystem::remove_all(folder);
}
