// Any bytes as a compiled translation: never a read past them, and an
// answer always ended within the buffer given.
#include "text/hooksafe/QmCatalog.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    // A copy of exactly that size, so that the sanitizer sees any overread.
    const std::vector<unsigned char> bytes(data, data + size);
    text::QmCatalog catalog;
    catalog.Use(bytes.data(), bytes.size());
    const char* keys[][3] = {{"files", "%n file(s) copied", ""}, {"files", "Open", "verb"}, {"files", "Open", "state"},
                             {"files", "Close", nullptr}, {"smile", "Smile", nullptr}, {"", "", ""}};
    for (const auto& key : keys)
        for (int n : {-1, 0, 1, 2, 5, 11, 1000, 2147483647}) {
            char out[64];
            std::memset(out, 'x', sizeof out);
            const long length = catalog.Find(key[0], key[1], key[2], n, out, 16);
            // (A translation may hold a NUL of its own: the end is where the length says.)
            if (length >= 0 && out[size_t(length) < 16 ? size_t(length) : 15] != '\0')
                std::abort();
            if (out[16] != 'x')
                std::abort();
        }
    return 0;
}
