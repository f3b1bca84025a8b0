#pragma once

#include "protocol/ReviewList.h"
#include "rules/Rule.h"

#include <optional>
#include <span>

namespace panel {

// How much a rule made on the Review page covers.
enum class ReviewScope {
    kHostAndPort, // each peer's host name or address on its port
    kPort,        // each peer's port, from or to every address
    kAny,         // every port and address
};

// The rule that allows or blocks connections like the peers (all of one
// direction) within the scope, for the rule editor to start from; its name
// is kept in the rules file, in English as the rule lists word a rule.
// The list is written by the programs themselves: nullopt (nothing to
// make) when a peer's port is none (0 would mean every port) or, for its
// host, its text is neither one address nor one plain host name (a
// wildcard or a range would cover more than the peer).
std::optional<rules::Rule> ReviewRule(std::span<const protocol::review::Peer> peers, bool allow, ReviewScope scope);

}  // namespace panel
