#pragma once

#include <string>
#include <sys/types.h>

namespace panel {

// The interceptor's library (libzelconn.so in the installation folder),
// bound by name when first used; the control panel runs without it. The
// panel watches the process the library starts and starts it again when it
// ends while the panel runs.

class InterceptorLibrary {
public:
    explicit InterceptorLibrary(std::string installFolder) : folder_(std::move(installFolder)) {}
    ~InterceptorLibrary();
    InterceptorLibrary(const InterceptorLibrary&) = delete;
    InterceptorLibrary& operator=(const InterceptorLibrary&) = delete;

    // 0 when done; -1 when the call failed or the library is missing (logged).
    int StartListen();
    int StopListen();

    // A descriptor that becomes readable when the running interceptor
    // process ends (its pidfd; the caller closes it), or -1 when none runs
    // or the system gives none (then RunningPid is asked now and then).
    int WatchEnd() const;
    pid_t RunningPid() const;
    // After the process ended: logged and started again. 0 when it runs.
    int Restart(pid_t ended);

private:
    bool Bind();

    std::string folder_;
    void* handle_ = nullptr;
    bool tried_ = false;
    int (*start_)() = nullptr;
    int (*stop_)() = nullptr;
};

}  // namespace panel
