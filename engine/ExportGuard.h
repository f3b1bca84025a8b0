#pragma once

#include <exception>

// What keeps every failure inside the engine library: the hook that calls
// it is built without exceptions, and one that reached it would end the
// program. A call that fails returns its safe answer, and the error log is
// told once per export, without allocating (the failure may be that memory
// is exhausted).
namespace engine {

class ExportGuard {
public:
    // Where failures are told: the error log's folder, read now, while
    // there is memory to read it with. Called when the library is loaded.
    static void Prepare() noexcept;
    // Writes "qrbruler : name : ... failed (what); ..." to the day's error
    // log, the first time slot fails.
    static void TellFailure(unsigned slot, const char* name, const char* what) noexcept;

    static constexpr unsigned kSlots = 32;
};

// call's answer, or safe when it throws.
template <typename Result, typename Call>
Result Guarded(unsigned slot, const char* name, Result safe, Call&& call) noexcept
{
    try {
        return call();
    } catch (const std::exception& failure) {
        ExportGuard::TellFailure(slot, name, failure.what());
    } catch (...) {
        ExportGuard::TellFailure(slot, name, "an exception of no known kind");
    }
    return safe;
}

template <typename Call>
void Guarded(unsigned slot, const char* name, Call&& call) noexcept
{
    try {
        call();
    } catch (const std::exception& failure) {
        ExportGuard::TellFailure(slot, name, failure.what());
    } catch (...) {
        ExportGuard::TellFailure(slot, name, "an exception of no known kind");
    }
}

}  // namespace engine
