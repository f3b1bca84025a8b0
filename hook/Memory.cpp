#include "hook/Memory.h"

#include <sys/mman.h>

namespace hook {

void* MapZeroed(size_t size)
{
    void* made = ::mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    return made == MAP_FAILED ? nullptr : made;
}

void Unmap(void* memory, size_t size) { ::munmap(memory, size); }

}  // namespace hook
