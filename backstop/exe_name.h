/* Programs by name, as the engine names them: the executable's file name,
 * with " (" up to the next "." left out (a copy "name (2).ext" is
 * "name.ext") and the letters a to z upper-cased. The kernel programs
 * compute it when a program is executed; the service hashes the names of the
 * rules file's applications the same way, so that the two meet in a map.
 * Plain C for both sides. */
#ifndef ZEL_EXE_NAME_H
#define ZEL_EXE_NAME_H

#include "backstop.h"

#ifndef __always_inline
#define __always_inline inline __attribute__((always_inline))
#endif

#define ZEL_NAME_HASH_START 1469598103934665603ull
#define ZEL_NAME_HASH_PRIME 1099511628211ull

/* FNV-1a, one byte at a time. */
static __always_inline unsigned long long zel_name_hash_step(unsigned long long hash, unsigned char c)
{
    return (hash ^ c) * ZEL_NAME_HASH_PRIME;
}

/* The hash of an executable's file name as the engine names the program.
 * name: NUL-terminated within ZEL_NAME_SIZE bytes (a longer name is cut
 * there; file names are shorter). One pass, so that the kernel's checker
 * follows it in a few states per byte: whole hashes every byte, cut all but
 * those from the first " (" up to the next "." (which it keeps), and is the
 * name's when such a "." comes. */
static __always_inline unsigned long long zel_exe_name_hash(const char* name)
{
    unsigned long long whole = ZEL_NAME_HASH_START, cut = ZEL_NAME_HASH_START;
    int phase = 0; /* 0: before " (", 1: after it, 2: from the "." after it on */
    for (unsigned int i = 0; i < ZEL_NAME_SIZE; i++) {
        unsigned char c = (unsigned char)name[i];
        if (c == 0)
            break;
        if (phase == 0 && c == ' ' && i + 1 < ZEL_NAME_SIZE && name[i + 1] == '(')
            phase = 1;
        else if (phase == 1 && c == '.')
            phase = 2;
        if (c >= 'a' && c <= 'z')
            c = (unsigned char)(c - 'a' + 'A');
        whole = zel_name_hash_step(whole, c);
        if (phase != 1)
            cut = zel_name_hash_step(cut, c);
    }
    return phase == 2 ? cut : whole;
}

#ifndef __bpf__
/* The hash of a name as the rules file spells it: the engine compares names
 * exactly, so a name matches a program only as zel_exe_name_hash gives it. */
static inline unsigned long long zel_rules_name_hash(const char* text, unsigned long length)
{
    unsigned long long hash = ZEL_NAME_HASH_START;
    for (unsigned long i = 0; i < length; i++)
        hash = zel_name_hash_step(hash, (unsigned char)text[i]);
    return hash;
}
#endif

#endif
