#include "settings/InterceptorLibrary.h"

#include "settings/GeneralMdl.h"

#include <dlfcn.h>

namespace panel {

InterceptorLibrary::~InterceptorLibrary()
{
    if (handle_)
        ::dlclose(handle_);
}

bool InterceptorLibrary::Bind()
{
    if (tried_)
        return start_ && stop_;
    tried_ = true;
    const std::string path = folder_ + "libzelconn.so";
    handle_ = folder_.empty() ? nullptr : ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle_) {
        const char* why = ::dlerror();
        WriteErrLog("MainForm : StartListen",
                    "the interceptor library cannot be loaded (" + std::string(why ? why : path) + "); connections are not relayed");
        return false;
    }
    start_ = reinterpret_cast<int (*)()>(::dlsym(handle_, "StartListen"));
    stop_ = reinterpret_cast<int (*)()>(::dlsym(handle_, "StopListen"));
    if (!start_ || !stop_)
        WriteErrLog("MainForm : StartListen", path + " lacks StartListen or StopListen");
    return start_ && stop_;
}

int InterceptorLibrary::StartListen()
{
    if (!Bind())
        return -1;
    const int result = start_();
    if (result != 0)
        WriteErrLog("MainForm : StartListen", "the interceptor did not start");
    return result;
}

int InterceptorLibrary::StopListen()
{
    // Never started, nothing to stop.
    if (!handle_ || !stop_)
        return -1;
    return stop_();
}

}  // namespace panel
