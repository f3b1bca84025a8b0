/* The kernel side of the backstop: connections and datagrams of the covered
 * programs that did not register (programs the hook is not in) get the
 * configured verdict (pass, refuse, or the rules) and are reported, both
 * those the programs make and those that arrive for their sockets.
 * Registration is a socket option a hooked program sets once per image; a
 * fork inherits it, an exec loses it, and it goes with the program's last
 * thread. Which program a process runs is taken the same way, when it is
 * executed: the file's name as the engine names programs, and which file
 * it is (inode, device, the folder it was executed from, its status change
 * time), so that an entry bound to a path holds for that file alone.
 *
 * One set of these programs per covered user, and one for the system
 * services (root and the system users), all attached at the cgroup v2
 * root, where the kernel runs every one and lets a connection through only
 * when all pass: each decides its own users' connections and passes every
 * other's.
 *
 * Only what Debian 12's kernel (6.1) has: cgroup sock_addr, sock (post_bind),
 * skb (ingress) and sockopt programs, BTF tracepoints (5.5), task iterators
 * (5.8), bounded loops (5.3), ring buffers (5.8), socket local storage
 * (5.2; from sock programs 5.10, tracing 5.11), the TCP state tracepoint,
 * LRU hash maps, and the helpers map lookup
 * and update, ringbuf, current uid/pid/comm, ktime, probe_read_kernel(_str),
 * sk_fullsock, skb_load_bytes and bpf_loop (5.17). The inode's change time
 * is read under each of its three names (6.1; 6.6; 6.11 on). */
#include <linux/bpf.h>
#include <bpf/bpf_helpers.h>
#include <bpf/bpf_tracing.h>
#include <bpf/bpf_core_read.h>
#include <bpf/bpf_endian.h>

#include "backstop/backstop.h"
#include "backstop/exe_name.h"
#include "backstop/kernel_types.bpf.h"

#define AF_INET 2
#define AF_INET6 10
#define IPPROTO_TCP 6
#define IPPROTO_UDP 17
#define ETH_P_IP 0x0800
#define ETH_P_IPV6 0x86dd
#define SOCK_DGRAM 2
/* Socket states as bpf_sock gives them. */
#define STATE_ESTABLISHED 1
#define STATE_LISTEN 10

char LICENSE[] SEC("license") = "GPL";

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
 * may take a covered user's identity without executing anything; and
 * whether the hook is in it (registered), kept in the same note so that a
 * connect looks up its process once. */
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

/* The TCP and UDP sockets of unhooked programs: who made them, and whom
 * they sent datagrams to. Goes with the socket (not copied to
 * the connections a listener accepts). */
struct {
    __uint(type, BPF_MAP_TYPE_SK_STORAGE);
    __uint(map_flags, BPF_F_NO_PREALLOC);
    __type(key, int);
    __type(value, struct zel_backstop_socket);
} sockets SEC(".maps");

/* The compiled rules (see backstop.h): which generation is in force, Block
 * All; the programs by name hash; the files of bound entries; their lists by
 * direction and port; the lists' IPv4 and IPv6 address intervals, the two
 * generations' halves one after the other. */
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
    __uint(max_entries, 2 * ZEL_RULES_BOUND);
    __uint(map_flags, BPF_F_NO_PREALLOC);
    __type(key, struct zel_rules_bound_key);
    __type(value, struct zel_rules_bound);
} bound SEC(".maps");

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

/* When each notice was last given, so that a program retrying (or a peer
 * knocking) does not flood the ring: the same question (program, peer,
 * port) is asked once a minute at most, a program's refusals and recorded
 * passes are told once in ten seconds. */
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

static __always_inline const struct zel_backstop_config* settings_now(void)
{
    __u32 key = 0;
    return bpf_map_lookup_elem(&config, &key);
}

/* Whether a backstop decides the programs of uid: a user's, that user's;
 * the services', root's and the system users'. */
static __always_inline int covers(const struct zel_backstop_config* settings, __u32 uid)
{
    if (settings->uid != ZEL_BACKSTOP_SERVICES)
        return uid == settings->uid;
    return uid < settings->first_user || (uid > settings->last_user && uid != 0xffffffffu);
}

/* Marks a process as one the hook is in, in its note; a note is made for it
 * when the program it runs is not known (its name left empty). Where the
 * notes are full, the process stays decided here as well as by the hook. */
static __always_inline void note_registered(__u32 tgid)
{
    struct zel_backstop_image* image = bpf_map_lookup_elem(&images, &tgid);
    if (!image) {
        /* On the stack, not in the shared scratch room, which a note being
         * made on this CPU when this program is preempted may be using. */
        struct zel_backstop_image fresh = {.registered = 1};
        bpf_map_update_elem(&images, &tgid, &fresh, BPF_NOEXIST);
        image = bpf_map_lookup_elem(&images, &tgid);
        if (!image)
            return;
    }
    image->registered = 1;
}

/* Each backstop sees every registration and takes only its own users': a
 * program of a user with no backstop then hears ENOPROTOOPT, as with none
 * installed, and registers again when one comes. */
SEC("cgroup/setsockopt")
int register_program(struct bpf_sockopt* ctx)
{
    if (ctx->level != ZEL_BACKSTOP_LEVEL)
        return 1; /* not ours: the kernel handles it */
    const struct zel_backstop_config* settings = settings_now();
    if (!settings || !covers(settings, (__u32)bpf_get_current_uid_gid()))
        return 1; /* another user's program: another backstop's, or none */
    if (ctx->optname == ZEL_BACKSTOP_REGISTER)
        note_registered(bpf_get_current_pid_tgid() >> 32);
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
    /* The child runs the same program, with the hook in it if it was in the parent. */
    const struct zel_backstop_image* image = bpf_map_lookup_elem(&images, &from);
    if (image)
        bpf_map_update_elem(&images, &to, image, BPF_ANY);
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

/* Which file the task runs: inode, device, change time, and the folder it
 * was executed from. */
static __always_inline void note_file(struct file* file, struct zel_backstop_identity* identity)
{
    struct inode* inode = BPF_CORE_READ(file, f_inode);
    struct dentry* folder = BPF_CORE_READ(file, f_path.dentry, d_parent);
    if (!inode || !folder)
        return;
    identity->file = BPF_CORE_READ(inode, i_ino);
    identity->file_device = BPF_CORE_READ(inode, i_sb, s_dev);
    identity->folder = BPF_CORE_READ(folder, d_inode, i_ino);
    identity->folder_device = BPF_CORE_READ(folder, d_inode, i_sb, s_dev);
    if (bpf_core_field_exists(inode->i_ctime_sec)) {
        identity->changed = BPF_CORE_READ(inode, i_ctime_sec);
        /* The top bit says whether the time was looked at (6.13 on): not the time. */
        identity->changed_ns = BPF_CORE_READ(inode, i_ctime_nsec) & 0x7fffffffu;
    } else if (bpf_core_field_exists(((struct inode___hidden_ctime*)0)->__i_ctime)) {
        const struct inode___hidden_ctime* hidden = (const void*)inode;
        identity->changed = BPF_CORE_READ(hidden, __i_ctime.tv_sec);
        identity->changed_ns = (unsigned int)BPF_CORE_READ(hidden, __i_ctime.tv_nsec);
    } else {
        const struct inode___plain_ctime* plain = (const void*)inode;
        identity->changed = BPF_CORE_READ(plain, i_ctime.tv_sec);
        identity->changed_ns = (unsigned int)BPF_CORE_READ(plain, i_ctime.tv_nsec);
    }
    identity->known = 1;
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
    struct file* file = BPF_CORE_READ(task, mm, exe_file);
    const unsigned char* name = BPF_CORE_READ(file, f_path.dentry, d_name.name);
    if (!file || !name || bpf_probe_read_kernel_str(image->name, sizeof image->name, name) <= 0) {
        if (flags == BPF_ANY)
            bpf_map_delete_elem(&images, &tgid);
        return;
    }
    __builtin_memset(&image->identity, 0, sizeof image->identity);
    image->registered = 0; /* a new image: the hook, if it is in it, registers again */
    struct name_walk walk = {.name = image->name};
    zel_name_hasher_start(&walk.hasher);
    bpf_loop(ZEL_NAME_SIZE, hash_name_byte, &walk, 0);
    image->identity.hash = zel_name_hasher_end(&walk.hasher);
    image->identity.raw = zel_name_hasher_raw(&walk.hasher);
    note_file(file, &image->identity);
    bpf_map_update_elem(&images, &tgid, image, flags);
}

SEC("tp_btf/sched_process_exec")
int BPF_PROG(on_exec, struct task_struct* task)
{
    /* A new image: its note replaced, unregistered. */
    __u32 tgid = BPF_CORE_READ(task, tgid);
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
    bpf_map_delete_elem(&images, &tgid);
    return 0;
}

/* The peer of a connection or a datagram. */
struct peer {
    unsigned short family; /* as the program gave it (as the packet came) */
    unsigned short port;   /* host order: the peer's */
    unsigned short local_port; /* host order: the program's (incoming) */
    unsigned char protocol;
    unsigned char incoming;
    int ipv4;              /* an IPv4 address (also one mapped into IPv6) */
    __u32 address;         /* then: host order */
    __u64 high, low;       /* else the IPv6 address, as two numbers */
    unsigned char bytes[16]; /* as the program gave it (network order) */
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

/* Tells the service of a connection, once in a while per program, verdict
 * and (asked or recorded) peer. pid: the program's process; current: 1 when
 * it is the current task (its command name is then known). */
static __always_inline void tell(const struct peer* peer, __u32 pid, __u32 uid, __u32 mode, __u32 verdict,
                                 const struct zel_backstop_image* image, __u64 hash, int general, int current)
{
    struct zel_notice_key key = {.hash = hash, .verdict = verdict, .incoming = peer->incoming};
    const int each_peer = verdict == ZEL_VERDICT_ASKED || verdict == ZEL_VERDICT_PASSED;
    /* What comes in is noticed per port of the program's: the peers choose
     * their addresses, and so many would bury every other notice. */
    if (each_peer) {
        key.port = peer->incoming ? peer->local_port : peer->port;
        key.family = peer->family;
        if (!peer->incoming)
            __builtin_memcpy(key.address, peer->bytes, 16);
    }
    if (noticed_lately(&key, verdict == ZEL_VERDICT_ASKED ? ASK_INTERVAL_NS : DENY_INTERVAL_NS))
        return;
    struct zel_backstop_event* event = bpf_ringbuf_reserve(&events, sizeof *event, 0);
    if (!event)
        return;
    __builtin_memset(event, 0, sizeof *event);
    event->pid = pid;
    event->uid = uid;
    event->mode = mode;
    event->verdict = verdict;
    event->family = peer->family;
    event->port = peer->port;
    event->local_port = peer->local_port;
    event->protocol = peer->protocol;
    event->incoming = peer->incoming;
    event->general = general ? 1 : 0;
    __builtin_memcpy(event->address, peer->bytes, 16);
    if (current)
        bpf_get_current_comm(event->comm, sizeof event->comm);
    if (image) {
        __builtin_memcpy(event->name, image->name, sizeof event->name);
        event->named = 1;
    }
    bpf_ringbuf_submit(event, 0);
}

/* The table that decides a program: the one of the file at a bound path
 * when it runs one (trusted while it is the very file checked, unchanged),
 * else the one of its name, else the general one. */
static __always_inline const struct zel_rules_program* program_for(const struct zel_backstop_identity* identity,
                                                                   __u32 generation, int any_bound)
{
    struct zel_rules_program_key key = {.hash = ZEL_RULES_GENERAL, .generation = generation};
    const struct zel_rules_program* program = 0;
    if (identity && identity->known && any_bound) {
        struct zel_rules_bound_key place = {.folder = identity->folder, .raw = identity->raw,
                                            .folder_device = identity->folder_device, .generation = generation};
        const struct zel_rules_bound* file = bpf_map_lookup_elem(&bound, &place);
        if (file) {
            const int same = file->file == identity->file && file->file_device == identity->file_device
                && file->changed == identity->changed && file->changed_ns == identity->changed_ns;
            key.hash = !file->checked || same ? file->trusted : file->doubted;
            program = bpf_map_lookup_elem(&programs, &key);
        }
    }
    if (!program && identity) {
        key.hash = identity->hash;
        program = bpf_map_lookup_elem(&programs, &key);
    }
    if (!program) {
        key.hash = ZEL_RULES_GENERAL;
        program = bpf_map_lookup_elem(&programs, &key);
    }
    return program;
}

/* The permission for a peer by the compiled rules; general: set when the
 * general settings decided (no entry of the program's own). */
static __always_inline __u32 permission_by_rules(const struct peer* peer, const struct zel_backstop_identity* identity,
                                                 const struct zel_rules_state* state, int* general)
{
    *general = 1;
    if (state->block_all)
        return ZEL_RULES_DENY;
    if (!state->loaded)
        return ZEL_RULES_ASK; /* no rules read yet: as the engine without a rules file */
    const __u32 generation = state->generation & 1;
    const struct zel_rules_program* program =
        program_for(identity, generation, (state->bound_in & ZEL_RULES_BOUND_IN(generation)) != 0);
    if (!program)
        return ZEL_RULES_ASK;
    *general = program->general;
    /* The rule's port: the peer's going out, the program's coming in. Port
     * 0 itself has the entries of every port alone. */
    const __u32 port = peer->incoming ? peer->local_port : peer->port;
    const struct zel_rules_list* every_port = peer->incoming ? &program->every_in : &program->every;
    const struct zel_rules_list* own = every_port;
    const struct zel_rules_list* every = 0;
    if (port != 0) {
        struct zel_rules_list_key own_key = {
            .program = program->index,
            .port = peer->incoming ? ZEL_RULES_LIST_IN(port, generation) : ZEL_RULES_LIST_PORT(port, generation)};
        own = bpf_map_lookup_elem(&lists, &own_key);
        every = every_port;
    }
    const unsigned int fallback = peer->incoming ? program->incoming : program->outgoing;
    return zel_rules_decide_with(fallback, own, every, peer->ipv4, peer->address, peer->high, peer->low);
}

/* 1: pass, 0: refuse; for an unhooked program of a covered user. */
static __always_inline int verdict_for(const struct peer* peer, __u32 pid, __u32 uid,
                                       const struct zel_backstop_config* settings,
                                       const struct zel_backstop_identity* identity,
                                       const struct zel_backstop_image* image, int current)
{
    __u32 key = 0;
    const struct zel_rules_state* state = bpf_map_lookup_elem(&rules_state, &key);
    if (!state)
        return 1;
    /* This computer's own address is as local as 127.0.0.1, as the engine holds. */
    if (peer->ipv4 && state->own_address != 0 && peer->address == bpf_ntohl(state->own_address))
        return 1;
    const __u64 hash = identity ? identity->hash : ZEL_RULES_GENERAL;
    if (settings->mode != ZEL_BACKSTOP_RULES) {
        const __u32 verdict = settings->mode == ZEL_BACKSTOP_DENY ? ZEL_VERDICT_DENIED : ZEL_VERDICT_PASSED;
        tell(peer, pid, uid, settings->mode, verdict, image, hash, 0, current);
        return verdict == ZEL_VERDICT_DENIED ? 0 : 1;
    }
    int general = 1;
    const __u32 permission = permission_by_rules(peer, identity, state, &general);
    if (permission == ZEL_RULES_PERMIT) {
        if (general && state->record_general)
            tell(peer, pid, uid, settings->mode, ZEL_VERDICT_PASSED, image, hash, 1, current);
        return 1;
    }
    const __u32 verdict = permission == ZEL_RULES_ASK ? ZEL_VERDICT_ASKED : ZEL_VERDICT_DENIED;
    tell(peer, pid, uid, settings->mode, verdict, image, hash, general, current);
    return 0;
}

/* The socket's record of its maker and the peers it sent to: made the first
 * time it is asked for. */
static __always_inline struct zel_backstop_socket* socket_record(void* sk, __u32 tgid, __u32 uid,
                                                                 const struct zel_backstop_image* image)
{
    struct zel_backstop_socket* record = bpf_sk_storage_get(&sockets, sk, 0, 0);
    if (record)
        return record;
    record = bpf_sk_storage_get(&sockets, sk, 0, BPF_SK_STORAGE_GET_F_CREATE);
    if (!record)
        return 0;
    if (image)
        record->identity = image->identity;
    else
        record->identity.hash = ZEL_RULES_GENERAL;
    record->pid = tgid;
    record->uid = uid;
    return record;
}

/* 1: pass, 0: refuse; a connection or datagram of the current task. */
static __always_inline int decide_outgoing(struct bpf_sock_addr* ctx, struct peer* peer, int loopback)
{
    const struct zel_backstop_config* settings = settings_now();
    if (!settings || settings->mode == ZEL_BACKSTOP_OFF)
        return 1;
    __u32 uid = (__u32)bpf_get_current_uid_gid();
    if (!covers(settings, uid) || loopback)
        return 1;
    __u32 tgid = bpf_get_current_pid_tgid() >> 32;
    const struct zel_backstop_image* image = bpf_map_lookup_elem(&images, &tgid);
    if (image && image->registered)
        return 1; /* the hook decides */
    const int pass = verdict_for(peer, tgid, uid, settings, image ? &image->identity : 0, image, 1);
    /* A datagram's answers are the same exchange: they come in as answers,
     * not as incoming traffic. */
    if (pass && ctx->type == SOCK_DGRAM) {
        struct zel_backstop_socket* record = socket_record(ctx->sk, tgid, uid, image);
        if (record) {
            const __u32 slot = record->next % ZEL_SOCKET_PEERS;
            record->next = slot + 1;
            if (slot < ZEL_SOCKET_PEERS) {
                __builtin_memcpy(record->peers[slot].address, peer->bytes, 16);
                record->peers[slot].port = peer->port;
                record->peers[slot].family = peer->family;
            }
        }
    }
    return pass;
}

/* 127.0.0.1, 0.0.0.0 and ::1 are this computer, as the engine holds. */
static __always_inline int loopback4(__u32 address)
{
    return address == 0x7f000001 || address == 0;
}

/* An IPv6 peer as the rules see it; an IPv4 address mapped into IPv6 is
 * that IPv4 address, as the hook gives it to the engine. Whether it is
 * this computer. */
static __always_inline int take6(struct peer* peer, __u32 a, __u32 b, __u32 c, __u32 d)
{
    __builtin_memcpy(peer->bytes, &a, 4);
    __builtin_memcpy(peer->bytes + 4, &b, 4);
    __builtin_memcpy(peer->bytes + 8, &c, 4);
    __builtin_memcpy(peer->bytes + 12, &d, 4);
    peer->high = ((__u64)bpf_ntohl(a) << 32) | bpf_ntohl(b);
    peer->low = ((__u64)bpf_ntohl(c) << 32) | bpf_ntohl(d);
    if (a == 0 && b == 0 && c == bpf_htonl(0xffff)) {
        peer->ipv4 = 1;
        peer->address = bpf_ntohl(d);
        return loopback4(peer->address);
    }
    return a == 0 && b == 0 && c == 0 && d == bpf_htonl(1);
}

static __always_inline int decide4(struct bpf_sock_addr* ctx)
{
    struct peer peer = {.family = AF_INET, .port = bpf_ntohs((__u16)ctx->user_port), .ipv4 = 1,
                        .protocol = (unsigned char)ctx->protocol};
    const __u32 address = ctx->user_ip4;
    peer.address = bpf_ntohl(address);
    __builtin_memcpy(peer.bytes, &address, 4);
    return decide_outgoing(ctx, &peer, loopback4(peer.address));
}

static __always_inline int decide6(struct bpf_sock_addr* ctx)
{
    struct peer peer = {.family = AF_INET6, .port = bpf_ntohs((__u16)ctx->user_port),
                        .protocol = (unsigned char)ctx->protocol};
    const int loopback = take6(&peer, ctx->user_ip6[0], ctx->user_ip6[1], ctx->user_ip6[2], ctx->user_ip6[3]);
    return decide_outgoing(ctx, &peer, loopback);
}

SEC("cgroup/connect4")
int connect4(struct bpf_sock_addr* ctx) { return decide4(ctx); }

SEC("cgroup/connect6")
int connect6(struct bpf_sock_addr* ctx) { return decide6(ctx); }

SEC("cgroup/sendmsg4")
int sendmsg4(struct bpf_sock_addr* ctx) { return decide4(ctx); }

SEC("cgroup/sendmsg6")
int sendmsg6(struct bpf_sock_addr* ctx) { return decide6(ctx); }

/* Notes the current program as the one a socket's incoming traffic is
 * decided by, when it is a covered user's unhooked program. */
static __always_inline void note_socket(void* sk)
{
    const struct zel_backstop_config* settings = settings_now();
    if (!settings || settings->mode == ZEL_BACKSTOP_OFF)
        return;
    __u32 uid = (__u32)bpf_get_current_uid_gid();
    if (!covers(settings, uid))
        return;
    __u32 tgid = bpf_get_current_pid_tgid() >> 32;
    const struct zel_backstop_image* image = bpf_map_lookup_elem(&images, &tgid);
    if (image && image->registered)
        return;
    socket_record(sk, tgid, uid, image);
}

/* What comes in for a TCP socket is looked at only while it listens, so a
 * TCP socket is noted when it starts to, by the program that listens on it
 * (its maker, or one it was handed to, before or after an exec), bound or
 * not, and nothing is kept for the far more numerous ones that only
 * connect. The state is set before the socket is put where connections
 * find it, so none comes in unlooked-at. Run on every change of a TCP
 * socket's state, machine-wide: returns at once on all but a listen. */
SEC("tp_btf/inet_sock_set_state")
int BPF_PROG(note_listener, struct sock* sk, int oldstate, int newstate)
{
    if (newstate == STATE_LISTEN && sk->sk_protocol == IPPROTO_TCP)
        note_socket(sk);
    return 0;
}

/* A datagram socket is noted when made: one that sends a datagram that is
 * refused, or is sent to through a call that binds it with no address to
 * look at, is given its port by the kernel with no bind to see, and what
 * comes in for it is the program's to decide all the same. */
SEC("cgroup/sock_create")
int sock_create(struct bpf_sock* sk)
{
    if (sk->protocol == IPPROTO_UDP)
        note_socket(sk);
    return 1;
}

/* A datagram socket bound (a server's): its binder decides what arrives,
 * where it was handed over since it was made. The bind is not refused. */
static __always_inline int note_bound(struct bpf_sock* sk)
{
    if (sk->protocol == IPPROTO_UDP)
        note_socket(sk);
    return 1;
}

SEC("cgroup/post_bind4")
int post_bind4(struct bpf_sock* sk) { return note_bound(sk); }

SEC("cgroup/post_bind6")
int post_bind6(struct bpf_sock* sk) { return note_bound(sk); }

/* Whether a datagram from peer answers one the socket sent. */
static __always_inline int answers(const struct zel_backstop_socket* record, const struct peer* peer)
{
    __u32 from[4];
    __builtin_memcpy(from, peer->bytes, 16);
#pragma unroll
    for (int i = 0; i < ZEL_SOCKET_PEERS; i++) {
        const struct zel_socket_peer* sent = &record->peers[i];
        __u32 to[4];
        __builtin_memcpy(to, sent->address, 16);
        if (sent->port != 0 && sent->port == peer->port && to[0] == from[0] && to[1] == from[1] && to[2] == from[2]
            && to[3] == from[3])
            return 1;
    }
    return 0;
}

/* What arrives for a socket of an unhooked program: a connection to its
 * listener (every packet that comes to a listening socket, so that nothing
 * a refused peer sent reaches the program), or a datagram that answers
 * nothing it sent. Refused: dropped before the socket sees it. Run for
 * every packet the machine receives; returns at once for every socket the
 * backstop keeps nothing of (the hooked programs' and other users'). */
SEC("cgroup_skb/ingress")
int ingress(struct __sk_buff* skb)
{
    struct bpf_sock* sk = skb->sk;
    if (!sk)
        return 1;
    sk = bpf_sk_fullsock(sk);
    if (!sk)
        return 1;
    struct zel_backstop_socket* record = bpf_sk_storage_get(&sockets, sk, 0, 0);
    if (!record)
        return 1;
    const struct zel_backstop_config* settings = settings_now();
    if (!settings || settings->mode == ZEL_BACKSTOP_OFF || !covers(settings, record->uid))
        return 1;
    const __u32 protocol = sk->protocol;
    if (protocol == IPPROTO_TCP ? sk->state != STATE_LISTEN : protocol != IPPROTO_UDP || sk->state == STATE_ESTABLISHED)
        return 1; /* a connection of its own, or a connected datagram socket: decided going out */
    __u32 pid = record->pid;
    const struct zel_backstop_image* image = bpf_map_lookup_elem(&images, &pid);
    if (image && image->registered)
        return 1; /* the hook came in since: it decides */
    struct peer peer = {.incoming = 1, .protocol = (unsigned char)protocol, .local_port = (unsigned short)sk->src_port};
    int loopback = 0;
    __u32 transport = 0;
    if (skb->protocol == bpf_htons(ETH_P_IP)) {
        __u8 first = 0;
        __u32 source = 0;
        if (bpf_skb_load_bytes(skb, 0, &first, 1) || bpf_skb_load_bytes(skb, 12, &source, 4))
            return 0; /* not a whole header: nothing a refused peer may slip past */
        peer.family = AF_INET;
        peer.ipv4 = 1;
        peer.address = bpf_ntohl(source);
        __builtin_memcpy(peer.bytes, &source, 4);
        loopback = loopback4(peer.address);
        transport = (first & 0x0f) * 4;
        __u8 next = 0;
        if (bpf_skb_load_bytes(skb, 9, &next, 1) || next != protocol)
            transport = 0; /* no port of its own to read */
    } else if (skb->protocol == bpf_htons(ETH_P_IPV6)) {
        __u32 source[4] = {};
        __u8 next = 0;
        if (bpf_skb_load_bytes(skb, 8, source, 16) || bpf_skb_load_bytes(skb, 6, &next, 1))
            return 0;
        peer.family = AF_INET6;
        loopback = take6(&peer, source[0], source[1], source[2], source[3]);
        /* Extension headers are not walked: the peer's port stays unknown. */
        transport = next == protocol ? 40 : 0;
    } else {
        return 1;
    }
    if (loopback)
        return 1; /* this computer */
    __u16 source_port = 0;
    if (transport != 0 && !bpf_skb_load_bytes(skb, transport, &source_port, 2))
        peer.port = bpf_ntohs(source_port);
    if (protocol == IPPROTO_UDP && peer.port != 0 && answers(record, &peer))
        return 1;
    if (image && image->identity.hash != record->identity.hash)
        image = 0; /* the process runs another program now: named by the socket's */
    return verdict_for(&peer, pid, record->uid, settings, &record->identity, image, 0);
}
