// Playback stepping: the arrow keys change the step, the timer moves by it.
#include "core/playback.h"

KeyResult key_pressed(Playback& play, const Sequence& seq, int virtual_key) {
    if (virtual_key == kKeyQ) return kKeyQuit;
    if (virtual_key == kKeyRight) {
        if (play.step < kMaxStep) ++play.step;
    } else if (virtual_key == kKeyLeft) {
        if (play.step > -kMaxStep) --play.step;
    } else {
        play.step = 0;
    }
    if (seq.frame_count <= 0) {
        play.step = 0;
        return kKeyStopTimer;
    }
    return play.step != 0 ? kKeyRunTimer : kKeyStopTimer;
}

std::int32_t next_frame_index(const Sequence& seq, const Playback& play) {
    if (seq.frame_count <= 0 || play.step == 0) return -1;
    // Running past either end jumps to the other end rather than wrapping by the
    // remainder, so a fast step always restarts at the first (or last) frame.
    std::int64_t next = static_cast<std::int64_t>(seq.current_frame) + play.step;
    if (next < 0) next = seq.frame_count - 1;
    if (next >= seq.frame_count) next = 0;
    return static_cast<std::int32_t>(next);
}

void timer_tick(Sequence& seq, const Playback& play) {
    const std::int32_t next = next_frame_index(seq, play);
    if (next >= 0) seq.current_frame = next;
    // With no sequence open there is nothing to step through; frame 0 is what the
    // following load finds out of range.
    if (seq.frame_count <= 0) seq.current_frame = 0;
}
