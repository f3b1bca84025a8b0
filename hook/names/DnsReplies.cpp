#include "hook/names/DnsReplies.h"

#include "hook/Memory.h"
#include "hook/names/Names.h"
#include "hook/descriptors/SocketTable.h"

#include <atomic>
#include <cstdint>
#include <cstring>
#include <netinet/in.h>
#include <pthread.h>

namespace hook {

namespace {

constexpr unsigned kMaxRecords = 64;   // answer records looked at
constexpr unsigned kMaxChain = 8;      // the name asked for and its CNAME targets
constexpr unsigned kMaxJumps = 16;     // compression pointers followed in one name
constexpr uint16_t kTypeA = 1;
constexpr uint16_t kTypeCname = 5;
constexpr uint16_t kTypeAaaa = 28;
constexpr uint16_t kClassIn = 1;

uint16_t Read16(const unsigned char* at) { return static_cast<uint16_t>(at[0] << 8 | at[1]); }

// The name at offset, decompressed into out in normal form (lower case
// unless keepCase, dots between labels, no trailing dot; "" for the root);
// at moves past the name where it stands. False for anything malformed or
// no host name.
bool ReadName(const unsigned char* message, size_t size, size_t& at, char* out, bool keepCase = false)
{
    size_t position = at;
    size_t length = 0;
    unsigned jumps = 0;
    bool jumped = false;
    for (;;) {
        if (position >= size)
            return false;
        const unsigned char label = message[position];
        if ((label & 0xC0) == 0xC0) {
            if (position + 1 >= size || ++jumps > kMaxJumps)
                return false;
            if (!jumped)
                at = position + 2;
            jumped = true;
            position = static_cast<size_t>((label & 0x3F) << 8 | message[position + 1]);
            continue;
        }
        if (label & 0xC0)
            return false;
        ++position;
        if (label == 0)
            break;
        if (position + label > size || length + label + 1 > rules::kMaxHostName)
            return false;
        if (length > 0)
            out[length++] = '.';
        for (unsigned i = 0; i < label; ++i) {
            char c = static_cast<char>(message[position + i]);
            const char lower = c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
            if (!((lower >= 'a' && lower <= 'z') || (lower >= '0' && lower <= '9') || lower == '-' || lower == '_'))
                return false;
            out[length++] = keepCase ? c : lower;
        }
        position += label;
    }
    if (!jumped)
        at = position;
    out[length] = '\0';
    return true;
}

// What an answer must repeat of its query: the id and the question.
struct DnsQuestion {
    uint16_t id;
    uint16_t type;
    uint16_t dataClass;
    char name[kNameSize]; // in normal form but for its case
};

// The id and question of a message: a query (answer false) or an answer to
// one, with exactly one question, about a host name. at: past the question.
bool ReadQuestion(const unsigned char* message, size_t size, bool answer, DnsQuestion& question, size_t& at)
{
    if (!message || size < 12)
        return false;
    const uint16_t flags = Read16(message + 2);
    const bool isAnswer = flags & 0x8000;
    const unsigned opcode = (flags >> 11) & 0x0F;
    if (isAnswer != answer || opcode != 0 || Read16(message + 4) != 1)
        return false;
    at = 12;
    if (!ReadName(message, size, at, question.name, true) || question.name[0] == '\0' || at + 4 > size)
        return false;
    question.id = Read16(message);
    question.type = Read16(message + at);
    question.dataClass = Read16(message + at + 2);
    at += 4;
    return true;
}

// The name as the query spelt it, case and all: an answer must copy its
// question, and a resolver that varies the case of the names it asks for
// (against forgers) takes no other. One the program would not take must not
// teach, nor take the query from the answer it does take.
bool SameQuestion(const DnsQuestion& a, const DnsQuestion& b)
{
    return a.id == b.id && a.type == b.type && a.dataClass == b.dataClass && std::strcmp(a.name, b.name) == 0;
}

struct Chain {
    unsigned count = 0;
    char names[kMaxChain][kNameSize];

    bool Holds(const char* name) const
    {
        for (unsigned i = 0; i < count; ++i)
            if (std::strcmp(names[i], name) == 0)
                return true;
        return false;
    }
};

// Every name of the chain for the address; the name asked for last, so
// that it is the one an address is first known by.
void Remember(const Chain& chain, const sockaddr* address)
{
    for (unsigned i = chain.count; i-- > 0;)
        RememberNormalName(chain.names[i], address);
}

// The first bytes of a datagram spread over the program's buffers, in one
// piece: where it already is when it is in one buffer, else gathered into
// room. Returns where they are; filled: how many.
const unsigned char* Gathered(const iovec* parts, size_t count, size_t size, unsigned char* room, size_t roomSize,
                              size_t& filled)
{
    if (count >= 1 && parts[0].iov_len >= size) {
        filled = size;
        return static_cast<const unsigned char*>(parts[0].iov_base);
    }
    filled = 0;
    for (size_t i = 0; i < count && filled < size && filled < roomSize; ++i) {
        size_t take = parts[i].iov_len;
        if (take > size - filled)
            take = size - filled;
        if (take > roomSize - filled)
            take = roomSize - filled;
        std::memcpy(room + filled, parts[i].iov_base, take);
        filled += take;
    }
    return room;
}

// A query's header and question come first, well inside this.
constexpr size_t kQueryBytes = 512;
// The part of an answer spread over several buffers that is gathered: the
// size of an answer over UDP that needs no fragments.
constexpr size_t kGatheredAnswerBytes = 1232;

// Serialises the queries and connections below. Taken after the stand-ins'
// lock (a connection permitted while it stood in is followed from there)
// and before the names' (an answer read from a connection is learnt under
// it), the order the fork handlers take them in.
pthread_mutex_t g_mutex = PTHREAD_MUTEX_INITIALIZER;

}  // namespace

unsigned LearnFromDnsAnswer(const unsigned char* message, size_t size)
{
    Chain chain;
    DnsQuestion question;
    size_t at = 0;
    if (!ReadQuestion(message, size, true, question, at) || (Read16(message + 2) & 0x0F) != 0)
        return 0; // no answer, or no such name or another error
    for (size_t i = 0; i == 0 || question.name[i - 1] != '\0'; ++i) {
        const char c = question.name[i];
        chain.names[0][i] = c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
    }
    chain.count = 1;
    const unsigned records = Read16(message + 6);
    unsigned learnt = 0;
    char owner[kNameSize];
    char target[kNameSize];
    for (unsigned record = 0; record < records && record < kMaxRecords; ++record) {
        if (!ReadName(message, size, at, owner) || at + 10 > size)
            break;
        const uint16_t type = Read16(message + at);
        const uint16_t dataClass = Read16(message + at + 2);
        const size_t length = Read16(message + at + 8);
        at += 10;
        if (at + length > size)
            break;
        const size_t data = at;
        at += length;
        // Records come in the chain's order; one about another name is passed over.
        if (dataClass != kClassIn || !chain.Holds(owner))
            continue;
        if (type == kTypeCname) {
            size_t targetAt = data;
            if (chain.count < kMaxChain && ReadName(message, size, targetAt, target) && target[0] != '\0'
                && !chain.Holds(target))
                std::memcpy(chain.names[chain.count++], target, std::strlen(target) + 1);
        } else if (type == kTypeA && length == 4) {
            sockaddr_in in {};
            in.sin_family = AF_INET;
            std::memcpy(&in.sin_addr, message + data, 4);
            Remember(chain, reinterpret_cast<const sockaddr*>(&in));
            ++learnt;
        } else if (type == kTypeAaaa && length == 16) {
            sockaddr_in6 in6 {};
            in6.sin6_family = AF_INET6;
            std::memcpy(&in6.sin6_addr, message + data, 16);
            Remember(chain, reinterpret_cast<const sockaddr*>(&in6));
            ++learnt;
        }
    }
    return learnt;
}

// ---- DNS over UDP ---------------------------------------------------------------

namespace {

// Queries outstanding over every datagram socket: a resolver has a few at a
// time (glibc two on one socket, a browser some dozens); one not answered
// stays until newer ones push it out.
constexpr unsigned kOutstanding = 128;

struct Outstanding {
    int owner;           // the descriptor + 1; 0: free
    uint32_t generation; // of the descriptor's number when the query left
    uint32_t sent;       // when, on the table's clock
    Peer peer;
    DnsQuestion question;
};

struct Queries {
    uint32_t clock;
    unsigned used;
    Outstanding entries[kOutstanding];
};

std::atomic<Queries*> g_queries {nullptr};

bool IsFor(const Outstanding& entry, int fd, uint32_t generation, const Peer& peer, const DnsQuestion& question)
{
    return entry.owner == fd + 1 && entry.generation == generation && SameQuestion(entry.question, question)
        && SamePeer(entry.peer, peer);
}

}  // namespace

void NoteDnsQuery(int fd, const Peer& peer, const iovec* parts, size_t count)
{
    uint32_t generation = 0;
    if (!GenerationOf(fd, generation))
        return; // past the tables: its answers teach nothing
    size_t size = 0;
    for (size_t i = 0; i < count && size < kQueryBytes; ++i)
        size += parts[i].iov_len;
    unsigned char room[kQueryBytes];
    size_t filled = 0;
    const unsigned char* message = Gathered(parts, count, size, room, sizeof room, filled);
    DnsQuestion question;
    size_t at = 0;
    if (!ReadQuestion(message, filled, false, question, at))
        return;
    Queries* queries = MapOnce(g_queries);
    if (!queries)
        return;
    pthread_mutex_lock(&g_mutex);
    // The same query again (a resolver's retry) stays one: one answer.
    Outstanding* entry = nullptr;
    for (Outstanding& candidate : queries->entries)
        if (IsFor(candidate, fd, generation, peer, question)) {
            entry = &candidate;
            break;
        }
    // Else a free place, else the one sent longest ago.
    for (unsigned i = 0; !entry && i < kOutstanding; ++i)
        if (queries->entries[i].owner == 0)
            entry = &queries->entries[i];
    if (!entry) {
        entry = &queries->entries[0];
        for (Outstanding& candidate : queries->entries)
            if (queries->clock - candidate.sent > queries->clock - entry->sent)
                entry = &candidate;
    }
    if (entry->owner == 0)
        ++queries->used;
    entry->owner = fd + 1;
    entry->generation = generation;
    entry->sent = ++queries->clock;
    entry->peer = peer;
    entry->question = question;
    pthread_mutex_unlock(&g_mutex);
}

unsigned LearnFromDnsDatagram(int fd, const Peer& peer, const iovec* parts, size_t count, size_t size)
{
    Queries* queries = g_queries.load(std::memory_order_acquire);
    uint32_t generation = 0;
    if (!queries || !GenerationOf(fd, generation))
        return 0;
    unsigned char room[kGatheredAnswerBytes];
    size_t filled = 0;
    const unsigned char* message = Gathered(parts, count, size, room, sizeof room, filled);
    DnsQuestion question;
    size_t at = 0;
    if (!ReadQuestion(message, filled, true, question, at))
        return 0;
    bool asked = false;
    pthread_mutex_lock(&g_mutex);
    for (Outstanding& entry : queries->entries)
        if (IsFor(entry, fd, generation, peer, question)) {
            entry.owner = 0; // taken: the next answer to it teaches nothing
            --queries->used;
            asked = true;
            break;
        }
    pthread_mutex_unlock(&g_mutex);
    return asked ? LearnFromDnsAnswer(message, filled) : 0;
}

// ---- DNS over TCP ---------------------------------------------------------------

namespace {

constexpr unsigned kStreams = 8;
// Queries written on one connection and not answered yet: a resolver
// writes one or two (A and AAAA) and reads their answers.
constexpr unsigned kQueriesPerStream = 8;

// One direction of a connection: messages, each after its length.
struct Framing {
    unsigned char head[2];
    unsigned headBytes; // of the length before the message
    size_t expected;    // the message's length
    size_t received;    // of it so far
};

struct Stream {
    int owner; // the descriptor + 1; 0: free
    unsigned asked;
    DnsQuestion questions[kQueriesPerStream]; // written and not answered, the oldest first
    Framing written;
    Framing read;
    unsigned char query[kQueryBytes];
    unsigned char answer[kDnsAnswerBytes];
};

struct Streams {
    Stream streams[kStreams];
};

std::atomic<Streams*> g_streams {nullptr};

Stream* Find(Streams* streams, int fd)
{
    for (Stream& stream : streams->streams)
        if (stream.owner == fd + 1)
            return &stream;
    return nullptr;
}

// Follows bytes of one direction; whole(size) for each message completed,
// with its first capacity bytes in kept.
template <typename Whole>
void Consume(Framing& framing, unsigned char* kept, size_t capacity, const unsigned char* bytes, size_t size,
             Whole whole)
{
    while (size > 0) {
        if (framing.headBytes < 2) {
            framing.head[framing.headBytes++] = *bytes++;
            --size;
            if (framing.headBytes == 2) {
                framing.expected = Read16(framing.head);
                framing.received = 0;
            }
            continue;
        }
        size_t take = framing.expected - framing.received;
        if (take > size)
            take = size;
        if (framing.received < capacity) {
            const size_t keep = framing.received + take > capacity ? capacity - framing.received : take;
            std::memcpy(kept + framing.received, bytes, keep);
        }
        framing.received += take;
        bytes += take;
        size -= take;
        if (framing.received == framing.expected) {
            whole(framing.expected < capacity ? framing.expected : capacity);
            framing.headBytes = 0;
        }
    }
}

void Asked(Stream& stream, size_t size)
{
    DnsQuestion question;
    size_t at = 0;
    if (!ReadQuestion(stream.query, size, false, question, at))
        return;
    for (unsigned i = 0; i < stream.asked; ++i)
        if (SameQuestion(stream.questions[i], question))
            return;
    if (stream.asked == kQueriesPerStream) {
        std::memmove(&stream.questions[0], &stream.questions[1], sizeof stream.questions[0] * (kQueriesPerStream - 1));
        --stream.asked;
    }
    stream.questions[stream.asked++] = question;
}

void Answered(Stream& stream, size_t size)
{
    DnsQuestion question;
    size_t at = 0;
    if (!ReadQuestion(stream.answer, size, true, question, at))
        return;
    for (unsigned i = 0; i < stream.asked; ++i)
        if (SameQuestion(stream.questions[i], question)) {
            std::memmove(&stream.questions[i], &stream.questions[i + 1],
                         sizeof stream.questions[0] * (stream.asked - i - 1));
            --stream.asked;
            LearnFromDnsAnswer(stream.answer, size);
            return;
        }
}

template <typename Direction>
void Feed(int fd, const iovec* parts, size_t count, size_t size, Direction direction)
{
    Streams* streams = g_streams.load(std::memory_order_acquire);
    if (!streams)
        return;
    pthread_mutex_lock(&g_mutex);
    if (Stream* stream = Find(streams, fd))
        for (size_t i = 0; i < count && size > 0; ++i) {
            const size_t take = parts[i].iov_len < size ? parts[i].iov_len : size;
            direction(*stream, static_cast<const unsigned char*>(parts[i].iov_base), take);
            size -= take;
        }
    pthread_mutex_unlock(&g_mutex);
}

}  // namespace

void StartDnsStream(int fd)
{
    Streams* streams = MapOnce(g_streams);
    if (!streams)
        return;
    pthread_mutex_lock(&g_mutex);
    // Already followed (a second connect() finishing a non-blocking one):
    // it goes on where it is.
    Stream* stream = Find(streams, fd) ? nullptr : Find(streams, -1); // none free: this one teaches nothing
    if (stream) {
        stream->owner = fd + 1;
        stream->asked = 0;
        stream->written = Framing();
        stream->read = Framing();
    }
    pthread_mutex_unlock(&g_mutex);
}

void FeedDnsQueries(int fd, const iovec* parts, size_t count, size_t size)
{
    Feed(fd, parts, count, size, [](Stream& stream, const unsigned char* bytes, size_t take) {
        Consume(stream.written, stream.query, sizeof stream.query, bytes, take,
                [&stream](size_t whole) { Asked(stream, whole); });
    });
}

void FeedDnsStream(int fd, const iovec* parts, size_t count, size_t size)
{
    Feed(fd, parts, count, size, [](Stream& stream, const unsigned char* bytes, size_t take) {
        Consume(stream.read, stream.answer, sizeof stream.answer, bytes, take,
                [&stream](size_t whole) { Answered(stream, whole); });
    });
}

void EndDnsStream(int fd)
{
    Streams* streams = g_streams.load(std::memory_order_acquire);
    if (!streams)
        return;
    pthread_mutex_lock(&g_mutex);
    if (Stream* stream = Find(streams, fd))
        stream->owner = 0;
    pthread_mutex_unlock(&g_mutex);
}

void LockDnsForFork() { pthread_mutex_lock(&g_mutex); }

void UnlockDnsAfterFork(bool inChild)
{
    if (inChild) {
        if (Queries* queries = g_queries.load(std::memory_order_acquire); queries && queries->used > 0) {
            for (Outstanding& entry : queries->entries)
                entry.owner = 0;
            queries->used = 0;
        }
        if (Streams* streams = g_streams.load(std::memory_order_acquire))
            for (Stream& stream : streams->streams)
                stream.asked = 0;
    }
    pthread_mutex_unlock(&g_mutex);
}

}  // namespace hook
