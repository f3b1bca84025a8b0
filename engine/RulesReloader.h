#pragma once

#include "engine/AnswerMemory.h"
#include "engine/CarrierIdentity.h"
#include "engine/CarrierLife.h"
#include "engine/RulesHolder.h"
#include "engine/SettingsCache.h"
#include "engine/SharedBlockLink.h"
#include "engine/VerdictGenerations.h"
#include "protocol/TrafficLog.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>

namespace engine {

// When the rules in force are read: at the program's first decision, on a
// LoadRules, when the control panel's update string names the program, and
// again after a file that could not be read whole has changed. Every
// reading happens under the holder's reload lock. The parts it works with
// belong to the engine and outlive it.
class RulesReloader {
public:
    struct Parts {
        RulesHolder& rules;
        SettingsCache& settings;
        SharedBlockLink& block;
        AnswerMemory& answers;
        VerdictGenerations& generations;
        protocol::TrafficLog& log;
        const CarrierIdentity& carrier;
        const CarrierLife& life;
        CarrierDigest& digest;
        const std::function<uint32_t()>& tickCount;
    };
    explicit RulesReloader(const Parts& parts) : parts_(parts) {}

    // The first reading, once per process, with before() run under the same
    // lock just ahead of it (what the reading needs to know of the carrier).
    // After the first time one load, the common case.
    template <typename Before>
    void EnsureLoaded(Before&& before)
    {
        if (loaded_.load(std::memory_order_acquire))
            return;
        std::lock_guard reload(parts_.rules.ReloadLock());
        if (loaded_.load(std::memory_order_relaxed))
            return;
        before();
        FirstLoadLocked();
        loaded_.store(true, std::memory_order_release);
    }
    // An explicit LoadRules: the file read into the current table.
    void LoadAgain();
    // The control panel's update string looked at; read again when it names
    // the program.
    void CheckUpdate();
    // A failed reading read again once its file changed.
    void RetryFailedLoad();

private:
    void FirstLoadLocked();
    void LoadLocked(bool replace);

    Parts parts_;
    std::atomic<bool> loaded_ {false};
};

}  // namespace engine
