#include "rules/hooksafe/Names.h"

#include <cstring>

namespace rules {

size_t CleanCarrierPathInPlace(char* path)
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

size_t NormalizeHostName(const char* name, size_t length, char* out, size_t size)
{
    if (!name || !out || size < kMaxHostName + 1)
        return 0;
    if (length > 0 && name[length - 1] == '.')
        --length;
    if (length == 0 || length > kMaxHostName)
        return 0;
    size_t label = 0;
    bool onlyDigitsAndDots = true;
    for (size_t i = 0; i < length; ++i) {
        char c = name[i];
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
        if (c == '.') {
            if (label == 0)
                return 0;
            label = 0;
        } else if ((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '_') {
            if (++label > 63)
                return 0;
            onlyDigitsAndDots = onlyDigitsAndDots && c >= '0' && c <= '9';
        } else {
            return 0;
        }
        out[i] = c;
    }
    if (label == 0 || onlyDigitsAndDots)
        return 0;
    out[length] = '\0';
    return length;
}

}  // namespace rules
