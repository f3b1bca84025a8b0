#include "engine/RulesReloader.h"

#include "protocol/Profiles.h"

#include <optional>

namespace engine {

void RulesReloader::FirstLoadLocked()
{
    // Whatever the update string names now is in the file read next.
    if (parts_.block.Open())
        parts_.block.TakeCurrentAsSeen();
    LoadLocked(false);
}

// Reads the rules file into a table: a new one (replace), or the current one
// extended (an explicit LoadRules). A file that cannot be read whole leaves
// the rules in force as they are, and is read again once it has changed.
void RulesReloader::LoadLocked(bool replace)
{
    parts_.settings.ReadPaths(parts_.log);
    ProgramIdentity program(parts_.carrier.exeName, parts_.carrier.exePath);
    program.digest = &CarrierDigest::Of;
    program.digestContext = &parts_.digest;
    program.parentName = parts_.carrier.parentName;
    program.parentPath = parts_.carrier.parentPath;
    // The profile in force is read with the rules, never at a decision.
    const std::optional<protocol::profiles::Profile> profile = protocol::profiles::Active();
    parts_.rules.LoadLocked(parts_.settings.RulesPath(), program, replace, loaded_.load(std::memory_order_relaxed),
                            profile ? &*profile : nullptr);
}

void RulesReloader::LoadAgain()
{
    std::lock_guard reload(parts_.rules.ReloadLock());
    LoadLocked(false);
}

void RulesReloader::RetryFailedLoad()
{
    if (!parts_.rules.RetryDue())
        return;
    std::lock_guard reload(parts_.rules.ReloadLock());
    if (parts_.rules.RetryDue() && parts_.rules.MustReadAgain(parts_.settings.PathsKnown(), parts_.settings.RulesPath()))
        LoadLocked(true);
}

void RulesReloader::CheckUpdate()
{
    SharedBlockLink& block = parts_.block;
    if (!block.Open() || block.Unchanged())
        return;
    std::lock_guard reload(parts_.rules.ReloadLock());
    uint32_t sequence = 0;
    const SharedBlockLink::Update update = block.Look(parts_.carrier.exeName, parts_.tickCount, sequence);
    if (update == SharedBlockLink::Update::kBusy)
        return;
    if (update == SharedBlockLink::Update::kDue) {
        // Acknowledged before the file is read: whatever the interceptor
        // publishes after seeing this acknowledgement is in the file read now.
        block.Acknowledge(parts_.life.Pid());
        LoadLocked(true);
        parts_.answers.ForgetStored();
        // Nothing a verdict was taken by during the reading holds either.
        parts_.generations.Begin();
    }
    block.Seen(sequence);
}

}  // namespace engine
