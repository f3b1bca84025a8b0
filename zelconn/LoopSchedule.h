#pragma once

#include "os/Clock.h"

#include <chrono>

namespace zelconn {

// When zelconn's loop does its periodic work, on the one clock
// (os::MonotonicNow): the relay's beat, which tells engines that
// changes are relayed; the work of each second (traffic reports, a look at
// the panel and the journal option); the look at the engines'
// acknowledgements after a change; and how long the loop may sleep.
class LoopSchedule {
public:
    using TimePoint = os::TimePoint;
    using Milliseconds = std::chrono::milliseconds;

    // beat: how often the relay stamps its beat.
    LoopSchedule(TimePoint now, Milliseconds beat);

    // Whether the beat is due; if so, the next is set.
    bool BeatDue(TimePoint now);
    // Whether a second has passed; if so, the next one is set, from now
    // after a suspend, so that no burst of reports follows.
    bool SecondDue(TimePoint now);
    // Whether the engines' acknowledgements are to be looked at.
    bool AcknowledgementsDue(TimePoint now) const { return now >= nextAcknowledgements_; }
    // The relay stepped at now (published says whether it published): the
    // acknowledgements are looked at soon after a change, then now and then
    // (an idle program acknowledges at its next decision, hours away maybe).
    void Stepped(TimePoint now, bool published);

    // What the loop waits for, besides descriptors.
    struct Waiting {
        bool relayBusy = false;     // engines have still to take a change
        bool polling = false;       // no notices of the carriers' folder: looked at every 100 ms
        bool journal = false;       // records go to the journal: the log looked at every journalEvery
        bool journalBehind = false; // the journal can take more now
        Milliseconds journalEvery {100};
    };
    // How long the loop may sleep from now: 0 to 1000 ms.
    Milliseconds Wait(TimePoint now, const Waiting& waiting) const;

    static constexpr Milliseconds kSoonAfterChange {20};
    static constexpr Milliseconds kNowAndThen {250};
    static constexpr Milliseconds kPolling {100};

private:
    Milliseconds beat_;
    TimePoint nextSecond_;
    TimePoint nextBeat_;
    TimePoint publishedAt_;
    TimePoint nextAcknowledgements_;
};

}  // namespace zelconn
