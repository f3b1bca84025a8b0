#include "zelconn/LoopSchedule.h"

#include <algorithm>

namespace zelconn {

using namespace std::chrono_literals;

LoopSchedule::LoopSchedule(TimePoint now, Milliseconds beat)
    : beat_(beat), nextSecond_(now + 1s), nextBeat_(now), publishedAt_(now), nextAcknowledgements_(now)
{
}

bool LoopSchedule::BeatDue(TimePoint now)
{
    if (now < nextBeat_)
        return false;
    nextBeat_ = now + beat_;
    return true;
}

bool LoopSchedule::SecondDue(TimePoint now)
{
    if (now < nextSecond_)
        return false;
    nextSecond_ += 1s;
    if (nextSecond_ < now)
        nextSecond_ = now + 1s;
    return true;
}

void LoopSchedule::Stepped(TimePoint now, bool published)
{
    if (published)
        publishedAt_ = now;
    nextAcknowledgements_ = now + (now - publishedAt_ < 1s ? kSoonAfterChange : kNowAndThen);
}

LoopSchedule::Milliseconds LoopSchedule::Wait(TimePoint now, const Waiting& waiting) const
{
    TimePoint wake = std::min(nextSecond_, nextBeat_);
    if (waiting.relayBusy)
        wake = std::min(wake, std::max(now, nextAcknowledgements_));
    if (waiting.polling)
        wake = std::min(wake, now + kPolling);
    if (waiting.journal)
        wake = std::min(wake, now + waiting.journalEvery);
    if (waiting.journalBehind)
        wake = now;
    const auto wait = std::chrono::duration_cast<Milliseconds>(wake - now);
    return std::clamp(wait, Milliseconds(0), Milliseconds(1000));
}

}  // namespace zelconn
