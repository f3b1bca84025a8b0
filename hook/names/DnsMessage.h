#pragma once

#include "hook/names/Names.h"

#include <cstddef>
#include <cstdint>
#include <sys/uio.h>

// A DNS message as the hook reads it inside every program: bounded work
// (a fixed number of records, of names in a chain, of compression pointers
// in a name), nothing allocated, never a byte past the message's size.
namespace hook::dns {

inline uint16_t Read16(const unsigned char* at) { return static_cast<uint16_t>(at[0] << 8 | at[1]); }

// The name at offset, decompressed into out (kNameSize) in normal form
// (lower case unless keepCase, dots between labels, no trailing dot; "" for
// the root); at moves past the name where it stands. False for anything
// malformed or no host name.
bool ReadName(const unsigned char* message, size_t size, size_t& at, char* out, bool keepCase = false);

// What an answer must repeat of its query: the id and the question.
struct DnsQuestion {
    uint16_t id;
    uint16_t type;
    uint16_t dataClass;
    char name[kNameSize]; // in normal form but for its case
};

// The id and question of a message: a query (answer false) or an answer to
// one, with exactly one question, about a host name. at: past the question.
bool ReadQuestion(const unsigned char* message, size_t size, bool answer, DnsQuestion& question, size_t& at);

// The name as the query spelt it, case and all: an answer must copy its
// question, and a resolver that varies the case of the names it asks for
// (against forgers) takes no other. One the program would not take must not
// teach, nor take the query from the answer it does take.
bool SameQuestion(const DnsQuestion& a, const DnsQuestion& b);

// The first bytes of a datagram spread over the program's buffers, in one
// piece: where it already is when it is in one buffer, else gathered into
// room. Returns where they are; filled: how many.
const unsigned char* Gathered(const iovec* parts, size_t count, size_t size, unsigned char* room, size_t roomSize,
                              size_t& filled);

// An answer already matched to its query: every address of it remembered
// under the name asked for and its CNAME chain (Names.h). Returns how many
// addresses were learnt.
unsigned LearnFromAnswer(const unsigned char* message, size_t size);

}  // namespace hook::dns
