/* The kernel side of the backstop: connections and datagrams of the covered
 * user's programs that did not register (programs the hook is not in) get
 * the configured verdict (pass, refuse, or the user's rules) and are
 * reported. Registration is a socket option a hooked program sets once per
 * image; a fork inherits it, an exec loses it, and it goes with the
 * program's last thread. Which program a process runs is taken the same way:
 * its executable's file name when it is executed, kept until it ends.
 *
 * One set of these programs per covered user, all attached at the cgroup v2
 * root, where the kernel runs every one and lets a connection through only
 * when all pass: each decides its own user's connections and passes every
 * other's, so each user's are decided by that user's backstop alone.
 *
 * Only what Debian 12's kernel (6.1) has: cgroup sock_addr and sockopt
 * programs, BTF tracepoints (5.5), task iterators (5.8), bounded loops
 * (5.3), ring buffers (5.8), LRU hash maps, and the helpers map lookup and
 * update, ringbuf, current uid/pid/comm, ktime, probe_read_kernel(_str) and
 * bpf_loop (5.17). */
#include <linux/bpf.h>
#include <bpf/bpf_helpers.h>
#include <bpf/bpf_tracing.h>
#include <bpf/bpf_core_read.h>
#include <bpf/bpf_endian.h>

#include "backstop/backstop.h"
#include "backstop/exe_name.h"

#define AF_INET 2
#define AF_INET6 10

/* Only the fields read, found by name in the running kernel's types. */
struct signal_struct {
    struct {
        int counter;
    } live;
} __attribute__((preserve_access_index));

struct qstr {
    const unsigned char* name;
} __attribute__((preserve_access_index));

struct dentry {
    struct qstr d_name;
} __attribute__((preserve_access_index));

struct path {
    struct dentry* dentry;
} __attribute__((preserve_access_index));

struct file {
    struct path f_path;
} __attribute__((preserve_access_index));

struct mm_struct {
    struct file* exe_file;
} __attribute__((preserve_access_index));

struct task_struct {
    int pid;
    int tgid;
    struct signal_struct* signal;
    struct mm_struct* mm;
} __attribute__((preserve_access_index));

struct bpf_iter_meta;
struct bpf_iter__task {
    struct bpf_iter_meta* meta;
    struct task_struct* task;
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

/* The program each process runs, by tgid: every user's, since a process
 * may take the covered user's identity without executing anything. */
struct {
    __uint(type, BPF_MAP_TYPE_HASH);
    __uint(max_entries, 65536);
    __uint(map_flags, BPF_F_NO_PREALLOC);
    __type(key, __u32);
    __type(value, struct zel_backstop_image);
} images SEC(".maps");

/* Room to build an image in, off the small stack. */
struct {
    __uint(type, BPF_MAP_TYPE_PERCPU_ARRAY);
    __uint(max_entries, 1);
    __type(key, __u32);
    __type(value, struct zel_backstop_image);
} image_scratch SEC(".maps");

/* The compiled rules (see backstop.h): which generation is in force, Block
 * All; the programs by name hash; their lists by port; the lists' IPv4 and
 * IPv6 address intervals, the two generations' halves one after the other. */
struct {
    __uint(type, BPF_MAP_TYPE_ARRAY);
    __uint(max_entries, 1);
    __type(key, __u32);
    __type(value, struct zel_rules_state);
} rules_state SEC(".maps");

struct {
    __uint(type, BPF_MAP_TYPE_HASH);
    __uint(max_entries, 2 * ZEL_RULES_PROGRAMS);
    __uint(map_flags, BPF_F_NO_PREALLOC);
    __type(key, struct zel_rules_program_key);
    __type(value, struct zel_rules_program);
} programs SEC(".maps");

struct {
    __uint(type, BPF_MAP_TYPE_HASH);
    __uint(max_entries, 2 * ZEL_RULES_LISTS);
    __uint(map_flags, BPF_F_NO_PREALLOC);
    __type(key, struct zel_rules_list_key);
    __type(value, struct zel_rules_list);
} lists SEC(".maps");

struct {
    __uint(type, BPF_MAP_TYPE_ARRAY);
    __uint(max_entries, 2 * ZEL_RULES_INTERVALS);
    __type(key, __u32);
    __type(value, struct zel_rules_interval);
} intervals SEC(".maps");

struct {
    __uint(type, BPF_MAP_TYPE_ARRAY);
    __uint(max_entries, 2 * ZEL_RULES_INTERVALS6);
    __type(key, __u32);
    __type(value, struct zel_rules_interval6);
} intervals6 SEC(".maps");

/* When each notice was last given, so that a program retrying does not
 * flood the ring: the same question (program, peer, port) is asked once a
 * minute at most, a program's refusals are told once in ten seconds. */
struct {
    __uint(type, BPF_MAP_TYPE_LRU_HASH);
    __uint(max_entries, 4096);
    __type(key, struct zel_notice_key);
    __type(value, __u64);
} noticed SEC(".maps");

#define ASK_INTERVAL_NS (60ull * 1000000000ull)
#define DENY_INTERVAL_NS (10ull * 1000000000ull)

static __always_inline const struct zel_rules_interval* interval_at(__u32 index)
{
    return bpf_map_lookup_elem(&intervals, &index);
}
#define ZEL_INTERVAL_AT(index) interval_at(index)

static __always_inline const struct zel_rules_interval6* interval6_at(__u32 index)
{
    return bpf_map_lookup_elem(&intervals6, &index);
}
#define ZEL_INTERVAL6_AT(index) interval6_at(index)
#include "backstop/rules_lookup.h"

/* Each covered user has a backstop of their own; all of them see every
 * registration. One takes only its own user's: a program of a user with no
 * backstop then hears ENOPROTOOPT, as with none installed, and registers
 * again when one comes. */
SEC("cgroup/setsockopt")
int register_program(struct bpf_sockopt* ctx)
{
    if (ctx->level != ZEL_BACKSTOP_LEVEL)
        return 1; /* not ours: the kernel handles it */
    __u32 key = 0;
    const struct zel_backstop_config* settings = bpf_map_lookup_elem(&config, &key);
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
int BPF_PROG(on_fork, struct task_struct* parent, struct task_struct* child)
{
    __u32 from = BPF_CORE_READ(parent, tgid);
    __u32 to = BPF_CORE_READ(child, tgid);
    if (from == to)
        return 0; /* a thread */
    const struct zel_backstop_image* image = bpf_map_lookup_elem(&images, &from);
    if (image)
        bpf_map_update_elem(&images, &to, image, BPF_ANY);
    if (bpf_map_lookup_elem(&registered, &from)) {
        __u8 yes = 1;
        bpf_map_update_elem(&registered, &to, &yes, BPF_ANY);
    }
    return 0;
}

struct name_walk {
    struct zel_name_hasher hasher;
    const char* name; /* ZEL_NAME_SIZE bytes, NUL-terminated */
};

static long hash_name_byte(__u32 index, void* data)
{
    struct name_walk* walk = data;
    if (index >= ZEL_NAME_SIZE - 1)
        return 1; /* the last byte is the NUL */
    /* Both bytes read from one place the checker sees within the name. */
    const char* here = walk->name + index;
    return zel_name_hasher_step(&walk->hasher, (unsigned char)here[0], (unsigned char)here[1]) ? 0 : 1;
}

/* Notes the program a task runs now under its tgid (flags: BPF_ANY, or
 * BPF_NOEXIST to leave a newer note be); a task that runs none (a kernel
 * thread) has its note taken away. */
static __always_inline void note_image(struct task_struct* task, __u32 tgid, __u64 flags)
{
    __u32 zero = 0;
    struct zel_backstop_image* image = bpf_map_lookup_elem(&image_scratch, &zero);
    if (!image)
        return;
    const unsigned char* name = BPF_CORE_READ(task, mm, exe_file, f_path.dentry, d_name.name);
    if (!name || bpf_probe_read_kernel_str(image->name, sizeof image->name, name) <= 0) {
        if (flags == BPF_ANY)
            bpf_map_delete_elem(&images, &tgid);
        return;
    }
    struct name_walk walk = {.name = image->name};
    zel_name_hasher_start(&walk.hasher);
    bpf_loop(ZEL_NAME_SIZE, hash_name_byte, &walk, 0);
    image->hash = zel_name_hasher_end(&walk.hasher);
    bpf_map_update_elem(&images, &tgid, image, flags);
}

SEC("tp_btf/sched_process_exec")
int BPF_PROG(on_exec, struct task_struct* task)
{
    /* A new image: the hook, if it is in it, registers again. */
    __u32 tgid = BPF_CORE_READ(task, tgid);
    bpf_map_delete_elem(&registered, &tgid);
    note_image(task, tgid, BPF_ANY);
    return 0;
}

/* Run once by the service when it attaches: the programs of the processes
 * that ran before these programs were there to see them executed. What
 * on_exec and on_fork noted meanwhile is newer and stays. */
SEC("iter/task")
int seed_images(struct bpf_iter__task* ctx)
{
    struct task_struct* task = ctx->task;
    if (!task)
        return 0;
    const __u32 tgid = BPF_CORE_READ(task, tgid);
    if (BPF_CORE_READ(task, pid) != (int)tgid)
        return 0; /* a thread: its process is noted by its leader */
    note_image(task, tgid, BPF_NOEXIST);
    return 0;
}

SEC("tp_btf/sched_process_exit")
int BPF_PROG(on_exit, struct task_struct* task)
{
    if (BPF_CORE_READ(task, signal, live.counter) != 0)
        return 0; /* other threads of the program still run */
    __u32 tgid = BPF_CORE_READ(task, tgid);
    bpf_map_delete_elem(&registered, &tgid);
    bpf_map_delete_elem(&images, &tgid);
    return 0;
}

/* The peer of a connection. */
struct peer {
    unsigned short family; /* as the program gave it */
    unsigned short port;   /* host order */
    int ipv4;              /* an IPv4 address (also one mapped into IPv6) */
    __u32 address;         /* then: host order */
    __u64 high, low;       /* else the IPv6 address, as two numbers */
};

/* Whether a notice was given for key lately; if not, it is now. */
static __always_inline int noticed_lately(struct zel_notice_key* key, __u64 interval)
{
    const __u64 now = bpf_ktime_get_ns();
    __u64* last = bpf_map_lookup_elem(&noticed, key);
    if (last && now - *last < interval)
        return 1;
    bpf_map_update_elem(&noticed, key, &now, BPF_ANY);
    return 0;
}

static __always_inline void tell(struct bpf_sock_addr* ctx, const struct peer* peer, __u32 tgid, __u32 uid,
                                 __u32 mode, __u32 verdict, const struct zel_backstop_image* image)
{
    struct zel_backstop_event* event = bpf_ringbuf_reserve(&events, sizeof *event, 0);
    if (!event)
        return;
    __builtin_memset(event, 0, sizeof *event);
    event->pid = tgid;
    event->uid = uid;
    event->mode = mode;
    event->verdict = verdict;
    event->family = peer->family;
    event->port = peer->port;
    event->protocol = ctx->protocol;
    if (peer->family == AF_INET) {
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
    if (image) {
        __builtin_memcpy(event->name, image->name, sizeof event->name);
        event->named = 1;
    }
    bpf_ringbuf_submit(event, 0);
}

/* 1: pass, 0: refuse; by the compiled rules. */
static __always_inline int decide_by_rules(struct bpf_sock_addr* ctx, const struct peer* peer, __u32 tgid, __u32 uid,
                                           const struct zel_rules_state* state)
{
    const struct zel_backstop_image* image = bpf_map_lookup_elem(&images, &tgid);
    const __u64 hash = image ? image->hash : ZEL_RULES_GENERAL;
    __u32 permission = ZEL_RULES_ASK; /* no rules read yet: as the engine without a rules file */
    if (state->block_all) {
        permission = ZEL_RULES_DENY;
    } else if (state->loaded) {
        const __u32 generation = state->generation & 1;
        struct zel_rules_program_key key = {.hash = hash, .generation = generation};
        const struct zel_rules_program* program = bpf_map_lookup_elem(&programs, &key);
        if (!program) {
            key.hash = ZEL_RULES_GENERAL;
            program = bpf_map_lookup_elem(&programs, &key);
        }
        if (program) {
            /* Port 0 itself has the entries of every port alone. */
            const struct zel_rules_list* own = &program->every;
            const struct zel_rules_list* every = 0;
            if (peer->port != 0) {
                struct zel_rules_list_key own_key = {.program = program->index,
                                                     .port = ZEL_RULES_LIST_PORT((__u32)peer->port, generation)};
                own = bpf_map_lookup_elem(&lists, &own_key);
                every = &program->every;
            }
            permission = zel_rules_decide(program, own, every, peer->ipv4, peer->address, peer->high, peer->low);
        }
    }
    if (permission == ZEL_RULES_PERMIT)
        return 1;
    const __u32 verdict = permission == ZEL_RULES_ASK ? ZEL_VERDICT_ASKED : ZEL_VERDICT_DENIED;
    struct zel_notice_key key = {.hash = hash, .verdict = verdict};
    if (verdict == ZEL_VERDICT_ASKED) {
        key.port = peer->port;
        key.family = peer->family;
        if (peer->family == AF_INET) {
            __u32 address = ctx->user_ip4;
            __builtin_memcpy(key.address, &address, 4);
        } else {
            __u32 part;
            part = ctx->user_ip6[0];
            __builtin_memcpy(key.address, &part, 4);
            part = ctx->user_ip6[1];
            __builtin_memcpy(key.address + 4, &part, 4);
            part = ctx->user_ip6[2];
            __builtin_memcpy(key.address + 8, &part, 4);
            part = ctx->user_ip6[3];
            __builtin_memcpy(key.address + 12, &part, 4);
        }
    }
    if (!noticed_lately(&key, verdict == ZEL_VERDICT_ASKED ? ASK_INTERVAL_NS : DENY_INTERVAL_NS))
        tell(ctx, peer, tgid, uid, ZEL_BACKSTOP_RULES, verdict, image);
    return 0;
}

/* 1: pass, 0: refuse. */
static __always_inline int decide(struct bpf_sock_addr* ctx, const struct peer* peer, int loopback)
{
    __u32 key = 0;
    const struct zel_backstop_config* settings = bpf_map_lookup_elem(&config, &key);
    if (!settings || settings->mode == ZEL_BACKSTOP_OFF)
        return 1;
    __u32 uid = (__u32)bpf_get_current_uid_gid();
    if (uid != settings->uid || loopback)
        return 1;
    __u32 tgid = bpf_get_current_pid_tgid() >> 32;
    if (bpf_map_lookup_elem(&registered, &tgid))
        return 1;
    const struct zel_rules_state* state = bpf_map_lookup_elem(&rules_state, &key);
    if (!state)
        return 1;
    /* This computer's own address is as local as 127.0.0.1, as the engine holds. */
    if (peer->ipv4 && state->own_address != 0 && peer->address == bpf_ntohl(state->own_address))
        return 1;
    if (settings->mode == ZEL_BACKSTOP_RULES)
        return decide_by_rules(ctx, peer, tgid, uid, state);
    const __u32 verdict = settings->mode == ZEL_BACKSTOP_DENY ? ZEL_VERDICT_DENIED : ZEL_VERDICT_PASSED;
    tell(ctx, peer, tgid, uid, settings->mode, verdict, bpf_map_lookup_elem(&images, &tgid));
    return verdict == ZEL_VERDICT_DENIED ? 0 : 1;
}

/* 127.0.0.1, 0.0.0.0 and ::1 are this computer, as the engine holds. */
static __always_inline int loopback4(__u32 address)
{
    return address == 0x7f000001 || address == 0;
}

static __always_inline int decide4(struct bpf_sock_addr* ctx)
{
    struct peer peer = {.family = AF_INET, .port = bpf_ntohs((__u16)ctx->user_port), .ipv4 = 1,
                        .address = bpf_ntohl(ctx->user_ip4)};
    return decide(ctx, &peer, loopback4(peer.address));
}

static __always_inline int decide6(struct bpf_sock_addr* ctx)
{
    struct peer peer = {.family = AF_INET6, .port = bpf_ntohs((__u16)ctx->user_port)};
    const __u32 a = ctx->user_ip6[0], b = ctx->user_ip6[1], c = ctx->user_ip6[2], d = ctx->user_ip6[3];
    int loopback = a == 0 && b == 0 && c == 0 && d == bpf_htonl(1);
    peer.high = ((__u64)bpf_ntohl(a) << 32) | bpf_ntohl(b);
    peer.low = ((__u64)bpf_ntohl(c) << 32) | bpf_ntohl(d);
    /* An IPv4 address mapped into IPv6 is that IPv4 address, as the hook gives it to the engine. */
    if (a == 0 && b == 0 && c == bpf_htonl(0xffff)) {
        peer.ipv4 = 1;
        peer.address = bpf_ntohl(d);
        loopback = loopback4(peer.address);
    }
    return decide(ctx, &peer, loopback);
}

SEC("cgroup/connect4")
int connect4(struct bpf_sock_addr* ctx) { return decide4(ctx); }

SEC("cgroup/connect6")
int connect6(struct bpf_sock_addr* ctx) { return decide6(ctx); }

SEC("cgroup/sendmsg4")
int sendmsg4(struct bpf_sock_addr* ctx) { return decide4(ctx); }

SEC("cgroup/sendmsg6")
int sendmsg6(struct bpf_sock_addr* ctx) { return decide6(ctx); }
