// The playback clock: which tick is due when, and what was dropped.
#include "core/play_clock.h"

#include <cmath>

double usable_rate(double rate) {
    if (!(rate >= kMinRate && rate <= kMaxRate)) return kTickRate;
    return rate;
}

void clock_start(PlayClock& clock, std::int64_t now_us) {
    clock.rate = usable_rate(clock.rate);
    clock.running = true;
    clock.origin_us = now_us;
    clock.next_tick = 1;
    clock.shown = 0;
    clock.dropped = 0;
    clock.first_shown_us = now_us;
    clock.last_shown_us = now_us;
}

void clock_stop(PlayClock& clock) {
    clock.running = false;
}

void clock_set_rate(PlayClock& clock, double rate, std::int64_t now_us) {
    clock.rate = usable_rate(rate);
    if (clock.running) clock_start(clock, now_us);
}

std::int64_t clock_due_us(const PlayClock& clock, std::int64_t tick) {
    // From the origin each time, never by adding intervals: a rate such as
    // 23.976 has no whole number of microseconds a tick, and sums would drift.
    return clock.origin_us +
           static_cast<std::int64_t>(std::llround(static_cast<double>(tick) * 1e6 / clock.rate));
}

std::int64_t clock_delay_us(const PlayClock& clock, std::int64_t now_us) {
    if (!clock.running) return 0;
    const std::int64_t delay = clock_due_us(clock, clock.next_tick) - now_us;
    return delay > 0 ? delay : 0;
}

namespace {

/// The last tick due at `now_us` (its due time at or before now).
std::int64_t tick_due_at(const PlayClock& clock, std::int64_t now_us) {
    if (now_us <= clock.origin_us) return 0;
    std::int64_t tick = static_cast<std::int64_t>(
        std::floor(static_cast<double>(now_us - clock.origin_us) * clock.rate / 1e6));
    // The rounding of clock_due_us decides; floating point may be one off.
    while (tick > 0 && clock_due_us(clock, tick) > now_us) --tick;
    while (clock_due_us(clock, tick + 1) <= now_us) ++tick;
    return tick;
}

}  // namespace

std::int64_t clock_advance(PlayClock& clock, std::int64_t now_us) {
    if (!clock.running) return 1;
    std::int64_t moves = 1;
    if (clock.mode == kPlayRealTime) {
        const std::int64_t due = tick_due_at(clock, now_us);
        if (due > clock.next_tick) moves = due - clock.next_tick + 1;
        clock.dropped += moves - 1;
        clock.next_tick += moves;
    } else {
        if (now_us >= clock_due_us(clock, clock.next_tick + 1)) {
            ++clock.dropped;
            // The frames after this one follow it at the rate, as if the run
            // had started one tick earlier for each frame shown so far.
            clock.origin_us = now_us - (clock_due_us(clock, clock.next_tick) - clock.origin_us);
        }
        ++clock.next_tick;
    }
    if (clock.shown == 0) clock.first_shown_us = now_us;
    clock.last_shown_us = now_us;
    ++clock.shown;
    return moves;
}

double clock_measured_rate(const PlayClock& clock) {
    if (clock.shown < 2 || clock.last_shown_us <= clock.first_shown_us) return 0;
    // Intervals between the ticks shown, counted in the ticks they stand for,
    // so that dropped ticks lower the rate and a late start does not.
    const double seconds = static_cast<double>(clock.last_shown_us - clock.first_shown_us) / 1e6;
    return static_cast<double>(clock.shown - 1) / seconds;
}

std::int32_t frame_after_ticks(std::int32_t frame, std::int32_t count, std::int32_t step,
                               std::int64_t ticks) {
    if (count <= 0 || step == 0 || ticks <= 0) return frame;
    Sequence seq;
    seq.frame_count = count;
    seq.current_frame = frame;
    Playback play;
    play.step = step;
    // Until the first jump to an end the path depends on where it started;
    // after it, it goes round a cycle of ceil(count / |step|) ticks from that end.
    const std::int64_t magnitude = step > 0 ? step : -static_cast<std::int64_t>(step);
    const std::int64_t cycle = (count + magnitude - 1) / magnitude;
    const std::int32_t end = step > 0 ? 0 : count - 1;
    while (ticks > 0) {
        seq.current_frame = next_frame_index(seq, play);
        --ticks;
        if (seq.current_frame == end) {
            ticks %= cycle;
            for (; ticks > 0; --ticks) seq.current_frame = next_frame_index(seq, play);
            break;
        }
    }
    return seq.current_frame;
}
