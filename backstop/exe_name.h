/* Programs by name, as the engine names them: the executable's file name,
 * with " (" up to the next "." left out (a copy "name (2).ext" is
 * "name.ext") and the letters a to z upper-cased. The kernel programs
 * compute it when a program is executed; the service hashes the names of the
 * rules file's applications the same way, so that the two meet in a map.
 * Plain C for both sides. */
#ifndef ZEL_EXE_NAME_H
#define ZEL_EXE_NAME_H

#include "backstop/backstop.h"

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

/* The hash of an executable's file name as the engine names the program,
 * one byte at a time: whole hashes every byte, cut all but those from the
 * first " (" up to the next "." (which it keeps), and is the name's when
 * such a "." comes. The kernel programs feed it from a bpf_loop, so that
 * their checker looks at one byte's step once, not at 256. */
struct zel_name_hasher {
    unsigned long long whole;
    unsigned long long cut;
    unsigned long long raw;     /* the same with the letters as they are: the name a path ends in */
    unsigned long long raw_cut;
    int phase; /* 0: before " (", 1: after it, 2: from the "." after it on */
};

static __always_inline void zel_name_hasher_start(struct zel_name_hasher* hasher)
{
    hasher->whole = ZEL_NAME_HASH_START;
    hasher->cut = ZEL_NAME_HASH_START;
    hasher->raw = ZEL_NAME_HASH_START;
    hasher->raw_cut = ZEL_NAME_HASH_START;
    hasher->phase = 0;
}

/* One byte c of the name, with the byte after it; 0 when c ends the name. */
static __always_inline int zel_name_hasher_step(struct zel_name_hasher* hasher, unsigned char c, unsigned char next)
{
    if (c == 0)
        return 0;
    if (hasher->phase == 0 && c == ' ' && next == '(')
        hasher->phase = 1;
    else if (hasher->phase == 1 && c == '.')
        hasher->phase = 2;
    hasher->raw = zel_name_hash_step(hasher->raw, c);
    if (hasher->phase != 1)
        hasher->raw_cut = zel_name_hash_step(hasher->raw_cut, c);
    if (c >= 'a' && c <= 'z')
        c = (unsigned char)(c - 'a' + 'A');
    hasher->whole = zel_name_hash_step(hasher->whole, c);
    if (hasher->phase != 1)
        hasher->cut = zel_name_hash_step(hasher->cut, c);
    return 1;
}

static __always_inline unsigned long long zel_name_hasher_end(const struct zel_name_hasher* hasher)
{
    return hasher->phase == 2 ? hasher->cut : hasher->whole;
}

/* The hash of the file name that ends the program's path as the engine
 * takes it: cut the same way, the letters as they are. */
static __always_inline unsigned long long zel_name_hasher_raw(const struct zel_name_hasher* hasher)
{
    return hasher->phase == 2 ? hasher->raw_cut : hasher->raw;
}

#ifndef __bpf__
/* The whole name at once. name: NUL-terminated within ZEL_NAME_SIZE bytes
 * (a longer name is cut there; file names are shorter). */
static inline unsigned long long zel_exe_name_hash(const char* name)
{
    struct zel_name_hasher hasher;
    zel_name_hasher_start(&hasher);
    for (unsigned int i = 0; i + 1 < ZEL_NAME_SIZE; i++)
        if (!zel_name_hasher_step(&hasher, (unsigned char)name[i], (unsigned char)name[i + 1]))
            break;
    return zel_name_hasher_end(&hasher);
}

/* The hash of a program's upper-cased file name, as the rules file names it
 * once unescaped (the service gives it rules_format::FileNameOfProgram of the
 * entry's name): the engine compares names exactly, so a name matches a
 * program only as zel_exe_name_hash gives it. */
static inline unsigned long long zel_rules_name_hash(const char* text, unsigned long length)
{
    unsigned long long hash = ZEL_NAME_HASH_START;
    for (unsigned long i = 0; i < length; i++)
        hash = zel_name_hash_step(hash, (unsigned char)text[i]);
    return hash;
}

/* The file name a path ends in, byte for byte: what zel_name_hasher_raw
 * gives for a program executed there (the engine's paths are already cut). */
static inline unsigned long long zel_raw_name_hash(const char* text, unsigned long length)
{
    return zel_rules_name_hash(text, length);
}
#endif

#endif
