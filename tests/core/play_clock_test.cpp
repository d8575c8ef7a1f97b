// The playback clock against a clock the tests set by hand.
#include "core/play_clock.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace {

/// The frame after `ticks` ticks, one next_frame_index at a time.
std::int32_t walk(std::int32_t frame, std::int32_t count, std::int32_t step, std::int64_t ticks) {
    Sequence seq;
    seq.frame_count = count;
    seq.current_frame = frame;
    Playback play;
    play.step = step;
    for (std::int64_t i = 0; i < ticks && step != 0; ++i)
        seq.current_frame = next_frame_index(seq, play);
    return seq.current_frame;
}

std::int64_t due(double rate, std::int64_t tick) {
    return static_cast<std::int64_t>(std::llround(tick * 1e6 / rate));
}

}  // namespace

TEST(PlayClock, RealTimeShowsTheDueFrameAndCountsTheSkippedOnes) {
    PlayClock clock;
    clock.rate = 24000.0 / 1001;
    const std::int64_t t0 = 5'000'000;
    clock_start(clock, t0);
    const double r = clock.rate;
    EXPECT_EQ(clock_delay_us(clock, t0), due(r, 1));
    // On time (a little after the due time) for ticks 1..10.
    for (int k = 1; k <= 10; ++k) EXPECT_EQ(clock_advance(clock, t0 + due(r, k) + 300), 1) << k;
    EXPECT_EQ(clock.dropped, 0);
    // Tick 11 is shown only when tick 14 is due: 11, 12 and 13 are dropped.
    EXPECT_EQ(clock_advance(clock, t0 + due(r, 14) + 10), 4);
    EXPECT_EQ(clock.dropped, 3);
    // The late frame did not shift the ones after it.
    EXPECT_EQ(clock_delay_us(clock, t0 + due(r, 14) + 10), due(r, 15) - due(r, 14) - 10);
    // A tick that comes early still shows the next frame, and the schedule stays.
    EXPECT_EQ(clock_advance(clock, t0 + due(r, 14) + 20), 1);
    EXPECT_EQ(clock_delay_us(clock, t0 + due(r, 14) + 20), due(r, 16) - due(r, 14) - 20);
    EXPECT_EQ(clock.dropped, 3);
    EXPECT_EQ(clock.shown, 12);
    // 12 ticks shown from tick 1 to about tick 15: (12 - 1) / (14 ticks' time).
    EXPECT_NEAR(clock_measured_rate(clock), 11.0 / ((due(r, 14) + 20 - due(r, 1) - 300) / 1e6),
                1e-6);
}

TEST(PlayClock, EveryFrameHoldsEachLateFrameAndTimesTheNextFromIt) {
    PlayClock clock;
    clock.rate = 50;
    clock.mode = kPlayEveryFrame;
    clock_start(clock, 0);
    EXPECT_EQ(clock_advance(clock, 20'000), 1);
    EXPECT_EQ(clock_advance(clock, 40'500), 1);  // a little late: not counted
    EXPECT_EQ(clock.dropped, 0);
    // Tick 3 was due at 60 ms; shown at 130 ms, after tick 4's time: late.
    EXPECT_EQ(clock_advance(clock, 130'000), 1);
    EXPECT_EQ(clock.dropped, 1);
    // The run holds: tick 4 is due one interval after the late one.
    EXPECT_EQ(clock_delay_us(clock, 130'000), 20'000);
    EXPECT_EQ(clock_advance(clock, 150'000), 1);
    EXPECT_EQ(clock.dropped, 1);
    EXPECT_EQ(clock.shown, 4);
}

TEST(PlayClock, RateChangeWhilePlayingStartsTheRunAgainAndBadRatesMeanTheTick) {
    PlayClock clock;
    clock.rate = 25;
    clock_start(clock, 0);
    clock_advance(clock, 200'000);  // 4 dropped
    ASSERT_EQ(clock.dropped, 4);
    clock_set_rate(clock, 60, 1'000'000);
    EXPECT_TRUE(clock.running);
    EXPECT_EQ(clock.dropped, 0);
    EXPECT_EQ(clock.shown, 0);
    EXPECT_EQ(clock_delay_us(clock, 1'000'000), due(60, 1));
    for (double bad : {0.0, 0.5, 241.0, std::numeric_limits<double>::quiet_NaN(),
                       std::numeric_limits<double>::infinity(), -24.0}) {
        clock_set_rate(clock, bad, 0);
        EXPECT_EQ(clock.rate, kTickRate) << bad;
    }
    clock_stop(clock);
    EXPECT_EQ(clock_delay_us(clock, 0), 0);
    EXPECT_EQ(clock_advance(clock, 123), 1);  // without a run a tick moves once
}

TEST(FrameAfterTicks, MatchesStepByStepWalkWithJumpsAtBothEnds) {
    for (std::int32_t count : {1, 2, 3, 7, 10, 31})
        for (std::int32_t step = -10; step <= 10; ++step)
            for (std::int32_t start = 0; start < count; start += 2)
                for (std::int64_t ticks : {0, 1, 2, 5, 13, 40, 97})
                    ASSERT_EQ(frame_after_ticks(start, count, step, ticks),
                              walk(start, count, step, ticks))
                        << count << " " << step << " " << start << " " << ticks;
    // A long stall costs no more than a cycle.
    EXPECT_EQ(frame_after_ticks(3, 10, 3, 4'000'000'003LL),
              walk(3, 10, 3, 4'000'000'003LL % 4 + 4));
}
