#pragma once

#include <atomic>
#include <cstddef>

namespace hook {

// Zeroed pages that a program never touches cost nothing: what the hook
// keeps per descriptor or per name is made when it is first needed, so that
// a program without sockets never has any.
void* MapZeroed(size_t size);
void Unmap(void* memory, size_t size);

// The slot's T, made zeroed by the first caller and never given back (other
// threads may be reading it); null when no memory could be had.
template <typename T>
T* MapOnce(std::atomic<T*>& slot)
{
    if (T* existing = slot.load(std::memory_order_acquire))
        return existing;
    T* made = static_cast<T*>(MapZeroed(sizeof(T)));
    if (!made)
        return nullptr;
    T* expected = nullptr;
    if (slot.compare_exchange_strong(expected, made, std::memory_order_acq_rel))
        return made;
    Unmap(made, sizeof(T)); // another thread made it first
    return expected;
}

}  // namespace hook
