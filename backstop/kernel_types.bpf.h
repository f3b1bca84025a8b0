/* The kernel's types as the backstop's programs read them: only the fields
 * read, found by name in the running kernel's types (CO-RE). Included by
 * zel_backstop.bpf.c alone. */
#ifndef ZEL_KERNEL_TYPES_BPF_H
#define ZEL_KERNEL_TYPES_BPF_H

struct signal_struct {
    struct {
        int counter;
    } live;
} __attribute__((preserve_access_index));

struct qstr {
    const unsigned char* name;
} __attribute__((preserve_access_index));

struct super_block {
    unsigned int s_dev;
} __attribute__((preserve_access_index));

struct timespec64 {
    long long tv_sec;
    long tv_nsec;
} __attribute__((preserve_access_index));

/* The change time as 6.11 and later keep it ... */
struct inode {
    unsigned long i_ino;
    struct super_block* i_sb;
    long long i_ctime_sec;
    unsigned int i_ctime_nsec;
} __attribute__((preserve_access_index));

/* ... as 6.6 to 6.10 do ... */
struct inode___hidden_ctime {
    struct timespec64 __i_ctime;
} __attribute__((preserve_access_index));

/* ... and as 6.1 (Debian 12) does. */
struct inode___plain_ctime {
    struct timespec64 i_ctime;
} __attribute__((preserve_access_index));

struct dentry {
    struct dentry* d_parent;
    struct qstr d_name;
    struct inode* d_inode;
} __attribute__((preserve_access_index));

struct path {
    struct dentry* dentry;
} __attribute__((preserve_access_index));

struct file {
    struct path f_path;
    struct inode* f_inode;
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

struct sock {
    unsigned short sk_protocol;
} __attribute__((preserve_access_index));

struct bpf_iter_meta;
struct bpf_iter__task {
    struct bpf_iter_meta* meta;
    struct task_struct* task;
} __attribute__((preserve_access_index));

#endif
