#include "engine/Connection.h"

#include "engine/RuleTable.h"

#include <cstring>

namespace engine {

void PeerNames::Take(const char* const* names, unsigned nameCount, bool incoming)
{
    count = 0;
    for (unsigned i = 0; names && !incoming && i < nameCount && count < kMost; ++i)
        if (const char* name = names[i];
            name && rules::NormalizeHostName(name, strnlen(name, rules::kMaxHostName + 2), text[count],
                                                sizeof text[count]) != 0) {
            normal[count] = text[count];
            given[count++] = static_cast<int>(i);
        }
}

Connection::Connection(unsigned localPortGiven, int directionGiven, const char* remoteAddress, int protocolGiven,
                       unsigned remotePortGiven)
    : direction(directionGiven),
      protocol(protocolGiven),
      localPort(localPortGiven),
      remotePort(remotePortGiven),
      addressText(remoteAddress ? remoteAddress : ""),
      address(rules::ParseAddress(addressText))
{
}

static_assert(kIncoming == 0, "Connection::Incoming compares with it");

}  // namespace engine
