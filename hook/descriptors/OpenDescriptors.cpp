#include "hook/descriptors/OpenDescriptors.h"

#include "hook/descriptors/Kernel.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace hook {

void ForEachOpenDescriptor(int first, VisitDescriptor visit, void* context)
{
    const int folder = ::open("/proc/self/fd", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder < 0)
        return;
    alignas(8) char entries[4096];
    for (int rounds = 0; rounds < 4096; ++rounds) {
        const long length = ::syscall(SYS_getdents64, folder, entries, sizeof entries);
        if (length <= 0)
            break;
        for (long at = 0; at < length;) {
            const auto* entry = reinterpret_cast<const dirent64*>(entries + at);
            at += entry->d_reclen;
            int fd = 0;
            const char* digit = entry->d_name;
            for (; *digit >= '0' && *digit <= '9' && fd < (1 << 24); ++digit)
                fd = fd * 10 + (*digit - '0');
            if (*digit == '\0' && digit != entry->d_name && fd != folder && fd >= first)
                visit(fd, folder, entry->d_name, context);
        }
    }
    kernel::Close(folder);
}

}  // namespace hook
