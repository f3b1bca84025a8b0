#include "EngineBinding.h"

#include <dlfcn.h>

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
    if (Bind(library, "_Z7ApprovejiPKcij", bound.Approve) && Bind(library, "_Z11UserApprovejiPKcS0_ij", bound.UserApprove)
        && Bind(library, "_Z9LoadRulesv", bound.LoadRules) && Bind(library, "_Z10IsBlockAllv", bound.IsBlockAll)
        && Bind(library, "_Z11IsInServicev", bound.IsInService)
        && Bind(library, "_Z12WriteTrafficij", bound.WriteTraffic)
        && Bind(library, "_Z15GetUpdateStringPc", bound.GetUpdateString)
        && Bind(library, "_Z14PostUpdateDonev", bound.PostUpdateDone)) {
        Bind(library, "_Z12ApproveNamedjiPKcS0_ij", bound.ApproveNamed);
        Bind(library, "_Z12ApproveNamesjiPKcPKS0_jijPi", bound.ApproveNames);
        Bind(library, "_Z23UserApproveWithdrawablejiPKcS0_iji", bound.UserApproveWithdrawable);
        *this = bound;
        return true;
    }
    ::dlclose(library);
    return false;
}
