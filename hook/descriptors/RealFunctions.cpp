// Looking up the C library's functions behind the hook's (see REAL in
// Kernel.h). Built without a sanitizer's instrumentation: a sanitizer's
// runtime installs its own signal handlers while it starts, before its
// instrumented code may run, and they come through the hook's sigaction.
#include "hook/descriptors/Kernel.h"

#include <dlfcn.h>

// The linker's bounds of every REAL's entry, in the hook and its parts.
extern "C" {
extern hook::RealFunction __start_zel_real_functions[] __attribute__((visibility("hidden")));
extern hook::RealFunction __stop_zel_real_functions[] __attribute__((visibility("hidden")));
}

namespace hook {

void* LookUp(RealFunction& function)
{
    void* address = ::dlsym(RTLD_NEXT, function.name);
    function.address.store(address, std::memory_order_relaxed);
    return address;
}

void LookUpAllRealFunctions()
{
    static std::atomic<bool> done {false};
    if (done.load(std::memory_order_acquire))
        return;
    // A name used in several places is looked up once: its text is one
    // string in the library (dlsym is what costs here, about half a
    // microsecond each).
    for (RealFunction* function = __start_zel_real_functions; function < __stop_zel_real_functions; ++function) {
        if (function->address.load(std::memory_order_relaxed))
            continue;
        void* address = nullptr;
        for (const RealFunction* found = __start_zel_real_functions; found < function && !address; ++found)
            if (found->name == function->name)
                address = found->address.load(std::memory_order_relaxed);
        if (address)
            function->address.store(address, std::memory_order_relaxed);
        else
            LookUp(*function);
    }
    done.store(true, std::memory_order_release);
}

}  // namespace hook

