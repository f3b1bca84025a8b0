#pragma once

#include <string>

// The interceptor's library (libzelconn.so in the installation folder),
// bound by name when first used; the control panel runs without it.
namespace panel {

class InterceptorLibrary {
public:
    explicit InterceptorLibrary(std::string installFolder) : folder_(std::move(installFolder)) {}
    ~InterceptorLibrary();
    InterceptorLibrary(const InterceptorLibrary&) = delete;
    InterceptorLibrary& operator=(const InterceptorLibrary&) = delete;

    // 0 when done; -1 when the call failed or the library is missing (logged).
    int StartListen();
    int StopListen();

private:
    bool Bind();

    std::string folder_;
    void* handle_ = nullptr;
    bool tried_ = false;
    int (*start_)() = nullptr;
    int (*stop_)() = nullptr;
};

}  // namespace panel
