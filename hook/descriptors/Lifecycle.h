#pragma once

// What the hook knows of a descriptor goes with the number when the program
// closes or replaces it, and goes to the copy when it duplicates it (dup,
// dup2, F_DUPFD). Not from a vfork child (Vfork.h).
namespace hook {

void ForgetDescriptor(int fd);
void ForgetRange(unsigned first, unsigned last);
// to, the copy of from (or the failed call's result, handed back).
int Duplicated(int from, int to);

}  // namespace hook
