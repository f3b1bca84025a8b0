/* The kernel side of the backstop: connections and datagrams of the covered
 * user's programs that did not register (programs the hook is not in) get
 * the configured verdict and are reported. Registration is a socket option
 * a hooked program sets once per image; a fork inherits it, an exec loses
 * it, and it goes with the program's last thread.
 *
 * One set of these programs per covered user, all attached at the cgroup v2
 * root, where the kernel runs every one and lets a connection through only
 * when all pass: each decides its own user's connections and passes every
 * other's, so each user's are decided by that user's backstop alone. */
#include <linux/bpf.h>
#include <bpf/bpf_helpers.h>
#include <bpf/bpf_tracing.h>
#include <bpf/bpf_core_read.h>
#include <bpf/bpf_endian.h>

#include "backstop.h"

#define AF_INET 2
#define AF_INET6 10

/* Only the fields read, found by name in the running kernel's types. */
struct signal_struct {
    struct {
        int counter;
    } live;
} __attribute__((preserve_access_index));

struct task_struct {
    int tgid;
    struct signal_struct *signal;
} __attribute__((preserve_access_index));

char LICENSE[] SEC("license") = "GPL";

struct {
    __uint(type, BPF_MAP_TYPE_HASH);
    __uint(max_entries, 65536);
    __uint(map_flags, BPF_F_NO_PREALLOC);
    __type(key, __u32);   /* tgid */
    __type(value, __u8);
} registered SEC(".maps");

struct {
    __uint(type, BPF_MAP_TYPE_ARRAY);
    __uint(max_entries, 1);
    __type(key, __u32);
    __type(value, struct zel_backstop_config);
} config SEC(".maps");

struct {
    __uint(type, BPF_MAP_TYPE_RINGBUF);
    __uint(max_entries, 256 * 1024);
} events SEC(".maps");

/* Each covered user has a backstop of their own; all of them see every
 * registration. One takes only its own user's: a program of a user with no
 * backstop then hears ENOPROTOOPT, as with none installed, and registers
 * again when one comes. */
SEC("cgroup/setsockopt")
int register_program(struct bpf_sockopt *ctx)
{
    if (ctx->level != ZEL_BACKSTOP_LEVEL)
        return 1; /* not ours: the kernel handles it */
    __u32 key = 0;
    const struct zel_backstop_config *settings = bpf_map_lookup_elem(&config, &key);
    if (!settings || settings->uid != (__u32)bpf_get_current_uid_gid())
        return 1; /* another user's program: another backstop's, or none */
    if (ctx->optname == ZEL_BACKSTOP_REGISTER) {
        __u32 tgid = bpf_get_current_pid_tgid() >> 32;
        __u8 yes = 1;
        bpf_map_update_elem(&registered, &tgid, &yes, BPF_ANY);
    }
    ctx->optlen = -1; /* handled here: the kernel does not see the level */
    return 1;
}

SEC("tp_btf/sched_process_fork")
int BPF_PROG(on_fork, struct task_struct *parent, struct task_struct *child)
{
    __u32 from = BPF_CORE_READ(parent, tgid);
    __u32 to = BPF_CORE_READ(child, tgid);
    if (from == to || !bpf_map_lookup_elem(&registered, &from))
        return 0;
    __u8 yes = 1;
    bpf_map_update_elem(&registered, &to, &yes, BPF_ANY);
    return 0;
}

SEC("tp_btf/sched_process_exec")
int BPF_PROG(on_exec, struct task_struct *task)
{
    /* A new image: the hook, if it is in it, registers again. */
    __u32 tgid = BPF_CORE_READ(task, tgid);
    bpf_map_delete_elem(&registered, &tgid);
    return 0;
}

SEC("tp_btf/sched_process_exit")
int BPF_PROG(on_exit, struct task_struct *task)
{
    if (BPF_CORE_READ(task, signal, live.counter) != 0)
        return 0; /* other threads of the program still run */
    __u32 tgid = BPF_CORE_READ(task, tgid);
    bpf_map_delete_elem(&registered, &tgid);
    return 0;
}

/* 1: pass, 0: refuse. */
static __always_inline int decide(struct bpf_sock_addr *ctx, unsigned short family, int loopback)
{
    __u32 key = 0;
    const struct zel_backstop_config *settings = bpf_map_lookup_elem(&config, &key);
    if (!settings || settings->mode == ZEL_BACKSTOP_OFF)
        return 1;
    __u32 uid = (__u32)bpf_get_current_uid_gid();
    if (uid != settings->uid || loopback)
        return 1;
    __u32 tgid = bpf_get_current_pid_tgid() >> 32;
    if (bpf_map_lookup_elem(&registered, &tgid))
        return 1;
    struct zel_backstop_event *event = bpf_ringbuf_reserve(&events, sizeof *event, 0);
    if (event) {
        __builtin_memset(event, 0, sizeof *event);
        event->pid = tgid;
        event->uid = uid;
        event->mode = settings->mode;
        event->family = family;
        event->port = bpf_ntohs((__u16)ctx->user_port);
        event->protocol = ctx->protocol;
        if (family == AF_INET) {
            __u32 address = ctx->user_ip4;
            __builtin_memcpy(event->address, &address, 4);
        } else {
            __u32 part;
            part = ctx->user_ip6[0];
            __builtin_memcpy(event->address, &part, 4);
            part = ctx->user_ip6[1];
            __builtin_memcpy(event->address + 4, &part, 4);
            part = ctx->user_ip6[2];
            __builtin_memcpy(event->address + 8, &part, 4);
            part = ctx->user_ip6[3];
            __builtin_memcpy(event->address + 12, &part, 4);
        }
        bpf_get_current_comm(event->comm, sizeof event->comm);
        bpf_ringbuf_submit(event, 0);
    }
    return settings->mode == ZEL_BACKSTOP_DENY ? 0 : 1;
}

/* 127.0.0.1 and ::1 are this computer, as the engine holds. */
static __always_inline int loopback4(struct bpf_sock_addr *ctx)
{
    return ctx->user_ip4 == bpf_htonl(0x7f000001);
}

static __always_inline int loopback6(struct bpf_sock_addr *ctx)
{
    return ctx->user_ip6[0] == 0 && ctx->user_ip6[1] == 0 && ctx->user_ip6[2] == 0
        && ctx->user_ip6[3] == bpf_htonl(1);
}

SEC("cgroup/connect4")
int connect4(struct bpf_sock_addr *ctx) { return decide(ctx, AF_INET, loopback4(ctx)); }

SEC("cgroup/connect6")
int connect6(struct bpf_sock_addr *ctx) { return decide(ctx, AF_INET6, loopback6(ctx)); }

SEC("cgroup/sendmsg4")
int sendmsg4(struct bpf_sock_addr *ctx) { return decide(ctx, AF_INET, loopback4(ctx)); }

SEC("cgroup/sendmsg6")
int sendmsg6(struct bpf_sock_addr *ctx) { return decide(ctx, AF_INET6, loopback6(ctx)); }
