// Any bytes as a name server's answer, as every program's hook reads them:
// the reader stays inside the message, learns no more addresses than the
// answer holds records, and what it remembers is a name it can say.
#include "hook/names/DnsReplies.h"
#include "hook/names/Names.h"

#include <arpa/inet.h>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    // Exactly the bytes given, so that reading one past them is caught.
    const std::vector<unsigned char> message(data, data + size);
    const unsigned learnt = hook::LearnFromDnsAnswer(message.data(), message.size());
    const unsigned records = size >= 8 ? (static_cast<unsigned>(data[6]) << 8 | data[7]) : 0;
    if (learnt > records)
        __builtin_trap();
    // An IPv4 answer's first address, when there is one that fits.
    if (learnt > 0 && size >= 4) {
        char address[INET_ADDRSTRLEN];
        ::inet_ntop(AF_INET, data + size - 4, address, sizeof address);
        hook::KnownNames known;
        hook::NamesOf(address, known);
        for (unsigned i = 0; i < known.count; ++i)
            if (known.names[i][0] == '\0' || std::memchr(known.names[i], '\0', hook::kNameSize) == nullptr)
                __builtin_trap();
    }
    return 0;
}
