#include "engine/RulesHolder.h"

#include "os/Clock.h"

#include <algorithm>
#include <malloc.h>
#include <span>

namespace engine {

namespace {

// The parsed document is several times the size of the table built from it
// and is freed at once; hand those pages back so that the carrier does not
// carry them for the rest of its life.
void ReturnParserMemory() { ::malloc_trim(0); }

}  // namespace

void RulesHolder::LoadLocked(const std::string& path, const ProgramIdentity& program, bool replace,
                             bool keepOnFailure, const protocol::profiles::Profile* profile)
{
    RuleTable table = replace ? RuleTable() : Snapshot();
    LoadStatus status;
    FileStamp stamp;
    table.LoadRulesFor(path, program, status, stamp);
    if (profile)
        table.ApplyProfile(*profile, program.path);
    const bool whole = status == LoadStatus::kLoaded || status == LoadStatus::kMissing;
    if (whole || !keepOnFailure) {
        std::unique_lock lock(tableMutex_);
        table_ = std::move(table);
        profileInForce_.store(!table_.profileForLog.empty(), std::memory_order_release);
        ignoresLists_.store(table_.ignoresLists, std::memory_order_release);
    }
    verdictGeneration_.fetch_add(1, std::memory_order_acq_rel);
    ReturnParserMemory();
    loadStatus_ = status;
    loadedStamp_ = stamp;
    loadFailed_ = status != LoadStatus::kLoaded;
    retryAt_ = os::CoarseMilliseconds() + retryMs_;
    reloads_.fetch_add(1, std::memory_order_release);
}

int RulesHolder::Match(const Connection& connection, int* matchedName, bool& byEntry, bool& byAnswer,
                       int64_t& answerEnd) const
{
    const int port = static_cast<int>(connection.RulePort());
    return Reading([&](const RuleTable& table) {
        int result;
        // Every direction other than incoming is outgoing, also in the rules.
        // The names are taken apart only when some entry names a host.
        if (!connection.Incoming() && table.HasHostEntries()) {
            static_assert(PeerNames::kMost == 4);
            const auto name = [&](unsigned i) { return i < connection.nameCount ? connection.names[i] : nullptr; };
            const HostKey keys[PeerNames::kMost] = {HostKey(name(0)), HostKey(name(1)), HostKey(name(2)),
                                                    HostKey(name(3))};
            result = table.MatchRules(
                kOutgoing, port, connection.address,
                std::span<const HostKey>(keys, std::min(connection.nameCount, PeerNames::kMost)), matchedName,
                &byEntry);
        } else {
            result = table.MatchRules(connection.Incoming() ? kIncoming : kOutgoing, port, connection.address,
                                      std::span<const HostKey>(), nullptr, &byEntry);
        }
        if (result != kAsk || table.timedAnswers.Empty())
            return result;
        result = table.timedAnswers.Match(connection.direction, port, connection.address, connection.names,
                                          connection.nameCount, now_(), &answerEnd);
        byAnswer = result != kAsk;
        return result;
    });
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
