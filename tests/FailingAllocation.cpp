// A test build of the engine library whose memory runs out on cue: every
// allocation inside it fails while ZelTestFailAllocations(1) is in force.
#include <atomic>
#include <cstdlib>
#include <new>

namespace {

std::atomic<bool> g_failing {false};

}  // namespace

extern "C" __attribute__((visibility("default"))) void ZelTestFailAllocations(int on) { g_failing = on != 0; }

void* operator new(std::size_t size)
{
    if (g_failing.load(std::memory_order_relaxed))
        throw std::bad_alloc();
    if (void* memory = std::malloc(size ? size : 1))
        return memory;
    throw std::bad_alloc();
}

void* operator new[](std::size_t size) { return ::operator new(size); }
void operator delete(void* memory) noexcept { std::free(memory); }
void operator delete[](void* memory) noexcept { std::free(memory); }
void operator delete(void* memory, std::size_t) noexcept { std::free(memory); }
void operator delete[](void* memory, std::size_t) noexcept { std::free(memory); }
