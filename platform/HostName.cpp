#include "platform/HostName.h"

#include <cstring>

namespace platform {

size_t CleanHostPathInPlace(char* path)
{
    const size_t length = std::strlen(path);
    char* slash = std::strrchr(path, '/');
    char* file = slash ? slash + 1 : path;
    char* open = std::strstr(file, " (");
    if (!open)
        return length;
    char* dot = std::strchr(open, '.');
    if (!dot)
        return length;
    std::memmove(open, dot, std::strlen(dot) + 1);
    return std::strlen(path);
}

void UpperFileName(const char* path, char* name, size_t size)
{
    if (size == 0)
        return;
    const char* slash = std::strrchr(path, '/');
    const char* file = slash ? slash + 1 : path;
    size_t i = 0;
    for (; file[i] && i + 1 < size; ++i)
        name[i] = file[i] >= 'a' && file[i] <= 'z' ? static_cast<char>(file[i] - 'a' + 'A') : file[i];
    name[i] = '\0';
}

}  // namespace platform
