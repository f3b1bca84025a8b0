#include "engine/RulesHolder.h"

#include "os/Clock.h"

#include <malloc.h>

namespace engine {

namespace {

// The parsed document is several times the size of the table built from it
// and is freed at once; hand those pages back so that the carrier does not
// carry them for the rest of its life.
void ReturnParserMemory() { ::malloc_trim(0); }

}  // namespace

void RulesHolder::LoadLocked(const std::string& path, const ProgramIdentity& program, bool replace,
                             bool keepOnFailure)
{
    RuleTable table = replace ? RuleTable() : Snapshot();
    LoadStatus status;
    FileStamp stamp;
    table.LoadRulesFor(path, program, status, stamp);
    const bool whole = status == LoadStatus::kLoaded || status == LoadStatus::kMissing;
    if (whole || !keepOnFailure) {
        std::unique_lock lock(tableMutex_);
        table_ = std::move(table);
    }
    verdictGeneration_.fetch_add(1, std::memory_order_acq_rel);
    ReturnParserMemory();
    loadStatus_ = status;
    loadedStamp_ = stamp;
    loadFailed_ = status != LoadStatus::kLoaded;
    retryAt_ = os::CoarseMilliseconds() + retryMs_;
    reloads_.fetch_add(1, std::memory_order_release);
}

bool RulesHolder::RetryTimeCame() const
{
    return os::CoarseMilliseconds() >= retryAt_.load(std::memory_order_relaxed);
}

bool RulesHolder::MustReadAgain(bool pathKnown, const std::string& path)
{
    if (loadStatus_ == LoadStatus::kUnreadable || !pathKnown || StampOf(path) != loadedStamp_)
        return true;
    retryAt_ = os::CoarseMilliseconds() + retryMs_;
    return false;
}

}  // namespace engine
