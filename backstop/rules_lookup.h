/* How a connection is decided by the compiled rules: the kernel programs
 * run it, and the service's tests run the very same code over the compiled
 * arrays. Plain C. The includer defines ZEL_INTERVAL_AT(index): the interval
 * at that place (a const struct zel_rules_interval *), or 0. */
#ifndef ZEL_RULES_LOOKUP_H
#define ZEL_RULES_LOOKUP_H

#include "backstop.h"

#ifndef __always_inline
#define __always_inline inline __attribute__((always_inline))
#endif

/* The first match of a list for an IPv4 address (host order): the last of
 * its intervals that starts at or below the address, found by halving. */
static __always_inline unsigned int zel_rules_search(const struct zel_rules_list* list, unsigned int address)
{
    if (!list || list->count == 0)
        return ZEL_RULES_NONE;
    unsigned int low = list->offset;
    unsigned int high = list->offset + list->count;
    for (int step = 0; step < ZEL_RULES_SEARCH_STEPS; step++) {
        if (high - low <= 1)
            break;
        const unsigned int middle = low + (high - low) / 2;
        const struct zel_rules_interval* at = ZEL_INTERVAL_AT(middle);
        if (!at)
            return ZEL_RULES_NONE;
        if (at->start <= address)
            low = middle;
        else
            high = middle;
    }
    const struct zel_rules_interval* found = ZEL_INTERVAL_AT(low);
    return found ? found->first : ZEL_RULES_NONE;
}

/* The permission (ZEL_RULES_DENY, _PERMIT or _ASK) for an outgoing
 * connection of a program: the earlier of the first match among the
 * entries of the connection's port (own; for port 0, the program's entries
 * of every port) and among those of every port (every; none for port 0),
 * else the program's default. ipv4: the peer is
 * an IPv4 address (host order); any other peer is matched only by entries
 * that name no address, as the engine does. */
static __always_inline unsigned int zel_rules_decide(const struct zel_rules_program* program,
                                                     const struct zel_rules_list* own,
                                                     const struct zel_rules_list* every, int ipv4,
                                                     unsigned int address)
{
    unsigned int a, b;
    if (ipv4) {
        a = zel_rules_search(own, address);
        b = zel_rules_search(every, address);
    } else {
        a = own ? own->other : ZEL_RULES_NONE;
        b = every ? every->other : ZEL_RULES_NONE;
    }
    const unsigned int first = a < b ? a : b;
    return first == ZEL_RULES_NONE ? program->outgoing : ZEL_RULES_PERMISSION(first);
}

#endif
