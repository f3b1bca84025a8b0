// Any bytes as the compiled host lists file that every program maps: taken
// as they come, and again with the size and CRC a hostile writer would set
// right, so that the fuzzer reaches past the header. Looking names and
// addresses up never reads outside the bytes, never loops without end, and
// a file that is refused lists nothing.
#include "rules/hooksafe/HostListView.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

namespace {

void LookUp(const rules::HostListView& view, const uint8_t* data, size_t size)
{
    static const char* const kNames[] = {"one.example", "x.two.example", "a.b.c.d.e.f.g.h.i.j.k.example", "example",
                                         "EXAMPLE.ORG.", ""};
    for (const char* name : kNames)
        view.Name(name, std::strlen(name));
    // Names out of the bytes themselves: the pool's own texts among them.
    for (size_t at = 0; at + 1 < size && at < 64 * 1024; at += 97) {
        const size_t length = data[at] < size - at - 1 ? data[at] : size - at - 1;
        view.Name(reinterpret_cast<const char*>(data + at + 1), length);
    }
    for (uint32_t address : {0u, 0x0a000001u, 0x7f000001u, 0xffffffffu})
        view.Ipv4(address);
    for (uint64_t high : {0ull, 0x20010db800000000ull, ~0ull})
        for (uint64_t low : {0ull, 1ull, 0xffff0a000001ull, ~0ull})
            view.Ipv6(high, low);
    for (size_t i = 0; i < view.ListCount(); ++i)
        if (const auto* list = view.List(i); !list || list->bit >= 64 || list->length > rules::kMaxHostListTitle)
            __builtin_trap();
    if (view.List(view.ListCount()))
        __builtin_trap();
}

void Check(const std::vector<uint8_t>& bytes)
{
    rules::HostListView view;
    if (!view.Use(bytes.data(), bytes.size())) {
        // Refused: nothing listed.
        if (!view.Empty() || view.Name("one.example", 11) || view.Ipv4(0x0a000001u) || view.ListCount())
            __builtin_trap();
        return;
    }
    LookUp(view, bytes.data(), bytes.size());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    // Exact copies, so that a read one byte past the end is seen.
    Check(std::vector<uint8_t>(data, data + size));
    if (size < sizeof(rules::HostListFileHeader))
        return 0;
    std::vector<uint8_t> sealed(data, data + size);
    std::memcpy(sealed.data(), rules::kHostListMagic, sizeof rules::kHostListMagic);
    const uint32_t version = rules::kHostListVersion;
    std::memcpy(sealed.data() + offsetof(rules::HostListFileHeader, version), &version, sizeof version);
    const uint64_t fileSize = size;
    std::memcpy(sealed.data() + offsetof(rules::HostListFileHeader, fileSize), &fileSize, sizeof fileSize);
    const uint32_t crc = rules::HostListCrc(0, sealed.data() + rules::kHostListCrcStart, size - rules::kHostListCrcStart);
    std::memcpy(sealed.data() + offsetof(rules::HostListFileHeader, crc), &crc, sizeof crc);
    Check(sealed);
    return 0;
}
