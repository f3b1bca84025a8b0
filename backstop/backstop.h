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

/* The system services' backstop: root's and the system users' programs,
 * decided by the machine's own rules. Its configuration names this in
 * place of a user. */
#define ZEL_BACKSTOP_SERVICES 0xffffffffu

struct zel_backstop_config {
    unsigned int uid;  /* the desktop user whose unhooked programs are covered, or ZEL_BACKSTOP_SERVICES */
    unsigned int mode; /* enum zel_backstop_mode */
    /* The services' backstop covers uid 0 and every uid below first_user
     * or above last_user (the system users around the ordinary ones of
     * /etc/login.defs); a user's backstop sets neither. */
    unsigned int first_user;
    unsigned int last_user;
};

/* What a notice says was done. */
enum zel_backstop_verdict {
    ZEL_VERDICT_PASSED = 0, /* notify mode */
    ZEL_VERDICT_DENIED = 1, /* deny mode, a rule that denies, or Block All */
    ZEL_VERDICT_ASKED = 2,  /* the rules say ASK: refused, and the user is asked */
};

/* Longest file name (NAME_MAX) and its NUL. */
#define ZEL_NAME_SIZE 256

/* The file a process runs, taken when it is executed (and by a walk of the
 * processes that ran before the backstop started): its name as the engine
 * names programs, and which file it is, as the kernel numbers files, so
 * that an entry bound to a path holds for the file at that path alone. */
struct zel_backstop_identity {
    unsigned long long hash;   /* zel_exe_name_hash of the file name */
    unsigned long long file;   /* the file's inode number */
    unsigned long long folder; /* the inode number of the folder it was executed from */
    unsigned long long raw;    /* zel_raw_name_hash of the file name, byte for byte */
    long long changed;         /* the file's status change time (ctime), seconds */
    unsigned int changed_ns;   /* and nanoseconds */
    unsigned int file_device;  /* the kernel's device numbers (major << 20 | minor) */
    unsigned int folder_device;
    unsigned int known;        /* 1: the fields above were read; 0: only the name is known */
};

/* A process's note, by tgid: the program it runs and whether the hook is in
 * it, so that one lookup tells both on a connect. */
struct zel_backstop_image {
    struct zel_backstop_identity identity;
    char name[ZEL_NAME_SIZE]; /* the executable's file name as it is, NUL-terminated; empty: not known */
    unsigned int registered;  /* 1: the hook is in the process and decides its connections */
};

/* One connection of an unhooked program. */
struct zel_backstop_event {
    unsigned int pid;
    unsigned int uid;
    unsigned int mode;
    unsigned int verdict; /* enum zel_backstop_verdict */
    unsigned short family; /* AF_INET or AF_INET6 */
    unsigned short port;   /* host order: the peer's */
    unsigned char protocol; /* 6 TCP, 17 UDP */
    unsigned char named;    /* 1: name holds the executable's file name */
    unsigned char incoming; /* 1: the peer connected (or sent) to the program */
    unsigned char general;  /* 1: decided by the general settings (no entry of its own) */
    unsigned char address[16];
    char comm[16];
    unsigned short local_port; /* host order: the program's, for an incoming one */
    unsigned char pad[6];
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
    /* 1: what the general settings permit is told too (the services'
     * "permit and record"), once in a while per program and peer. */
    unsigned int record_general;
    /* Bit g (ZEL_RULES_BOUND_IN): generation g may hold entries bound to a
     * path; clear, a connect looks up no file. Set before such entries are
     * written, cleared only with the switch to a generation without them. */
    unsigned int bound_in;
};
#define ZEL_RULES_BOUND_IN(generation) (1u << ((generation) & 1))

/* The program hash ZEL_RULES_GENERAL stands for every program without an
 * application entry of its own (and a process whose image is not known). */
#define ZEL_RULES_GENERAL 0ull

struct zel_rules_program_key {
    unsigned long long hash;
    unsigned int generation;
    unsigned int pad;
};

/* A program's entries of one direction and port (or of every port), by family. */
struct zel_rules_list {
    unsigned int offset;  /* of its IPv4 intervals, the generation's half included */
    unsigned int count;   /* 0: none; else the first interval starts at 0.0.0.0 */
    unsigned int offset6; /* of its IPv6 intervals, the generation's half included */
    unsigned int count6;  /* 0: none; else the first interval starts at :: */
};

struct zel_rules_program {
    unsigned int index;    /* of its lists */
    unsigned int outgoing; /* its outgoing default */
    struct zel_rules_list every; /* its outgoing entries of every port (port 0), found with it */
    unsigned int incoming; /* its incoming default */
    unsigned int general;  /* 1: the general settings' table (no entry of its own) */
    struct zel_rules_list every_in; /* its incoming entries of every port */
};

/* The lists of the ports a program's entries name. */
struct zel_rules_list_key {
    unsigned int program;
    unsigned int port; /* the port, the generation above it (bit 16), incoming above that (bit 17) */
};
#define ZEL_RULES_LIST_PORT(port, generation) ((port) | ((generation) << 16))
#define ZEL_RULES_LIST_IN(port, generation) ((port) | ((generation) << 16) | (1u << 17))
#define ZEL_RULES_LIST_GENERATION(key) (((key) >> 16) & 1u)

/* Entries bound to a path (and those with a content check): the file at
 * that path, known by its folder and its name, and which table decides
 * it. The program hashes of bound tables are made by the service and
 * never meet a name's. */
#define ZEL_RULES_BOUND 4096 /* paths of a generation */
struct zel_rules_bound_key {
    unsigned long long folder; /* the path's folder's inode number */
    unsigned long long raw;    /* zel_raw_name_hash of its file name */
    unsigned int folder_device;
    unsigned int generation;
};
struct zel_rules_bound {
    unsigned long long file; /* the file checked against the content check: inode, */
    long long changed;       /* status change time */
    unsigned int changed_ns;
    unsigned int file_device;
    unsigned int checked;    /* 1: a content check applies: trusted only for that very file, unchanged */
    unsigned int pad;
    unsigned long long trusted; /* the table for the file as it was checked (or any file, unchecked) */
    unsigned long long doubted; /* the table for any other file at the path */
};

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
    unsigned short port;   /* asked (or recorded): the question's peer (incoming: the program's port); else 0 */
    unsigned short family;
    unsigned char address[16]; /* asked (or recorded) going out: the peer's; else none */
    unsigned int incoming;
    unsigned int pad;
};

/* What the kernel keeps with a socket of an unhooked program that was bound
 * (a server's) or sent datagrams: who made it, so that what arrives for it
 * is decided by that program's incoming rules, and the last peers it sent
 * to, whose answers are no incoming traffic. */
#define ZEL_SOCKET_PEERS 4
struct zel_socket_peer {
    unsigned char address[16]; /* IPv4: the first 4 bytes */
    unsigned short port;       /* host order; 0: unused */
    unsigned short family;
};
struct zel_backstop_socket {
    struct zel_backstop_identity identity;
    unsigned int pid;
    unsigned int uid;
    unsigned int next; /* the peers' slot written next */
    unsigned int pad;
    struct zel_socket_peer peers[ZEL_SOCKET_PEERS];
};

#endif
