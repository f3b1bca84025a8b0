#include "hook/EngineBinding.h"

#include <dlfcn.h>

namespace hook {

namespace {

template <typename T>
bool Bind(void* library, const char* symbol, T& target)
{
    target = reinterpret_cast<T>(::dlsym(library, symbol));
    return target != nullptr;
}

}  // namespace

bool EngineBinding::Load(const char* path)
{
    void* library = ::dlopen(path, RTLD_NOW | RTLD_LOCAL);
    if (!library)
        return false;
    EngineBinding bound;
    bool complete = true;
#define ZEL_BIND(name, result, parameters, arguments, symbol, required)                                             \
    if (!Bind(library, #symbol, bound.name) && required)                                                              \
        complete = false;
    ZEL_ENGINE_EXPORTS(ZEL_BIND)
#undef ZEL_BIND
    if (!complete) {
        ::dlclose(library);
        return false;
    }
    *this = bound;
    return true;
}

}  // namespace hook
