/* How a connection is decided by the compiled rules: the kernel programs
 * run it, and the service's tests run the very same code over the compiled
 * arrays. Plain C. The includer defines ZEL_INTERVAL_AT(index) and
 * ZEL_INTERVAL6_AT(index): the IPv4 (a const struct zel_rules_interval *) and
 * the IPv6 interval (a const struct zel_rules_interval6 *) at that place, or 0. */
#ifndef ZEL_RULES_LOOKUP_H
#define ZEL_RULES_LOOKUP_H

#include "backstop/backstop.h"

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

/* The same for an IPv6 address, as two numbers of 64 bits. */
static __always_inline unsigned int zel_rules_search6(const struct zel_rules_list* list, unsigned long long high,
                                                      unsigned long long low)
{
    if (!list || list->count6 == 0)
        return ZEL_RULES_NONE;
    unsigned int lower = list->offset6;
    unsigned int upper = list->offset6 + list->count6;
    for (int step = 0; step < ZEL_RULES_SEARCH_STEPS; step++) {
        if (upper - lower <= 1)
            break;
        const unsigned int middle = lower + (upper - lower) / 2;
        const struct zel_rules_interval6* at = ZEL_INTERVAL6_AT(middle);
        if (!at)
            return ZEL_RULES_NONE;
        if (at->start_high < high || (at->start_high == high && at->start_low <= low))
            lower = middle;
        else
            upper = middle;
    }
    const struct zel_rules_interval6* found = ZEL_INTERVAL6_AT(lower);
    return found ? found->first : ZEL_RULES_NONE;
}

/* The permission (ZEL_RULES_DENY, _PERMIT or _ASK) for a connection of a
 * program: the earlier of the first match among the entries of the
 * connection's port (own; for port 0, the program's entries of every port)
 * and among those of every port (every; none for port 0), else fallback,
 * the program's default for the direction. ipv4: the peer is the IPv4 address (host
 * order; also one mapped into IPv6, as the engine holds); else it is the
 * IPv6 address high, low. */
static __always_inline unsigned int zel_rules_decide_with(unsigned int fallback, const struct zel_rules_list* own,
                                                          const struct zel_rules_list* every, int ipv4,
                                                          unsigned int address, unsigned long long high,
                                                          unsigned long long low)
{
    unsigned int a, b;
    if (ipv4) {
        a = zel_rules_search(own, address);
        b = zel_rules_search(every, address);
    } else {
        a = zel_rules_search6(own, high, low);
        b = zel_rules_search6(every, high, low);
    }
    const unsigned int first = a < b ? a : b;
    return first == ZEL_RULES_NONE ? fallback : ZEL_RULES_PERMISSION(first);
}

static __always_inline unsigned int zel_rules_decide(const struct zel_rules_program* program,
                                                     const struct zel_rules_list* own,
                                                     const struct zel_rules_list* every, int ipv4,
                                                     unsigned int address, unsigned long long high,
                                                     unsigned long long low)
{
    return zel_rules_decide_with(program->outgoing, own, every, ipv4, address, high, low);
}

#endif
