#include "Names.h"

#include "Memory.h"
#include "Peer.h"
#include "platform/HostName.h"

#include <atomic>

#include <cstring>
#include <pthread.h>

namespace hook {

namespace {

constexpr unsigned kSlots = 512;
constexpr unsigned kNameSize = 256;

struct Slot {
    char address[INET6_ADDRSTRLEN];
    char name[kNameSize];
};

struct Memory {
    Slot slots[kSlots];
    unsigned next; // the slot the next new address takes: the oldest
};

pthread_mutex_t g_mutex = PTHREAD_MUTEX_INITIALIZER;
std::atomic<Memory*> g_memory {nullptr}; // made at the first name

void Copy(char* to, const char* from, unsigned size)
{
    const size_t length = strnlen(from, size - 1);
    std::memcpy(to, from, length);
    to[length] = '\0';
}

}  // namespace

void RememberName(const char* asked, const sockaddr* address)
{
    char text[INET6_ADDRSTRLEN] = {};
    // Kept as rules compare names (lower case, no trailing dot); what is no
    // host name (an address written out, odd characters) is not kept.
    char name[platform::kMaxHostName + 1];
    if (!asked || platform::NormalizeHostName(asked, strnlen(asked, platform::kMaxHostName + 2), name, sizeof name) == 0
        || !AddressText(address, text, sizeof text))
        return;
    Memory* memory = MapOnce(g_memory);
    if (!memory)
        return;
    pthread_mutex_lock(&g_mutex);
    Slot* slot = nullptr;
    for (Slot& candidate : memory->slots)
        if (std::strcmp(candidate.address, text) == 0) {
            slot = &candidate;
            break;
        }
    if (!slot) {
        slot = &memory->slots[memory->next];
        memory->next = (memory->next + 1) % kSlots;
        Copy(slot->address, text, sizeof slot->address);
    }
    Copy(slot->name, name, sizeof slot->name);
    pthread_mutex_unlock(&g_mutex);
}

bool NameOf(const char* address, char* name, unsigned size)
{
    bool found = false;
    const Memory* memory = g_memory.load(std::memory_order_acquire);
    if (!memory)
        return false;
    pthread_mutex_lock(&g_mutex);
    for (const Slot& slot : memory->slots)
        if (slot.address[0] && std::strcmp(slot.address, address) == 0) {
            Copy(name, slot.name, size);
            found = true;
            break;
        }
    pthread_mutex_unlock(&g_mutex);
    return found;
}

void LockNamesForFork() { pthread_mutex_lock(&g_mutex); }
void UnlockNamesAfterFork() { pthread_mutex_unlock(&g_mutex); }

}  // namespace hook
