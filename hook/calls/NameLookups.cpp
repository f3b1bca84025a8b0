// The C library's name lookups, seen from inside the program: the names it
// looks hosts up by are remembered for their addresses, for rules by host
// name, the log and the alert (Names.h). The lookup itself is the library's.
#include "hook/EngineHost.h"
#include "hook/descriptors/Kernel.h"
#include "hook/names/Names.h"

#include <cstring>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>

using namespace hook;

namespace {

// The canary name, when the settings want it answered "no such name". An
// engine that cannot be loaded now answers so too; one that predates the
// setting leaves the answer at its default.
bool AnswersNoSuchName(const char* name)
{
    if (!IsDnsCanary(name) || t_inside != 0 || IsSecure())
        return false;
    switch (EnsureEngine()) {
    case EngineState::kPassThrough:
        return false;
    case EngineState::kUndecidable:
        return true;
    case EngineState::kReady:
        break;
    }
    Inside inside;
    const EngineBinding& engine = Engine();
    return !engine.PassesDnsCanary || engine.PassesDnsCanary() == 0;
}

}  // namespace

ZEL_HOOK int getaddrinfo(const char* node, const char* service, const addrinfo* hints, addrinfo** result)
{
    REAL(getaddrinfo);
    if (AnswersNoSuchName(node))
        return EAI_NONAME;
    const int status = real_getaddrinfo(node, service, hints, result);
    if (status == 0 && node && result && t_inside == 0 && !IsSecure())
        for (const addrinfo* item = *result; item; item = item->ai_next)
            RememberName(node, item->ai_addr);
    return status;
}

namespace {

// The addresses of a host entry the program looked name up as.
void RememberHostEntry(const char* name, const hostent* entry)
{
    if (!entry || !name || t_inside != 0 || IsSecure())
        return;
    for (char** address = entry->h_addr_list; address && *address; ++address) {
        if (entry->h_addrtype == AF_INET) {
            sockaddr_in in {};
            in.sin_family = AF_INET;
            std::memcpy(&in.sin_addr, *address, sizeof in.sin_addr);
            RememberName(name, reinterpret_cast<sockaddr*>(&in));
        } else if (entry->h_addrtype == AF_INET6) {
            sockaddr_in6 in6 {};
            in6.sin6_family = AF_INET6;
            std::memcpy(&in6.sin6_addr, *address, sizeof in6.sin6_addr);
            RememberName(name, reinterpret_cast<sockaddr*>(&in6));
        }
    }
}

// What the _r calls give for a name not found.
int NoSuchName(hostent** result, int* error)
{
    if (result)
        *result = nullptr;
    if (error)
        *error = HOST_NOT_FOUND;
    return 0;
}

}  // namespace

ZEL_HOOK hostent* gethostbyname(const char* name)
{
    REAL(gethostbyname);
    if (AnswersNoSuchName(name)) {
        h_errno = HOST_NOT_FOUND;
        return nullptr;
    }
    hostent* entry = real_gethostbyname(name);
    RememberHostEntry(name, entry);
    return entry;
}

ZEL_HOOK hostent* gethostbyname2(const char* name, int family)
{
    REAL(gethostbyname2);
    if (AnswersNoSuchName(name)) {
        h_errno = HOST_NOT_FOUND;
        return nullptr;
    }
    hostent* entry = real_gethostbyname2(name, family);
    RememberHostEntry(name, entry);
    return entry;
}

ZEL_HOOK int gethostbyname_r(const char* name, hostent* entry, char* buffer, size_t size, hostent** result,
                             int* error)
{
    REAL(gethostbyname_r);
    if (AnswersNoSuchName(name))
        return NoSuchName(result, error);
    const int status = real_gethostbyname_r(name, entry, buffer, size, result, error);
    if (status == 0 && result)
        RememberHostEntry(name, *result);
    return status;
}

ZEL_HOOK int gethostbyname2_r(const char* name, int family, hostent* entry, char* buffer, size_t size,
                              hostent** result, int* error)
{
    REAL(gethostbyname2_r);
    if (AnswersNoSuchName(name))
        return NoSuchName(result, error);
    const int status = real_gethostbyname2_r(name, family, entry, buffer, size, result, error);
    if (status == 0 && result)
        RememberHostEntry(name, *result);
    return status;
}
