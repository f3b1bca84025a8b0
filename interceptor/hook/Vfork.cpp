#include "Vfork.h"

#include <sys/syscall.h>
#include <unistd.h>

// Declared in the header with C linkage, so that the assembly below can name it.
thread_local int zel_in_vfork_child = 0;

#if defined(__x86_64__)
// As the C library's: the child returns on the parent's stack and may
// overwrite anything below it, so the return address waits in a register
// (the kernel keeps each task's own) and nothing is kept on the stack across
// the system call. The mark is set before it and cleared in the parent
// after it, when the child has exec'd or ended.
__asm__(R"(
    .text
    .globl vfork
    .type vfork, @function
    .p2align 4
vfork:
    movq zel_in_vfork_child@gottpoff(%rip), %rcx
    movl $1, %fs:(%rcx)
    popq %rdi
    movl $)" "58" R"(, %eax
    syscall
    pushq %rdi
    testq %rax, %rax
    jz 1f
    movq zel_in_vfork_child@gottpoff(%rip), %rcx
    movl $0, %fs:(%rcx)
    cmpq $-4095, %rax
    jae 2f
1:  ret
2:  negl %eax
    pushq %rax
    call __errno_location@PLT
    popq %rcx
    movl %ecx, (%rax)
    movq $-1, %rax
    ret
    .size vfork, .-vfork
)");
static_assert(SYS_vfork == 58, "the system call's number is written into vfork above");
#else
// Elsewhere a vfork is a fork, which POSIX allows: the child has memory of its own.
extern "C" __attribute__((visibility("default"))) pid_t vfork() { return fork(); }
#endif
