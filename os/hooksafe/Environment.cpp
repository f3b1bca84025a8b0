#include "os/hooksafe/Environment.h"

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <sys/auxv.h>

extern char** environ;

namespace os {

const char* const kFirewallVariables[] = {
    "ZEL_REGISTRY_ROOT", "ZEL_RUNTIME_DIR", "ZEL_ENGINE_LIBRARY", "ZEL_ALERT_PROGRAM",
    "HOME",              "XDG_CONFIG_HOME", "XDG_STATE_HOME",     "XDG_DATA_HOME",
    "XDG_DATA_DIRS",     "XDG_RUNTIME_DIR", "PATH",               "DISPLAY",
    "WAYLAND_DISPLAY",   "XAUTHORITY",      nullptr,
};

namespace {

std::atomic<const char* const*> g_startup {nullptr};

const char* ValueIn(const char* const* entries, const char* name)
{
    const size_t length = std::strlen(name);
    for (; *entries; ++entries)
        if (std::strncmp(*entries, name, length) == 0 && (*entries)[length] == '=')
            return *entries + length + 1;
    return nullptr;
}

// Run for every variable of every program at its start: most are turned
// away by their first letter.
bool IsFirewallVariable(const char* entry)
{
    switch (entry[0]) {
    case 'Z': case 'H': case 'X': case 'P': case 'D': case 'W':
        break;
    default:
        return false;
    }
    for (const char* const* name = kFirewallVariables; *name; ++name) {
        if ((*name)[0] != entry[0])
            continue;
        size_t i = 1;
        while ((*name)[i] && (*name)[i] == entry[i])
            ++i;
        if (!(*name)[i] && entry[i] == '=')
            return true;
    }
    return false;
}

}  // namespace

bool IsSecureExecution() { return ::getauxval(AT_SECURE) != 0; }

const char* GetEnv(const char* name)
{
    if (const char* const* startup = g_startup.load(std::memory_order_acquire))
        return ValueIn(startup, name);
    return ::secure_getenv(name);
}

void UseStartupEnvironment(const char* const* entries) { g_startup.store(entries, std::memory_order_release); }

// Runs at every program's start: plain loops, no call into the C library,
// whose functions would have to be looked up first (nor may the compiler
// make its loops into such calls).
__attribute__((optimize("no-tree-loop-distribute-patterns"))) bool CaptureStartupEnvironment(char* store, size_t storeSize, const char** list, size_t listSize)
{
    size_t used = 0, count = 0;
    bool complete = true;
    if (listSize == 0)
        return false;
    for (char** entry = environ; entry && *entry; ++entry) {
        if (!IsFirewallVariable(*entry))
            continue;
        size_t length = 0;
        while ((*entry)[length])
            ++length;
        if (count + 1 >= listSize || used + length + 1 > storeSize) {
            complete = false;
            continue;
        }
        for (size_t i = 0; i <= length; ++i)
            store[used + i] = (*entry)[i];
        list[count++] = store + used;
        used += length + 1;
    }
    list[count] = nullptr;
    return complete;
}

}  // namespace os
