#include "Names.h"

#include "Memory.h"
#include "Peer.h"
#include "platform/HostName.h"

#include <atomic>
#include <cstdint>
#include <cstring>
#include <pthread.h>

namespace hook {

namespace {

// 1,024 addresses (about 300 kB, touched only where names land), each at a
// place its hash picks or one of the next few.
// A decision reads without a lock or an allocation: each slot carries a
// sequence, odd while a lookup of the program writes it, and a reader that
// sees it change looks again. Bytes move as relaxed atomics so that a read
// racing a write is a stale copy, never undefined behaviour.
constexpr unsigned kSlots = 1024;
constexpr unsigned kProbe = 8;
constexpr unsigned kAddressSize = INET6_ADDRSTRLEN;
constexpr unsigned kNameSize = platform::kMaxHostName + 1;

struct Slot {
    std::atomic<uint32_t> sequence;
    std::atomic<char> address[kAddressSize];
    std::atomic<char> name[kNameSize];
};

struct Memory {
    Slot slots[kSlots];
    unsigned next; // writers only: which of a full neighbourhood gives way
};

pthread_mutex_t g_writers = PTHREAD_MUTEX_INITIALIZER;
std::atomic<Memory*> g_memory {nullptr}; // made at the first name

uint32_t Hash(const char* text)
{
    uint32_t hash = 2166136261u;
    for (; *text; ++text)
        hash = (hash ^ static_cast<unsigned char>(*text)) * 16777619u;
    return hash;
}

void Store(std::atomic<char>* to, const char* from, unsigned size)
{
    const size_t length = strnlen(from, size - 1);
    for (size_t i = 0; i < length; ++i)
        to[i].store(from[i], std::memory_order_relaxed);
    to[length].store('\0', std::memory_order_relaxed);
}

// Copies the text up to its end; false when it does not fit.
bool Load(const std::atomic<char>* from, char* to, unsigned size)
{
    for (unsigned i = 0; i < size; ++i) {
        to[i] = from[i].load(std::memory_order_relaxed);
        if (to[i] == '\0')
            return true;
    }
    return false;
}

// The slot's address and name as they were between two even, equal sequences.
bool ReadSlot(const Slot& slot, char* address, char* name)
{
    for (int attempt = 0; attempt < 4; ++attempt) {
        const uint32_t before = slot.sequence.load(std::memory_order_acquire);
        if (before == 0)
            return false; // never written
        if (before & 1u)
            continue;
        const bool whole = Load(slot.address, address, kAddressSize) && Load(slot.name, name, kNameSize);
        std::atomic_thread_fence(std::memory_order_acquire);
        if (whole && slot.sequence.load(std::memory_order_relaxed) == before)
            return true;
    }
    return false; // written over and over meanwhile: as if unknown
}

}  // namespace

void RememberName(const char* asked, const sockaddr* address)
{
    char text[kAddressSize] = {};
    // Kept as rules compare names (lower case, no trailing dot); what is no
    // host name (an address written out, odd characters) is not kept.
    char name[kNameSize];
    if (!asked || platform::NormalizeHostName(asked, strnlen(asked, platform::kMaxHostName + 2), name, sizeof name) == 0
        || !AddressText(address, text, sizeof text))
        return;
    Memory* memory = MapOnce(g_memory);
    if (!memory)
        return;
    pthread_mutex_lock(&g_writers);
    const uint32_t home = Hash(text) % kSlots;
    Slot* slot = nullptr;
    char stored[kAddressSize];
    char storedName[kNameSize];
    // The address's own slot, else an empty one, else one of the
    // neighbourhood in turn: only ever this address's place is written.
    for (unsigned i = 0; i < kProbe && !slot; ++i) {
        Slot& candidate = memory->slots[(home + i) % kSlots];
        if (candidate.sequence.load(std::memory_order_relaxed) == 0
            || (ReadSlot(candidate, stored, storedName) && std::strcmp(stored, text) == 0))
            slot = &candidate;
    }
    if (!slot)
        slot = &memory->slots[(home + memory->next++ % kProbe) % kSlots];
    // Writers take turns, so the sequence is even here: odd while writing.
    const uint32_t sequence = slot->sequence.load(std::memory_order_relaxed);
    slot->sequence.store(sequence + 1, std::memory_order_relaxed);
    std::atomic_thread_fence(std::memory_order_release);
    Store(slot->address, text, kAddressSize);
    Store(slot->name, name, kNameSize);
    slot->sequence.store(sequence + 2, std::memory_order_release);
    pthread_mutex_unlock(&g_writers);
}

bool NameOf(const char* address, char* name, unsigned size)
{
    const Memory* memory = g_memory.load(std::memory_order_acquire);
    if (!memory || !address || size == 0)
        return false;
    const uint32_t home = Hash(address) % kSlots;
    char stored[kAddressSize];
    char storedName[kNameSize];
    for (unsigned i = 0; i < kProbe; ++i) {
        const Slot& slot = memory->slots[(home + i) % kSlots];
        if (slot.sequence.load(std::memory_order_acquire) == 0)
            return false; // the probe ends at a slot never used
        if (ReadSlot(slot, stored, storedName) && std::strcmp(stored, address) == 0) {
            const size_t length = strnlen(storedName, size - 1);
            std::memcpy(name, storedName, length);
            name[length] = '\0';
            return true;
        }
    }
    return false;
}

void LockNamesForFork() { pthread_mutex_lock(&g_writers); }
void UnlockNamesAfterFork() { pthread_mutex_unlock(&g_writers); }

}  // namespace hook
