#pragma once

#include "rules/Words.h"

#include <optional>
#include <string>
#include <vector>

namespace rules {

// One port entry of a rule: a port (or every port) and the peers it covers.
struct Port {
    std::string alias; // ALIAS: the port's name as the ports list gives it, shown only
    // NUMBER as written: a port number (see PortOf), "0" for every port;
    // nullopt when the element is missing. One missing or none is read as
    // MeaningOf (Rule.h) says.
    std::optional<std::string> number;
    // IPS: the addresses and ranges as written; every reader parses them.
    // nullopt when the port has no IPS (every address, unless it names
    // hosts); empty when its IPS holds nothing (no address at all).
    std::optional<std::vector<std::string>> addresses;
    // HOSTS: host patterns as written (outgoing rules); nullopt when there
    // is none. An outgoing port with HOSTS and without IPS covers the peers
    // of those names alone.
    std::optional<std::vector<std::string>> hosts;

    // A port entry of number (0: every port) for every address.
    static Port Numbered(int number);
    // The port number; nullopt when NUMBER is missing or is none.
    std::optional<int> Number() const;
    // The addresses a person wrote: without the range that covers nothing,
    // which only tells readers that predate host names not to permit a
    // port of host names.
    std::vector<std::string> ShownAddresses() const;

    bool operator==(const Port&) const = default;
};

// A port entry with host names as the rules file keeps it, so that an
// engine that predates host names (it reads NUMBER and IPS alone) never
// permits more than meant: for an outgoing rule that permits, the port's
// addresses or else a range that covers nothing; for one that refuses or
// asks, its addresses and its names as two entries, the names' one without
// IPS, which such an engine takes for every address. A port without names,
// and the ports of incoming rules (whose peers have no names), stay as
// they are. The writer writes every port so; the panel makes its ports so,
// that what it holds is what the file has.
std::vector<Port> PortsForOlderReaders(const Port& port, Direction direction, Permission permission);

}  // namespace rules
