#include "DnsAnswers.h"

#include "Memory.h"
#include "Names.h"

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

// The name at offset, decompressed into out in normal form (lower case,
// dots between labels, no trailing dot; "" for the root); at moves past the
// name where it stands. False for anything malformed or no host name.
bool ReadName(const unsigned char* message, size_t size, size_t& at, char* out)
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
        if (position + label > size || length + label + 1 > platform::kMaxHostName)
            return false;
        if (length > 0)
            out[length++] = '.';
        for (unsigned i = 0; i < label; ++i) {
            char c = static_cast<char>(message[position + i]);
            if (c >= 'A' && c <= 'Z')
                c = static_cast<char>(c - 'A' + 'a');
            if (!((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '_'))
                return false;
            out[length++] = c;
        }
        position += label;
    }
    if (!jumped)
        at = position;
    out[length] = '\0';
    return true;
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

}  // namespace

unsigned LearnFromDnsAnswer(const unsigned char* message, size_t size)
{
    if (!message || size < 12)
        return 0;
    const uint16_t flags = Read16(message + 2);
    const bool isAnswer = flags & 0x8000;
    const unsigned opcode = (flags >> 11) & 0x0F;
    const unsigned rcode = flags & 0x0F;
    if (!isAnswer || opcode != 0 || rcode != 0 || Read16(message + 4) != 1)
        return 0;
    const unsigned records = Read16(message + 6);
    Chain chain;
    size_t at = 12;
    if (!ReadName(message, size, at, chain.names[0]) || chain.names[0][0] == '\0' || at + 4 > size)
        return 0;
    chain.count = 1;
    at += 4; // the question's type and class
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

unsigned LearnFromDnsDatagram(const iovec* parts, size_t count, size_t size)
{
    if (count == 1 && parts[0].iov_len >= size)
        return LearnFromDnsAnswer(static_cast<const unsigned char*>(parts[0].iov_base), size);
    // Spread over several buffers: gathered, as much as is looked at.
    unsigned char gathered[1232];
    size_t filled = 0;
    for (size_t i = 0; i < count && filled < size && filled < sizeof gathered; ++i) {
        size_t take = parts[i].iov_len;
        if (take > size - filled)
            take = size - filled;
        if (take > sizeof gathered - filled)
            take = sizeof gathered - filled;
        std::memcpy(gathered + filled, parts[i].iov_base, take);
        filled += take;
    }
    return LearnFromDnsAnswer(gathered, filled);
}

// ---- DNS over TCP ---------------------------------------------------------------

namespace {

constexpr unsigned kStreams = 8;

struct Stream {
    int owner;          // the descriptor + 1; 0: free
    unsigned char head[2];
    unsigned headBytes; // of the length before the message
    size_t expected;    // the message's length
    size_t received;    // of it so far
    unsigned char message[kDnsAnswerBytes];
};

struct Streams {
    Stream streams[kStreams];
};

pthread_mutex_t g_streamsMutex = PTHREAD_MUTEX_INITIALIZER;
std::atomic<Streams*> g_streams {nullptr};

Stream* Find(Streams* streams, int fd)
{
    for (Stream& stream : streams->streams)
        if (stream.owner == fd + 1)
            return &stream;
    return nullptr;
}

void Consume(Stream& stream, const unsigned char* bytes, size_t size)
{
    while (size > 0) {
        if (stream.headBytes < 2) {
            stream.head[stream.headBytes++] = *bytes++;
            --size;
            if (stream.headBytes == 2) {
                stream.expected = Read16(stream.head);
                stream.received = 0;
            }
            continue;
        }
        size_t take = stream.expected - stream.received;
        if (take > size)
            take = size;
        if (stream.received < kDnsAnswerBytes) {
            const size_t kept = stream.received + take > kDnsAnswerBytes ? kDnsAnswerBytes - stream.received : take;
            std::memcpy(stream.message + stream.received, bytes, kept);
        }
        stream.received += take;
        bytes += take;
        size -= take;
        if (stream.received == stream.expected) {
            LearnFromDnsAnswer(stream.message, stream.expected < kDnsAnswerBytes ? stream.expected : kDnsAnswerBytes);
            stream.headBytes = 0;
        }
    }
}

}  // namespace

void StartDnsStream(int fd)
{
    Streams* streams = MapOnce(g_streams);
    if (!streams)
        return;
    pthread_mutex_lock(&g_streamsMutex);
    // Already followed (a second connect() finishing a non-blocking one):
    // it goes on where it is.
    Stream* stream = Find(streams, fd) ? nullptr : Find(streams, -1); // none free: this one teaches nothing
    if (stream) {
        stream->owner = fd + 1;
        stream->headBytes = 0;
        stream->expected = 0;
        stream->received = 0;
    }
    pthread_mutex_unlock(&g_streamsMutex);
}

void FeedDnsStream(int fd, const iovec* parts, size_t count, size_t size)
{
    Streams* streams = g_streams.load(std::memory_order_acquire);
    if (!streams)
        return;
    pthread_mutex_lock(&g_streamsMutex);
    if (Stream* stream = Find(streams, fd))
        for (size_t i = 0; i < count && size > 0; ++i) {
            const size_t take = parts[i].iov_len < size ? parts[i].iov_len : size;
            Consume(*stream, static_cast<const unsigned char*>(parts[i].iov_base), take);
            size -= take;
        }
    pthread_mutex_unlock(&g_streamsMutex);
}

void EndDnsStream(int fd)
{
    Streams* streams = g_streams.load(std::memory_order_acquire);
    if (!streams)
        return;
    pthread_mutex_lock(&g_streamsMutex);
    if (Stream* stream = Find(streams, fd))
        stream->owner = 0;
    pthread_mutex_unlock(&g_streamsMutex);
}

void LockDnsStreamsForFork() { pthread_mutex_lock(&g_streamsMutex); }
void UnlockDnsStreamsAfterFork() { pthread_mutex_unlock(&g_streamsMutex); }

}  // namespace hook
