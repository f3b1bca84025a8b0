// The bounded reading of a DNS message (DnsMessage.h).
#include "hook/names/DnsMessage.h"

#include <cstring>
#include <netinet/in.h>

namespace hook::dns {

namespace {

constexpr unsigned kMaxRecords = 64;   // answer records looked at
constexpr unsigned kMaxChain = 8;      // the name asked for and its CNAME targets
constexpr unsigned kMaxJumps = 16;     // compression pointers followed in one name
constexpr uint16_t kTypeA = 1;
constexpr uint16_t kTypeCname = 5;
constexpr uint16_t kTypeAaaa = 28;
constexpr uint16_t kClassIn = 1;

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

bool ReadName(const unsigned char* message, size_t size, size_t& at, char* out, bool keepCase)
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

bool SameQuestion(const DnsQuestion& a, const DnsQuestion& b)
{
    return a.id == b.id && a.type == b.type && a.dataClass == b.dataClass && std::strcmp(a.name, b.name) == 0;
}

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

unsigned LearnFromAnswer(const unsigned char* message, size_t size)
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

}  // namespace hook::dns
