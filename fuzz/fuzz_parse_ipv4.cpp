// Any text as an address: only the given bytes are read, and whatever is
// accepted has the documented form.
#include "engine/RuleTable.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    // A copy of exactly the input's size, so that any read past it is caught.
    std::unique_ptr<char[]> copy(new char[size ? size : 1]);
    std::memcpy(copy.get(), data, size);
    const std::string_view text(copy.get(), size);
    const auto value = engine::ParseIpv4(text);
    if (value) {
        int dots = 0;
        for (char c : text) {
            if (c == '.')
                ++dots;
            else if (c < '0' || c > '9')
                __builtin_trap();
        }
        if (dots != 3 || size > 19)
            __builtin_trap();
    }
    engine::RuleTable table;
    std::string nulTerminated(text);
    table.AddEntry(80, 1, 1, nulTerminated.c_str());
    return 0;
}
