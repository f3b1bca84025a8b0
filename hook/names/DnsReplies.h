#pragma once

#include "hook/descriptors/Peer.h"

#include <cstddef>
#include <sys/uio.h>

// Names learnt from the DNS answers the program receives itself (programs
// with a resolver of their own, browsers among them): every address of an
// answer is remembered under the name asked for and the names of its CNAME
// chain.
//
// Only the answer to a query the program sent teaches: over UDP one that
// came on the socket the query left from, from the address and port it went
// to, with the query's id and question (name, type, class); over TCP one
// read from the connection to port 53 the query was written on, with its id
// and question. The first such answer takes the query: a second one, a late
// duplicate, one with another id or one nobody asked for teaches nothing.
// Bounded work per message, nothing allocated, a fixed number of queries
// outstanding (the one asked longest ago gives way).
namespace hook {

// The largest part of one answer that is looked at; an answer's addresses
// come right after its question, well inside it.
constexpr size_t kDnsAnswerBytes = 4096;

// An answer already matched to its query, as a datagram carries it:
// returns how many addresses were learnt.
unsigned LearnFromDnsAnswer(const unsigned char* message, size_t size);

// DNS over UDP. A datagram the program sends on socket fd to peer (a name
// server's port 53): the query in it is outstanding until answered. A
// socket is known by its number and the number's generation
// (SocketTable.h): a query of a socket that was closed never matches the
// next socket given the same number.
void NoteDnsQuery(int fd, const Peer& peer, const iovec* parts, size_t count);
// A datagram the program received on fd from peer: learnt from when it
// answers a query outstanding there, which it takes. Returns how many
// addresses were learnt.
unsigned LearnFromDnsDatagram(int fd, const Peer& peer, const iovec* parts, size_t count, size_t size);

// DNS over TCP: each message goes with its length before it, and a write or
// a read may end anywhere. Both directions of a connection the program made
// to port 53 are followed message by message: the queries it wrote, and the
// answers it read (only the first kDnsAnswerBytes of each are kept); a few
// connections at a time. Starting one already followed changes nothing.
void StartDnsStream(int fd);
void FeedDnsQueries(int fd, const iovec* parts, size_t count, size_t size);
void FeedDnsStream(int fd, const iovec* parts, size_t count, size_t size);
void EndDnsStream(int fd);

// Around fork. The child sent none of the queries outstanding (its parent
// did, and may read their answers from the sockets they share): none is
// outstanding in it, so that no answer teaches twice.
void LockDnsForFork();
void UnlockDnsAfterFork(bool inChild);

}  // namespace hook
