#include "panel/core/InterceptorLibrary.h"

#include "panel/core/ErrorLog.h"
#include "protocol/Presence.h"

#include <cerrno>
#include <dlfcn.h>
#include <sys/syscall.h>
#include <unistd.h>

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

pid_t InterceptorLibrary::RunningPid() const { return protocol::presence::InterceptorPid(); }

int InterceptorLibrary::WatchEnd() const
{
    const pid_t pid = RunningPid();
    if (pid == 0)
        return -1;
    const int fd = static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
    if (fd < 0)
        return -1;
    // Still the interceptor: the number was not taken by another process
    // between the look at the lock and the opening.
    if (RunningPid() != pid) {
        ::close(fd);
        return -1;
    }
    return fd;
}

int InterceptorLibrary::Restart(pid_t ended)
{
    WriteErrLog("MainForm : WatchInterceptor", "the interceptor (zelconn, process " + std::to_string(ended)
                                                   + ") ended; it is started again");
    return StartListen();
}

}  // namespace panel
