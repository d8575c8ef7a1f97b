// Playing a sequence in time: frame k of a run is due at the run's start plus
// k ticks of 1/rate seconds, so a late frame never shifts the frames after it.
// Plain state and free functions over microseconds given by the caller, so that
// the timing can be driven by any clock.
#pragma once

#include <cstdint>

#include "core/playback.h"
#include "core/sequence.h"

/// The rate of the viewer's original 16 ms timer, in ticks per second.
constexpr double kTickRate = 62.5;
/// Rates a sequence may be played at, in frames per second.
constexpr double kMinRate = 1;
constexpr double kMaxRate = 240;

/// What a late frame does.
enum PlayMode {
    /// The frame that is due is shown; the ones skipped to reach it are dropped.
    kPlayRealTime,
    /// Every frame is shown; each late one is counted, and the frames after it
    /// are due one tick after it was shown.
    kPlayEveryFrame,
};

/// One run of playback, from a key that started it to the key that stops it.
struct PlayClock {
    double rate = kTickRate;
    PlayMode mode = kPlayRealTime;
    bool running = false;
    /// When tick 0 of the run was due (the frame shown when it started).
    std::int64_t origin_us = 0;
    /// The next tick to show.
    std::int64_t next_tick = 1;
    /// Ticks shown and ticks dropped (Real time: skipped; Every Frame: late).
    std::int64_t shown = 0;
    std::int64_t dropped = 0;
    /// When the first and the last tick of the run were shown.
    std::int64_t first_shown_us = 0;
    std::int64_t last_shown_us = 0;
};

/// The rate as the clock uses it: kTickRate for a rate outside kMinRate .. kMaxRate
/// (0, NaN and infinities included).
double usable_rate(double rate);

/// Starts a run at `now_us` (also a restart: the counts start again).
void clock_start(PlayClock& clock, std::int64_t now_us);

/// Ends the run (the rate and the mode stay).
void clock_stop(PlayClock& clock);

/// Changes the rate; a running run starts again from `now_us`.
void clock_set_rate(PlayClock& clock, double rate, std::int64_t now_us);

/// When tick `tick` of the run is due.
std::int64_t clock_due_us(const PlayClock& clock, std::int64_t tick);

/// Microseconds from `now_us` until the next tick is due (0 when it is due
/// already, or when no run is going on).
std::int64_t clock_delay_us(const PlayClock& clock, std::int64_t now_us);

/// A tick at `now_us`: how many ticks the frame shown now moves by, at least 1
/// (a tick that comes early shows the next frame, and the ones after it keep
/// their times). Real time: the ticks that became due since the last one, all
/// but the last counted as dropped. Every Frame: 1, counted as late when the
/// tick after it is due already. Without a run, 1.
std::int64_t clock_advance(PlayClock& clock, std::int64_t now_us);

/// Ticks shown per second over the run so far (0 before two were shown).
double clock_measured_rate(const PlayClock& clock);

/// The frame `ticks` ticks after `frame` at `step` frames a tick in a list of
/// `count` frames, each tick moving as next_frame_index does (running past an
/// end jumps to the other end). `frame` when the step is 0 or the list empty.
std::int32_t frame_after_ticks(std::int32_t frame, std::int32_t count, std::int32_t step,
                               std::int64_t ticks);
