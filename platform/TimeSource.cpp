#include "platform/TimeSource.h"

#include <atomic>

namespace platform {

namespace {

std::atomic<const ManualTime*> g_manual {nullptr};

}  // namespace

TimePoint MonotonicNow()
{
    const ManualTime* manual = g_manual.load(std::memory_order_acquire);
    return manual ? manual->Now() : std::chrono::steady_clock::now();
}

ManualTime::ManualTime() : now_(std::chrono::steady_clock::now()) { g_manual.store(this, std::memory_order_release); }

ManualTime::~ManualTime()
{
    const ManualTime* self = this;
    g_manual.compare_exchange_strong(self, nullptr, std::memory_order_acq_rel);
}

}  // namespace platform
