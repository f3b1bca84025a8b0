#pragma once

#include <sys/types.h>

#include <atomic>
#include <cstddef>
#include <cstdint>

// What the interceptor's hook and the engine it loads tell each other beyond
// the engine's exports (engine/EngineExports.h). The hook exports the function named
// kHookLinkSymbol returning its link; the engine looks it up in the process
// when it is loaded, fills in its part, and runs on its own when there is none.
//
// One more convention rides on the exports themselves: when a signal
// interrupts UserApprove's wait for the user's answer, it returns 0 with errno
// EINTR (and logs nothing, since nothing was decided); otherwise it leaves
// errno 0.
namespace protocol {

inline constexpr const char* kHookLinkSymbol = "zel_hook_link";

struct HookLink {
    static constexpr uint32_t kVersion = 1;
    uint32_t version = kVersion;

    // From the hook.
    // The firewall's variables as the program started with them ("NAME=VALUE",
    // ending with null; see Environment.h).
    const char* const* startupEnvironment = nullptr;
    // Keeps the program's own close calls off a descriptor the engine keeps
    // (see Descriptors.h).
    void (*keepDescriptor)(std::atomic<int>* holder) = nullptr;
    void (*releaseDescriptor)(std::atomic<int>* holder) = nullptr;

    // From the engine.
    // Changes whenever a verdict remembered outside the engine (the hook's
    // datagram verdicts) may no longer hold: the rules were loaded again,
    // block-all or the pass-through state changed, or an answer for a time
    // that decided such a verdict ended. A verdict is remembered with the epoch read before it was taken.
    uint32_t (*verdictEpoch)() = nullptr;
    // The program is about to change its user or group: open now what the
    // engine will need and might not be allowed to open afterwards.
    void (*prepareForCredentialChange)() = nullptr;
    // The change happened.
    void (*credentialsChanged)() = nullptr;
};

using HookLinkFn = HookLink* (*)();

// The program's arguments and working folder as the hook saw them at its
// start, before the program could change either (a process title written
// over its arguments, a change of folder before its first connection): what
// names the script an interpreter runs. A symbol of its own beside the link,
// so that an engine and a hook of another age each go on without it.
inline constexpr const char* kHookStartSymbol = "zel_hook_start";

struct HookStart {
    const char* const* arguments = nullptr; // the first count arguments, each whole; argv[0] empty
    size_t count = 0;
    const char* folder = nullptr; // an absolute path; empty when it was not known
};

using HookStartFn = const HookStart* (*)();

// The program's pid and its parent's when it started, before its first
// connection (by when the parent may have ended and the program been
// adopted, or the engine be loaded in a fork). A symbol of its own, as above.
inline constexpr const char* kHookParentSymbol = "zel_hook_parent";

struct HookParent {
    pid_t self = 0;
    pid_t parent = 0;
};

using HookParentFn = const HookParent* (*)();

}  // namespace protocol
