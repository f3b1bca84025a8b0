#pragma once

#include "rules/Port.h"
#include "rules/Words.h"

#include <vector>

namespace panel {

// A port entry with host names as the rules file keeps it, so that an
// engine that predates host names (it reads NUMBER and IPS alone) never
// permits more than meant: for an outgoing rule that permits, the port's
// addresses or else a range that covers nothing; for one that refuses or
// asks, its addresses and its names as two entries, the names' one without
// IPS, which such an engine takes for every address. A port without names,
// and the ports of incoming rules (whose peers have no names), stay as
// they are. port holds the addresses the user wrote (ShownAddresses).
std::vector<rules::Port> PortsForOlderReaders(const rules::Port& port, rules::Direction direction,
                                             rules::Permission permission);

}  // namespace panel
