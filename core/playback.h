// Playback stepping: the arrow keys set a signed step, every timer tick moves the
// current frame by it.
#pragma once

#include <cstdint>

#include "core/sequence.h"

/// Virtual-key codes the viewer reacts to (the Windows values; other front ends
/// translate to them).
constexpr int kKeyLeft = 0x25;
constexpr int kKeyRight = 0x27;
constexpr int kKeyQ = 0x51;

/// What the window must do with its 16 ms timer after a key press.
enum KeyResult { kKeyQuit, kKeyRunTimer, kKeyStopTimer };

/// Largest step in either direction, in frames per tick.
constexpr std::int32_t kMaxStep = 10;

struct Playback {
    /// Frames added to the current frame on each tick; 0 = paused.
    std::int32_t step = 0;
};

/// Applies a key press to the step and says what to do with the timer.
KeyResult key_pressed(Playback& play, const Sequence& seq, int virtual_key);

/// Index of the frame the next timer tick moves to: the current frame moved by
/// the step, jumping to the other end of the list when it runs past one. -1 when
/// no sequence is open or the step is 0 (the tick then moves nowhere).
std::int32_t next_frame_index(const Sequence& seq, const Playback& play);

/// Moves the current frame to next_frame_index; to 0 when no sequence is open.
void timer_tick(Sequence& seq, const Playback& play);
