#include "hook/names/DnsReplies.h"

#include "hook/Memory.h"
#include "hook/names/DnsMessage.h"
#include "hook/names/Names.h"
#include "hook/descriptors/SocketTable.h"

#include <atomic>
#include <cstdint>
#include <cstring>
#include <netinet/in.h>
#include <pthread.h>

namespace hook {

namespace {

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

unsigned LearnFromDnsAnswer(const unsigned char* message, size_t size) { return dns::LearnFromAnswer(message, size); }

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
    dns::DnsQuestion question;
};

struct Queries {
    uint32_t clock;
    unsigned used;
    Outstanding entries[kOutstanding];
};

std::atomic<Queries*> g_queries {nullptr};

// A datagram's first bytes in one piece (gathered into room when spread)
// with its question; null when it has none.
template <size_t kRoom>
const unsigned char* WithQuestion(const iovec* parts, size_t count, size_t size, unsigned char (&room)[kRoom],
                                  bool answer, dns::DnsQuestion& question, size_t& filled)
{
    const unsigned char* message = dns::Gathered(parts, count, size, room, kRoom, filled);
    size_t at = 0;
    return dns::ReadQuestion(message, filled, answer, question, at) ? message : nullptr;
}

bool IsFor(const Outstanding& entry, int fd, uint32_t generation, const Peer& peer, const dns::DnsQuestion& question)
{
    return entry.owner == fd + 1 && entry.generation == generation && dns::SameQuestion(entry.question, question)
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
    dns::DnsQuestion question;
    if (!WithQuestion(parts, count, size, room, false, question, filled))
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
    dns::DnsQuestion question;
    const unsigned char* message = WithQuestion(parts, count, size, room, true, question, filled);
    if (!message)
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
    dns::DnsQuestion questions[kQueriesPerStream]; // written and not answered, the oldest first
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
                framing.expected = dns::Read16(framing.head);
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

// Where the question of a message stands among the stream's questions
// written and not answered: its index, stream.asked when it is not among
// them, -1 when the message has no question (of a query, or of an answer).
int Place(const Stream& stream, const unsigned char* message, size_t size, bool answer, dns::DnsQuestion& question)
{
    size_t at = 0;
    if (!dns::ReadQuestion(message, size, answer, question, at))
        return -1;
    unsigned i = 0;
    while (i < stream.asked && !dns::SameQuestion(stream.questions[i], question))
        ++i;
    return static_cast<int>(i);
}

void Remove(Stream& stream, unsigned i)
{
    std::memmove(&stream.questions[i], &stream.questions[i + 1], sizeof stream.questions[0] * (stream.asked - i - 1));
    --stream.asked;
}

void Asked(Stream& stream, size_t size)
{
    dns::DnsQuestion question;
    if (Place(stream, stream.query, size, false, question) != static_cast<int>(stream.asked))
        return; // none, or asked already
    if (stream.asked == kQueriesPerStream)
        Remove(stream, 0);
    stream.questions[stream.asked++] = question;
}

void Answered(Stream& stream, size_t size)
{
    dns::DnsQuestion question;
    const int place = Place(stream, stream.answer, size, true, question);
    if (place < 0 || place == static_cast<int>(stream.asked))
        return; // none, or not asked
    Remove(stream, static_cast<unsigned>(place));
    LearnFromDnsAnswer(stream.answer, size);
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
