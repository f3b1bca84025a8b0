#pragma once

#include <cstddef>
#include <sys/uio.h>

// Names learnt from the DNS answers the program receives itself (programs
// with a resolver of their own, browsers among them): every address of an
// answer is remembered under the name asked for and the names of its CNAME
// chain. Bounded work per answer (a fixed number of records, of chain links
// and of compression pointers followed), nothing allocated.
namespace hook {

// The largest part of one answer that is looked at; an answer's addresses
// come right after its question, well inside it.
constexpr size_t kDnsAnswerBytes = 4096;

// A whole DNS message as a datagram carries it; returns how many addresses
// were learnt.
unsigned LearnFromDnsAnswer(const unsigned char* message, size_t size);
// The same for a datagram the program received into its buffers (size bytes).
unsigned LearnFromDnsDatagram(const iovec* parts, size_t count, size_t size);

// DNS over TCP: each message goes with its length before it, and a read may
// end anywhere. The bytes a program read from a connection it made to port
// 53 are followed message by message (only the first kDnsAnswerBytes of
// each are kept); a few connections at a time. Starting one already
// followed changes nothing.
void StartDnsStream(int fd);
void FeedDnsStream(int fd, const iovec* parts, size_t count, size_t size);
void EndDnsStream(int fd);
void LockDnsStreamsForFork();
void UnlockDnsStreamsAfterFork();

}  // namespace hook
