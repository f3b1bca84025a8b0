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
};

struct zel_backstop_config {
    unsigned int uid;  /* the desktop user whose unhooked programs are covered */
    unsigned int mode; /* enum zel_backstop_mode */
};

/* One connection of an unhooked program. */
struct zel_backstop_event {
    unsigned int pid;
    unsigned int uid;
    unsigned int mode;
    unsigned short family; /* AF_INET or AF_INET6 */
    unsigned short port;   /* host order */
    unsigned char protocol; /* 6 TCP, 17 UDP */
    unsigned char pad[3];
    unsigned char address[16];
    char comm[16];
};

#endif
