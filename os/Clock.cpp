#include "os/Clock.h"

#include <atomic>
#include <clocale>
#include <cstdlib>
#include <string_view>
#include <locale.h>
#include <time.h>

namespace os {

namespace {

std::atomic<const ManualTime*> g_manual {nullptr};

uint32_t RealTickCount()
{
    timespec ts {};
    ::clock_gettime(CLOCK_BOOTTIME, &ts);
    const uint64_t ms = static_cast<uint64_t>(ts.tv_sec) * 1000u + static_cast<uint64_t>(ts.tv_nsec) / 1000000u;
    return static_cast<uint32_t>(ms);
}

long long RealCoarseMilliseconds()
{
    timespec ts {};
    ::clock_gettime(CLOCK_MONOTONIC_COARSE, &ts);
    return static_cast<long long>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

// The locale the environment names for time, as the C library would pick it.
const char* TimeLocaleName()
{
    for (const char* variable : {"LC_ALL", "LC_TIME", "LANG"})
        if (const char* value = ::getenv(variable); value && *value)
            return value;
    return "C";
}

locale_t UserTimeLocale()
{
    // Built once; the carrier's own locale stays as it is. The C
    // locale's dates are C.UTF-8's too, and it needs no locale files read.
    static const locale_t locale = [] {
        const std::string_view name = TimeLocaleName();
        const bool plain = name == "C" || name == "POSIX" || name.starts_with("C.");
        locale_t l = ::newlocale(LC_TIME_MASK, plain ? "C" : "", static_cast<locale_t>(nullptr));
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

TimePoint MonotonicNow()
{
    const ManualTime* manual = g_manual.load(std::memory_order_acquire);
    return manual ? manual->Now() : std::chrono::steady_clock::now();
}

uint32_t GetTickCount()
{
    const ManualTime* manual = g_manual.load(std::memory_order_acquire);
    return manual ? manual->StartTicks() + static_cast<uint32_t>(manual->Moved()) : RealTickCount();
}

long long CoarseMilliseconds()
{
    const ManualTime* manual = g_manual.load(std::memory_order_acquire);
    return manual ? manual->StartCoarse() + manual->Moved() : RealCoarseMilliseconds();
}

std::time_t WallTime()
{
    const ManualTime* manual = g_manual.load(std::memory_order_acquire);
    return manual ? manual->StartWall() + static_cast<std::time_t>(manual->Moved() / 1000) : std::time(nullptr);
}

ManualTime::ManualTime()
    : start_(std::chrono::steady_clock::now()), now_(start_), startTicks_(RealTickCount()),
      startCoarse_(RealCoarseMilliseconds()), startWall_(std::time(nullptr))
{
    g_manual.store(this, std::memory_order_release);
}

ManualTime::~ManualTime()
{
    const ManualTime* self = this;
    g_manual.compare_exchange_strong(self, nullptr, std::memory_order_acq_rel);
}

size_t FormatLocalDate(const std::tm& time, char* buffer, size_t size) { return Format("%x", time, buffer, size); }
size_t FormatLocalTime(const std::tm& time, char* buffer, size_t size) { return Format("%X", time, buffer, size); }

}  // namespace os
