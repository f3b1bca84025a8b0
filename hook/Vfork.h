#pragma once

// A child made by vfork (Python's subprocess, among others) runs in its
// parent's memory until it execs or ends. What the hook would change there
// for the child's calls (what it knows of a descriptor the child closes or
// replaces, the questions about it, the firewall's own descriptors) it would
// change for the parent, whose descriptors are another table: the parent's
// sockets would then pass undecided. Such a child changes nothing of it.
//
// The hook's vfork (also under its other name, __vfork, and clone with the
// parent's memory and the parent waiting) marks the calling thread while its
// child runs: the child runs on that thread's memory, the parent's other
// threads are not marked.
// No system call of the hook's own, which a sandboxed program (seccomp)
// could forbid, and one load where something would change.
namespace hook {

extern "C" __attribute__((tls_model("initial-exec"), visibility("hidden"))) thread_local int zel_in_vfork_child;

inline bool InParentsMemory() { return zel_in_vfork_child != 0; }

}  // namespace hook
