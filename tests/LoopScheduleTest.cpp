// zelconn's loop on a clock the test moves: its periodic work falls due
// when it should, without the test waiting for time to pass.
#include "os/Clock.h"
#include "zelconn/LoopSchedule.h"

#include <gtest/gtest.h>

using namespace zelconn;

using namespace std::chrono_literals;

namespace {

class Schedule : public ::testing::Test {
protected:
    void Pass(std::chrono::milliseconds by) { time.Advance(by); }
    os::TimePoint Now() const { return os::MonotonicNow(); }

    os::ManualTime time;
};

}  // namespace

TEST_F(Schedule, BeatsComeAtTheirIntervalAndSecondsWithoutABurstAfterASuspend)
{
    LoopSchedule schedule(Now(), 250ms);
    EXPECT_TRUE(schedule.BeatDue(Now())); // at once
    EXPECT_FALSE(schedule.BeatDue(Now()));
    Pass(249ms);
    EXPECT_FALSE(schedule.BeatDue(Now()));
    Pass(1ms);
    EXPECT_TRUE(schedule.BeatDue(Now()));

    // 250 ms in: the first second is 750 ms away, and the loop may sleep until the next beat.
    EXPECT_FALSE(schedule.SecondDue(Now()));
    EXPECT_EQ(schedule.Wait(Now(), {}), 250ms);
    Pass(750ms);
    EXPECT_TRUE(schedule.SecondDue(Now()));
    EXPECT_FALSE(schedule.SecondDue(Now()));
    // A late turn keeps the beat of the seconds.
    Pass(1100ms);
    EXPECT_TRUE(schedule.SecondDue(Now()));
    Pass(900ms);
    EXPECT_TRUE(schedule.SecondDue(Now()));
    // After a suspend of a minute: one second's work, then a second later.
    Pass(60s);
    EXPECT_TRUE(schedule.SecondDue(Now()));
    EXPECT_FALSE(schedule.SecondDue(Now()));
    Pass(999ms);
    EXPECT_FALSE(schedule.SecondDue(Now()));
    Pass(1ms);
    EXPECT_TRUE(schedule.SecondDue(Now()));
}

TEST_F(Schedule, AcknowledgementsAreLookedAtSoonAfterAChangeThenNowAndThen)
{
    LoopSchedule schedule(Now(), 10s);
    schedule.BeatDue(Now());
    schedule.Stepped(Now(), true);
    EXPECT_FALSE(schedule.AcknowledgementsDue(Now()));
    LoopSchedule::Waiting busy;
    busy.relayBusy = true;
    EXPECT_EQ(schedule.Wait(Now(), busy), LoopSchedule::kSoonAfterChange);
    Pass(LoopSchedule::kSoonAfterChange);
    EXPECT_TRUE(schedule.AcknowledgementsDue(Now()));
    schedule.Stepped(Now(), false); // still within a second of the change
    EXPECT_EQ(schedule.Wait(Now(), busy), LoopSchedule::kSoonAfterChange);
    Pass(1s);
    EXPECT_TRUE(schedule.SecondDue(Now())); // its work done: the next second is a second away
    schedule.Stepped(Now(), false);
    EXPECT_EQ(schedule.Wait(Now(), busy), LoopSchedule::kNowAndThen);
    // Nothing pending: the relay does not wake the loop.
    EXPECT_GT(schedule.Wait(Now(), {}), LoopSchedule::kNowAndThen);
}

TEST_F(Schedule, TheLoopSleepsUntilTheFirstThingDueAndNeverLongerThanASecond)
{
    LoopSchedule schedule(Now(), 10s);
    schedule.BeatDue(Now()); // next beat 10 s away
    const struct {
        const char* name;
        LoopSchedule::Waiting waiting;
        std::chrono::milliseconds expected;
    } cases[] = {
        {"nothing but the next second", {}, 1000ms},
        {"carriers' folder without notices", {false, true, false, false, 100ms}, LoopSchedule::kPolling},
        {"records to the journal", {false, false, true, false, 40ms}, 40ms},
        {"the journal can take more", {false, true, true, true, 100ms}, 0ms},
    };
    for (const auto& c : cases)
        EXPECT_EQ(schedule.Wait(Now(), c.waiting), c.expected) << c.name;
    Pass(5s); // a second overdue: no wait at all
    EXPECT_EQ(schedule.Wait(Now(), {}), 0ms);
}
