// The library's boundary: eight functions with C++ linkage (and a few beside them), so that their
// symbols carry the parameter types the interceptor binds them by. Nothing
// else is exported (see exports.map).
#include "engine/Engine.h"
#include "platform/Descriptors.h"
#include "platform/Environment.h"
#include "platform/HookLink.h"

#include <dlfcn.h>
#include <pthread.h>

#define ZEL_EXPORT __attribute__((visibility("default")))

namespace {

engine::Engine* g_engine = nullptr;

uint32_t LinkVerdictEpoch() { return g_engine->VerdictEpoch(); }
void LinkPrepareForCredentialChange() { g_engine->PrepareForCredentialChange(); }
void LinkCredentialsChanged() { g_engine->CredentialsChanged(); }

// The hook that loaded us, when there is one: it knows the environment the
// program started with and guards the descriptors the engine keeps.
platform::HookLink* FindHookLink()
{
    const auto find = reinterpret_cast<platform::HookLinkFn>(::dlsym(RTLD_DEFAULT, platform::kHookLinkSymbol));
    platform::HookLink* link = find ? find() : nullptr;
    return link && link->version == platform::HookLink::kVersion ? link : nullptr;
}

void BeforeFork() { g_engine->LockForFork(); }
void AfterForkInParent() { g_engine->UnlockAfterFork(false); }
void AfterForkInChild() { g_engine->UnlockAfterFork(true); }

// Process attach: the state is built before any export can run.
__attribute__((constructor)) void AttachProcess()
{
    platform::HookLink* link = FindHookLink();
    if (link) {
        platform::UseStartupEnvironment(link->startupEnvironment);
        platform::SetDescriptorGuard(link->keepDescriptor, link->releaseDescriptor);
    }
    g_engine = new engine::Engine();
    ::pthread_atfork(BeforeFork, AfterForkInParent, AfterForkInChild);
    if (link) {
        link->verdictEpoch = LinkVerdictEpoch;
        link->prepareForCredentialChange = LinkPrepareForCredentialChange;
        link->credentialsChanged = LinkCredentialsChanged;
    }
}

// Process detach. The copy's state stays allocated: other threads of a host
// that is exiting may still be inside an export.
__attribute__((destructor)) void DetachProcess()
{
    if (g_engine)
        g_engine->Detach();
}

}  // namespace

ZEL_EXPORT int Approve(unsigned int localPort, int direction, const char* remoteAddress, int protocol,
                       unsigned int remotePort)
{
    return g_engine->Approve(localPort, direction, remoteAddress, protocol, remotePort);
}

// Beside the eight: Approve with the name the program looked the peer up as.
// A hook that finds it passes names; one that does not still works.
ZEL_EXPORT int ApproveNamed(unsigned int localPort, int direction, const char* remoteAddress, const char* remoteName,
                            int protocol, unsigned int remotePort)
{
    return g_engine->ApproveNamed(localPort, direction, remoteAddress, remoteName, protocol, remotePort);
}

// Beside the eight: Approve with every name the program knows the peer by
// (the most recently learnt first); usedName gets the index of the one the
// decision went by, -1 for none.
ZEL_EXPORT int ApproveNames(unsigned int localPort, int direction, const char* remoteAddress,
                            const char* const* remoteNames, unsigned int nameCount, int protocol,
                            unsigned int remotePort, int* usedName)
{
    return g_engine->ApproveNames(localPort, direction, remoteAddress, remoteNames, nameCount, protocol, remotePort,
                                  usedName);
}

ZEL_EXPORT int UserApprove(unsigned int localPort, int direction, const char* remoteAddress, const char* remoteName,
                           int protocol, unsigned int remotePort)
{
    return g_engine->UserApprove(localPort, direction, remoteAddress, remoteName, protocol, remotePort);
}

// Beside the eight: UserApprove that withdrawFd readable takes back (0 with
// errno ECANCELED, nothing decided): for a question the program does not
// wait for, withdrawn when it closes the socket.
ZEL_EXPORT int UserApproveWithdrawable(unsigned int localPort, int direction, const char* remoteAddress,
                                       const char* remoteName, int protocol, unsigned int remotePort, int withdrawFd)
{
    return g_engine->UserApprove(localPort, direction, remoteAddress, remoteName, protocol, remotePort, withdrawFd);
}

ZEL_EXPORT int LoadRules() { return g_engine->LoadRules(); }
ZEL_EXPORT bool IsBlockAll() { return g_engine->IsBlockAll(); }
ZEL_EXPORT int IsInService() { return g_engine->IsInService(); }
ZEL_EXPORT void WriteTraffic(int counterSelect, unsigned int byteCount) { g_engine->WriteTraffic(counterSelect, byteCount); }
ZEL_EXPORT void GetUpdateString(char* buffer) { g_engine->GetUpdateString(buffer); }
ZEL_EXPORT void PostUpdateDone() { g_engine->PostUpdateDone(); }
