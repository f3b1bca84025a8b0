#pragma once

#include "hook/EngineBinding.h"

#include <atomic>
#include <cstdint>
#include <sys/types.h>

// The engine inside the program: loaded at the first decision (programs that
// never use the network never carry it), linked with the hook, and told about
// the program's life: its forks, its changes of user, its end.
namespace hook {

// Inside the hook's own work (loading the engine, asking the user): the
// program's calls made from there are not decided again.
extern __attribute__((tls_model("initial-exec"))) thread_local int t_inside;
struct Inside {
    Inside() { ++t_inside; }
    ~Inside() { --t_inside; }
};

enum class EngineState {
    kReady,       // decide
    kPassThrough, // let everything pass: secure execution, or no engine installed
    kUndecidable, // cannot load it now (no descriptor left): refuse, try again next time
};

// At the program's start: the environment, the arguments and the working
// folder are copied, and nothing else happens until the program first needs
// the hook.
void StartUp(int argc, char** argv);
// A connection refused with EPERM in a program that found no kernel
// backstop when it registered: registers once more; true when the
// connection is worth trying again.
bool RegisterAgainWithBackstop();
// In secure execution the environment is the caller's: nothing is loaded,
// nothing decided, nothing written.
bool IsSecure();

EngineState EnsureEngine();
// Whether the engine is loaded, without loading it: counting traffic never
// brings it into a program.
bool IsEngineLoaded();
const EngineBinding& Engine();
// The engine's verdict epoch (see protocol/hooksafe/HookLink.h); 0 without one.
uint32_t VerdictEpoch();

// Around a change of the program's effective user. Whatever the program did
// before, its engine is made ready first, while the settings, the rules and
// the log it started with can still be opened: it is decided by them and
// logs into that log as the new user. When that could not be done, nothing
// it does after the change is let through (see EnsureEngine).
void BeforeCredentialChange();
void AfterCredentialChange();

// Descriptors the hook and the engine keep: the program's close calls leave
// them alone, and a program that wants one's number for itself (dup2) gets
// it after ours moved elsewhere.
bool IsGuarded(int fd);
// The lowest guarded descriptor in [first, last], into fd.
bool FirstGuardedIn(unsigned first, unsigned last, unsigned& fd);
void MoveGuardedAside(int fd);

}  // namespace hook
