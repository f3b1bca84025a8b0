// The library's boundary: the functions of engine/EngineExports.h, with C++
// linkage so that their symbols carry the parameter types the hook binds
// them by. Nothing else is exported (exports.map is made from the same
// list), and nothing thrown inside gets out: every export, the load and the
// calls the hook makes through its link go through the guard.
#include "engine/Engine.h"
#include "engine/EngineExports.h"
#include "engine/ExportGuard.h"
#include "os/hooksafe/Descriptors.h"
#include "os/hooksafe/Environment.h"
#include "protocol/Registry.h"
#include "protocol/hooksafe/HookLink.h"

#include <dlfcn.h>
#include <elf.h>
#include <link.h>
#include <pthread.h>
#include <sys/mman.h>
#include <stdexcept>
#include <utility>
#include <type_traits>

#define ZEL_EXPORT __attribute__((visibility("default")))

namespace {

engine::Engine* g_engine = nullptr;

// The guard's slots: one per export, then the library's own calls.
enum Slot : unsigned {
#define ZEL_SLOT(name, result, parameters, arguments, symbol, required) kSlot##name,
    ZEL_ENGINE_EXPORTS(ZEL_SLOT)
#undef ZEL_SLOT
    kSlotLoad,
    kSlotLink,
    kSlotFork,
};
static_assert(kSlotFork < engine::ExportGuard::kSlots);

// The engine, which a failed load left without: every call is refused then.
engine::Engine& TheEngine()
{
    if (!g_engine)
        throw std::runtime_error("the engine could not be set up when the library was loaded");
    return *g_engine;
}

// The epoch of a verdict taken while the engine fails: no remembered verdict has it.
constexpr uint32_t kFailedEpoch = 0xFFFFFFFFu;

uint32_t LinkVerdictEpoch()
{
    return engine::Guarded(kSlotLink, "VerdictEpoch", kFailedEpoch, [] { return TheEngine().VerdictEpoch(); });
}
void LinkPrepareForCredentialChange()
{
    engine::Guarded(kSlotLink, "PrepareForCredentialChange", [] { TheEngine().PrepareForCredentialChange(); });
}
void LinkCredentialsChanged()
{
    engine::Guarded(kSlotLink, "CredentialsChanged", [] { TheEngine().CredentialsChanged(); });
}

// The hook that loaded us, when there is one: it knows the environment the
// program started with and guards the descriptors the engine keeps.
protocol::HookLink* FindHookLink()
{
    const auto find = reinterpret_cast<protocol::HookLinkFn>(::dlsym(RTLD_DEFAULT, protocol::kHookLinkSymbol));
    protocol::HookLink* link = find ? find() : nullptr;
    return link && link->version == protocol::HookLink::kVersion ? link : nullptr;
}

// What the hook saw at the program's start, when it kept it.
const protocol::HookStart* FindHookStart()
{
    const auto find = reinterpret_cast<protocol::HookStartFn>(::dlsym(RTLD_DEFAULT, protocol::kHookStartSymbol));
    return find ? find() : nullptr;
}

const protocol::HookParent* FindHookParent()
{
    const auto find = reinterpret_cast<protocol::HookParentFn>(::dlsym(RTLD_DEFAULT, protocol::kHookParentSymbol));
    return find ? find() : nullptr;
}

void BeforeFork()
{
    engine::Guarded(kSlotFork, "fork", [] { TheEngine().LockForFork(); });
}
void AfterForkInParent()
{
    engine::Guarded(kSlotFork, "fork", [] { TheEngine().UnlockAfterFork(false); });
}
void AfterForkInChild()
{
    engine::Guarded(kSlotFork, "fork", [] { TheEngine().UnlockAfterFork(true); });
}

// Process attach: the state is built before any export can run.
// The library's code and constant data, mapped into the program in one call.
// A program's first connection runs code spread over most of the library, and
// touching it page by page cost a fault for every region (some 25 µs each on
// a virtual machine), more than the work itself. The pages come from the page
// cache, shared with every other program: nothing private is added.
int MapSegmentsAtOnce(dl_phdr_info* info, size_t, void* code)
{
    const auto here = reinterpret_cast<ElfW(Addr)>(code);
    bool ours = false;
    for (int i = 0; i < info->dlpi_phnum && !ours; ++i) {
        const ElfW(Phdr)& segment = info->dlpi_phdr[i];
        ours = segment.p_type == PT_LOAD && here >= info->dlpi_addr + segment.p_vaddr
            && here < info->dlpi_addr + segment.p_vaddr + segment.p_memsz;
    }
    if (!ours)
        return 0;
#ifdef MADV_POPULATE_READ
    const ElfW(Addr) page = static_cast<ElfW(Addr)>(::sysconf(_SC_PAGESIZE));
    for (int i = 0; i < info->dlpi_phnum; ++i) {
        const ElfW(Phdr)& segment = info->dlpi_phdr[i];
        if (segment.p_type != PT_LOAD || (segment.p_flags & PF_W) || segment.p_memsz == 0)
            continue;
        const ElfW(Addr) start = (info->dlpi_addr + segment.p_vaddr) & ~(page - 1);
        const ElfW(Addr) end = info->dlpi_addr + segment.p_vaddr + segment.p_memsz;
        // Refused by kernels before 5.14 and by some sandboxes: the pages
        // then come as they are touched.
        ::madvise(reinterpret_cast<void*>(start), end - start, MADV_POPULATE_READ);
    }
#endif
    return 1;
}

void MapCodeAtOnce()
{
    ::dl_iterate_phdr(MapSegmentsAtOnce, reinterpret_cast<void*>(&MapSegmentsAtOnce));
}

__attribute__((constructor)) void AttachProcess()
{
    MapCodeAtOnce();
    protocol::HookLink* link = FindHookLink();
    if (link) {
        os::UseStartupEnvironment(link->startupEnvironment);
        os::SetDescriptorGuard(link->keepDescriptor, link->releaseDescriptor);
    }
    // Before anything reads a setting, the error-log folder too: a root
    // program started with its caller's variables must not take it from the
    // caller's store.
    protocol::registry::ReadOnlyTrustedStore();
    engine::ExportGuard::Prepare();
    g_engine = engine::Guarded(kSlotLoad, "load", static_cast<engine::Engine*>(nullptr),
                               [] {
                                   engine::EngineOptions options;
                                   options.start = FindHookStart();
                                   options.startParent = FindHookParent();
                                   return new engine::Engine(std::move(options));
                               });
    if (!g_engine)
        return;
    ::pthread_atfork(BeforeFork, AfterForkInParent, AfterForkInChild);
    if (link) {
        link->verdictEpoch = LinkVerdictEpoch;
        link->prepareForCredentialChange = LinkPrepareForCredentialChange;
        link->credentialsChanged = LinkCredentialsChanged;
    }
}

// Process detach. The copy's state stays allocated: other threads of a carrier
// that is exiting may still be inside an export.
__attribute__((destructor)) void DetachProcess()
{
    if (g_engine)
        engine::Guarded(kSlotLoad, "unload", [] { g_engine->Detach(); });
}

// An export's call: its safe answer, a refusal (0) where a decision was
// asked and nothing otherwise, when it fails.
template <typename Result, typename Call>
Result Exported(unsigned slot, const char* name, Call&& call) noexcept
{
    if constexpr (std::is_void_v<Result>)
        engine::Guarded(slot, name, call);
    else
        return engine::Guarded(slot, name, Result(), call);
}

}  // namespace

#define ZEL_DEFINE_EXPORT(name, result, parameters, arguments, symbol, required)                                    \
    ZEL_EXPORT result name parameters                                                                                 \
    {                                                                                                                 \
        return Exported<result>(kSlot##name, #name, [&] { return TheEngine().name arguments; });                      \
    }
ZEL_ENGINE_EXPORTS(ZEL_DEFINE_EXPORT)
#undef ZEL_DEFINE_EXPORT
