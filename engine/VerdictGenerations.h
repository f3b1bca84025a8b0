#pragma once

#include <atomic>
#include <cstdint>
#include <ctime>
#include <functional>

namespace engine {

// Verdicts remembered beyond one decision (the datagram peers, the hook's
// datagram verdicts) belong to a generation: they hold only while it lasts.
// A new one begins when the rules are loaded again, when block-all or the
// pass-through state changes, and when an answer for a time that decided
// such a verdict ends.
class VerdictGenerations {
public:
    // now: the engine's wall clock, read only while some answer's end is noted.
    explicit VerdictGenerations(const std::function<std::time_t()>& now) : now_(now) {}

    // The generation now, a new one begun first when the noted end has come.
    uint32_t Current()
    {
        const int64_t end = end_.load(std::memory_order_acquire);
        if (end != kNoEnd && now_() >= end) {
            // The end is forgotten before the generation changes: an answer
            // noted meanwhile decided a verdict of the generation that ends now.
            int64_t expected = end;
            if (end_.compare_exchange_strong(expected, kNoEnd, std::memory_order_acq_rel))
                Begin();
        }
        return generation_.load(std::memory_order_acquire);
    }
    // The generation now, whatever end has come.
    uint32_t Seen() const { return generation_.load(std::memory_order_acquire); }
    void Begin() { generation_.fetch_add(1, std::memory_order_acq_rel); }
    // A verdict of the current generation came from an answer that ends at until.
    void NoteEnd(int64_t until)
    {
        int64_t known = end_.load(std::memory_order_relaxed);
        while (until < known && !end_.compare_exchange_weak(known, until, std::memory_order_acq_rel)) {
        }
    }
    // For the rules holder, which begins one with every load.
    std::atomic<uint32_t>& Counter() { return generation_; }

private:
    const std::function<std::time_t()>& now_;
    std::atomic<uint32_t> generation_ {0};
    // The earliest end of an answer for a time that decided a remembered
    // verdict of this generation; kNoEnd: none.
    static constexpr int64_t kNoEnd = INT64_MAX;
    std::atomic<int64_t> end_ {kNoEnd};
};

}  // namespace engine
