#pragma once

#include "rules/AddressRange.h"
#include "rules/hooksafe/HostListView.h"
#include "rules/hooksafe/Names.h"

#include <optional>
#include <string_view>

namespace engine {

// The names a program knows a peer by, in their normal form (anything that
// has none is no name), at most kMost of them, each with its index in the
// list the program gave. Lives on the stack.
struct PeerNames {
    static constexpr unsigned kMost = 4;
    char text[kMost][rules::kMaxHostName + 1];
    const char* normal[kMost] = {};
    int given[kMost] = {};
    unsigned count = 0;

    // names: the most recently learnt first; an incoming peer has none.
    void Take(const char* const* names, unsigned nameCount, bool incoming);
};

// One connection a decision is asked about, made once where a call comes
// in and passed down: the texts and numbers as the caller gave them (the
// records write those), the peer's address parsed once for everything that
// matches it.
struct Connection {
    int direction = 0; // engine::Direction as given: every value but kIncoming is outgoing
    int protocol = 1;  // as given: 1 TCP, anything else a datagram
    unsigned localPort = 0;
    unsigned remotePort = 0;
    const char* addressText = ""; // never null
    std::optional<rules::PeerAddress> address; // none: the peer is no address
    const char* const* names = nullptr; // normalised
    unsigned nameCount = 0;

    Connection(unsigned localPortGiven, int directionGiven, const char* remoteAddress, int protocolGiven,
               unsigned remotePortGiven);

    bool Incoming() const { return direction == 0; } // engine::kIncoming
    bool Datagram() const { return protocol != 1; }
    // The port rules look at: the local one for incoming, else the peer's.
    unsigned RulePort() const { return Incoming() ? localPort : remotePort; }
    void UseNames(const PeerNames& peerNames)
    {
        names = peerNames.normal;
        nameCount = peerNames.count;
    }
};

// What a decision came to: kPermit, kDeny or kAsk, why (a log_reason; null
// for kAsk), the index among the connection's names of the one a host
// entry or list decided by (-1: none), and the host list that refused it
// (empty: none).
struct Verdict {
    int result = 0;
    const char* reason = nullptr;
    int matchedName = -1;
    char list[rules::kMaxHostListTitle + 1] = {};
};

}  // namespace engine
