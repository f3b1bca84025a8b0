#pragma once

#include "hook/descriptors/SocketTable.h"

#include <cstdint>

// What the hook knows of one descriptor, read once at the top of a wrapped
// call and handed down to its decision: one lookup of the descriptor's
// block instead of one per question (kind, marks, port, decided peer).
//
// The facts are those of the moment the view was taken. What a decision
// writes back through a view (a peer it permitted) holds only while the
// number is still the view's socket: a number closed and given to another
// socket meanwhile, on another thread, never inherits a verdict.
namespace hook {

struct SocketView {
    int fd = -1;
    Kind kind = kUnknown;
    unsigned char marks = 0; // kMarkRefused, kMarkKept, kMarkStandsIn
    bool dnsStream = false;
    bool portKnown = false;
    unsigned port = 0;
    uint64_t decidedPeer = 0;
    uint32_t generation = 0;
    // Where the facts were read (the tables' blocks are never given back);
    // null when the number has none yet.
    void* block = nullptr;
    unsigned at = 0;
};

SocketView View(int fd);
// The kind, asked of the kernel when the view does not know it (KindOf).
Kind KindOf(SocketView& view);
// The local port, asked of the kernel when the view does not know it (LocalPortOf).
unsigned LocalPortOf(SocketView& view);
// The peer a TCP connection was permitted to (SetDecidedPeer), kept only
// while the number is still the view's socket: false when it was not kept.
bool SetDecidedPeer(SocketView& view, uint64_t peer);
// A TCP connection the program made to port 53 (SetDnsStream).
void SetDnsStream(const SocketView& view);

}  // namespace hook
