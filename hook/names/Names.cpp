#include "hook/names/Names.h"

#include "hook/Memory.h"
#include "hook/descriptors/Peer.h"

#include <atomic>
#include <cstdint>
#include <cstring>
#include <pthread.h>
#include <sched.h>

namespace hook {

namespace {

// 1,024 addresses (about 1 MB of address space, touched only where names
// land), each at a place its hash picks or one of the next few.
// A decision reads without a lock or an allocation: each slot carries a
// sequence, odd while a lookup of the program writes it, and a reader that
// sees it change looks again. Bytes move as relaxed atomics so that a read
// racing a write is a stale copy, never undefined behaviour.
constexpr unsigned kSlots = 1024;
constexpr unsigned kProbe = 8;
constexpr unsigned kAddressSize = INET6_ADDRSTRLEN;

struct Slot {
    std::atomic<uint32_t> sequence;
    std::atomic<char> address[kAddressSize];
    std::atomic<uint32_t> count;
    // The most recently learnt first.
    std::atomic<char> names[kNamesPerAddress][kNameSize];
};

struct Memory {
    Slot slots[kSlots];
    unsigned next; // writers only: which of a full neighbourhood gives way
};

pthread_mutex_t g_writers = PTHREAD_MUTEX_INITIALIZER;
// Set while this thread writes a slot: a signal handler that decides a
// connection meanwhile must not wait for the lock its own thread holds.
__attribute__((tls_model("initial-exec"))) thread_local bool t_writing = false;
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

// The slot's address as it was between two even, equal sequences, and its
// names when names is given.
bool ReadSlot(const Slot& slot, char* address, KnownNames* names)
{
    for (int attempt = 0; attempt < 16; ++attempt) {
        // A writer in the middle of the slot: let it finish (it may be the
        // thread this one displaced on the processor).
        if (attempt >= 4)
            sched_yield();
        const uint32_t before = slot.sequence.load(std::memory_order_acquire);
        if (before == 0)
            return false; // never written
        if (before & 1u)
            continue;
        bool whole = Load(slot.address, address, kAddressSize);
        if (whole && names) {
            names->count = slot.count.load(std::memory_order_relaxed);
            if (names->count > kNamesPerAddress)
                whole = false;
            for (unsigned i = 0; whole && i < names->count; ++i)
                whole = Load(slot.names[i], names->names[i], kNameSize);
        }
        std::atomic_thread_fence(std::memory_order_acquire);
        if (whole && slot.sequence.load(std::memory_order_relaxed) == before)
            return true;
    }
    return false; // written over and over meanwhile: the caller reads it under the writers' lock
}

// Writers take turns: the slot's own sequence is even here.
void Write(Slot& slot, const char* address, const KnownNames& names)
{
    const uint32_t sequence = slot.sequence.load(std::memory_order_relaxed);
    slot.sequence.store(sequence + 1, std::memory_order_relaxed);
    std::atomic_thread_fence(std::memory_order_release);
    Store(slot.address, address, kAddressSize);
    slot.count.store(names.count, std::memory_order_relaxed);
    for (unsigned i = 0; i < names.count; ++i)
        Store(slot.names[i], names.names[i], kNameSize);
    slot.sequence.store(sequence + 2, std::memory_order_release);
}

}  // namespace

void RememberName(const char* asked, const sockaddr* address)
{
    // Kept as rules compare names (lower case, no trailing dot); what is no
    // host name (an address written out, odd characters) is not kept.
    char name[kNameSize];
    if (asked && rules::NormalizeHostName(asked, strnlen(asked, rules::kMaxHostName + 2), name, sizeof name) != 0)
        RememberNormalName(name, address);
}

void RememberNormalName(const char* name, const sockaddr* address)
{
    char text[kAddressSize] = {};
    if (!name || !*name || !AddressText(address, text, sizeof text))
        return;
    Memory* memory = MapOnce(g_memory);
    if (!memory)
        return;
    pthread_mutex_lock(&g_writers);
    t_writing = true;
    const uint32_t home = Hash(text) % kSlots;
    Slot* slot = nullptr;
    char stored[kAddressSize];
    KnownNames names;
    // The address's own slot, else an empty one, else one of the
    // neighbourhood in turn: only ever this address's place is written.
    for (unsigned i = 0; i < kProbe && !slot; ++i) {
        Slot& candidate = memory->slots[(home + i) % kSlots];
        if (candidate.sequence.load(std::memory_order_relaxed) == 0) {
            slot = &candidate;
            names.count = 0;
        } else if (ReadSlot(candidate, stored, &names) && std::strcmp(stored, text) == 0) {
            slot = &candidate;
        }
    }
    if (!slot) {
        slot = &memory->slots[(home + memory->next++ % kProbe) % kSlots];
        names.count = 0;
    }
    // The name goes first; an older copy of it, or the oldest name when all
    // places are taken, gives way.
    KnownNames updated;
    updated.count = 1;
    std::memcpy(updated.names[0], name, strnlen(name, kNameSize - 1) + 1);
    for (unsigned i = 0; i < names.count && updated.count < kNamesPerAddress; ++i)
        if (std::strcmp(names.names[i], name) != 0)
            std::memcpy(updated.names[updated.count++], names.names[i], std::strlen(names.names[i]) + 1);
    Write(*slot, text, updated);
    t_writing = false;
    pthread_mutex_unlock(&g_writers);
}

namespace {

// Looks for the address's slot; false when a slot of its neighbourhood was
// being written throughout, so that whether the address is known cannot
// be told without the writers' lock.
bool FindNames(const Memory& memory, const char* address, KnownNames& known)
{
    const uint32_t home = Hash(address) % kSlots;
    char stored[kAddressSize];
    for (unsigned i = 0; i < kProbe; ++i) {
        const Slot& slot = memory.slots[(home + i) % kSlots];
        if (slot.sequence.load(std::memory_order_acquire) == 0)
            break; // the probe ends at a slot never used
        if (ReadSlot(slot, stored, &known)) {
            if (std::strcmp(stored, address) == 0)
                return true;
        } else {
            known.count = 0;
            return false;
        }
    }
    known.count = 0;
    return true;
}

}  // namespace

void NamesOf(const char* address, KnownNames& known)
{
    known.count = 0;
    const Memory* memory = g_memory.load(std::memory_order_acquire);
    if (!memory || !address)
        return;
    // Read without a lock; only a reader that met a slot being rewritten
    // over and over waits for the writers, rather than take the address as
    // one of no name (which a rule about its name would then not hold for).
    if (FindNames(*memory, address, known) || t_writing)
        return;
    pthread_mutex_lock(&g_writers);
    FindNames(*memory, address, known);
    pthread_mutex_unlock(&g_writers);
}

bool NameOf(const char* address, char* name, unsigned size)
{
    KnownNames known;
    NamesOf(address, known);
    if (known.count == 0 || size == 0)
        return false;
    const size_t length = strnlen(known.names[0], size - 1);
    std::memcpy(name, known.names[0], length);
    name[length] = '\0';
    return true;
}

bool IsDnsCanary(const char* name)
{
    static constexpr char kCanary[] = "use-application-dns.net";
    constexpr size_t kLength = sizeof kCanary - 1;
    if (!name)
        return false;
    // Letters compared as ASCII: the program's locale plays no part.
    for (size_t i = 0; i < kLength; ++i) {
        const char c = name[i];
        if ((c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c) != kCanary[i])
            return false; // a shorter name stops at its NUL
    }
    return name[kLength] == '\0' || (name[kLength] == '.' && name[kLength + 1] == '\0');
}

void LockNamesForFork() { pthread_mutex_lock(&g_writers); }
void UnlockNamesAfterFork() { pthread_mutex_unlock(&g_writers); }

}  // namespace hook
