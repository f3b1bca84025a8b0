/* What the kernel programs and the service share. Plain C: the kernel
 * programs are built for the BPF target. */
#ifndef ZEL_BACKSTOP_H
#define ZEL_BACKSTOP_H

/* The socket option level a hooked program registers itself with, once per
 * program image: "ZEL". */
#define ZEL_BACKSTOP_LEVEL 0x5a454c
#define ZEL_BACKSTOP_REGISTER 1

enum zel_backstop_mode {
    ZEL_BACKSTOP_OFF = 0,
    ZEL_BACKSTOP_NOTIFY = 1, /* let the connection pass, and tell */
    ZEL_BACKSTOP_DENY = 2,   /* refuse it (EPERM), and tell */
    ZEL_BACKSTOP_RULES = 3,  /* decide it by the user's rules, compiled into the maps below */
};

struct zel_backstop_config {
    unsigned int uid;  /* the desktop user whose unhooked programs are covered */
    unsigned int mode; /* enum zel_backstop_mode */
};

/* What a notice says was done. */
enum zel_backstop_verdict {
    ZEL_VERDICT_PASSED = 0, /* notify mode */
    ZEL_VERDICT_DENIED = 1, /* deny mode, a rule that denies, or Block All */
    ZEL_VERDICT_ASKED = 2,  /* the rules say ASK: refused, and the user is asked */
};

/* Longest file name (NAME_MAX) and its NUL. */
#define ZEL_NAME_SIZE 256

/* The program image a process runs, as the engine names programs: taken from
 * the executable's file name when it is executed (and from /proc for the
 * processes that ran before the backstop started). */
struct zel_backstop_image {
    unsigned long long hash; /* zel_exe_name_hash of the name */
    char name[ZEL_NAME_SIZE]; /* the executable's file name as it is, NUL-terminated */
};

/* One connection of an unhooked program. */
struct zel_backstop_event {
    unsigned int pid;
    unsigned int uid;
    unsigned int mode;
    unsigned int verdict; /* enum zel_backstop_verdict */
    unsigned short family; /* AF_INET or AF_INET6 */
    unsigned short port;   /* host order */
    unsigned char protocol; /* 6 TCP, 17 UDP */
    unsigned char named;    /* 1: name holds the executable's file name */
    unsigned char pad[2];
    unsigned char address[16];
    char comm[16];
    char name[ZEL_NAME_SIZE];
};

/* The user's rules, compiled (see RulesCompiler.h). Two generations live
 * side by side: a change is written into the one not in force, then put in
 * force by one write of the state, so that no decision sees half of it. */
#define ZEL_RULES_PROGRAMS 8192   /* applications of a generation */
#define ZEL_RULES_LISTS 65536     /* (application, port) lists of a generation */
#define ZEL_RULES_INTERVALS 131072 /* IPv4 address intervals of a generation: 2^17 */
#define ZEL_RULES_INTERVALS6 65536 /* IPv6 address intervals of a generation: 2^16 */
#define ZEL_RULES_SEARCH_STEPS 17 /* halvings that find one among ZEL_RULES_INTERVALS */

/* The first matching entry of a list for an address: its place among the
 * application's entries (the lower, the earlier) above its permission, so
 * that the lower of two is the earlier match. None: no entry matches. */
#define ZEL_RULES_NONE 0xffffffffu
#define ZEL_RULES_MATCH(index, permission) (((index) << 2) | (permission))
#define ZEL_RULES_PERMISSION(match) ((match) & 3u)
#define ZEL_RULES_MAX_ENTRIES (1u << 29)

/* Permissions as the rules file has them. */
#define ZEL_RULES_DENY 0
#define ZEL_RULES_PERMIT 1
#define ZEL_RULES_ASK 2

struct zel_rules_state {
    unsigned int generation; /* 0 or 1: the one in force */
    unsigned int loaded;     /* 1: rules were compiled into it */
    unsigned int block_all;  /* 1: every connection but this computer's is refused */
    unsigned int own_address; /* network order: the address this computer's name resolves to, or 0 */
};

/* The program hash ZEL_RULES_GENERAL stands for every program without an
 * application entry of its own (and a process whose image is not known). */
#define ZEL_RULES_GENERAL 0ull

struct zel_rules_program_key {
    unsigned long long hash;
    unsigned int generation;
    unsigned int pad;
};

/* A program's outgoing entries of one port (or of every port), by family. */
struct zel_rules_list {
    unsigned int offset;  /* of its IPv4 intervals, the generation's half included */
    unsigned int count;   /* 0: none; else the first interval starts at 0.0.0.0 */
    unsigned int offset6; /* of its IPv6 intervals, the generation's half included */
    unsigned int count6;  /* 0: none; else the first interval starts at :: */
};

struct zel_rules_program {
    unsigned int index;    /* of its lists */
    unsigned int outgoing; /* its outgoing default */
    struct zel_rules_list every; /* its entries of every port (port 0), found with it */
};

/* The lists of the ports a program's entries name. */
struct zel_rules_list_key {
    unsigned int program;
    unsigned int port; /* the port, and the generation above it (bit 16) */
};
#define ZEL_RULES_LIST_PORT(port, generation) ((port) | ((generation) << 16))

/* From start up to the next interval's start, the first matching entry is first. */
struct zel_rules_interval {
    unsigned int start; /* host order */
    unsigned int first;
};

/* The same for IPv6 addresses, as two numbers of 64 bits. */
struct zel_rules_interval6 {
    unsigned long long start_high; /* the address's first 8 bytes, as a number */
    unsigned long long start_low;  /* its last 8 */
    unsigned int first;
    unsigned int pad;
};

/* Notices the kernel already gave: not given again for a while. */
struct zel_notice_key {
    unsigned long long hash; /* the program's */
    unsigned int verdict;
    unsigned short port;   /* asked: the question's peer; else 0 */
    unsigned short family;
    unsigned char address[16];
};

#endif
