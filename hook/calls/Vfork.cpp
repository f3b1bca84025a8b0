#include "hook/Vfork.h"

#include "hook/descriptors/Kernel.h"

#include <cstdarg>
#include <sched.h>
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
    .globl __vfork
    .type vfork, @function
    .type __vfork, @function
    .p2align 4
vfork:
__vfork:
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
    .size __vfork, .-vfork
)");
static_assert(SYS_vfork == 58, "the system call's number is written into vfork above");
#else
// Elsewhere a vfork is a fork, which POSIX allows: the child has memory of its own.
extern "C" __attribute__((visibility("default"))) pid_t vfork() { return fork(); }
extern "C" __attribute__((visibility("default"))) pid_t __vfork() { return fork(); }
#endif

// clone with the parent's memory and a descriptor table of the child's own,
// the parent waiting until the child execs or ends, is a vfork by another
// name (some programs start their children so). The child runs its function
// on a stack of its own, so the parent's frame here outlives it. It is
// marked as it starts, which also marks it when it was given a thread
// pointer of its own; a child that shares the parent's descriptor table
// changes the parent's descriptors, and the hook follows its calls.
namespace {

struct ChildStart {
    int (*function)(void*);
    void* argument;
};

int StartInParentsMemory(void* argument)
{
    const ChildStart& start = *static_cast<const ChildStart*>(argument); // the waiting parent's
    hook::zel_in_vfork_child = 1;
    return start.function(start.argument);
}

}  // namespace

extern "C" __attribute__((visibility("default"))) int clone(int (*function)(void*), void* stack, int flags,
                                                            void* argument, ...) noexcept
{
    // Read as the C library reads them, whether the flags ask for them or not.
    va_list more;
    va_start(more, argument);
    pid_t* parentThread = va_arg(more, pid_t*);
    void* threadPointer = va_arg(more, void*);
    pid_t* childThread = va_arg(more, pid_t*);
    va_end(more);
    REAL(clone);
    if (!function || (flags & (CLONE_VM | CLONE_VFORK | CLONE_FILES)) != (CLONE_VM | CLONE_VFORK))
        return real_clone(function, stack, flags, argument, parentThread, threadPointer, childThread);
    ChildStart start {function, argument};
    const int before = hook::zel_in_vfork_child;
    const int child = real_clone(StartInParentsMemory, stack, flags, &start, parentThread, threadPointer, childThread);
    hook::zel_in_vfork_child = before; // the child has exec'd or ended (or never started)
    return child;
}

extern "C" __attribute__((visibility("default"), alias("clone"))) int __clone(int (*function)(void*), void* stack,
                                                                              int flags, void* argument, ...) noexcept;
