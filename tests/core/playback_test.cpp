#include "core/playback.h"

#include <gtest/gtest.h>

namespace {

Sequence open_with(int count, int current = 0) {
    Sequence seq;
    seq.frame_count = count;
    seq.current_frame = current;
    return seq;
}

}  // namespace

TEST(KeyPressed, ArrowsChangeTheStepWithinTen) {
    Sequence seq = open_with(5);
    Playback play;
    for (int i = 1; i <= 10; ++i) {
        EXPECT_EQ(key_pressed(play, seq, kKeyRight), kKeyRunTimer);
        EXPECT_EQ(play.step, i);
    }
    EXPECT_EQ(key_pressed(play, seq, kKeyRight), kKeyRunTimer);
    EXPECT_EQ(play.step, 10);
    for (int i = 9; i >= -10; --i) {
        EXPECT_EQ(key_pressed(play, seq, kKeyLeft), i == 0 ? kKeyStopTimer : kKeyRunTimer);
        EXPECT_EQ(play.step, i);
    }
    EXPECT_EQ(key_pressed(play, seq, kKeyLeft), kKeyRunTimer);
    EXPECT_EQ(play.step, -10);
}

TEST(KeyPressed, RightThenLeftStops) {
    Sequence seq = open_with(5);
    Playback play;
    EXPECT_EQ(key_pressed(play, seq, kKeyRight), kKeyRunTimer);
    EXPECT_EQ(key_pressed(play, seq, kKeyLeft), kKeyStopTimer);
    EXPECT_EQ(play.step, 0);
}

TEST(KeyPressed, OtherKeysPauseAndQQuitsLeavingTheStep) {
    Sequence seq = open_with(5);
    Playback play;
    play.step = -4;
    EXPECT_EQ(key_pressed(play, seq, kKeyQ), kKeyQuit);
    EXPECT_EQ(play.step, -4);
    for (int key : {0x10 /* Shift */, 0x20, 0x26 /* Up */, 0x28 /* Down */, int{'q'}}) {
        play.step = 3;
        EXPECT_EQ(key_pressed(play, seq, key), kKeyStopTimer) << key;
        EXPECT_EQ(play.step, 0) << key;
    }
    // Q quits even with no sequence open.
    Sequence none;
    EXPECT_EQ(key_pressed(play, none, kKeyQ), kKeyQuit);
}

TEST(KeyPressed, NoSequenceOpenKeepsTheStepAtZero) {
    Sequence seq = open_with(0);
    Playback play;
    play.step = 5;  // left by a playback that a failed open ended
    EXPECT_EQ(key_pressed(play, seq, kKeyRight), kKeyStopTimer);
    EXPECT_EQ(play.step, 0);
    EXPECT_EQ(key_pressed(play, seq, kKeyLeft), kKeyStopTimer);
    EXPECT_EQ(play.step, 0);
}

TEST(TimerTick, StepsAndJumpsToTheOtherEnd) {
    Playback play;
    Sequence seq = open_with(10, 2);
    play.step = -5;
    timer_tick(seq, play);
    EXPECT_EQ(seq.current_frame, 9);  // the last frame, not 10 - 3
    seq.current_frame = 7;
    play.step = 5;
    timer_tick(seq, play);
    EXPECT_EQ(seq.current_frame, 0);  // the first frame, not 2
    play.step = 3;
    timer_tick(seq, play);
    timer_tick(seq, play);
    EXPECT_EQ(seq.current_frame, 6);
    play.step = -1;
    seq.current_frame = 0;
    timer_tick(seq, play);
    EXPECT_EQ(seq.current_frame, 9);
    play.step = 1;
    timer_tick(seq, play);
    EXPECT_EQ(seq.current_frame, 0);
    play.step = 0;
    timer_tick(seq, play);
    EXPECT_EQ(seq.current_frame, 0);
}

TEST(TimerTick, OneFrameAndNoFrames) {
    Playback play;
    Sequence one = open_with(1);
    for (int step : {10, 1, -1, -10}) {
        play.step = step;
        timer_tick(one, play);
        EXPECT_EQ(one.current_frame, 0) << step;
    }
    Sequence none = open_with(0, 5);
    for (int step : {0, 3, -3}) {
        none.current_frame = 5;
        play.step = step;
        timer_tick(none, play);
        EXPECT_EQ(none.current_frame, 0) << step;
    }
}

TEST(NextFrameIndex, StepsJumpsAndNothingToMoveTo) {
    Sequence seq;
    seq.frame_count = 10;
    seq.current_frame = 4;
    Playback play;
    play.step = 3;
    EXPECT_EQ(next_frame_index(seq, play), 7);
    play.step = -3;
    EXPECT_EQ(next_frame_index(seq, play), 1);
    // Past either end: to the other end, not by the remainder.
    seq.current_frame = 8;
    play.step = 5;
    EXPECT_EQ(next_frame_index(seq, play), 0);
    seq.current_frame = 1;
    play.step = -5;
    EXPECT_EQ(next_frame_index(seq, play), 9);
    // One frame: the tick reloads it.
    seq.frame_count = 1;
    seq.current_frame = 0;
    play.step = 2;
    EXPECT_EQ(next_frame_index(seq, play), 0);
    // Paused, or no sequence open: nothing will be loaded.
    play.step = 0;
    EXPECT_EQ(next_frame_index(seq, play), -1);
    seq.frame_count = 0;
    play.step = 1;
    EXPECT_EQ(next_frame_index(seq, play), -1);
}
