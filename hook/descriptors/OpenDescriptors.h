#pragma once

// Every descriptor the process has open, as /proc/self/fd lists them: read
// in bounded pieces, nothing allocated. visit(fd, folder, name, context) is
// called for each from first on; folder is the listing's own descriptor
// (never visited itself) and name the fd's entry in it, for readlinkat.
namespace hook {

using VisitDescriptor = void (*)(int fd, int folder, const char* name, void* context);
void ForEachOpenDescriptor(int first, VisitDescriptor visit, void* context);

}  // namespace hook
