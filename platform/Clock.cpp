#include "platform/Clock.h"

#include <clocale>
#include <locale.h>
#include <time.h>

namespace platform {

namespace {

locale_t UserTimeLocale()
{
    // Built once; the host program's own locale stays as it is.
    static const locale_t locale = [] {
        locale_t l = ::newlocale(LC_TIME_MASK, "", static_cast<locale_t>(nullptr));
        return l ? l : ::newlocale(LC_TIME_MASK, "C", static_cast<locale_t>(nullptr));
    }();
    return locale;
}

size_t Format(const char* pattern, const std::tm& time, char* buffer, size_t size)
{
    const size_t n = size ? ::strftime_l(buffer, size, pattern, &time, UserTimeLocale()) : 0;
    if (n == 0 && size)
        buffer[0] = '\0';
    return n;
}

}  // namespace

uint32_t GetTickCount()
{
    timespec ts {};
    ::clock_gettime(CLOCK_BOOTTIME, &ts);
    const uint64_t ms = static_cast<uint64_t>(ts.tv_sec) * 1000u + static_cast<uint64_t>(ts.tv_nsec) / 1000000u;
    return static_cast<uint32_t>(ms);
}

long long CoarseMilliseconds()
{
    timespec ts {};
    ::clock_gettime(CLOCK_MONOTONIC_COARSE, &ts);
    return static_cast<long long>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

size_t FormatLocalDate(const std::tm& time, char* buffer, size_t size) { return Format("%x", time, buffer, size); }
size_t FormatLocalTime(const std::tm& time, char* buffer, size_t size) { return Format("%X", time, buffer, size); }

}  // namespace platform
